#include "engine/EngineCounters.h"

#include <algorithm>
#include <cmath>

namespace vantor {

void EngineCounters::sessionsClosed(CloseReason reason, uint64_t count)
{
    m_sessionsClosed[static_cast<std::size_t>(reason)] += count;
}

void EngineCounters::pollDone(bool ok)
{
    m_pollOk = ok;
    ++m_polls;
    if (!ok)
        ++m_pollErrors;
}

void EngineCounters::pollDuration(double seconds)
{
    if (!(seconds >= 0))  // NaN too: a clock that went wrong must not corrupt the sum
        seconds = 0;
    const auto bucket = std::lower_bound(pollDurationBounds.begin(), pollDurationBounds.end(), seconds);
    ++m_pollBuckets[static_cast<std::size_t>(bucket - pollDurationBounds.begin())];
    m_pollMicroseconds += static_cast<uint64_t>(std::llround(std::min(seconds, 1e9) * 1e6));
}

void EngineCounters::consoleCommand(console::CommandRequest::Kind kind)
{
    const auto index = static_cast<std::size_t>(kind);
    if (index < consoleCommandCount)
        ++m_consoleCommands[index];
}

EngineCounts EngineCounters::read() const
{
    EngineCounts c;
    c.pollOk = m_pollOk;
    for (std::size_t i = 0; i < closeReasonCount; ++i)
        c.sessionsClosed[i] = m_sessionsClosed[i];
    c.newUsers = m_newUsers;
    c.polls = m_polls;
    c.pollErrors = m_pollErrors;
    c.recordsSkipped = m_recordsSkipped;
    for (std::size_t i = 0; i < c.pollDurationBuckets.size(); ++i)
        c.pollDurationBuckets[i] = m_pollBuckets[i];
    c.pollDurationSum = static_cast<double>(m_pollMicroseconds.load()) / 1e6;
    c.mailsSent = m_mailsSent;
    c.mailsFailed = m_mailsFailed;
    c.historyWriteFailures = m_historyWriteFailures;
    for (std::size_t i = 0; i < consoleCommandCount; ++i)
        c.consoleCommands[i] = m_consoleCommands[i];
    return c;
}

}  // namespace vantor
