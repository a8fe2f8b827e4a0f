#include "history/SessionState.h"

#include <charconv>

namespace vantor {

namespace {

constexpr std::string_view magic = "vantor-sessions 1";

void encodeText(std::string& out, std::string_view text)
{
    if (text.empty()) {
        out += '%';
        return;
    }
    static constexpr char hex[] = "0123456789ABCDEF";
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c >= 0x7F || c == '%') {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0xF];
        } else {
            out += ch;
        }
    }
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::optional<std::string> decodeText(std::string_view field)
{
    if (field == "%")
        return std::string();
    std::string text;
    text.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '%') {
            text += field[i];
            continue;
        }
        if (i + 2 >= field.size())
            return std::nullopt;
        const int high = hexValue(field[i + 1]), low = hexValue(field[i + 2]);
        if (high < 0 || low < 0)
            return std::nullopt;
        text += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return text;
}

std::optional<int64_t> decodeNumber(std::string_view field)
{
    int64_t value = 0;
    const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), value);
    if (ec != std::errc() || end != field.data() + field.size())
        return std::nullopt;
    return value;
}

std::vector<std::string_view> splitFields(std::string_view line)
{
    std::vector<std::string_view> fields;
    std::size_t pos = 0;
    while (pos < line.size()) {
        const std::size_t end = std::min(line.find(' ', pos), line.size());
        fields.push_back(line.substr(pos, end - pos));
        pos = end + 1;
    }
    return fields;
}

}  // namespace

std::string formatSessionState(const SessionState& state)
{
    std::string out(magic);
    out += "\nsaved " + std::to_string(state.saved) + "\n";
    if (state.server) {
        out += "server ";
        if (*state.server) {
            out += "name ";
            encodeText(out, **state.server);
        } else {
            out += "local";
        }
        out += '\n';
    }
    for (const auto& s : state.sessions) {
        out += "session " + std::to_string(s.start) + ' ' + std::to_string(s.lastSeen) + ' ';
        encodeText(out, s.user);
        out += ' ';
        encodeText(out, s.computer);
        out += '\n';
        for (const auto& path : s.loggedPaths) {
            out += "file ";
            encodeText(out, path);
            out += '\n';
        }
    }
    return out;
}

SessionStateParse parseSessionState(std::string_view text)
{
    SessionState state;
    bool sawMagic = false, sawSaved = false;
    std::size_t lineNumber = 0;
    auto fail = [&](const std::string& why) {
        return SessionStateParse{std::nullopt, "line " + std::to_string(lineNumber) + ": " + why};
    };
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = std::min(text.find('\n', pos), text.size());
        const std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNumber;
        if (line.empty())
            continue;
        if (!sawMagic) {
            if (line != magic)
                return fail("not a session state of this version");
            sawMagic = true;
            continue;
        }
        const auto f = splitFields(line);
        if (f[0] == "saved" && f.size() == 2) {
            const auto saved = decodeNumber(f[1]);
            if (!saved)
                return fail("a time that is no number");
            state.saved = *saved;
            sawSaved = true;
        } else if (f[0] == "server" && f.size() == 2 && f[1] == "local") {
            state.server = ServerName{};
        } else if (f[0] == "server" && f.size() == 3 && f[1] == "name") {
            auto name = decodeText(f[2]);
            if (!name)
                return fail("a damaged server name");
            state.server = ServerName{std::move(*name)};
        } else if (f[0] == "session" && f.size() == 5) {
            const auto start = decodeNumber(f[1]), lastSeen = decodeNumber(f[2]);
            auto user = decodeText(f[3]), computer = decodeText(f[4]);
            if (!start || !lastSeen || !user || !computer)
                return fail("a damaged session");
            state.sessions.push_back({std::move(*user), std::move(*computer), *start, *lastSeen, {}});
        } else if (f[0] == "file" && f.size() == 2) {
            auto path = decodeText(f[1]);
            if (!path || state.sessions.empty())
                return fail(path ? "a file before any session" : "a damaged path");
            state.sessions.back().loggedPaths.insert(std::move(*path));
        } else {
            return fail("an unknown line");
        }
    }
    if (!sawMagic || !sawSaved)
        return SessionStateParse{std::nullopt, sawMagic ? "no time of saving" : "empty"};
    return SessionStateParse{std::move(state), {}};
}

}  // namespace vantor
