#pragma once
// The "E-mail" page: where notification mails go and through which server, the test mail, and the
// daily report settings.

#include "options/OptionsModel.h"

#include <QFrame>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace vantor {

class MessageBoxes;

class MailPage final : public QFrame {
    Q_OBJECT
public:
    // Without `sendTestMail` the "Send test mail" button is disabled.
    MailPage(SendTestMailFn sendTestMail, MessageBoxes& boxes, QWidget* parent = nullptr);

    void load(const OptionsValues& values);
    void store(OptionsValues& values) const;

    // Sends the test mail with the values typed now; the settings are not touched.
    void sendTestMail();

private:
    SendTestMailFn m_sendTestMail;
    MessageBoxes& m_boxes;
    QLineEdit* m_address;
    QLineEdit* m_server;
    QPushButton* m_testButton;
    QCheckBox* m_dailyReport;
    QLineEdit* m_dailyReportTime;
};

}  // namespace vantor
