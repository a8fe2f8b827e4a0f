#include "options/MailPage.h"

#include "options/OptionsWidgets.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace vantor {

MailPage::MailPage(SendTestMailFn sendTestMail, MessageBoxes& boxes, QWidget* parent)
    : QFrame(parent)
    , m_sendTestMail(std::move(sendTestMail))
    , m_boxes(boxes)
    , m_address(lineEdit(this, "mailAddress"))
    , m_server(lineEdit(this, "smtpServer"))
    , m_testButton(new QPushButton(QStringLiteral("Send test mail"), this))
    , m_dailyReport(checkBox(this, "dailyReport", "Send daily report at (hh:mm) : "))
    , m_dailyReportTime(lineEdit(this, "dailyReportTime"))
{
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    m_testButton->setObjectName(QStringLiteral("sendTestMail"));
    m_testButton->setAutoDefault(false);
    m_testButton->setEnabled(static_cast<bool>(m_sendTestMail));
    connect(m_testButton, &QPushButton::clicked, this, &MailPage::sendTestMail);
    m_dailyReportTime->setFixedWidth(m_dailyReportTime->fontMetrics().horizontalAdvance(QStringLiteral("000:000")) + 12);

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("E-mail address: "), this), 0, 0);
    grid->addWidget(m_address, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("SMTP server: "), this), 1, 0);
    grid->addWidget(m_server, 1, 1);

    auto* testRow = new QHBoxLayout;
    testRow->addStretch();
    testRow->addWidget(m_testButton);

    auto* dailyRow = new QHBoxLayout;
    dailyRow->addWidget(m_dailyReport);
    dailyRow->addWidget(m_dailyReportTime);
    dailyRow->addStretch();

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(testRow);
    layout->addSpacing(6);
    layout->addLayout(dailyRow);
    layout->addStretch();
}

void MailPage::load(const OptionsValues& v)
{
    m_dailyReport->setChecked(v.dailyReport != 0);
    m_address->setText(QString::fromStdString(v.mailAddress));
    m_server->setText(QString::fromStdString(v.smtpServer));
    m_dailyReportTime->setText(QString::fromStdString(v.dailyReportTime));
}

void MailPage::store(OptionsValues& v) const
{
    v.dailyReport = flag(m_dailyReport);
    v.mailAddress = m_address->text().toStdString();
    v.smtpServer = m_server->text().toStdString();
    v.dailyReportTime = m_dailyReportTime->text().toStdString();
}

void MailPage::sendTestMail()
{
    if (!m_sendTestMail)
        return;
    m_sendTestMail(m_server->text().toStdString(), m_address->text().toStdString(), m_boxes,
                   static_cast<QWidget*>(this));
}

}  // namespace vantor
