#pragma once
// The monitor's message boxes as QMessageBox, modal over the main window (or the owner the core
// names). A box asked for on another thread is shown on the GUI thread and waited for.

#include "platform/MessageBoxes.h"

#include <QPointer>
#include <QWidget>

namespace vantor {

class QtMessageBoxes final : public MessageBoxes {
public:
    // Boxes without an owner go over `parent` (may be null, e.g. before the window exists).
    void setParentWindow(QWidget* parent) { m_parent = parent; }
    BoxAnswer show(const BoxRequest& request) override;

private:
    BoxAnswer showHere(const BoxRequest& request);
    QPointer<QWidget> m_parent;
};

}  // namespace vantor
