#pragma once
// "Now" for everything that reads the time: the poll's history, session durations, trimming,
// the mail date. Tests advance a ManualClock instead of sleeping.

#include <atomic>
#include <cstdint>

namespace vantor {

class Clock {
public:
    virtual ~Clock() = default;
    // Seconds since 1970-01-01 00:00 UTC.
    virtual int64_t now() const = 0;
};

class SystemClock final : public Clock {
public:
    int64_t now() const override;
    static const SystemClock& instance();
};

class ManualClock final : public Clock {
public:
    explicit ManualClock(int64_t start = 1'700'000'000)
        : m_now(start)
    {
    }
    int64_t now() const override { return m_now.load(); }
    void set(int64_t t) { m_now.store(t); }
    void advance(int64_t seconds) { m_now.fetch_add(seconds); }

private:
    std::atomic<int64_t> m_now;
};

}  // namespace vantor
