#include "base/ConsoleAllowList.h"

#include <charconv>

namespace vantor {

std::optional<uint32_t> parseIpv4Address(std::string_view s)
{
    uint32_t address = 0;
    for (int part = 0; part < 4; ++part) {
        const std::size_t dot = s.find('.');
        if ((part < 3) == (dot == std::string_view::npos))
            return std::nullopt;
        const std::string_view digits = s.substr(0, dot);
        unsigned value = 0;
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        // "010" is octal to inet_aton and decimal to others: refused rather than guessed.
        if (digits.empty() || digits.size() > 3 || ec != std::errc() || end != digits.data() + digits.size()
            || value > 255 || (digits.size() > 1 && digits.front() == '0'))
            return std::nullopt;
        address = (address << 8) | value;
        s = dot == std::string_view::npos ? std::string_view{} : s.substr(dot + 1);
    }
    return address;
}

namespace {

uint32_t maskOf(int prefix)
{
    return prefix == 0 ? 0 : ~uint32_t{0} << (32 - prefix);
}

}  // namespace

ConsoleAllowList parseConsoleAllowList(std::string_view text)
{
    ConsoleAllowList list;
    auto isSeparator = [](char c) { return c == ',' || c == ' ' || c == '\t'; };
    while (!text.empty()) {
        if (isSeparator(text.front())) {
            text.remove_prefix(1);
            continue;
        }
        std::size_t n = 0;
        while (n < text.size() && !isSeparator(text[n]))
            ++n;
        const std::string_view entry = text.substr(0, n);
        text.remove_prefix(n);

        const std::size_t slash = entry.find('/');
        const auto address = parseIpv4Address(entry.substr(0, slash));
        int prefix = 32;
        bool good = address.has_value();
        if (good && slash != std::string_view::npos) {
            const std::string_view digits = entry.substr(slash + 1);
            const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), prefix);
            good = !digits.empty() && ec == std::errc() && end == digits.data() + digits.size() && prefix >= 0
                   && prefix <= 32 && (digits.size() == 1 || digits.front() != '0');
        }
        if (!good) {
            list.networks.clear();
            list.error = "\"" + std::string(entry) + "\" is not ADDRESS or ADDRESS/PREFIX with a numeric IPv4 address";
            return list;
        }
        list.networks.push_back({*address & maskOf(prefix), prefix});
    }
    return list;
}

bool consoleAllowed(const std::vector<Ipv4Network>& networks, std::string_view address)
{
    const auto a = parseIpv4Address(address);
    if (!a)
        return false;
    for (const Ipv4Network& n : networks)
        if ((*a & maskOf(n.prefix)) == n.address)
            return true;
    return false;
}

}  // namespace vantor
