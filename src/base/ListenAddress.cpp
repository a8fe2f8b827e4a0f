#include "base/ListenAddress.h"

#include <charconv>

namespace vantor {

namespace {

bool isIpv4(std::string_view s)
{
    int parts = 0;
    while (true) {
        const std::size_t dot = s.find('.');
        const std::string_view part = s.substr(0, dot);
        unsigned value = 0;
        const auto [end, ec] = std::from_chars(part.data(), part.data() + part.size(), value);
        // "010" is octal to inet_aton and decimal to others: refused rather than guessed.
        if (part.empty() || part.size() > 3 || ec != std::errc() || end != part.data() + part.size() || value > 255
            || (part.size() > 1 && part.front() == '0'))
            return false;
        ++parts;
        if (dot == std::string_view::npos)
            break;
        s.remove_prefix(dot + 1);
    }
    return parts == 4;
}

bool isIpv6(std::string_view s)
{
    // The system's parser has the last word when the server binds; this only keeps out what can
    // never be an IPv6 address (names, a zone, stray characters).
    if (s.size() < 2 || s.find(':') == std::string_view::npos)
        return false;
    int groups = 0;
    for (char c : s) {
        const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!hex && c != ':' && c != '.')
            return false;
        if (c == ':')
            ++groups;
    }
    return groups <= 7;
}

}  // namespace

std::optional<ListenAddress> parseListenAddress(std::string_view text)
{
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos)
        return std::nullopt;
    std::string_view host = text.substr(0, colon);
    const std::string_view portText = text.substr(colon + 1);
    unsigned port = 0;
    const auto [end, ec] = std::from_chars(portText.data(), portText.data() + portText.size(), port);
    if (portText.empty() || ec != std::errc() || end != portText.data() + portText.size() || port < 1 || port > 65535)
        return std::nullopt;
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
        if (!isIpv6(host))
            return std::nullopt;
    } else if (!isIpv4(host)) {
        return std::nullopt;
    }
    return ListenAddress{std::string(host), static_cast<uint16_t>(port)};
}

std::string listenAddressText(const ListenAddress& address)
{
    const bool v6 = address.host.find(':') != std::string::npos;
    return (v6 ? "[" + address.host + "]" : address.host) + ":" + std::to_string(address.port);
}

}  // namespace vantor
