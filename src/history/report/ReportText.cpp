#include "history/report/ReportPage.h"

#include <array>
#include <cstdio>

namespace vantor {

namespace {

// Length of the UTF-8 sequence at s[i], or 0 when the bytes there are not one.
std::size_t utf8Length(std::string_view s, std::size_t i)
{
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t len = c < 0x80                        ? 1
                      : (c >> 5) == 0x6 && c >= 0xC2  ? 2
                      : (c >> 4) == 0xE               ? 3
                      : (c >> 3) == 0x1E && c <= 0xF4 ? 4
                                                      : 0;
    if (len == 0 || i + len > s.size())
        return 0;
    for (std::size_t k = 1; k < len; ++k)
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
            return 0;
    return len;
}

// Bytes that go into a JSON string as they are: printable ASCII other than the quote, the backslash
// and the three that could start markup.
constexpr auto plainJsonBytes = [] {
    std::array<bool, 256> plain{};
    for (int c = 0x20; c < 0x7F; ++c)
        plain[static_cast<std::size_t>(c)] = c != '"' && c != '\\' && c != '<' && c != '>' && c != '&';
    return plain;
}();
bool plainJsonByte(unsigned char c)
{
    return plainJsonBytes[c];
}

constexpr std::string_view replacementChar = "\xEF\xBF\xBD";

}  // namespace

namespace report {

void appendJsonString(std::string& out, std::string_view text)
{
    out += '"';
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t run = i;
        while (run < text.size() && plainJsonByte(static_cast<unsigned char>(text[run])))
            ++run;
        out.append(text.data() + i, run - i);
        i = run;
        if (i == text.size())
            break;
        const std::size_t len = utf8Length(text, i);
        if (len == 0) {
            out += "\\ufffd";
            ++i;
            continue;
        }
        if (len == 1) {
            const auto c = static_cast<unsigned char>(text[i]);
            switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            // Kept out of the page's markup: nothing in the data can close its <script> element.
            case '<':
                out += "\\u003c";
                break;
            case '>':
                out += "\\u003e";
                break;
            case '&':
                out += "\\u0026";
                break;
            default: {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            }
            }
        } else if (text.substr(i, len) == "\xE2\x80\xA8") {
            out += "\\u2028";
        } else if (text.substr(i, len) == "\xE2\x80\xA9") {
            out += "\\u2029";
        } else {
            out.append(text.substr(i, len));
        }
        i += len;
    }
    out += '"';
}

std::string withThousands(int64_t v)
{
    std::string digits = std::to_string(v < 0 ? -v : v);
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            out += ',';
        out += digits[i];
    }
    return v < 0 ? "-" + out : out;
}

std::string longDuration(int64_t seconds)
{
    const int64_t days = seconds / 86400;
    const std::string clock = formatDuration(static_cast<uint32_t>(seconds % 86400));
    return days > 0 ? std::to_string(days) + (days == 1 ? " day " : " days ") + clock : clock;
}

}  // namespace report

std::string htmlEscape(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 16);
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t len = utf8Length(text, i);
        if (len == 0) {
            out += replacementChar;
            ++i;
            continue;
        }
        if (len == 1) {
            switch (text[i]) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                if (static_cast<unsigned char>(text[i]) < 0x20 || text[i] == 0x7F)
                    out += replacementChar;
                else
                    out += text[i];
            }
        } else {
            out.append(text.substr(i, len));
        }
        i += len;
    }
    return out;
}

std::string jsonString(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 2);
    report::appendJsonString(out, text);
    return out;
}

}  // namespace vantor
