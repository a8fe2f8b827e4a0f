#include "app/ServerInputDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace vantor {

ServerInputDialog::ServerInputDialog(const QString& initial, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Input"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Input the DNS or NetBIOS name of the remote server:"), this));
    m_edit = new QLineEdit(initial, this);
    m_edit->selectAll();
    layout->addWidget(m_edit);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    setMinimumWidth(340);
}

QString ServerInputDialog::text() const
{
    return m_edit->text();
}

}  // namespace vantor
