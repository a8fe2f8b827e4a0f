#pragma once
// polkit's yes to a caller, kept a few seconds. A page that follows every change of the sessions
// table asks after each poll, and polkit's check (polkitd asks the bus who the caller is, then runs
// its rules) costs more than the answer. What keeps it sound:
//   - only a yes is kept, never a no: a right given works at the next call;
//   - per unique bus name, which the bus never gives to another connection, and per action;
//   - for a few seconds only: a right taken away in a way polkit does not announce (a group the
//     rules look at) stops working within that time;
//   - everything is dropped when polkit announces that its authority changed (its rules or actions
//     were edited, a login session changed) or when polkitd goes or comes back; and a yes that was
//     asked for before such a drop but answered after it is not kept.
// Used from one thread (the bus's).

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <utility>

namespace vantor::bus {

class AuthorizationCache {
public:
    using Clock = std::chrono::steady_clock;

    explicit AuthorizationCache(Clock::duration lifetime)
        : m_lifetime(lifetime)
    {
    }

    // Whether polkit said yes to this caller and action within the lifetime.
    bool allowed(const std::string& caller, const std::string& action, Clock::time_point now) const;

    // What a check asked now must carry to be kept: the count of drops so far.
    uint64_t generation() const { return m_generation; }
    // polkit's yes, asked at `generation`; not kept when everything was dropped since.
    void remember(const std::string& caller, const std::string& action, uint64_t generation, Clock::time_point now);
    // Drops every yes (polkit's authority changed, or polkitd went).
    void clear();
    // Off: nothing is kept (the service could not hear polkit's announcements).
    void disable();

private:
    Clock::duration m_lifetime;
    uint64_t m_generation = 0;
    bool m_disabled = false;
    std::map<std::pair<std::string, std::string>, Clock::time_point> m_until;
};

}  // namespace vantor::bus
