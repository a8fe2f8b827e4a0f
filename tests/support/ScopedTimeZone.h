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
    explicit ScopedTimeZone(const char* zone)
    {
        if (const char* old = std::getenv("TZ"))
            m_old = old;
        set(zone);
    }
    ~ScopedTimeZone() { set(m_old ? m_old->c_str() : nullptr); }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

    // The standard-time name the C runtime took from the zone, which "%Z" prints. It is the TZ
    // text's name everywhere but under Wine, whose C runtime keeps only two characters of it.
    static std::string runtimeName()
    {
#ifdef _WIN32
        return _tzname[0];
#else
        return tzname[0];
#endif
    }

private:
    static void set(const char* zone)
    {
#ifdef _WIN32
        _putenv_s("TZ", zone ? zone : "");
        _tzset();
#else
        if (zone)
            ::setenv("TZ", zone, 1);
        else
            ::unsetenv("TZ");
        ::tzset();
#endif
    }

    std::optional<std::string> m_old;
};

// Central Europe: the clocks go back from 03:00 to 02:00 on the last Sunday of October.
inline constexpr const char* berlinRules = "CET-1CEST,M3.5.0,M10.5.0/3";

}  // namespace vantor::test
