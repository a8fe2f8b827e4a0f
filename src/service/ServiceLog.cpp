#include "service/ServiceLog.h"

namespace vantor {

std::string formatLogLine(LogLevel level, const std::string& text, bool journal)
{
    // syslog priorities: 3 error, 4 warning, 5 notice, 6 info.
    static constexpr const char* prefixes[] = {"<3>", "<4>", "<5>", "<6>"};
    static constexpr const char* names[] = {"error: ", "warning: ", "", ""};
    const auto i = static_cast<std::size_t>(level);
    std::string line = journal ? prefixes[i] : std::string("vantord: ") + names[i];
    // One event, one line, whatever a name from the network holds.
    for (char c : text)
        line += (c == '\n' || c == '\r') ? ' ' : c;
    return line + "\n";
}

void ServiceLog::write(LogLevel level, const std::string& text)
{
    const std::string line = formatLogLine(level, text, m_journal);
    std::lock_guard lock(m_mutex);
    m_out << line << std::flush;
}

BoxAnswer LogBoxes::show(const BoxRequest& request)
{
    if (!(request.caption == "Error" && m_quiet && m_quiet())) {
        const LogLevel level = request.icon == BoxIcon::Information && request.caption != "Error" ? LogLevel::Info
                               : request.caption == "Error"                                       ? LogLevel::Error
                                                                                                  : LogLevel::Warning;
        m_log.write(level, request.text);
    }
    // Nobody is there to agree to anything: a question is answered as if declined.
    switch (request.buttons) {
    case BoxButtons::YesNo:
        return BoxAnswer::No;
    case BoxButtons::OkCancel:
        return BoxAnswer::Cancel;
    case BoxButtons::Ok:
        break;
    }
    return BoxAnswer::Ok;
}

}  // namespace vantor
