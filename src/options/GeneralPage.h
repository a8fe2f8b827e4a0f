#pragma once
// The "General" page: what the sessions table hides, what the history keeps, autostart, and which
// access list is in force.

#include "options/OptionsModel.h"

#include <QFrame>

class QCheckBox;
class QRadioButton;

namespace vantor {

class GeneralPage final : public QFrame {
    Q_OBJECT
public:
    explicit GeneralPage(QWidget* parent = nullptr);

    void load(const MonitorSettings& settings, bool launchOnStartup);
    void store(MonitorSettings& settings) const;
    bool launchOnStartup() const;

private:
    QCheckBox* m_hideSystemRequests;
    QCheckBox* m_hideLocalUsers;
    QCheckBox* m_noHistory;
    QCheckBox* m_noFileLog;  // ticked when logOpenedFiles is 0
    QCheckBox* m_launchOnStartup;
    QRadioButton* m_useBlackList;
    QRadioButton* m_useWhiteList;
};

}  // namespace vantor
