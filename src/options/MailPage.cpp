#include "options/MailPage.h"

#include "options/OptionsWidgets.h"

#include <QComboBox>
#include <algorithm>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

namespace vantor {

namespace {

// In the order of SmtpSecurity.
constexpr const char* securityChoices[] = {"None", "STARTTLS", "TLS"};

}  // namespace

MailPage::MailPage(SendTestMailFn sendTestMail, MessageBoxes& boxes, QWidget* parent)
    : QFrame(parent)
    , m_sendTestMail(std::move(sendTestMail))
    , m_boxes(boxes)
    , m_address(lineEdit(this, "mailAddress"))
    , m_server(lineEdit(this, "smtpServer"))
    , m_port(new QSpinBox(this))
    , m_security(new QComboBox(this))
    , m_user(lineEdit(this, "smtpUser"))
    , m_passwordFile(lineEdit(this, "smtpPasswordFile"))
    , m_certFingerprint(lineEdit(this, "smtpCertFingerprint"))
    , m_testButton(new QPushButton(QStringLiteral("Send test mail"), this))
    , m_dailyReport(checkBox(this, "dailyReport", "Send daily report at (hh:mm) : "))
    , m_dailyReportTime(lineEdit(this, "dailyReportTime"))
{
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    m_port->setObjectName(QStringLiteral("smtpPort"));
    m_port->setRange(1, 65535);
    m_security->setObjectName(QStringLiteral("smtpSecurity"));
    for (const char* choice : securityChoices)
        m_security->addItem(QString::fromLatin1(choice));
    m_user->setPlaceholderText(QStringLiteral("none: no logon"));
    m_passwordFile->setPlaceholderText(QStringLiteral("a file only its owner can read"));
    m_certFingerprint->setPlaceholderText(QStringLiteral("SHA-256 of a self-signed certificate"));
    m_testButton->setObjectName(QStringLiteral("sendTestMail"));
    m_testButton->setAutoDefault(false);
    m_testButton->setEnabled(static_cast<bool>(m_sendTestMail));
    connect(m_testButton, &QPushButton::clicked, this, &MailPage::sendTestMail);
    m_dailyReportTime->setFixedWidth(m_dailyReportTime->fontMetrics().horizontalAdvance(QStringLiteral("000:000"))
                                     + 12);

    auto* grid = new QGridLayout;
    int row = 0;
    auto addRow = [&](const char* label, QWidget* field) {
        grid->addWidget(new QLabel(QString::fromLatin1(label), this), row, 0);
        grid->addWidget(field, row++, 1);
    };
    addRow("E-mail address: ", m_address);
    addRow("SMTP server: ", m_server);
    auto* portRow = new QHBoxLayout;
    portRow->addWidget(m_port);
    portRow->addWidget(new QLabel(QStringLiteral("Security: "), this));
    portRow->addWidget(m_security);
    portRow->addStretch();
    grid->addWidget(new QLabel(QStringLiteral("Port: "), this), row, 0);
    grid->addLayout(portRow, row++, 1);
    addRow("User name: ", m_user);
    addRow("Password file: ", m_passwordFile);
    addRow("Certificate SHA-256: ", m_certFingerprint);

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

void MailPage::load(const MonitorSettings& v)
{
    m_dailyReport->setChecked(v.dailyReport != 0);
    m_address->setText(QString::fromStdString(v.mailAddress));
    m_server->setText(QString::fromStdString(v.smtpServer));
    m_port->setValue(v.smtpPort);
    m_security->setCurrentIndex(static_cast<int>(v.smtpSecurity));
    m_user->setText(QString::fromStdString(v.smtpUser));
    m_passwordFile->setText(QString::fromStdString(v.smtpPasswordFile));
    m_certFingerprint->setText(QString::fromStdString(v.smtpCertFingerprint));
    m_dailyReportTime->setText(QString::fromStdString(v.dailyReportTime));
}

void MailPage::store(MonitorSettings& v) const
{
    v.dailyReport = flag(m_dailyReport);
    v.mailAddress = m_address->text().toStdString();
    v.smtpServer = m_server->text().toStdString();
    v.smtpPort = m_port->value();
    v.smtpSecurity = static_cast<SmtpSecurity>(std::max(0, m_security->currentIndex()));
    // Blanks around a name or path are typing slips, never meant.
    v.smtpUser = m_user->text().trimmed().toStdString();
    v.smtpPasswordFile = m_passwordFile->text().trimmed().toStdString();
    v.smtpCertFingerprint = m_certFingerprint->text().trimmed().toStdString();
    v.dailyReportTime = m_dailyReportTime->text().toStdString();
}

void MailPage::sendTestMail()
{
    if (!m_sendTestMail)
        return;
    MonitorSettings typed;
    store(typed);
    m_sendTestMail(mailRelay(typed), typed.mailAddress, m_boxes, static_cast<QWidget*>(this));
}

}  // namespace vantor
