#pragma once
// The "Input" dialog of the remote-server command: the name of the server to monitor.

#include <QDialog>

class QLineEdit;

namespace vantor {

class ServerInputDialog final : public QDialog {
    Q_OBJECT
public:
    explicit ServerInputDialog(const QString& initial, QWidget* parent = nullptr);
    QString text() const;
    QLineEdit* edit() const { return m_edit; }

private:
    QLineEdit* m_edit;
};

}  // namespace vantor
