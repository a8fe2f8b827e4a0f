#pragma once
// The "Users" page: what a new user sets off.

#include "options/OptionsModel.h"

#include <QFrame>

class QCheckBox;

namespace vantor {

class UsersPage final : public QFrame {
    Q_OBJECT
public:
    explicit UsersPage(QWidget* parent = nullptr);

    void load(const MonitorSettings& settings);
    void store(MonitorSettings& settings) const;

private:
    QCheckBox* m_popup;
    QCheckBox* m_beep;
    QCheckBox* m_mail;
};

}  // namespace vantor
