#pragma once
// The "Report" page: the web-based report's file and how far back the history goes.

#include "options/OptionsModel.h"

#include <QFrame>

#include <filesystem>

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace vantor {

class ReportPage final : public QFrame {
    Q_OBJECT
public:
    // `browseDirectory` is where the "..." dialog starts.
    explicit ReportPage(std::filesystem::path browseDirectory, QWidget* parent = nullptr);

    void load(const MonitorSettings& settings);
    void store(MonitorSettings& settings) const;

    // The choice list's selection: the item whose text is shown, or -1 for a typed text that is
    // no item.
    int32_t reportLimitIndex() const;

    void browse();

private:
    std::filesystem::path m_browseDirectory;
    QLineEdit* m_path;
    QCheckBox* m_autoUpdate;
    QCheckBox* m_limit;
    QComboBox* m_limitChoice;
};

}  // namespace vantor
