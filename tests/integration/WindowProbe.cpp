// The main window as one account, on the service's bus face (offscreen): started as root with
// --user NAME, it takes the account's ids, shows the window, waits for the first outcome (rows or
// a box), asks twice more as the service's signals would, and prints what the window showed:
//   row USER@COMPUTER        one per row of the sessions table
//   box TEXT                 one per message box
// With --options it then takes the Options command with a window that sets "Beep" and adds
// "carol <Any>" to the white list, and accepts.
#include "app/BusMonitorFace.h"
#include "app/MonitorDialog.h"
#include "app/TableModels.h"
#include "base/AccessList.h"

#include <QApplication>
#include <QElapsedTimer>

#include <grp.h>
#include <sys/prctl.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>

using namespace vantor;

namespace {

// Waits for `done`, at most `ms`, letting the window's loop run.
template <class Pred>
bool waitFor(Pred done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return done();
}

}  // namespace

int main(int argc, char** argv)
{
    std::string user;
    std::string address;
    bool options = false;
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]) == "--options")
            options = true;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string opt = argv[i];
        if (opt == "--user")
            user = argv[i + 1];
        else if (opt == "--address")
            address = argv[i + 1];
    }
    const passwd* pw = user.empty() ? nullptr : ::getpwnam(user.c_str());
    if (!pw || ::initgroups(pw->pw_name, pw->pw_gid) != 0 || ::setresgid(pw->pw_gid, pw->pw_gid, pw->pw_gid) != 0
        || ::setresuid(pw->pw_uid, pw->pw_uid, pw->pw_uid) != 0) {
        std::cerr << "window probe: cannot become " << user << "\n";
        return 2;
    }
    // Taking other ids makes a process undumpable, and the leak checker of the sanitizer build
    // could not look at its own threads any more.
    ::prctl(PR_SET_DUMPABLE, 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("HOME", "/tmp", 1);
    ::unsetenv("XDG_RUNTIME_DIR");
    QApplication app(argc, argv);

    RecordingMessageBoxes boxes;
    std::string error;
    auto face = BusMonitorFace::connect(address, boxes, error);
    if (!face) {
        std::cerr << "window probe: " << error << "\n";
        return 1;
    }
    MonitorDialog::Options windowOptions;
    windowOptions.animations = false;
    windowOptions.trayAvailable = [] { return true; };
    MonitorDialog dialog(*face, windowOptions);
    int polls = 0;
    QObject::connect(&dialog, &MonitorDialog::pollFinished, [&polls] { ++polls; });
    dialog.show();
    dialog.start();
    waitFor([&] { return dialog.sessionsModel()->rowCount() > 0 || !boxes.shown.empty(); }, 15000);
    // What the service's signals would start, twice: a refusal stays one box.
    for (int i = 0; i < 2; ++i) {
        const int before = polls;
        dialog.face().poll();
        waitFor([&] { return polls > before; }, 10000);
    }
    if (options) {
        face->editOptions([](SessionMonitor& monitor) {
            monitor.settings.beepOnNewUser = 1;
            appendAccessListLine(monitor.listFilePath(ListKind::White), "carol", anyName);
            return true;
        });
        // The service's options are read, the window runs, the accepted ones are written: each
        // step a call on the face's worker with its outcome back on this thread.
        for (int round = 0; round < 3; ++round) {
            face->waitForWorker();
            QCoreApplication::processEvents();
        }
    }
    auto* model = dialog.sessionsModel();
    for (int r = 0; r < model->rowCount(); ++r)
        std::cout << "row " << model->index(r, SessionsTableModel::UserColumn).data().toString().toStdString() << "@"
                  << model->index(r, SessionsTableModel::ComputerColumn).data().toString().toStdString() << "\n";
    for (const auto& box : boxes.shown)
        std::cout << "box " << box.text << "\n";
    dialog.runCommand(MonitorDialog::ExitCommand);
    return 0;
}
