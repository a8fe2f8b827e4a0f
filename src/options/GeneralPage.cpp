#include "options/GeneralPage.h"

#include "options/OptionsWidgets.h"

#include <QCheckBox>
#include <QRadioButton>
#include <QVBoxLayout>

namespace vantor {

GeneralPage::GeneralPage(QWidget* parent)
    : QFrame(parent)
    , m_hideSystemRequests(checkBox(this, "hideSystemRequests", "Do not show system requests"))
    , m_hideLocalUsers(checkBox(this, "hideLocalUsers", "Do not show local PC users"))
    , m_noHistory(checkBox(this, "noHistory", "Do not save history"))
    , m_noFileLog(checkBox(this, "noFileLog", "Do not log opened files"))
    , m_launchOnStartup(checkBox(this, "launchOnStartup", "Launch Vantor on startup"))
    , m_useBlackList(new QRadioButton(QStringLiteral("Use black list"), this))
    , m_useWhiteList(new QRadioButton(QStringLiteral("Use white list"), this))
{
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    m_useBlackList->setObjectName(QStringLiteral("useBlackList"));
    m_useWhiteList->setObjectName(QStringLiteral("useWhiteList"));

    auto* layout = new QVBoxLayout(this);
    for (QWidget* w : std::initializer_list<QWidget*>{m_hideSystemRequests, m_hideLocalUsers, m_noHistory, m_noFileLog,
                                                      m_launchOnStartup})
        layout->addWidget(w);
    layout->addSpacing(6);
    layout->addWidget(m_useBlackList);
    layout->addWidget(m_useWhiteList);
    layout->addStretch();
}

void GeneralPage::load(const MonitorSettings& v, bool launchOnStartup)
{
    m_hideLocalUsers->setChecked(v.hideLocalUsers != 0);
    m_noHistory->setChecked(v.noHistory != 0);
    m_hideSystemRequests->setChecked(v.hideSystemRequests != 0);
    m_noFileLog->setChecked(v.logOpenedFiles == 0);
    m_launchOnStartup->setChecked(launchOnStartup);
    (v.useBlackList ? m_useBlackList : m_useWhiteList)->setChecked(true);
}

void GeneralPage::store(MonitorSettings& v) const
{
    v.hideLocalUsers = flag(m_hideLocalUsers);
    v.noHistory = flag(m_noHistory);
    v.hideSystemRequests = flag(m_hideSystemRequests);
    v.logOpenedFiles = 1 - flag(m_noFileLog);
    v.useBlackList = m_useBlackList->isChecked() ? 1 : 0;
}

bool GeneralPage::launchOnStartup() const
{
    return m_launchOnStartup->isChecked();
}

}  // namespace vantor
