#include "options/UsersPage.h"

#include "options/OptionsWidgets.h"

#include <QLabel>
#include <QVBoxLayout>

namespace vantor {

UsersPage::UsersPage(QWidget* parent)
    : QFrame(parent)
    , m_popup(checkBox(this, "popupOnNewUser", "Popup main dialog"))
    , m_beep(checkBox(this, "beepOnNewUser", "Beep"))
    , m_mail(checkBox(this, "mailOnNewUser", "Send e-mail notifications"))
{
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("On new user event:"), this));
    // Indented under the label: they are the choices of that event.
    auto* choices = new QVBoxLayout;
    choices->setContentsMargins(16, 0, 0, 0);
    for (QCheckBox* box : {m_popup, m_beep, m_mail})
        choices->addWidget(box);
    layout->addLayout(choices);
    layout->addStretch();
}

void UsersPage::load(const MonitorSettings& v)
{
    m_beep->setChecked(v.beepOnNewUser != 0);
    m_mail->setChecked(v.mailOnNewUser != 0);
    m_popup->setChecked(v.popupOnNewUser != 0);
}

void UsersPage::store(MonitorSettings& v) const
{
    v.beepOnNewUser = flag(m_beep);
    v.mailOnNewUser = flag(m_mail);
    v.popupOnNewUser = flag(m_popup);
}

}  // namespace vantor
