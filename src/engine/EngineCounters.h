#pragma once
// What the engine has done since it started, for a monitoring system to read (the service's
// /metrics). Every count is an atomic that the engine's threads add to and any thread reads:
// a reader never waits for a poll, and a poll never waits for a reader.

#include "console/ConsoleProtocol.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace vantor {

// Why a session was closed.
enum class CloseReason { BlackList, WhiteList, Console, User };
inline constexpr std::size_t closeReasonCount = 4;

// The console commands as the agent told them apart, Ignored included (a scanner knocking shows there).
inline constexpr std::size_t consoleCommandCount = 7;

// The upper bounds, in seconds, of the poll-duration buckets: an smbstatus run takes tens of
// milliseconds for a few sessions and seconds for thousands; a remote server may take longer.
inline constexpr std::array<double, 11> pollDurationBounds = {0.01, 0.025, 0.05, 0.1,  0.25, 0.5,
                                                              1.0,  2.5,   5.0,  10.0, 30.0};

// A plain copy of the counters, read one by one (a reader may see a poll counted whose duration
// is not yet: the text format allows no better without a lock, and a scrape a moment later agrees).
struct EngineCounts {
    bool pollOk = true;
    std::array<uint64_t, closeReasonCount> sessionsClosed{};
    uint64_t newUsers = 0;
    uint64_t polls = 0;
    uint64_t pollErrors = 0;
    uint64_t recordsSkipped = 0;  // records of the service's listings that could not be read
    // Polls whose duration fell in each bucket (not cumulative); the last is above every bound.
    std::array<uint64_t, pollDurationBounds.size() + 1> pollDurationBuckets{};
    double pollDurationSum = 0;  // seconds
    uint64_t mailsSent = 0;
    uint64_t mailsFailed = 0;
    uint64_t historyWriteFailures = 0;
    std::array<uint64_t, consoleCommandCount> consoleCommands{};
    bool operator==(const EngineCounts&) const = default;
};

class EngineCounters {
public:
    void sessionsClosed(CloseReason reason, uint64_t count = 1);
    void newUser() { ++m_newUsers; }
    // A poll's outcome, and its duration once it is applied.
    void pollDone(bool ok);
    void pollDuration(double seconds);
    void recordsSkipped(uint64_t count) { m_recordsSkipped += count; }
    void mail(bool sent) { ++(sent ? m_mailsSent : m_mailsFailed); }
    void consoleCommand(console::CommandRequest::Kind kind);
    // A write of the history (a log line, a trim, the kept sessions) that failed.
    void historyWriteFailed() { ++m_historyWriteFailures; }

    EngineCounts read() const;

private:
    std::atomic<bool> m_pollOk{true};
    std::array<std::atomic<uint64_t>, closeReasonCount> m_sessionsClosed{};
    std::atomic<uint64_t> m_newUsers{0};
    std::atomic<uint64_t> m_polls{0};
    std::atomic<uint64_t> m_pollErrors{0};
    std::atomic<uint64_t> m_recordsSkipped{0};
    std::array<std::atomic<uint64_t>, pollDurationBounds.size() + 1> m_pollBuckets{};
    std::atomic<uint64_t> m_pollMicroseconds{0};
    std::atomic<uint64_t> m_mailsSent{0};
    std::atomic<uint64_t> m_mailsFailed{0};
    std::atomic<uint64_t> m_historyWriteFailures{0};
    std::array<std::atomic<uint64_t>, consoleCommandCount> m_consoleCommands{};
};

}  // namespace vantor
