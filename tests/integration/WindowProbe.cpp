// The main window as one account, on the service's bus face (offscreen): started as root with
// --user NAME, it takes the account's ids, shows the window, waits for the first outcome (rows or
// a box), asks twice more as the service's signals would, and prints what the window showed:
//   row USER@COMPUTER        one per row of the sessions table
//   box TEXT                 one per message box
#include "app/BusMonitorFace.h"
#include "app/MonitorDialog.h"
#include "app/TableModels.h"

#include <QApplication>
#include <QElapsedTimer>

#include <grp.h>
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
    MonitorDialog::Options options;
    options.animations = false;
    options.trayAvailable = [] { return true; };
    MonitorDialog dialog(*face, options);
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
    auto* model = dialog.sessionsModel();
    for (int r = 0; r < model->rowCount(); ++r)
        std::cout << "row " << model->index(r, SessionsTableModel::UserColumn).data().toString().toStdString() << "@"
                  << model->index(r, SessionsTableModel::ComputerColumn).data().toString().toStdString() << "\n";
    for (const auto& box : boxes.shown)
        std::cout << "box " << box.text << "\n";
    dialog.runCommand(MonitorDialog::ExitCommand);
    return 0;
}
