#include "history/HistoryReport.h"

#include "history/report/ReportPage.h"
#include "platform/AtomicFile.h"
#include "platform/Paths.h"

#include <optional>

namespace vantor {

using namespace report;

std::filesystem::path reportFilePath(const std::filesystem::path& dataDir, const std::string& reportPath)
{
    return resolveInDataDir(dataDir, reportPath);
}
void writeReport(std::ostream& out, const HistoryData& data, int64_t generatedAt)
{
    LocalTimeCache local;
    PageWriter w(out);
    const Summary sum = summarise(data);
    const auto sessionCount = static_cast<int64_t>(data.sessions().size());
    const auto fileCount = static_cast<int64_t>(data.files().size());

    w << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
         "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
         "<meta name=\"generator\" content=\"Vantor\">\n<title>Vantor \xE2\x80\x94 sessions history</title>\n<style>\n"
      << pageStyle << "</style>\n</head>\n<body>\n";
    w << "<header><h1>Sessions history</h1><p>Vantor report generated " << local.format(generatedAt)
      << "</p></header>\n<main>\n";

    w << "<section class=\"cards\" id=\"summary\">\n";
    w << "<div class=\"card period\"><div class=\"label\">Period covered</div><div class=\"value\">";
    if (sum.first <= sum.last)
        w << local.format(sum.first) << " \xE2\x80\x93 " << local.format(sum.last);
    else
        w << "no records";
    w << "</div></div>\n";
    auto card = [&](const char* label, int64_t value, const std::string& note) {
        w << "<div class=\"card\"><div class=\"label\">" << label << "</div><div class=\"value\">"
          << withThousands(value) << "</div>";
        if (!note.empty())
            w << "<div class=\"note\">" << note << "</div>";
        w << "</div>\n";
    };
    card("Sessions", sessionCount, "");
    card("Users", static_cast<int64_t>(sum.users), "");
    card("Computers", static_cast<int64_t>(sum.computers), "");
    const auto outside = fileCount - static_cast<int64_t>(sum.filesInSessions);
    card("Files opened", fileCount, outside > 0 ? withThousands(outside) + " outside any logged session" : "");
    w << "</section>\n";

    w << "<h2>Activity</h2>\n";
    writeActivity(w, data, local);

    w << "<h2>Users</h2>\n";
    if (data.sessions().empty())
        w << "<p class=\"empty\">No sessions recorded.</p>\n";
    else
        writeUsers(w, data, local);

    w << "<h2>Sessions</h2>\n"
         "<noscript><p class=\"empty\">The list of sessions is drawn by the page's script; allow scripts to see "
         "it.</p></noscript>\n"
         "<div class=\"controls\"><input id=\"filter\" type=\"search\" placeholder=\"Filter by user or computer\">"
         "<label>Rows <select id=\"page-size\"><option>50</option><option selected>100</option><option>500</option>"
         "<option>1000</option></select></label>"
         "<button id=\"first\">\xC2\xAB</button><button id=\"prev\">\xE2\x80\xB9</button><span id=\"page-info\"></span>"
         "<button id=\"next\">\xE2\x80\xBA</button><button id=\"last\">\xC2\xBB</button></div>\n"
         "<table id=\"sessions\"><thead><tr><th>User</th><th>Computer</th><th>Start</th><th class=\"num\">Duration</th>"
         "<th class=\"num\">Files</th></tr></thead><tbody></tbody></table>\n"
         "<p class=\"empty\">Click a session to see its files.</p>\n";
    w << "</main>\n<script id=\"history-data\" type=\"application/json\">";
    writeData(w, data, local);
    w << "</script>\n<script>\n" << pageScript << "</script>\n</body>\n</html>\n";
}

bool generateReport(const HistoryData& data, const std::filesystem::path& dataDir, const std::string& reportPathName,
                    int64_t generatedAt, std::string* why)
{
    const auto target = reportFilePath(dataDir, reportPathName);
    if (target.has_parent_path() && target.parent_path() == dataDir)
        ensureDirectory(dataDir);
    // Earlier versions wrote through this fixed name: whatever stands there now (a crash's
    // leftover, or a link someone planted) is unlinked, never opened.
    auto oldTemporary = target;
    oldTemporary += ".part";
    std::error_code ec;
    std::filesystem::remove(oldTemporary, ec);

    AtomicFile file(target);
    std::optional<std::string> error;
    if (file.isOpen()) {
        writeReport(file.stream(), data, generatedAt);
        error = file.commit();
    } else {
        error = file.error();
    }
    if (why)
        *why = error.value_or(std::string());
    return !error;
}

bool loadAndGenerateReport(const std::filesystem::path& dataDir, const std::string& reportPathName, int64_t generatedAt,
                           std::string* why)
{
    return HistoryStore::instance().withLoaded(dataDir, [&](const HistoryPtr& data) {
        return generateReport(*data, dataDir, reportPathName, generatedAt, why);
    });
}

}  // namespace vantor
