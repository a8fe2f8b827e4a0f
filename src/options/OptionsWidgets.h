#pragma once
// Small helpers shared by the Options window's pages.

#include <QCheckBox>
#include <QLineEdit>
#include <QString>

namespace vantor {

inline QCheckBox* checkBox(QWidget* parent, const char* objectName, const char* text)
{
    auto* box = new QCheckBox(QString::fromUtf8(text), parent);
    box->setObjectName(QString::fromLatin1(objectName));
    return box;
}

inline QLineEdit* lineEdit(QWidget* parent, const char* objectName)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(objectName));
    return edit;
}

inline int32_t flag(const QCheckBox* box)
{
    return box->isChecked() ? 1 : 0;
}

}  // namespace vantor
