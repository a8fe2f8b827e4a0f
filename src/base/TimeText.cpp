#include "base/TimeText.h"

#include <cstdio>
#include <ctime>

namespace vantor {

namespace {

constexpr int64_t blockSeconds = 900;

bool toLocal(int64_t seconds, std::tm& out)
{
    const auto t = static_cast<std::time_t>(seconds);
#ifdef _WIN32
    return localtime_s(&out, &t) == 0;
#else
    return localtime_r(&t, &out) != nullptr;
#endif
}

// The local offset of a moment, in seconds east of UTC.
std::optional<int32_t> platformOffset(int64_t seconds)
{
    std::tm tm{};
    if (!toLocal(seconds, tm))
        return std::nullopt;
    const int64_t local =
        secondsFromCivil(int64_t{tm.tm_year} + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return static_cast<int32_t>(local - seconds);
}

std::string formatCivil(const CivilTime& c)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%lld-%02d-%02d %02d:%02d:%02d", static_cast<long long>(c.year), c.month, c.day,
                  c.hour, c.minute, c.second);
    return buf;
}

// sscanf's "%d": optional blanks, an optional sign, digits.
bool scanInt(std::string_view text, std::size_t& pos, int& value)
{
    while (pos < text.size()
           && (text[pos] == ' ' || text[pos] == '\t' || text[pos] == '\n' || text[pos] == '\r' || text[pos] == '\v'
               || text[pos] == '\f'))
        ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '-' || text[pos] == '+'))
        negative = text[pos++] == '-';
    std::size_t digits = 0;
    int64_t v = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        v = v * 10 + (text[pos++] - '0');
        if (++digits > 9)
            return false;
    }
    if (digits == 0)
        return false;
    value = static_cast<int>(negative ? -v : v);
    return true;
}

bool scanLiteral(std::string_view text, std::size_t& pos, char c)
{
    if (pos < text.size() && text[pos] == c) {
        ++pos;
        return true;
    }
    return false;
}

}  // namespace

int64_t secondsFromCivil(int64_t year, int month, int day, int hour, int minute, int second)
{
    // Days from 1970-01-01 of a proleptic Gregorian date (H. Hinnant's days_from_civil).
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yoe = year - era * 400;
    const int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const int64_t days = era * 146097 + doe - 719468;
    return days * 86400 + hour * 3600 + minute * 60 + second;
}

CivilTime civilFromSeconds(int64_t seconds)
{
    int64_t days = seconds / 86400;
    int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t doe = days - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    const int64_t year = yoe + era * 400 + (month <= 2);
    return {year,
            month,
            day,
            static_cast<int>(rest / 3600),
            static_cast<int>(rest % 3600 / 60),
            static_cast<int>(rest % 60)};
}

std::string formatTimestamp(int64_t seconds)
{
    if (seconds < 0)
        return invalidTimestampText;
    std::tm tm{};
    if (!toLocal(seconds, tm))
        return invalidTimestampText;
    return formatCivil({int64_t{tm.tm_year} + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec});
}

std::optional<int64_t> parseTimestamp(std::string_view text)
{
    int f[6];
    std::size_t pos = 0;
    if (!scanInt(text, pos, f[0]) || !scanLiteral(text, pos, '-') || !scanInt(text, pos, f[1])
        || !scanLiteral(text, pos, '-') || !scanInt(text, pos, f[2]) || !scanInt(text, pos, f[3])
        || !scanLiteral(text, pos, ':') || !scanInt(text, pos, f[4]) || !scanLiteral(text, pos, ':')
        || !scanInt(text, pos, f[5]))
        return std::nullopt;
    std::tm tm{};
    tm.tm_year = f[0] - 1900;
    tm.tm_mon = f[1] - 1;
    tm.tm_mday = f[2];
    tm.tm_hour = f[3];
    tm.tm_min = f[4];
    tm.tm_sec = f[5];
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    if (t == static_cast<std::time_t>(-1))
        return std::nullopt;
    return static_cast<int64_t>(t);
}

std::string formatDuration(uint32_t seconds)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02u:%02u:%02u", seconds / 3600, seconds % 3600 / 60, seconds % 60);
    return buf;
}

std::optional<int64_t> LocalTimeCache::localSeconds(int64_t seconds)
{
    if (seconds < 0)
        return std::nullopt;
    const int64_t block = seconds / blockSeconds;
    if (block == m_lastBlock && m_lastOffset)
        return seconds + *m_lastOffset;
    auto it = m_blockOffset.find(block);
    if (it == m_blockOffset.end()) {
        const auto first = platformOffset(block * blockSeconds);
        const auto last = platformOffset(block * blockSeconds + blockSeconds - 1);
        std::optional<int32_t> steady;
        if (first && last && *first == *last)
            steady = first;
        it = m_blockOffset.emplace(block, steady).first;
    }
    m_lastBlock = block;
    m_lastOffset = it->second;
    if (it->second)
        return seconds + *it->second;
    const auto offset = platformOffset(seconds);
    if (!offset)
        return std::nullopt;
    return seconds + *offset;
}

std::string LocalTimeCache::format(int64_t seconds)
{
    const auto local = localSeconds(seconds);
    if (!local)
        return invalidTimestampText;
    return formatCivil(civilFromSeconds(*local));
}

}  // namespace vantor
