#pragma once
// "Sessions History": the sessions of the logs above, the files of the selected session below, and a
// button that writes the web-based report. Each opening reads the logs afresh from its source,
// beside the GUI thread; the load stays with the window until it closes, whatever the console does
// meanwhile.

#include "history/HistoryModels.h"
#include "history/HistorySource.h"
#include "platform/MessageBoxes.h"

#include <QDialog>

#include <filesystem>
#include <memory>
#include <string>

class QPushButton;
class QTableView;
class QToolButton;

namespace vantor {

class HistoryDialog final : public QDialog {
    Q_OBJECT
public:
    struct Context {
        std::filesystem::path dataDir;
        MessageBoxes& boxes;
        const Clock& clock;
        // The report path used when the opener hands none over (the tray's "Show history").
        const MonitorSettings* settings = nullptr;
    };

    // The logs of the context's data folder.
    explicit HistoryDialog(Context context, QWidget* parent = nullptr);
    HistoryDialog(std::unique_ptr<HistorySource> source, MessageBoxes& boxes, QWidget* parent = nullptr);

    // The web-based report's path as the opener hands it over; empty: the settings' reportPath.
    std::string reportPathName;

    // Writes the report from the load this window shows, beside the GUI thread: the button waits
    // meanwhile, and a box tells how it went (reportWritten follows it, with where it is).
    void generateReport();
    // The logs have been read and the lists show them.
    bool isLoaded() const { return m_loaded; }

    QTableView* sessionsList() const { return m_sessions; }
    QTableView* fileList() const { return m_files; }
    QToolButton* reportButton() const { return m_reportButton; }
    HistorySessionsModel* sessionsModel() const { return m_sessionsModel; }
    HistoryFilesModel* filesModel() const { return m_filesModel; }

    static inline const char* reportTooltip = "Generate web-based report";

signals:
    void loaded();
    void reportWritten(bool written, const QString& where);

private:
    void showLoaded(const HistoryPtr& history);
    void showSessionFiles();
    void sortByColumn(int column);
    bool eventFilter(QObject* watched, QEvent* event) override;

    std::unique_ptr<HistorySource> m_source;
    MessageBoxes& m_boxes;
    QTableView* m_sessions = nullptr;
    QTableView* m_files = nullptr;
    QToolButton* m_reportButton = nullptr;
    QPushButton* m_ok = nullptr;
    HistorySessionsModel* m_sessionsModel = nullptr;
    HistoryFilesModel* m_filesModel = nullptr;
    bool m_loaded = false;
};

// The column the sessions list was last sorted by; it outlives the window, as in the program's
// other lists. -1 before the first sort.
int historySortColumn();

}  // namespace vantor
