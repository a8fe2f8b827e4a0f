#include "options/OptionsSheet.h"

#include "access/AccessListModel.h"
#include "access/AccessListPage.h"
#include "options/GeneralPage.h"
#include "options/MailPage.h"
#include "options/ReportPage.h"
#include "options/UsersPage.h"
#include "platform/Paths.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QStackedWidget>
#include <QStyle>
#include <QTabBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace vantor {

namespace {

struct TabInfo {
    const char* text;
    const char* tip;
};
constexpr TabInfo tabInfo[OptionsSheet::TabCount] = {
    {"General", "General settings"},       {"Users", "On new user event"},
    {"E-mail", "E-mail settings"},         {"Report", "Web-based report settings"},
    {"Black list", "Black list settings"}, {"White list", "White list settings"},
};

Autostart& resolveAutostart(const OptionsDeps& deps, std::unique_ptr<Autostart>& own)
{
    if (deps.autostart)
        return *deps.autostart;
    own = createPlatformAutostart();
    return *own;
}

}  // namespace

OptionsSheet::OptionsSheet(const OptionsValue& values, MessageBoxes& boxes, const OptionsDeps& deps, QWidget* parent)
    : QDialog(parent)
    , m_boxes(boxes)
    , m_values(values)
    , m_closer(values)
    , m_autostart(resolveAutostart(deps, m_ownAutostart))
    , m_executablePath(deps.executablePath.empty() ? textFromPath(executablePath()) : deps.executablePath)
    , m_pages(new QStackedWidget(this))
    , m_tabs(new QTabBar(this))
{
    setWindowTitle(QStringLiteral("Options"));
    setObjectName(QStringLiteral("OptionsSheet"));

    m_general = new GeneralPage(m_pages);
    m_users = new UsersPage(m_pages);
    m_mail = new MailPage(deps.sendTestMail, boxes, m_pages);
    m_report = new ReportPage(deps.browseDirectory, m_pages);
    m_blackList = new AccessListPage(values.blackList, deps.accounts, m_pages);
    m_whiteList = new AccessListPage(values.whiteList, deps.accounts, m_pages);
    const char* pageNames[] = {"generalPage", "usersPage", "mailPage", "reportPage", "blackListPage", "whiteListPage"};
    QWidget* pages[] = {m_general, m_users, m_mail, m_report, m_blackList, m_whiteList};
    for (int i = 0; i < TabCount; ++i) {
        pages[i]->setObjectName(QString::fromLatin1(pageNames[i]));
        m_pages->addWidget(pages[i]);
        m_tabs->addTab(QString::fromLatin1(tabInfo[i].text));
        m_tabs->setTabToolTip(i, QString::fromLatin1(tabInfo[i].tip));
    }

    m_general->load(m_values.settings, m_autostart.isEnabled());
    m_users->load(m_values.settings);
    m_mail->load(m_values.settings);
    m_report->load(m_values.settings);

    // The tab strip lies below the pages, with buttons to step through the tabs.
    m_tabs->setObjectName(QStringLiteral("tabStrip"));
    m_tabs->setShape(QTabBar::RoundedSouth);
    m_tabs->setDrawBase(false);
    m_tabs->setExpanding(false);
    m_tabs->setUsesScrollButtons(false);
    m_tabs->setFocusPolicy(Qt::TabFocus);
    connect(m_tabs, &QTabBar::currentChanged, m_pages, &QStackedWidget::setCurrentIndex);

    auto* first = navigationButton("first", "First", QStyle::SP_MediaSkipBackward);
    auto* prev = navigationButton("prev", "Prev", QStyle::SP_MediaSeekBackward);
    auto* next = navigationButton("next", "Next", QStyle::SP_MediaSeekForward);
    auto* last = navigationButton("last", "Last", QStyle::SP_MediaSkipForward);
    connect(first, &QToolButton::clicked, this, [this] { showTab(0); });
    connect(prev, &QToolButton::clicked, this, [this] { showTab(m_tabs->currentIndex() - 1); });
    connect(next, &QToolButton::clicked, this, [this] { showTab(m_tabs->currentIndex() + 1); });
    connect(last, &QToolButton::clicked, this, [this] { showTab(TabCount - 1); });

    auto* strip = new QHBoxLayout;
    strip->setSpacing(0);
    strip->addWidget(m_tabs, 0, Qt::AlignTop);
    strip->addStretch();
    for (QToolButton* b : {first, prev, next, last})
        strip->addWidget(b, 0, Qt::AlignTop);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    ok->setObjectName(QStringLiteral("ok"));
    cancel->setObjectName(QStringLiteral("cancel"));
    ok->setDefault(true);
    cancel->setAutoDefault(false);
    connect(ok, &QPushButton::clicked, this, &OptionsSheet::accept);
    connect(cancel, &QPushButton::clicked, this, &OptionsSheet::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(ok);
    buttons->addStretch();
    buttons->addWidget(cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pages, 1);
    layout->addLayout(strip);
    layout->addLayout(buttons);

    showTab(General);
}

OptionsSheet::~OptionsSheet() = default;

QToolButton* OptionsSheet::navigationButton(const char* name, const char* tip, int icon)
{
    auto* button = new QToolButton(this);
    button->setObjectName(QString::fromLatin1(name));
    button->setToolTip(QString::fromLatin1(tip));
    button->setIcon(style()->standardIcon(static_cast<QStyle::StandardPixmap>(icon)));
    button->setAutoRaise(true);
    return button;
}

AccessListPage* OptionsSheet::listPage(Tab tab) const
{
    return tab == BlackList ? m_blackList : tab == WhiteList ? m_whiteList : nullptr;
}

void OptionsSheet::showTab(int index)
{
    if (index < 0 || index >= TabCount)
        return;
    m_tabs->setCurrentIndex(index);
    m_pages->setCurrentIndex(index);
}

void OptionsSheet::accept()
{
    OptionsValue edited = m_values;
    m_general->store(edited.settings);
    m_users->store(edited.settings);
    m_mail->store(edited.settings);
    m_report->store(edited.settings);
    edited.whiteList = m_whiteList->model()->rows();
    edited.blackList = m_blackList->model()->rows();

    if (!m_closer.ok(edited, m_general->launchOnStartup(),
                     {m_boxes, m_autostart, m_executablePath, static_cast<QWidget*>(this)}))
        return;
    m_values = edited;
    QDialog::accept();
}

OptionsResult runOptionsWindow(const OptionsValue& values, MessageBoxes& boxes, QWidget* parent,
                               const OptionsDeps& deps)
{
    OptionsSheet sheet(values, boxes, deps, parent);
    sheet.exec();
    return sheet.outcome();
}

}  // namespace vantor
