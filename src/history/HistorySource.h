#pragma once
// Where the history window's lists and report come from: the logs of this program's own data
// folder, or the service's over the system bus. The window asks and is answered later, on its own
// thread, so that neither a long log nor a slow service holds it; it never knows which it has.

#include "history/HistoryReader.h"
#include "monitor/MonitorSettings.h"
#include "platform/Clock.h"
#include "platform/MessageBoxes.h"

#include <filesystem>
#include <functional>
#include <string>

namespace vantor {

class HistorySource {
public:
    virtual ~HistorySource() = default;

    // The logs read afresh: `done` gets the load, or null and what went wrong.
    using Loaded = std::function<void(HistoryPtr history, std::string failure)>;
    virtual void load(Loaded done) = 0;

    struct Report {
        bool written = false;
        std::string where;  // the page, where the user can open it
        std::string failure;  // the whole text of the box when it was not written
        // The box a history window tells it with.
        BoxRequest box(void* owner) const;
    };
    // Writes the web-based report. `shown` is the load the window shows, `pathName` the path the
    // window's opener handed over (empty: the settings').
    virtual void writeReport(const HistoryPtr& shown, const std::string& pathName,
                             std::function<void(Report)> done) = 0;
    // The report path of the settings, which the main window's history button hands over; empty
    // where the source's owner decides where its report goes (the service).
    virtual std::string reportPath() const = 0;
};

// The report of the load a history window shows, written where `pathName` says (empty: where
// `settingsPath` says, else "report.html"), under the history's gate: what a local source answers
// its window. Blocks for as long as the page takes to write: called beside the window's thread.
HistorySource::Report writeShownReport(const HistoryData& shown, const std::filesystem::path& dataDir,
                                       const std::string& pathName, const std::string& settingsPath, int64_t now);

// The logs of a data folder of this program's own, read and written beside the GUI thread.
class LocalHistorySource final : public HistorySource {
public:
    LocalHistorySource(std::filesystem::path dataDir, const Clock& clock, const MonitorSettings* settings)
        : m_dataDir(std::move(dataDir))
        , m_clock(clock)
        , m_settings(settings)
    {
    }
    void load(Loaded done) override;
    void writeReport(const HistoryPtr& shown, const std::string& pathName, std::function<void(Report)> done) override;
    std::string reportPath() const override { return m_settings ? m_settings->reportPath.get() : std::string(); }

private:
    std::filesystem::path m_dataDir;
    const Clock& m_clock;
    const MonitorSettings* m_settings;
};

}  // namespace vantor
