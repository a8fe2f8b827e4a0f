#pragma once
// The "E-mail" page: where notification mails go, through which server and how it is reached
// (port, encryption, logon), the test mail, and the daily report settings.

#include "options/OptionsModel.h"

#include <QFrame>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace vantor {

class MessageBoxes;

class MailPage final : public QFrame {
    Q_OBJECT
public:
    // Without `sendTestMail` the "Send test mail" button is disabled.
    MailPage(SendTestMailFn sendTestMail, MessageBoxes& boxes, QWidget* parent = nullptr);

    void load(const MonitorSettings& settings);
    void store(MonitorSettings& settings) const;

    // Sends the test mail with the values typed now; the settings are not touched.
    void sendTestMail();

private:
    SendTestMailFn m_sendTestMail;
    MessageBoxes& m_boxes;
    QLineEdit* m_address;
    QLineEdit* m_server;
    QSpinBox* m_port;
    QComboBox* m_security;
    QLineEdit* m_user;
    QLineEdit* m_passwordFile;
    QLineEdit* m_certFingerprint;
    QPushButton* m_testButton;
    QCheckBox* m_dailyReport;
    QLineEdit* m_dailyReportTime;
};

}  // namespace vantor
