#include "base/AccessList.h"

#include "platform/AtomicFile.h"
#include "platform/SystemText.h"

#include "platform/NetManagement.h"

#include <fstream>
#include <system_error>

namespace vantor {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Up to two blank-separated tokens of a line, each cut at 255 bytes.
std::vector<std::string> firstTwoTokens(std::string_view line)
{
    std::vector<std::string> tokens;
    std::size_t pos = 0;
    while (tokens.size() < 2) {
        while (pos < line.size() && isBlank(line[pos]))
            ++pos;
        std::size_t start = pos;
        while (pos < line.size() && !isBlank(line[pos]))
            ++pos;
        if (start == pos)
            break;
        tokens.push_back(cutUtf8(std::string(line.substr(start, pos - start))));
    }
    return tokens;
}

// Emulates reading with a 1,024-byte buffer: a piece ends at a newline or after 1,023 bytes.
template <typename OnLine> void readListPieces(std::istream& in, OnLine onLine)
{
    constexpr std::size_t maxRead = 1023;
    std::string line;
    char c;
    while (in.get(c)) {
        line.push_back(c);
        if (c == '\n' || line.size() == maxRead) {
            onLine(fromSystemText(line));
            line.clear();
        }
    }
    if (!line.empty())
        onLine(fromSystemText(line));
}

}  // namespace

std::optional<AccessEntry> parseAccessLine(std::string_view line)
{
    auto tokens = firstTwoTokens(line);
    if (tokens.size() < 2)
        return std::nullopt;
    return AccessEntry{upperAscii(std::move(tokens[0])), upperAscii(std::move(tokens[1]))};
}

std::optional<AccessRow> parseAccessRow(std::string_view line)
{
    auto tokens = firstTwoTokens(line);
    if (tokens.empty())
        return std::nullopt;
    if (tokens.size() == 2)
        return AccessRow{std::move(tokens[0]), std::move(tokens[1])};
    // Our own writer puts "user computer" with one blank between, so a lone token after a leading
    // blank was written with an empty user; keep it in its column rather than moving it.
    if (line.front() == ' ' || line.front() == '\t')
        return AccessRow{std::string(), std::move(tokens[0])};
    return AccessRow{std::move(tokens[0]), std::string()};
}

AccessList readAccessList(std::istream& in)
{
    AccessList list;
    readListPieces(in, [&](const std::string& line) {
        if (auto e = parseAccessLine(line))
            list.push_back(std::move(*e));
    });
    return list;
}

std::vector<AccessRow> readAccessRows(std::istream& in)
{
    std::vector<AccessRow> rows;
    readListPieces(in, [&](const std::string& line) {
        if (auto r = parseAccessRow(line))
            rows.push_back(std::move(*r));
    });
    return rows;
}

std::vector<AccessRow> loadAccessRowsFile(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return {};
    return readAccessRows(in);
}

AccessList loadAccessListFile(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return {};
    return readAccessList(in);
}

bool listNameAcceptable(const std::string& name)
{
    if (name.empty() || name.size() > 255)
        return false;
    for (unsigned char c : name)
        if (c <= ' ' || c == 0x7f)
            return false;
    return true;
}

bool appendAccessListLine(const std::filesystem::path& file, const std::string& user, const std::string& computer)
{
    return !appendToFile(file, toSystemText(user + ' ' + computer + '\n'));
}

bool writeAccessListFile(const std::filesystem::path& file,
                         const std::vector<std::pair<std::string, std::string>>& pairs)
{
    // Written beside the list and moved over it, so that a failed write (a full disk) leaves the
    // old list rather than a cut one: a cut white list would close sessions nobody meant to close.
    std::string content;
    for (const auto& [user, computer] : pairs)
        content += user + ' ' + computer + '\n';
    return !writeFileAtomically(file, toSystemText(std::move(content)));
}

bool accessEntryMatches(const AccessEntry& entry, const std::string& upperUser, const std::string& upperComputer)
{
    static const std::string any = "<ANY>";
    return (entry.user == any || entry.user == upperUser) && (entry.computer == any || entry.computer == upperComputer);
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
