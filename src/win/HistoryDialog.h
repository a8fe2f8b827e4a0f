#pragma once
// "Sessions History" (dialog 138): the logged sessions above, the files opened in the selected one
// below, and the button that writes the web-based report. The logs are read beside the window
// thread, through the history source the face hands over.

#include "history/HistorySessionRows.h"
#include "history/HistorySource.h"
#include "platform/MessageBoxes.h"
#include "win/WinUi.h"
#include "win/resource.h"

#include <functional>
#include <memory>

namespace vantor::win {

class HistoryDialog final : public Dialog {
public:
    HistoryDialog(std::unique_ptr<HistorySource> source, MessageBoxes& boxes, std::string reportPathName);
    ~HistoryDialog() override;

    HWND sessionsList() const { return item(IDC_HISTORY_SESSIONS); }
    HWND filesList() const { return item(IDC_HISTORY_FILES); }
    bool loaded() const { return m_loaded; }
    // Tests hear when a load or a report has come.
    std::function<void()> onLoaded;
    std::function<void(bool written)> onReport;

private:
    bool onInit() override;
    bool onMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& answer) override;
    void showSessions(std::optional<std::size_t> keepSession);
    void showSessionFiles();
    void generateReport();

    std::unique_ptr<HistorySource> m_source;
    MessageBoxes& m_boxes;
    std::string m_reportPathName;
    HistorySessionRows m_rows;
    bool m_loaded = false;
    HIMAGELIST m_sessionHeaders = nullptr;
    HIMAGELIST m_fileHeaders = nullptr;
};

}  // namespace vantor::win
