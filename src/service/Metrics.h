#pragma once
// The service's metrics in the Prometheus text format (version 0.0.4): what the engine has done
// (its counters) and what the sessions table shows now (its published snapshot). Made from plain
// copies, so the text is made without holding anything the engine waits for.

#include "engine/EngineCounters.h"
#include "monitor/SessionTypes.h"

#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace vantor {

struct MetricsSnapshot {
    std::string version;
    EngineCounts counts;
    SessionsSnapshotPtr sessions;  // null: no poll has been applied yet
    // One series per user and computer: their number grows with the sessions, so only on request.
    bool perSession = false;
};

// The label names of the counters with labels, in their arrays' order.
const char* closeReasonLabel(CloseReason reason);
const char* consoleCommandLabel(console::CommandRequest::Kind kind);

// A label value as the text format wants it: backslash, double quote and line feed escaped, and
// bytes that are not UTF-8 replaced by U+FFFD (Prometheus refuses the whole scrape over one).
std::string escapeLabelValue(std::string_view value);

std::string formatMetrics(const MetricsSnapshot& snapshot);

// The last page made, given again while nothing it shows has changed: scrapers that come together
// (or between two polls) share one making of a page that, with a series per session, is large.
// Thread-safe.
class MetricsPages {
public:
    std::string page(const MetricsSnapshot& snapshot);

private:
    std::mutex m_mutex;
    std::optional<MetricsSnapshot> m_last;
    std::string m_page;
};

inline constexpr const char* metricsContentType = "text/plain; version=0.0.4; charset=utf-8";

}  // namespace vantor
