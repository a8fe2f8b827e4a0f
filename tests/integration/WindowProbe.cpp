// The main window as one account, on the service's bus face (offscreen): started as root with
// --user NAME, it takes the account's ids, shows the window, waits for the first outcome (rows or
// a box), asks twice more as the service's signals would, and prints what the window showed:
//   row USER@COMPUTER        one per row of the sessions table
//   box TEXT                 one per message box
// With --options it then takes the Options command with a window that sets "Beep" and adds
// "carol <Any>" to the white list, and accepts. With --files it opens "Open files", prints
//   file USER:PATH           one per file the window lists
// then closes the first with the window's "Close resource" and prints "closed PATH" once the
// listing no longer has it. With --history it opens the history window and prints
//   history WORDS            what the window loaded (see HistoryWords.h)
//   report BYTES HEAD        the report its button wrote where the user can open it

#include "HistoryWords.h"
#include "ProbeAccount.h"
#include "app/BusMonitorFace.h"
#include "app/DetailViews.h"
#include "app/MonitorDialog.h"
#include "app/TableModels.h"
#include "base/AccessList.h"
#include "history/HistoryDialog.h"
#include "history/HistoryModels.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTableView>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>

using namespace vantor;

namespace {

// Waits for `done`, at most `ms`, letting the window's loop run.
template <class Pred> bool waitFor(Pred done, int ms)
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
    bool options = false;
    bool files = false;
    bool history = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        options = options || arg == "--options";
        files = files || arg == "--files";
        history = history || arg == "--history";
    }
    const ProbeAccount account(argc, argv);
    if (!account.become()) {
        std::cerr << "window probe: cannot become " << account.user << "\n";
        return 2;
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("HOME", "/tmp", 1);
    ::unsetenv("XDG_RUNTIME_DIR");
    // The report lands in the user's cache: one of the account's own, gone when the probe ends.
    char cache[] = "/tmp/vantor-window-probe-XXXXXX";
    if (!::mkdtemp(cache)) {
        std::cerr << "window probe: no cache folder\n";
        return 2;
    }
    ::setenv("XDG_CACHE_HOME", cache, 1);
    struct RemoveCache {
        const char* dir;
        ~RemoveCache()
        {
            std::error_code ec;
            std::filesystem::remove_all(dir, ec);
        }
    } removeCache{cache};
    QApplication app(argc, argv);

    RecordingMessageBoxes boxes;
    std::string error;
    auto face = BusMonitorFace::connect(account.address, boxes, error);
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
        face->editOptions([](const OptionsValue& value) {
            OptionsResult accepted{OptionsClosed::Accepted, value};
            accepted.value.settings.beepOnNewUser = 1;
            accepted.value.whiteList.addAtTop("carol", anyName);
            return accepted;
        });
        // The service's options are read, the window runs, the accepted ones are written: each
        // step a call on the face's worker with its outcome back on this thread.
        for (int round = 0; round < 3; ++round) {
            face->waitForWorker();
            QCoreApplication::processEvents();
        }
    }
    if (files) {
        dialog.runCommand(MonitorDialog::OpenFilesWindowCommand);
        OpenFilesWindow* window = dialog.openFilesWindow();
        waitFor([&] { return window && window->model()->rowCount() > 0; }, 15000);
        std::vector<NetFileInfo> listed;
        for (int r = 0; window && r < window->model()->rowCount(); ++r) {
            listed.push_back(window->model()->file(r));
            std::cout << "file " << listed.back().user << ":" << listed.back().path << "\n";
        }
        if (!listed.empty()) {
            window->table()->selectRow(0);
            const NetFileInfo first =
                window->model()->file(window->filter()->mapToSource(window->table()->currentIndex()).row());
            window->closeSelected();
            auto stillListed = [&] {
                for (int r = 0; r < window->model()->rowCount(); ++r)
                    if (window->model()->file(r).id == first.id)
                        return true;
                return false;
            };
            if (waitFor([&] { return !stillListed(); }, 15000))
                std::cout << "closed " << first.path << "\n";
        }
    }
    if (history) {
        HistoryDialog window(face->historySource(), boxes, &dialog);
        window.show();
        if (waitFor([&] { return window.isLoaded(); }, 15000))
            std::cout << "history" << test::historyWords(*window.sessionsModel()->history()) << "\n";
        std::optional<QString> written;
        QObject::connect(&window, &HistoryDialog::reportWritten,
                         [&written](bool ok, const QString& where) { written = ok ? where : QString(); });
        window.generateReport();
        if (waitFor([&] { return written.has_value(); }, 30000) && !written->isEmpty()) {
            std::ifstream in(written->toStdString(), std::ios::binary);
            std::ostringstream read;
            read << in.rdbuf();
            const std::string page = read.str();
            std::cout << "report " << page.size() << " " << page.substr(0, 15) << "\n";
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
