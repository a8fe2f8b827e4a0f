#include "app/QtMessageBoxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

namespace vantor {

BoxAnswer QtMessageBoxes::show(const BoxRequest& request)
{
    if (QThread::currentThread() == qApp->thread())
        return showHere(request);
    BoxAnswer answer = BoxAnswer::Cancel;
    QMetaObject::invokeMethod(
        qApp, [&] { answer = showHere(request); }, Qt::BlockingQueuedConnection);
    return answer;
}

BoxAnswer QtMessageBoxes::showHere(const BoxRequest& request)
{
    QWidget* parent = request.owner ? static_cast<QWidget*>(request.owner) : m_parent.data();
    QMessageBox box(parent);
    box.setWindowTitle(QString::fromStdString(request.caption));
    box.setText(QString::fromStdString(request.text));
    // Names from the network go into these texts: never let them be read as markup.
    box.setTextFormat(Qt::PlainText);
    switch (request.icon) {
    case BoxIcon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    case BoxIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case BoxIcon::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case BoxIcon::Error:
        box.setIcon(QMessageBox::Critical);
        break;
    }
    switch (request.buttons) {
    case BoxButtons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case BoxButtons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case BoxButtons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    }
    // A box over a hidden main window still has to be seen.
    if (!parent || !parent->isVisible())
        box.setWindowFlag(Qt::WindowStaysOnTopHint);
    switch (box.exec()) {
    case QMessageBox::Ok:
        return BoxAnswer::Ok;
    case QMessageBox::Yes:
        return BoxAnswer::Yes;
    case QMessageBox::No:
        return BoxAnswer::No;
    default:
        return request.buttons == BoxButtons::YesNo ? BoxAnswer::No : BoxAnswer::Cancel;
    }
}

}  // namespace vantor
