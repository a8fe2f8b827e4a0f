#include "access/AccessList.h"

#include "platform/NetManagement.h"

#include <fstream>

namespace vantor {

std::string upperAscii(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

std::optional<AccessEntry> parseAccessLine(std::string_view line)
{
    auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; };
    std::string tokens[2];
    std::size_t pos = 0;
    for (auto& token : tokens) {
        while (pos < line.size() && isBlank(line[pos]))
            ++pos;
        std::size_t start = pos;
        while (pos < line.size() && !isBlank(line[pos]))
            ++pos;
        if (start == pos)
            return std::nullopt;
        token = cutUtf8(std::string(line.substr(start, pos - start)));
    }
    return AccessEntry{upperAscii(std::move(tokens[0])), upperAscii(std::move(tokens[1]))};
}

AccessList readAccessList(std::istream& in)
{
    AccessList list;
    constexpr std::size_t maxRead = 1023;
    std::string line;
    char c;
    // Emulates reading with a 1,024-byte buffer: a chunk ends at a newline or after 1,023 bytes.
    auto flush = [&] {
        if (auto e = parseAccessLine(line))
            list.push_back(std::move(*e));
        line.clear();
    };
    while (in.get(c)) {
        line.push_back(c);
        if (c == '\n' || line.size() == maxRead)
            flush();
    }
    if (!line.empty())
        flush();
    return list;
}

AccessList loadAccessListFile(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return {};
    return readAccessList(in);
}

bool appendAccessListLine(const std::filesystem::path& file, const std::string& user,
                          const std::string& computer)
{
    std::ofstream out(file, std::ios::binary | std::ios::app);
    if (!out)
        return false;
    out << user << ' ' << computer << '\n';
    out.close();
    return !out.fail();
}

bool writeAccessListFile(const std::filesystem::path& file,
                         const std::vector<std::pair<std::string, std::string>>& pairs)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!out)
        return false;
    for (const auto& [user, computer] : pairs)
        out << user << ' ' << computer << '\n';
    out.close();
    return !out.fail();
}

bool accessEntryMatches(const AccessEntry& entry, const std::string& upperUser,
                        const std::string& upperComputer)
{
    static const std::string any = "<ANY>";
    return (entry.user == any || entry.user == upperUser)
           && (entry.computer == any || entry.computer == upperComputer);
}

bool mustCloseSession(const AccessList& blackList, const AccessList& whiteList, bool useBlackList,
                      const std::string& user, const std::string& computer)
{
    const std::string u = upperAscii(user);
    const std::string c = upperAscii(computer);
    if (useBlackList) {
        for (const auto& e : blackList)
            if (accessEntryMatches(e, u, c))
                return true;
        return false;
    }
    for (const auto& e : whiteList)
        if (accessEntryMatches(e, u, c))
            return false;
    return true;
}

}  // namespace vantor
