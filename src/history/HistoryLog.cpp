#include "history/HistoryLog.h"

#include "platform/AtomicFile.h"
#include "platform/NetManagement.h"
#include "platform/Paths.h"
#include "platform/SystemError.h"
#include "platform/SystemText.h"

#include <cstring>
#include <fstream>
#include <mutex>
#include <vector>

namespace vantor {

namespace {

// Appends, trims and deletions of the logs, from whichever thread, one at a time.
std::mutex& logFilesMutex()
{
    static std::mutex m;
    return m;
}

constexpr auto fieldSeparators = [] {
    std::array<bool, 256> table{};
    for (unsigned char c : {' ', '\t', '\n', '\r', '\v', '\f'})
        table[c] = true;
    return table;
}();

bool isFieldSeparator(char c)
{
    return fieldSeparators[static_cast<unsigned char>(c)];
}

// The line without its line end, and its length as the format counts it (a line end is one).
struct LineParts {
    std::string_view content;
    std::size_t length;
};

LineParts splitLineEnd(std::string_view line)
{
    if (!line.empty() && line.back() == '\n') {
        std::string_view content = line.substr(0, line.size() - 1);
        if (!content.empty() && content.back() == '\r')
            content.remove_suffix(1);
        return {content, content.size() + 1};
    }
    return {line, line.size()};
}

// The first `count` blank-separated fields of a record line; false when the line is no record.
template <std::size_t N> bool splitRecord(std::string_view line, std::array<std::string_view, N>& fields)
{
    const LineParts parts = splitLineEnd(line);
    if (parts.length < minRecordLine || parts.length > maxLogLine)
        return false;
    std::string_view rest = parts.content;
    for (auto& field : fields) {
        std::size_t begin = 0;
        while (begin < rest.size() && isFieldSeparator(rest[begin]))
            ++begin;
        std::size_t end = begin;
        while (end < rest.size() && !isFieldSeparator(rest[end]))
            ++end;
        if (end == begin)
            return false;
        field = rest.substr(begin, end - begin);
        rest.remove_prefix(end);
    }
    return true;
}

std::optional<uint32_t> parseUnsigned(std::string_view field)
{
    if (field.empty() || field.size() > 10)
        return std::nullopt;
    uint64_t v = 0;
    for (char c : field) {
        if (c < '0' || c > '9')
            return std::nullopt;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v > UINT32_MAX)
        return std::nullopt;
    return static_cast<uint32_t>(v);
}

std::optional<std::string> decodeText(std::string_view field, char blank)
{
    if (field.size() > maxLogField)
        return std::nullopt;
    std::string text(field);
    for (auto pos = text.find(blank); pos != std::string::npos; pos = text.find(blank, pos + 1))
        text[pos] = ' ';
    // A name in a single-byte code page can need more bytes in UTF-8 than the field holds.
    return cutUtf8(fromSystemText(std::move(text)), maxLogField);
}

bool isControl(unsigned char c)
{
    return c < 0x20 || c == 0x7F;
}

}  // namespace

std::filesystem::path logFilePath(const std::filesystem::path& dataDir, const std::string& name)
{
    return dataDir / name;
}

std::optional<SessionRecord> parseSessionLine(std::string_view line)
{
    std::array<std::string_view, 4> f;
    if (!splitRecord(line, f))
        return std::nullopt;
    auto start = parseUnsigned(f[0]);
    auto user = decodeText(f[1], usersLogBlank);
    auto computer = decodeText(f[2], usersLogBlank);
    auto duration = parseUnsigned(f[3]);
    if (!start || !user || !computer || !duration)
        return std::nullopt;
    return SessionRecord{static_cast<int32_t>(*start), std::move(*user), std::move(*computer), *duration, 0};
}

std::optional<FileRecord> parseFileLine(std::string_view line)
{
    std::array<std::string_view, 4> f;
    if (!splitRecord(line, f))
        return std::nullopt;
    auto time = parseUnsigned(f[0]);
    auto user = decodeText(f[1], filesLogBlank);
    auto computer = decodeText(f[2], filesLogBlank);
    auto path = decodeText(f[3], filesLogBlank);
    if (!time || !user || !computer || !path)
        return std::nullopt;
    return FileRecord{static_cast<int32_t>(*time), std::move(*path), std::move(*user), std::move(*computer)};
}

bool forEachLogLine(const std::filesystem::path& file,
                    const std::function<void(std::string_view line, bool tooLong)>& fn)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return false;
    return forEachLogLine(in, fn);
}

bool forEachLogLine(std::istream& in, const std::function<void(std::string_view line, bool tooLong)>& fn)
{
    auto tooLong = [](std::string_view line) { return splitLineEnd(line).length > maxLogLine; };
    std::vector<char> buf(std::size_t{1} << 20);
    // The start of a line that runs over a block's end; never kept beyond what tells it is too long.
    std::string carry;
    bool carryTooLong = false;
    while (in) {
        in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
        const auto n = static_cast<std::size_t>(in.gcount());
        if (n == 0)
            break;
        std::size_t pos = 0;
        while (pos < n) {
            const void* hit = std::memchr(buf.data() + pos, '\n', n - pos);
            if (!hit) {
                if (!carryTooLong) {
                    carry.append(buf.data() + pos, n - pos);
                    if (carry.size() > maxLogLine + 1) {
                        carryTooLong = true;
                        carry.resize(maxLogLine + 1);
                    }
                }
                break;
            }
            const std::size_t end = static_cast<std::size_t>(static_cast<const char*>(hit) - buf.data()) + 1;
            std::string_view piece(buf.data() + pos, end - pos);
            if (carry.empty() && !carryTooLong) {
                fn(piece, tooLong(piece));
            } else {
                if (!carryTooLong)
                    carry.append(piece);
                fn(carry, carryTooLong || tooLong(carry));
                carry.clear();
                carryTooLong = false;
            }
            pos = end;
        }
    }
    // A read error is not the end of the file: what follows it was never seen.
    if (in.bad())
        return false;
    if (!carry.empty() || carryTooLong)
        fn(carry, carryTooLong || tooLong(carry));
    return true;
}

std::string encodeLogName(std::string_view name, char blank)
{
    if (name.empty())
        return std::string(1, blank);
    // Converted before the blanks are chosen: a letter the code page lacks becomes '?', which
    // must then read back the same from both logs.
    std::string text = toSystemText(cutUtf8(std::string(name), maxLogField));
    for (char& c : text)
        if (c == ' ' || c == usersLogBlank || c == filesLogBlank || isControl(static_cast<unsigned char>(c)))
            c = blank;
    return text;
}

std::string encodeLogPath(std::string_view path)
{
    if (path.empty())
        return std::string(1, filesLogBlank);
    std::string text = toSystemText(cutUtf8(std::string(path), maxLogField));
    for (char& c : text)
        if (c == ' ' || c == filesLogBlank || isControl(static_cast<unsigned char>(c)))
            c = filesLogBlank;
    return text;
}

void writeSessionLine(std::ostream& out, int64_t start, std::string_view user, std::string_view computer,
                      uint32_t duration)
{
    out << static_cast<uint32_t>(start) << ' ' << encodeLogName(user, usersLogBlank) << ' '
        << encodeLogName(computer, usersLogBlank) << ' ' << duration << '\n';
}

void writeFileLine(std::ostream& out, int64_t time, std::string_view user, std::string_view computer,
                   std::string_view path)
{
    out << static_cast<uint32_t>(time) << ' ' << encodeLogName(user, filesLogBlank) << ' '
        << encodeLogName(computer, filesLogBlank) << ' ' << encodeLogPath(path) << '\n';
}

bool appendToLog(const std::filesystem::path& dataDir, const std::string& name, const std::string& lines,
                 std::string* why)
{
    std::lock_guard lock(logFilesMutex());
    if (!ensureDirectory(dataDir)) {
        if (why)
            *why = "cannot make the folder " + dataDir.string();
        return false;
    }
    auto error = appendToFile(logFilePath(dataDir, name), lines);
    if (error && why)
        *why = *error;
    return !error;
}

std::optional<int32_t> reportLimitFor(int32_t reportLimitIndex)
{
    if (reportLimitIndex < 0 || reportLimitIndex >= static_cast<int32_t>(reportLimitSeconds.size()))
        return std::nullopt;
    return reportLimitSeconds[static_cast<std::size_t>(reportLimitIndex)];
}

bool trimLogs(const std::filesystem::path& dataDir, int32_t reportLimitIndex, int64_t now, std::string* why)
{
    const auto limit = reportLimitFor(reportLimitIndex);
    if (!limit)
        return false;
    return trimLogsTo(dataDir, *limit, now, why);
}

std::string trimFailedText(const std::string& why)
{
    return "The history could not be trimmed.\n" + why;
}

bool trimLogsTo(const std::filesystem::path& dataDir, int64_t limit, int64_t now, std::string* why)
{
    std::lock_guard lock(logFilesMutex());
    std::string errors;
    auto failed = [&](const std::string& error) { errors += (errors.empty() ? "" : "\n") + error; };
    for (const bool users : {true, false}) {
        const auto log = logFilePath(dataDir, users ? usersLogName : filesLogName);
        // Earlier versions wrote through this fixed name; whatever stands there now is unlinked,
        // never opened.
        auto oldTemporary = log;
        oldTemporary += "2";
        std::error_code ec;
        std::filesystem::remove(oldTemporary, ec);

        AtomicFile out(log);
        if (!out.isOpen()) {
            failed(out.error());
            continue;
        }
        std::ifstream in(log, std::ios::binary);
        // A log that is not there trims to an empty one; one that is there but cannot be read
        // must not be replaced by what little could be.
        if (!in && std::filesystem::exists(std::filesystem::symlink_status(log, ec))) {
            failed("cannot read " + log.string());
            continue;
        }
        const bool readWhole = !in || forEachLogLine(in, [&](std::string_view line, bool tooLong) {
            if (tooLong)
                return;
            std::optional<int32_t> t;
            if (users) {
                if (auto r = parseSessionLine(line))
                    t = r->start;
            } else if (auto r = parseFileLine(line)) {
                t = r->time;
            }
            if (t && int64_t{*t} + limit >= now)
                out.stream() << splitLineEnd(line).content << "\n\n";
        });
        if (!readWhole) {
            failed("cannot read " + log.string() + ": it stays as it was");
            continue;
        }
        // Windows does not replace a file that is still open.
        in.close();
        if (auto error = out.commit())
            failed(*error);
    }
    if (why)
        *why = errors;
    return errors.empty();
}

void deleteLogs(const std::filesystem::path& dataDir)
{
    std::lock_guard lock(logFilesMutex());
    std::error_code ec;
    std::filesystem::remove(logFilePath(dataDir, usersLogName), ec);
    std::filesystem::remove(logFilePath(dataDir, filesLogName), ec);
}

bool clearHistory(const std::filesystem::path& dataDir, MessageBoxes& boxes, void* owner)
{
    {
        std::lock_guard lock(logFilesMutex());
        for (const char* name : {usersLogName, filesLogName}) {
            std::error_code ec;
            std::filesystem::remove(logFilePath(dataDir, name), ec);
            if (ec) {
                boxes.show({"Error", "The history could not be cleared: " + systemErrorText(ec.value()), BoxIcon::Error,
                            BoxButtons::Ok, owner});
                return false;
            }
        }
    }
    boxes.show({historyClearedCaption, historyClearedText, BoxIcon::Information, BoxButtons::Ok, owner});
    return true;
}

}  // namespace vantor
