#pragma once
// Sets the process's time zone for one test and puts the old one back. POSIX zone rules are used
// rather than names, so the tests need no time-zone database.

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace vantor::test {

class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* tz)
    {
        if (const char* old = std::getenv("TZ"))
            m_old = old;
        set(tz);
    }
    ~ScopedTimeZone() { set(m_old ? m_old->c_str() : nullptr); }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    static void set(const char* tz)
    {
#ifdef _WIN32
        _putenv_s("TZ", tz ? tz : "");
        _tzset();
#else
        if (tz)
            setenv("TZ", tz, 1);
        else
            unsetenv("TZ");
        tzset();
#endif
    }

    std::optional<std::string> m_old;
};

// Central Europe: the clocks go back from 03:00 to 02:00 on the last Sunday of October.
inline constexpr const char* berlinRules = "CET-1CEST,M3.5.0,M10.5.0/3";

}  // namespace vantor::test
