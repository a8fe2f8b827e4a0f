// The main window's commands: its menus' entries, the remote-server dialog, help, About, Exit, the
// history window and the Options window. Each asks the face (MonitorFace), which answers with the
// engine's outcome as a box; the window only opens what a command points at.

#include "app/MonitorDialog.h"

#include "app/DetailViews.h"
#include "app/Desktop.h"
#include "app/ServerInputDialog.h"
#include "history/HistoryDialog.h"

#include <QApplication>
#include <QDesktopServices>
#include <QSystemTrayIcon>

namespace vantor {

// --- commands ------------------------------------------------------------------------------------

void MonitorDialog::runCommand(int command, const MenuTarget* menu)
{
    MonitorFace& m = m_face;
    switch (command) {
    case CloseSessionCommand:
        m.closeSession(menu);
        break;
    case CloseAllSessionsCommand:
        m.closeAllSessions();
        break;
    case ConnectToUserCommand:
        if (auto target = m.connectToUserTarget(menu))
            openUrl(computerUrl(target->location));
        break;
    case CloseResourceCommand:
        m.closeResource(menu);
        break;
    case OpenFolderCommand:
        if (auto target = m.openFolderTarget(menu))
            openUrl(folderUrl(target->location));
        break;
    case AddBlackUserCommand:
        m.addToList(ListKind::Black, ListTarget::User, menu);
        break;
    case AddBlackComputerCommand:
        m.addToList(ListKind::Black, ListTarget::Computer, menu);
        break;
    case AddBlackBothCommand:
        m.addToList(ListKind::Black, ListTarget::Both, menu);
        break;
    case AddWhiteUserCommand:
        m.addToList(ListKind::White, ListTarget::User, menu);
        break;
    case AddWhiteComputerCommand:
        m.addToList(ListKind::White, ListTarget::Computer, menu);
        break;
    case AddWhiteBothCommand:
        m.addToList(ListKind::White, ListTarget::Both, menu);
        break;
    case MainDialogCommand:
        showFromTray();
        break;
    case ShowHistoryCommand:
        showHistory(false);
        break;
    case ClearHistoryCommand:
        clearHistory();
        break;
    case OptionsCommand:
        showOptions();
        break;
    case AboutCommand:
        showAbout();
        break;
    case OpenFilesWindowCommand:
        if (!m_openFilesWindow) {
            m_openFilesWindow = new OpenFilesWindow([this](const NetFileInfo& f) { m_face.closeListedFile(f); }, this);
            connect(m_openFilesWindow, &OpenFilesWindow::shownChanged, this, &MonitorDialog::updateAllFilesListing);
        }
        m_openFilesWindow->setSnapshot(*m_face.snapshot());
        m_openFilesWindow->show();
        m_openFilesWindow->raise();
        break;
    case SharesWindowCommand:
        if (!m_sharesWindow) {
            m_sharesWindow = new SharesWindow(this);
            connect(m_sharesWindow, &SharesWindow::shownChanged, this, &MonitorDialog::updateAllFilesListing);
        }
        m_sharesWindow->setSnapshot(*m_face.snapshot());
        m_sharesWindow->show();
        m_sharesWindow->raise();
        break;
    case ExitCommand:
        exitProgram();
        break;
    default:
        break;
    }
}

void MonitorDialog::remoteServerCommand()
{
    ServerInputDialog input(QString::fromLatin1(SessionMonitor::remoteServerDefault), this);
    if (input.exec() != QDialog::Accepted)
        return;
    m_face.setRemoteServer(input.text().toStdString());
}

bool MonitorDialog::openUrl(const QUrl& url)
{
    if (m_options.openUrl(url))
        return true;
    // The desktop says nothing when no program takes the place: without a box, the click would
    // seem to have been lost.
    m_face.boxes().show({"Vantor",
                         "Nothing on this desktop could open " + url.toString().toStdString()
                             + ".\nInstall a program that opens such places (a web browser for the help page, a "
                               "file manager with Samba support, e.g. gvfs-backends, for smb:// addresses), or "
                               "open it by hand.",
                         BoxIcon::Warning, BoxButtons::Ok, nullptr});
    return false;
}

void MonitorDialog::openHelp()
{
    const QString page = helpPagePath(m_face.helpDir());
    if (!page.isEmpty())
        openUrl(QUrl::fromLocalFile(page));
}

void MonitorDialog::showAbout()
{
    m_face.boxes().show({"About Vantor",
                         "Vantor " + std::string(QCoreApplication::applicationVersion().toStdString())
                             + "\n\nShows who is connected to this computer's shares, and which files they hold open.",
                         BoxIcon::Information, BoxButtons::Ok, nullptr});
}

void MonitorDialog::exitProgram()
{
    m_face.stop();
    m_tray->hide();
    for (auto& step : m_exitSteps)
        step();
    m_exiting = true;
    m_slide->stop();
    m_face.waitForWorker();
    hide();
    emit exitRequested();
}

void MonitorDialog::showHistory(bool fromButton)
{
    std::unique_ptr<HistorySource> source = m_face.historySource();
    // Only the button hands the report path over; opened from the tray the window has none.
    const std::string reportPath = fromButton ? source->reportPath() : std::string();
    HistoryDialog history(std::move(source), m_face.boxes(), this);
    history.reportPathName = reportPath;
    history.exec();
}

void MonitorDialog::clearHistory()
{
    m_face.clearHistory();
}

void MonitorDialog::showOptions()
{
    OptionsDeps deps = m_optionsDeps;
    if (auto mail = m_face.testMail())
        deps.sendTestMail = [mail](const MailRelay&, const std::string&, MessageBoxes&, void* owner) { mail(owner); };
    m_face.editOptions(
        [this, deps](const OptionsValue& values) { return runOptionsWindow(values, m_face.boxes(), this, deps); });
}

}  // namespace vantor
