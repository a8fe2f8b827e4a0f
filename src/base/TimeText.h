#pragma once
// The three text forms of time that the history uses: a moment in local time, a duration, and a
// moment read back from its text. Moments are seconds since 1970-01-01 00:00 UTC.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace vantor {

// "2005-03-07 14:05:09" in local time. A moment before 1970 (what a damaged log line gives when its
// field is read as a signed 32-bit value) or one the platform cannot convert reads
// "0000-00-00 00:00:00": plainly not a real time, and it sorts below every real one.
std::string formatTimestamp(int64_t seconds);
inline constexpr const char* invalidTimestampText = "0000-00-00 00:00:00";

// Reads "Y-M-D h:m:s" (leading zeros optional) as a local time, leaving daylight saving time to the
// platform. Nothing when the text does not hold six numbers in that shape.
std::optional<int64_t> parseTimestamp(std::string_view text);

// "hh:mm:ss"; the hours take as many digits as they need ("123:04:05").
std::string formatDuration(uint32_t seconds);

// Local time for many moments at once (the report, the history window): asks the platform once per
// quarter hour seen, instead of once per moment. Every real zone changes its offset on a quarter
// hour; a block whose two ends disagree is converted moment by moment. Make one per batch: it does
// not notice a change of the time zone while it lives.
class LocalTimeCache {
public:
    // The moment shifted by its local offset (so that reading it as UTC gives the local fields),
    // or nothing where formatTimestamp shows its invalid text.
    std::optional<int64_t> localSeconds(int64_t seconds);
    // The same text as formatTimestamp.
    std::string format(int64_t seconds);

private:
    std::unordered_map<int64_t, std::optional<int32_t>> m_blockOffset;
    int64_t m_lastBlock = -1;
    std::optional<int32_t> m_lastOffset;
};

// The fields of a moment read as UTC (used with LocalTimeCache::localSeconds).
struct CivilTime {
    int64_t year;
    int month, day, hour, minute, second;
};
CivilTime civilFromSeconds(int64_t seconds);
int64_t secondsFromCivil(int64_t year, int month, int day, int hour, int minute, int second);

}  // namespace vantor
