#include "mail/SmtpProtocol.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace vantor {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool localTime(int64_t time, std::tm& out)
{
    const auto t = static_cast<std::time_t>(time);
#ifdef _WIN32
    return localtime_s(&out, &t) == 0;
#else
    return localtime_r(&t, &out) != nullptr;
#endif
}

}  // namespace

SmtpReplyScan scanSmtpReply(std::string_view bytes, bool peerClosed)
{
    SmtpReplyScan scan;
    if (bytes.size() >= 3 && isDigit(bytes[0]) && isDigit(bytes[1]) && isDigit(bytes[2]))
        scan.code = (bytes[0] - '0') * 100 + (bytes[1] - '0') * 10 + (bytes[2] - '0');

    std::size_t start = 0;
    while (start < bytes.size()) {
        const std::size_t end = bytes.find('\n', start);
        if (end == std::string_view::npos)
            break;
        const std::string_view line = bytes.substr(start, end - start);
        const bool continued =
            line.size() >= 4 && isDigit(line[0]) && isDigit(line[1]) && isDigit(line[2]) && line[3] == '-';
        if (!continued) {
            scan.complete = true;
            scan.length = end + 1;
            return scan;
        }
        start = end + 1;
    }
    if (peerClosed && !bytes.empty()) {
        scan.complete = true;
        scan.length = bytes.size();
    }
    return scan;
}

std::optional<std::string> checkSmtpReply(std::optional<int> code, int check)
{
    const SmtpReplyCheck& row = smtpReplyChecks.at(static_cast<std::size_t>(check));
    if (code && *code == row.code)
        return std::nullopt;
    return std::to_string(code.value_or(0)) + ":" + row.errorText;
}

SmtpExtensions parseEhloReply(std::string_view reply)
{
    auto upper = [](std::string_view text) {
        std::string out(text);
        for (char& c : out)
            if (c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
        return out;
    };
    SmtpExtensions ext;
    bool first = true;
    while (!reply.empty()) {
        const std::size_t end = reply.find('\n');
        std::string_view line = reply.substr(0, end);
        reply = end == std::string_view::npos ? std::string_view() : reply.substr(end + 1);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        // The first line greets with the server's name, which is no keyword even when it reads
        // like one.
        const bool greeting = first;
        first = false;
        if (greeting || line.size() < 4 || !isDigit(line[0]) || !isDigit(line[1]) || !isDigit(line[2]))
            continue;
        const std::string text = upper(line.substr(4));
        std::vector<std::string> words;
        std::size_t start = 0;
        while (start < text.size()) {
            const std::size_t stop = text.find_first_of(" =", start);
            if (stop != start)
                words.push_back(text.substr(start, stop == std::string::npos ? std::string::npos : stop - start));
            if (stop == std::string::npos)
                break;
            start = stop + 1;
        }
        if (words.empty())
            continue;
        if (words[0] == "STARTTLS")
            ext.startTls = true;
        if (words[0] == "AUTH") {
            for (std::size_t i = 1; i < words.size(); ++i) {
                ext.authPlain = ext.authPlain || words[i] == "PLAIN";
                ext.authLogin = ext.authLogin || words[i] == "LOGIN";
            }
        }
    }
    return ext;
}

std::string base64Encode(std::string_view bytes)
{
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const uint32_t v = (static_cast<uint8_t>(bytes[i]) << 16) | (static_cast<uint8_t>(bytes[i + 1]) << 8)
                           | static_cast<uint8_t>(bytes[i + 2]);
        out += alphabet[(v >> 18) & 63];
        out += alphabet[(v >> 12) & 63];
        out += alphabet[(v >> 6) & 63];
        out += alphabet[v & 63];
    }
    const std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        uint32_t v = static_cast<uint32_t>(static_cast<uint8_t>(bytes[i])) << 16;
        if (rest == 2)
            v |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[i + 1])) << 8;
        out += alphabet[(v >> 18) & 63];
        out += alphabet[(v >> 12) & 63];
        out += rest == 2 ? alphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::optional<std::string> parseCertFingerprint(std::string_view text)
{
    std::string hex;
    for (char c : text) {
        if (c == ':' || c == ' ')
            continue;
        if (c >= 'A' && c <= 'F')
            c = static_cast<char>(c - 'A' + 'a');
        if (!isDigit(c) && !(c >= 'a' && c <= 'f'))
            return std::nullopt;
        hex += c;
    }
    if (hex.size() != 64)
        return std::nullopt;
    return hex;
}

std::string formatMailDate(int64_t time)
{
    static constexpr const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm tm{};
    if (!localTime(time, tm))
        return {};
    char zone[64] = "";
    std::strftime(zone, sizeof zone, "%Z", &tm);
    char text[128];
    std::snprintf(text, sizeof text, "%s, %02d %s %02d %02d:%02d:%02d %s", days[tm.tm_wday % 7], tm.tm_mday,
                  months[tm.tm_mon % 12], (tm.tm_year + 1900) % 100, tm.tm_hour, tm.tm_min, tm.tm_sec, zone);
    return text;
}

bool isAsciiText(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::string encodeHeaderText(std::string_view text)
{
    if (isAsciiText(text))
        return std::string(text);
    // A line with encoded words holds at most 76 characters: 39 bytes are 52 base64 characters,
    // with "=?UTF-8?B?" and "?=" a word of 64, which leaves room for "Subject: " before it.
    constexpr std::size_t wordBytes = 39;
    std::string out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = std::min(pos + wordBytes, text.size());
        // Back to the start of a character: a word holds whole characters only.
        while (end < text.size() && end > pos && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
            --end;
        if (end == pos)
            end = std::min(pos + wordBytes, text.size());  // no character start in reach: not UTF-8
        if (!out.empty())
            out += "\r\n ";
        out += "=?UTF-8?B?" + base64Encode(text.substr(pos, end - pos)) + "?=";
        pos = end;
    }
    return out;
}

std::string mailDisplayName(const std::string& name)
{
    if (!isAsciiText(name))
        return encodeHeaderText(name);
    // Letters, digits, the atom's specials and blanks between words (RFC 5322 3.2.3) may stand as
    // they are; anything else, an address's '@' above all, needs quotes.
    static constexpr std::string_view atomSpecials = "!#$%&'*+-/=?^_`{|}~";
    bool plain = !name.starts_with(' ') && !name.ends_with(' ');
    for (char c : name) {
        if (!(isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == ' '
              || atomSpecials.find(c) != std::string_view::npos))
            plain = false;
    }
    if (plain)
        return name;
    std::string quoted = "\"";
    for (char c : name) {
        if (c == '"' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    return quoted + '"';
}

std::string mailToLine(const std::vector<MailRecipient>& recipients)
{
    std::string to;
    for (std::size_t i = 0; i < recipients.size(); ++i) {
        if (i > 0)
            to += ',';
        to += mailDisplayName(recipients[i].name) + "<" + recipients[i].address + ">";
    }
    return to;
}

std::string stuffMailBody(std::string body)
{
    static constexpr std::string_view loneDot = "\r\n.\r\n";
    std::string out;
    out.reserve(body.size() + 16);
    if (body.starts_with(".\r\n"))
        out += '.';
    // A doubled line can never match again, so the search goes on from the lone dot's own line end,
    // where the next lone dot's line may begin.
    std::size_t from = 0;
    for (std::size_t p = body.find(loneDot); p != std::string::npos; p = body.find(loneDot, p + 3)) {
        out.append(body, from, p + 2 - from);
        out += '.';
        from = p + 2;
    }
    out.append(body, from, std::string::npos);
    return out;
}

}  // namespace vantor
