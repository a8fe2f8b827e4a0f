#include "bus/AuthorizationCache.h"

#include <iterator>

namespace vantor::bus {

bool AuthorizationCache::allowed(const std::string& caller, const std::string& action, Clock::time_point now) const
{
    const auto it = m_until.find({caller, action});
    return it != m_until.end() && now < it->second;
}

void AuthorizationCache::remember(const std::string& caller, const std::string& action, uint64_t generation,
                                  Clock::time_point now)
{
    if (m_disabled || generation != m_generation)
        return;
    // The callers that went meanwhile: their names never come back.
    for (auto it = m_until.begin(); it != m_until.end();)
        it = it->second <= now ? m_until.erase(it) : std::next(it);
    m_until[{caller, action}] = now + m_lifetime;
}

void AuthorizationCache::clear()
{
    ++m_generation;
    m_until.clear();
}

void AuthorizationCache::disable()
{
    m_disabled = true;
    clear();
}

}  // namespace vantor::bus
