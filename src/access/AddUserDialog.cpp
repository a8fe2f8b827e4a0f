#include "access/AddUserDialog.h"

#include "base/AccessList.h"
#include "platform/NetManagement.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QVBoxLayout>

namespace vantor {

namespace {

QComboBox* nameBox(QWidget* parent, const char* objectName)
{
    auto* box = new QComboBox(parent);
    box->setObjectName(QString::fromLatin1(objectName));
    box->setEditable(true);
    // Typed names are results, not new items; the lists stay in the order given.
    box->setInsertPolicy(QComboBox::NoInsert);
    box->setMinimumContentsLength(20);
    box->addItem(QString::fromLatin1(anyName));
    return box;
}

}  // namespace

AddUserDialog::AddUserDialog(NetManagement* accounts, QWidget* parent)
    : QDialog(parent)
    , m_userBox(nameBox(this, "userBox"))
    , m_computerBox(nameBox(this, "computerBox"))
{
    setWindowTitle(QStringLiteral("Add user"));

    std::vector<std::string> names;
    if (accounts && accounts->enumUsers(names).ok())
        for (const auto& name : names)
            m_userBox->addItem(QString::fromStdString(cutUtf8(name)));

    for (QComboBox* box : {m_userBox, m_computerBox}) {
        box->setCurrentIndex(-1);
        box->clearEditText();
    }

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("User :"), m_userBox);
    form->addRow(QStringLiteral("Computer :"), m_computerBox);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &AddUserDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &AddUserDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

void AddUserDialog::accept()
{
    m_user = cutUtf8(m_userBox->currentText().toStdString());
    m_computer = cutUtf8(m_computerBox->currentText().toStdString());
    QDialog::accept();
}

}  // namespace vantor
