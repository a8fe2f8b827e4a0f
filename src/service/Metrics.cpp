#include "service/Metrics.h"

#include <algorithm>
#include <charconv>
#include <tuple>
#include <unordered_set>
#include <vector>

namespace vantor {

namespace {

// The length of the well-formed UTF-8 sequence at the start of `s`, or 0 (RFC 3629: no overlong
// forms, no surrogates, nothing above U+10FFFF).
std::size_t utf8SequenceLength(std::string_view s)
{
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char c = b(0);
    if (c < 0x80)
        return 1;
    std::size_t n = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0)
            lo = 0xA0;
        else if (c == 0xED)
            hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0)
            lo = 0x90;
        else if (c == 0xF4)
            hi = 0x8F;
    } else {
        return 0;
    }
    if (s.size() < n || b(1) < lo || b(1) > hi)
        return 0;
    for (std::size_t i = 2; i < n; ++i)
        if (b(i) < 0x80 || b(i) > 0xBF)
            return 0;
    return n;
}

void appendNumber(std::string& out, uint64_t value)
{
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, r.ptr);
}

void appendNumber(std::string& out, double value)
{
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, r.ptr);
}

void header(std::string& out, const char* name, const char* type, const char* help)
{
    out += "# HELP ";
    out += name;
    out += ' ';
    out += help;
    out += "\n# TYPE ";
    out += name;
    out += ' ';
    out += type;
    out += '\n';
}

template <class Number> void sample(std::string& out, const char* name, Number value)
{
    out += name;
    out += ' ';
    appendNumber(out, value);
    out += '\n';
}

template <class Number>
void labelled(std::string& out, const char* name, const char* label, std::string_view labelValue, Number value)
{
    out += name;
    out += '{';
    out += label;
    out += "=\"";
    out += escapeLabelValue(labelValue);
    out += "\"} ";
    appendNumber(out, value);
    out += '\n';
}

}  // namespace

const char* closeReasonLabel(CloseReason reason)
{
    switch (reason) {
    case CloseReason::BlackList:
        return "black_list";
    case CloseReason::WhiteList:
        return "white_list";
    case CloseReason::Console:
        return "console";
    case CloseReason::User:
        return "user";
    }
    return "unknown";
}

const char* consoleCommandLabel(console::CommandRequest::Kind kind)
{
    using Kind = console::CommandRequest::Kind;
    switch (kind) {
    case Kind::Ignored:
        return "other";
    case Kind::Sessions:
        return "sess";
    case Kind::Report:
        return "report";
    case Kind::Identity:
        return "id";
    case Kind::DeleteLogs:
        return "del_logs";
    case Kind::CloseSession:
        return "close_session";
    case Kind::CloseAll:
        return "close_all";
    }
    return "unknown";
}

std::string escapeLabelValue(std::string_view value)
{
    std::string out;
    out.reserve(value.size());
    // Most names need nothing: plain ASCII without a quote, a backslash or a line feed.
    const bool plain = std::all_of(value.begin(), value.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x80 && c != '\\' && c != '"' && c != '\n';
    });
    if (plain)
        return out.append(value);
    while (!value.empty()) {
        const std::size_t n = utf8SequenceLength(value);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            value.remove_prefix(1);
            continue;
        }
        if (n == 1 && value[0] == '\\')
            out += "\\\\";
        else if (n == 1 && value[0] == '"')
            out += "\\\"";
        else if (n == 1 && value[0] == '\n')
            out += "\\n";
        else
            out.append(value.data(), n);
        value.remove_prefix(n);
    }
    return out;
}

std::string formatMetrics(const MetricsSnapshot& snapshot)
{
    const EngineCounts& c = snapshot.counts;
    const SessionsSnapshot empty;
    const SessionsSnapshot& sessions = snapshot.sessions ? *snapshot.sessions : empty;
    std::string out;
    out.reserve(4096 + (snapshot.perSession ? sessions.rows.size() * 80 : 0));

    header(out, "vantor_up", "gauge", "1 while the last poll of the sessions succeeded, 0 while polls fail.");
    sample(out, "vantor_up", uint64_t{c.pollOk ? 1u : 0u});
    header(out, "vantor_build_info", "gauge", "The running Vantor's version, as a label.");
    labelled(out, "vantor_build_info", "version", snapshot.version, uint64_t{1});
    header(out, "vantor_sessions", "gauge", "Sessions on the server at the last poll.");
    sample(out, "vantor_sessions", uint64_t{sessions.currentSessionsCount});
    header(out, "vantor_open_files", "gauge", "Files and folders held open by those sessions.");
    sample(out, "vantor_open_files", uint64_t{sessions.openFilesTotal});

    std::unordered_set<std::string_view> users;
    users.reserve(sessions.rows.size());
    for (const auto& row : sessions.rows)
        if (!row.user.empty())
            users.insert(row.user);
    header(out, "vantor_users", "gauge", "Different user names among the sessions in the table.");
    sample(out, "vantor_users", uint64_t{users.size()});

    header(out, "vantor_sessions_closed_total", "counter",
           "Sessions closed, by why: black_list, white_list, console, user (a command of the window).");
    for (std::size_t i = 0; i < closeReasonCount; ++i)
        labelled(out, "vantor_sessions_closed_total", "reason", closeReasonLabel(static_cast<CloseReason>(i)),
                 c.sessionsClosed[i]);
    header(out, "vantor_new_users_total", "counter", "New-user events.");
    sample(out, "vantor_new_users_total", c.newUsers);
    header(out, "vantor_polls_total", "counter", "Polls of the sessions.");
    sample(out, "vantor_polls_total", c.polls);
    header(out, "vantor_poll_failures_total", "counter", "Polls of the sessions that failed.");
    sample(out, "vantor_poll_failures_total", c.pollErrors);
    header(out, "vantor_poll_errors_total", "counter", "The same as vantor_poll_failures_total (its earlier name).");
    sample(out, "vantor_poll_errors_total", c.pollErrors);
    header(out, "vantor_poll_records_skipped_total", "counter",
           "Records of the server's listings (a session, an open file) that could not be read and were left out.");
    sample(out, "vantor_poll_records_skipped_total", c.recordsSkipped);

    header(out, "vantor_poll_duration_seconds", "histogram",
           "How long a poll took, from its start to its applied table.");
    uint64_t cumulative = 0;
    for (std::size_t i = 0; i < pollDurationBounds.size(); ++i) {
        cumulative += c.pollDurationBuckets[i];
        out += "vantor_poll_duration_seconds_bucket{le=\"";
        appendNumber(out, pollDurationBounds[i]);
        out += "\"} ";
        appendNumber(out, cumulative);
        out += '\n';
    }
    cumulative += c.pollDurationBuckets.back();
    out += "vantor_poll_duration_seconds_bucket{le=\"+Inf\"} ";
    appendNumber(out, cumulative);
    out += '\n';
    sample(out, "vantor_poll_duration_seconds_sum", c.pollDurationSum);
    sample(out, "vantor_poll_duration_seconds_count", cumulative);

    header(out, "vantor_mails_total", "counter", "Mails handed to the mail server (sent) or not (failed).");
    labelled(out, "vantor_mails_total", "result", "sent", c.mailsSent);
    labelled(out, "vantor_mails_total", "result", "failed", c.mailsFailed);
    header(out, "vantor_history_write_failures_total", "counter",
           "Writes of the history (log lines, trims, the kept sessions) that failed, as on a full disk.");
    sample(out, "vantor_history_write_failures_total", c.historyWriteFailures);
    header(out, "vantor_console_commands_total", "counter", "Requests of consoles on the command port, by command.");
    for (std::size_t i = 0; i < consoleCommandCount; ++i)
        labelled(out, "vantor_console_commands_total", "command",
                 consoleCommandLabel(static_cast<console::CommandRequest::Kind>(i)), c.consoleCommands[i]);

    if (snapshot.perSession) {
        // One series per user and computer: two sessions of the same pair would otherwise be two
        // samples of one series, which Prometheus refuses along with the whole scrape.
        // Keyed by the escaped texts, which two different names can share once their stray bytes
        // are replaced.
        struct Pair {
            std::string user, computer;
            uint64_t files;
        };
        std::vector<Pair> pairs;
        pairs.reserve(sessions.rows.size());
        for (const auto& row : sessions.rows)
            pairs.push_back({escapeLabelValue(row.user), escapeLabelValue(row.computer), row.openFiles});
        std::sort(pairs.begin(), pairs.end(), [](const Pair& a, const Pair& b) {
            return std::tie(a.user, a.computer) < std::tie(b.user, b.computer);
        });
        header(out, "vantor_session_open_files", "gauge", "Files held open, by user and computer.");
        for (std::size_t i = 0; i < pairs.size();) {
            const Pair& first = pairs[i];
            uint64_t files = 0;
            for (; i < pairs.size() && pairs[i].user == first.user && pairs[i].computer == first.computer; ++i)
                files += pairs[i].files;
            out += "vantor_session_open_files{user=\"";
            out += first.user;
            out += "\",computer=\"";
            out += first.computer;
            out += "\"} ";
            appendNumber(out, files);
            out += '\n';
        }
    }
    return out;
}

std::string MetricsPages::page(const MetricsSnapshot& snapshot)
{
    std::lock_guard lock(m_mutex);
    // The table is immutable once published: the same pointer is the same table.
    if (!m_last || m_last->sessions != snapshot.sessions || m_last->counts != snapshot.counts
        || m_last->perSession != snapshot.perSession || m_last->version != snapshot.version) {
        m_page = formatMetrics(snapshot);
        m_last = snapshot;
    }
    return m_page;
}

}  // namespace vantor
