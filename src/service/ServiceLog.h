#pragma once
// vantord's messages: one line per event on standard error, with its level. Under systemd the
// line starts with the kernel-style priority ("<3>"), which the journal takes as the level.

#include "engine/Engine.h"
#include "platform/MessageBoxes.h"

#include <functional>
#include <mutex>
#include <ostream>
#include <string>

namespace vantor {

// `journal`: stderr goes to the journal (JOURNAL_STREAM is set).
std::string formatLogLine(LogLevel level, const std::string& text, bool journal);

class ServiceLog {
public:
    ServiceLog(std::ostream& out, bool journal)
        : m_out(out)
        , m_journal(journal)
    {
    }
    // Thread-safe: the agent's threads and the worker log too.
    void write(LogLevel level, const std::string& text);

private:
    std::mutex m_mutex;
    std::ostream& m_out;
    bool m_journal;
};

// The service has nobody to show a box to: a box becomes a log line. A poll's error box is left
// out (`quiet` says when a poll is being applied): the engine logs the failure once when it starts and
// once when it ends, where a box would come at every poll.
class LogBoxes final : public MessageBoxes {
public:
    LogBoxes(ServiceLog& log, std::function<bool()> quiet)
        : m_log(log)
        , m_quiet(std::move(quiet))
    {
    }
    BoxAnswer show(const BoxRequest& request) override;

private:
    ServiceLog& m_log;
    std::function<bool()> m_quiet;
};

}  // namespace vantor
