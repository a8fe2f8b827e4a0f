#pragma once
// Answers a modal dialog that is about to run: a single-shot timer waits (at most about 15 s, for a loaded machine) for
// the dialog to become the active modal widget and then acts on it. A dialog of another kind, or one that never turns
// up, is rejected so that the test ends instead of hanging, and the failure is recorded in `*failed`.

#include <QApplication>
#include <QDialog>
#include <QTimer>

#include <functional>

namespace vantor::test {

template <typename Dialog>
void whenModal(std::function<void(Dialog*)> act, bool* failed = nullptr, int triesLeft = 1500)
{
    QTimer::singleShot(10, [act = std::move(act), failed, triesLeft]() mutable {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* dialog = qobject_cast<Dialog*>(modal)) {
            act(dialog);
            return;
        }
        if (triesLeft > 0) {
            whenModal<Dialog>(std::move(act), failed, triesLeft - 1);
            return;
        }
        if (failed)
            *failed = true;
        if (auto* other = qobject_cast<QDialog*>(modal))
            other->reject();
    });
}

}  // namespace vantor::test
