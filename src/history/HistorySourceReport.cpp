#include "history/HistoryReport.h"
#include "history/HistorySource.h"
#include "monitor/Outcome.h"
#include "platform/Paths.h"

namespace vantor {

BoxRequest HistorySource::Report::box(void* owner) const
{
    if (written)
        return {"Vantor", "The web-based report has been written to " + where + ".", BoxIcon::Information,
                BoxButtons::Ok, owner};
    return {"Error", failure, BoxIcon::Error, BoxButtons::Ok, owner};
}

HistorySource::Report writeShownReport(const HistoryData& shown, const std::filesystem::path& dataDir,
                                       const std::string& pathName, const std::string& settingsPath, int64_t now)
{
    const std::string path = !pathName.empty() ? pathName : !settingsPath.empty() ? settingsPath : "report.html";
    HistorySource::Report report;
    std::string why;
    report.written =
        HistoryStore::instance().serialised([&] { return generateReport(shown, dataDir, path, now, &why); });
    report.where = textFromPath(reportFilePath(dataDir, path));
    if (!report.written)
        report.failure = commandText::reportNotWritten(report.where, why);
    return report;
}

}  // namespace vantor
