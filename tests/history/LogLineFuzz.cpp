// One entry point for the history's parsers: the input is read as both logs, as single lines, as a
// timestamp text, as the kept sessions of a restart, and as a name to write; the report is written from what was read.
// Checks that nothing read breaks the invariants the rest of the program relies on.

#include "history/HistoryReader.h"
#include "history/HistoryReport.h"
#include "history/SessionState.h"
#include "base/TimeText.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string_view>

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    using namespace vantor;
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    for (std::string_view rest = text; !rest.empty();) {
        const auto nl = rest.find('\n');
        const auto line = rest.substr(0, nl == std::string_view::npos ? rest.size() : nl + 1);
        rest.remove_prefix(line.size());
        if (auto s = parseSessionLine(line))
            require(s->user.size() <= maxLogField && s->computer.size() <= maxLogField && !s->user.empty());
        if (auto f = parseFileLine(line))
            require(f->path.size() <= maxLogField && f->user.find('?') == std::string::npos);
    }

    const HistoryData history = HistoryData::fromText(text, text);
    for (const auto& s : history.sessions())
        require(s.fileCount == history.countFilesInSession(s.user, s.computer, s.start, s.end()));
    if (size < 4096) {
        std::ostringstream page;
        writeReport(page, history, 1'700'000'000);
        require(page.str().find("</html>") != std::string::npos);
    }

    (void)parseTimestamp(text);
    (void)formatTimestamp(static_cast<int32_t>(size * 2654435761u));

    // Whatever a name holds, it writes as one record line that reads back to four fields.
    std::ostringstream users, files;
    writeSessionLine(users, 1110204309, text, text, 3725);
    writeFileLine(files, 1110204309, text, text, text);
    const auto s = parseSessionLine(users.str());
    const auto f = parseFileLine(files.str());
    require(s && f && s->user == f->user && s->computer == f->computer);
    require(users.str().find('\n') == users.str().size() - 1);

    // Kept sessions that read at all read back the same once written; any name survives the trip.
    if (const auto kept = parseSessionState(text); kept.state) {
        const auto again = parseSessionState(formatSessionState(*kept.state));
        require(again.state && *again.state == *kept.state);
    } else {
        require(!kept.error.empty());
    }
    SessionState named{
        7, ServerName{std::string(text)}, {{std::string(text), std::string(text), 1, 2, {std::string(text)}}}};
    const auto back = parseSessionState(formatSessionState(named));
    require(back.state && *back.state == named);

    const std::string json = jsonString(text);
    require(json.find('<') == std::string::npos && json.find("\n") == std::string::npos);
    const std::string html = htmlEscape(text);
    require(html.find('<') == std::string::npos && html.find('"') == std::string::npos);
    return 0;
}
