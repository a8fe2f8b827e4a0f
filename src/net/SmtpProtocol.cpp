#include "net/SmtpProtocol.h"

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
        const bool continued = line.size() >= 4 && isDigit(line[0]) && isDigit(line[1]) && isDigit(line[2])
                               && line[3] == '-';
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

std::string mailDisplayName(const std::string& name)
{
    // Letters, digits, the atom's specials, blanks between words, and UTF-8 (RFC 5322 3.2.3,
    // RFC 6532 3.2) may stand as they are; anything else, an address's '@' above all, needs quotes.
    static constexpr std::string_view atomSpecials = "!#$%&'*+-/=?^_`{|}~";
    bool plain = !name.starts_with(' ') && !name.ends_with(' ');
    for (char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (!(isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || u >= 0x80 || c == ' ' || atomSpecials.find(c) != std::string_view::npos))
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
