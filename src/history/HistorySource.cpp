#include "history/HistorySource.h"

#include "history/HistoryReport.h"

#include <QCoreApplication>
#include <QThreadPool>

namespace vantor {

namespace {

// Runs `fn` on the GUI thread. The thread pool is waited for when the program ends.
void toGui(std::function<void()> fn)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(fn), Qt::QueuedConnection);
}

}  // namespace

void LocalHistorySource::load(Loaded done)
{
    QThreadPool::globalInstance()->start([dataDir = m_dataDir, done = std::move(done)] {
        HistoryPtr history = loadHistory(dataDir);
        toGui([done, history] { done(history, {}); });
    });
}

void LocalHistorySource::writeReport(const HistoryPtr& shown, const std::string& pathName,
                                     std::function<void(Report)> done)
{
    // A report of a long history takes seconds to write.
    QThreadPool::globalInstance()->start([shown, dataDir = m_dataDir, pathName,
                                          settingsPath = m_settings ? m_settings->reportPath.get() : std::string(),
                                          now = m_clock.now(), done = std::move(done)] {
        const Report report = writeShownReport(*shown, dataDir, pathName, settingsPath, now);
        toGui([done, report] { done(report); });
    });
}

}  // namespace vantor
