// The main window over the fake service: what a person sees and what the clicks do.

#include "WindowHarness.h"
#include "app/Desktop.h"
#include "app/QtMessageBoxes.h"
#include "app/ServerInputDialog.h"
#include "history/HistoryDialog.h"
#include "ui/IconTheme.h"
#include "ui/SplitterBar.h"
#include "ui/TableColumns.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTimer>

#include <fstream>
#include <sstream>

using namespace vantor;
using namespace vantor::test;

namespace {

using Op = FakeNetManagement::Op;

// Answers the next modal dialog that opens: `answer` gets it and says whether it was handled.
void answerNextModal(std::function<bool(QWidget*)> answer, int withinMs = 5000)
{
    auto* timer = new QTimer;
    auto deadline = std::make_shared<QDeadlineTimer>(withinMs);
    QObject::connect(timer, &QTimer::timeout, [timer, answer, deadline] {
        QWidget* w = QApplication::activeModalWidget();
        if ((w && answer(w)) || deadline->hasExpired()) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start(10);
}

std::vector<std::pair<std::string, int>> menuEntries(QMenu* menu)
{
    std::vector<std::pair<std::string, int>> out;
    for (QAction* a : menu->actions()) {
        if (a->isSeparator())
            out.push_back({"-", 0});
        else if (a->menu())
            for (QAction* sub : a->menu()->actions())
                out.push_back({(a->text() + QStringLiteral(" > ") + sub->text()).toStdString(), sub->data().toInt()});
        else
            out.push_back({a->text().toStdString(), a->data().toInt()});
    }
    return out;
}

std::string readFile(const std::filesystem::path& p)
{
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

class MonitorDialogTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        // adwaita-icon-theme is a dependency: without a theme every file would look alike.
        QVERIFY(!ensureIconTheme().isEmpty());
    }

    void startShowsTheSessionsTopFirst()
    {
        Harness h;
        h.net.addSession("alice", "pc1", {"/a", "/b"});
        h.net.addSession("bob", "pc2");
        h.net.addSession("carol", "pc3");
        QVERIFY(h.start());
        QCOMPARE(h.dialog->windowTitle(), QStringLiteral("Vantor"));
        QCOMPARE(h.column(0), L({"carol", "bob", "alice"}));
        QCOMPARE(h.column(1), L({"pc3", "pc2", "pc1"}));
        QCOMPARE(h.column(2), L({"0", "0", "2"}));
        auto* m = h.dialog->sessionsModel();
        QCOMPARE(m->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("User"));
        QCOMPARE(m->headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("Computer"));
        QCOMPARE(m->headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("# Open files"));
        QCOMPARE(h.dialog->sessionsView()->columnWidth(0), 150);
        QCOMPARE(h.dialog->sessionsView()->columnWidth(2), 100);
        QCOMPARE(h.dialog->filesView()->columnWidth(0), 450);
        QCOMPARE(h.dialog->sessionsView()->palette().color(QPalette::Base), QColor(207, 231, 255));
        QCOMPARE(h.dialog->captionLabel()->text(), QStringLiteral("Current sessions:"));
        QVERIFY(h.dialog->trayIcon()->isVisible());
        QCOMPARE(h.dialog->trayIcon()->toolTip(), QStringLiteral("Vantor: 3 sessions, 2 open files"));
        QVERIFY(h.dialog->pollTimerActive());
        QVERIFY(h.dialog->hideButton()->hasFocus());
        QVERIFY(h.monitor().desk()->mainVisible);
        // Only the first poll has run: no tick yet, so no label either way.
        QVERIFY(!h.dialog->noUsersLabel()->isVisible());
    }

    void theLabelFollowsEveryTick()
    {
        Harness h;
        QVERIFY(h.start());
        QVERIFY(!h.dialog->noUsersLabel()->isVisible());
        QVERIFY(h.tick());
        QVERIFY(h.dialog->noUsersLabel()->isVisible());
        QCOMPARE(h.dialog->noUsersLabel()->text(), QStringLiteral("<No active users>"));
        h.net.addSession("alice", "pc1");
        QVERIFY(h.tick());
        QVERIFY(!h.dialog->noUsersLabel()->isVisible());
        // The flash timer's tick updates it too.
        h.net.setSessions({});
        QVERIFY(h.tick());
        h.dialog->noUsersLabel()->hide();
        h.dialog->flashTick();
        QVERIFY(h.dialog->noUsersLabel()->isVisible());
    }

    void aClickShowsTheFilesAndTheSelectionFollowsTheIndex()
    {
        Harness h;
        h.net.addSession("alice", "pc1", {"/alice-1", "/alice-2"});
        h.net.addSession("bob", "pc2", {"/bob-file"});
        h.net.addSession("carol", "pc3", {"/carol-file"});
        QVERIFY(h.start());
        h.clickSessionRow(2);  // alice
        QTRY_COMPARE(h.files(), L({"/alice-2", "/alice-1"}));

        h.net.addSession("dave", "pc4", {"/dave-file"});  // comes in at the top
        QVERIFY(h.tick());
        QCOMPARE(h.column(0), L({"dave", "carol", "bob", "alice"}));
        QCOMPARE(h.selectedSessionViewRow(), 2);
        QCOMPARE(h.files(), L({"/bob-file"}));

        // The fourth row selected and the next poll has three rows: nothing selected, files kept.
        h.clickSessionRow(3);
        QTRY_COMPARE(h.files(), L({"/alice-2", "/alice-1"}));
        auto sessions = h.net.sessions();
        sessions.pop_back();
        h.net.setSessions(sessions);
        QVERIFY(h.tick());
        QCOMPARE(h.selectedSessionViewRow(), -1);
        QVERIFY(!h.monitor().selectedSessionRow());
        QCOMPARE(h.files(), L({"/alice-2", "/alice-1"}));
    }

    void theKeyboardSelectionWaitsForTheNextPoll()
    {
        Harness h;
        h.net.addSession("alice", "pc1", {"/alice-file"});
        h.net.addSession("bob", "pc2", {"/bob-file"});
        QVERIFY(h.start());
        h.clickSessionRow(0);
        QTRY_COMPARE(h.files(), L({"/bob-file"}));
        const int asked = h.net.callCount(Op::EnumFiles);
        h.dialog->sessionsView()->setFocus();
        QTest::keyClick(h.dialog->sessionsView(), Qt::Key_Down);
        QCOMPARE(h.monitor().selectedSessionRow(), std::optional<int>(1));
        QTest::qWait(50);
        QCOMPARE(h.net.callCount(Op::EnumFiles), asked);
        QCOMPARE(h.files(), L({"/bob-file"}));
        QVERIFY(h.tick());
        QCOMPARE(h.files(), L({"/alice-file"}));
    }

    void fileRowsShowTheirTypeIcons()
    {
        Harness h;
        TempDir files;
        const auto folder = files.path() / "projects";
        std::filesystem::create_directory(folder);
        const auto text = files.path() / "notes.txt";
        std::ofstream(text) << "hello";
        const auto odd = files.path() / "blob.zzqq";
        {
            // Bytes that match no type by their content either.
            std::ofstream out(odd, std::ios::binary);
            for (int i = 0; i < 8; ++i)
                out << std::string("\x00\x9a\xbc\xde\x13\x37\x42\x99", 8);
        }
        h.inspector.regularFiles = {text.string(), odd.string()};
        h.net.addSession("alice", "pc1", {folder.string(), text.string(), odd.string()});
        QVERIFY(h.start());
        h.clickSessionRow(0);
        QTRY_COMPARE(h.files().size(), 3);
        auto* m = h.dialog->filesModel();
        auto image = [](const QIcon& i) { return i.pixmap(16, 16).toImage(); };
        // Rows are in reverse order: odd, text, folder.
        QCOMPARE(image(m->rowIcon(2)), image(programIcon(QStringLiteral("folder"))));
        QCOMPARE(image(m->rowIcon(0)), image(programIcon(QStringLiteral("file"))));
        // The theme's icon for text/plain: its own name, else its generic one.
        QVERIFY2(m->rowIcon(1).name() == QStringLiteral("text-plain")
                     || m->rowIcon(1).name() == QStringLiteral("text-x-generic"),
                 qPrintable(m->rowIcon(1).name()));
        QCOMPARE(m->index(1, 0).data().toString(), QString::fromStdString(text.string()));
    }

    void messageBoxesShowTheCoresRequestAsPlainText()
    {
        QtMessageBoxes boxes;
        QString text, title;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        Qt::TextFormat format = Qt::AutoText;
        answerNextModal([&](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (!box)
                return false;
            text = box->text();
            title = box->windowTitle();
            icon = box->icon();
            format = box->textFormat();
            box->button(QMessageBox::No)->click();
            return true;
        });
        const BoxAnswer a = boxes.show({"Error", "<b>bob</b> from pc1", BoxIcon::Error, BoxButtons::YesNo, nullptr});
        QCOMPARE(a, BoxAnswer::No);
        QCOMPARE(title, QStringLiteral("Error"));
        QCOMPARE(text, QStringLiteral("<b>bob</b> from pc1"));
        QCOMPARE(icon, QMessageBox::Critical);
        QCOMPARE(format, Qt::PlainText);

        // Asked on another thread: shown on the GUI thread, and the answer comes back.
        answerNextModal([&](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (!box)
                return false;
            box->button(QMessageBox::Ok)->click();
            return true;
        });
        std::atomic<int> answer{-1};
        std::thread worker([&] {
            answer = static_cast<int>(boxes.show({"Vantor", "hello", BoxIcon::Information, BoxButtons::Ok, nullptr}));
        });
        QTRY_VERIFY(answer.load() >= 0);
        worker.join();
        QCOMPARE(answer.load(), static_cast<int>(BoxAnswer::Ok));
    }

    void theContextMenusCarryTheirCommands()
    {
        Harness h;
        using E = std::vector<std::pair<std::string, int>>;
        const std::string black = "Add to the Black list > ";
        const std::string white = "Add to the White list > ";
        QCOMPARE(menuEntries(h.dialog->sessionsMenu()), (E{{"Close session", 32771},
                                                           {"Close all sessions", 32791},
                                                           {"-", 0},
                                                           {"Connect to user", 32780},
                                                           {"-", 0},
                                                           {black + "User", 32784},
                                                           {black + "Computer", 32785},
                                                           {black + "Combination of user and computer", 32786},
                                                           {white + "User", 32787},
                                                           {white + "Computer", 32788},
                                                           {white + "Combination of user and computer", 32789}}));
        QCOMPARE(menuEntries(h.dialog->filesMenu()), (E{{"Close resource", 32777}, {"-", 0}, {"Open folder", 32783}}));
        QCOMPARE(menuEntries(h.dialog->trayMenu()), (E{{"Main dialog", 32773},
                                                       {"Show history", 32775},
                                                       {"Clear history", 32776},
                                                       {"Options...", 32778},
                                                       {"-", 0},
                                                       {"About...", 32779},
                                                       {"Exit", 32774}}));
        QCOMPARE(h.dialog->trayMenu()->defaultAction()->text(), QStringLiteral("Main dialog"));
        QVERIFY(h.dialog->trayMenu()->defaultAction()->font().bold());
    }

    void rightClicksOpenTheMenusBesideThePointer()
    {
        Harness h;
        QVERIFY(h.start());
        auto rightClick = [](QWidget* w, QPoint pos) {
            QContextMenuEvent ev(QContextMenuEvent::Mouse, pos, w->mapToGlobal(pos));
            QApplication::sendEvent(w, &ev);
            return w->mapToGlobal(pos);
        };
        const QPoint at = rightClick(h.dialog->sessionsView()->viewport(), QPoint(200, 30));
        QTRY_VERIFY(h.dialog->sessionsMenu()->isVisible());
        QCOMPARE(h.dialog->sessionsMenu()->geometry().right() + 1, at.x());
        h.dialog->sessionsMenu()->hide();
        rightClick(h.dialog->filesView()->viewport(), QPoint(200, 30));
        QTRY_VERIFY(h.dialog->filesMenu()->isVisible());
        h.dialog->filesMenu()->hide();
        // Outside the tables: the files menu too.
        rightClick(h.dialog.get(), QPoint(5, 370));
        QTRY_VERIFY(h.dialog->filesMenu()->isVisible());
        QVERIFY(!h.dialog->sessionsMenu()->isVisible());
        h.dialog->filesMenu()->hide();
    }

    // A poll that rebuilds the table under an open menu must not turn its command on another session.
    void menuCommandsActOnWhatTheMenuWasOpenedOn()
    {
        Harness h;
        h.net.addSession("alice", "pc1", {"/srv/a/one.txt"});
        h.net.addSession("bob", "pc2", {"/srv/b/two.txt", "/srv/b/three.txt"});
        QVERIFY(h.start());
        QCOMPARE(h.column(0), L({"bob", "alice"}));
        auto openMenuOn = [](QTableView* view, int row) {
            const QPoint pos = view->visualRect(view->model()->index(row, 0)).center();
            QContextMenuEvent ev(QContextMenuEvent::Mouse, pos, view->viewport()->mapToGlobal(pos));
            QApplication::sendEvent(view->viewport(), &ev);
        };
        auto choose = [](QMenu* menu, int command) {
            menu->hide();
            for (QAction* a : menu->actions()) {
                if (a->data().toInt() == command)
                    a->trigger();
                if (a->menu())
                    for (QAction* sub : a->menu()->actions())
                        if (sub->data().toInt() == command)
                            sub->trigger();
            }
        };

        openMenuOn(h.dialog->sessionsView(), 1);  // alice
        QTRY_VERIFY(h.dialog->sessionsMenu()->isVisible());
        QCOMPARE(h.monitor().selectedSessionRow(), std::optional<int>(1));
        h.net.addSession("carol", "pc3");
        QVERIFY(h.tick());
        QCOMPARE(h.column(0), L({"carol", "bob", "alice"}));
        QCOMPARE(h.selectedSessionViewRow(), 1);  // the selection follows the index: bob now
        choose(h.dialog->sessionsMenu(), MonitorDialog::CloseSessionCommand);
        QTRY_COMPARE(h.net.deleteCalls().size(), 1u);
        QCOMPARE(h.net.deleteCalls()[0].user, std::string("alice"));
        QCOMPARE(h.net.deleteCalls()[0].computer, std::string("pc1"));

        // Gone by the time the command is chosen: said so, and nobody else is touched.
        openMenuOn(h.dialog->sessionsView(), 1);  // bob
        QTRY_VERIFY(h.dialog->sessionsMenu()->isVisible());
        h.net.setSessions({{"carol", "pc3", {}, {}}, {"dave", "pc4", {}, {}}});
        QVERIFY(h.tick());
        QCOMPARE(h.column(0), L({"dave", "carol"}));
        choose(h.dialog->sessionsMenu(), MonitorDialog::AddBlackUserCommand);
        choose(h.dialog->sessionsMenu(), MonitorDialog::CloseSessionCommand);
        QCOMPARE(h.boxes.shown.size(), 2u);
        QCOMPARE(h.boxes.shown[0].text, std::string("Select a user!"));
        QCOMPARE(h.boxes.shown[1].text, std::string("Select a user!"));
        QCOMPARE(h.net.deleteCalls().size(), 1u);
        QVERIFY(!std::filesystem::exists(h.dir.path() / "blist.dat"));

        // A right click on a file row selects it; a refresh that drops the file leaves the menu
        // without a target.
        h.net.setSessions({{"bob", "pc2", {{7, "/srv/b/two.txt", "pc2", {}}, {8, "/srv/b/three.txt", "pc2", {}}}, {}}});
        QVERIFY(h.tick());
        h.clickSessionRow(0);
        QTRY_COMPARE(h.files(), L({"/srv/b/three.txt", "/srv/b/two.txt"}));
        openMenuOn(h.dialog->filesView(), 1);
        QTRY_VERIFY(h.dialog->filesMenu()->isVisible());
        QCOMPARE(h.monitor().selectedFileRow(), std::optional<int>(1));
        choose(h.dialog->filesMenu(), MonitorDialog::OpenFolderCommand);
        QCOMPARE(h.opened, std::vector<QUrl>{QUrl::fromLocalFile(QStringLiteral("/srv/b"))});
        openMenuOn(h.dialog->filesView(), 1);  // two.txt
        QTRY_VERIFY(h.dialog->filesMenu()->isVisible());
        h.net.setSessions(
            {{"bob", "pc2", {{8, "/srv/b/three.txt", "pc2", {}}, {9, "/srv/c/four.txt", "pc2", {}}}, {}}});
        QVERIFY(h.tick());
        QCOMPARE(h.files(), L({"/srv/c/four.txt", "/srv/b/three.txt"}));
        choose(h.dialog->filesMenu(), MonitorDialog::CloseResourceCommand);
        QCOMPARE(h.boxes.shown.back().text, std::string("Select a file!"));
        QVERIFY(h.net.closedFileIds().empty());
    }

    void sessionCommandsActOnTheSelectedRow()
    {
        Harness h;
        h.net.addSession("alice", "192.168.10.21", {"/srv/share/a.txt"});
        h.net.addSession("bob", "::1", {"/srv/share/b.txt"});
        QVERIFY(h.start());

        // Nothing selected.
        h.dialog->runCommand(MonitorDialog::ConnectToUserCommand);
        h.dialog->runCommand(MonitorDialog::AddBlackUserCommand);
        h.dialog->runCommand(MonitorDialog::OpenFolderCommand);
        QCOMPARE(h.boxes.shown.size(), 3u);
        QCOMPARE(h.boxes.shown[0].text, std::string("Select a user!"));
        QCOMPARE(h.boxes.shown[1].text, std::string("Select a user!"));
        QCOMPARE(h.boxes.shown[2].text, std::string("Select a file!"));
        QCOMPARE(h.boxes.shown[2].caption, std::string("Error"));
        QVERIFY(h.opened.empty());
        h.dialog->runCommand(MonitorDialog::CloseSessionCommand);  // silently nothing
        QVERIFY(h.net.deleteCalls().empty());

        h.clickSessionRow(0);  // bob, from ::1
        QTRY_COMPARE(h.files(), L({"/srv/share/b.txt"}));
        h.dialog->runCommand(MonitorDialog::ConnectToUserCommand);
        h.clickSessionRow(1);  // alice
        QTRY_COMPARE(h.files(), L({"/srv/share/a.txt"}));
        h.dialog->runCommand(MonitorDialog::ConnectToUserCommand);
        h.clickFileRow(0);
        h.dialog->runCommand(MonitorDialog::OpenFolderCommand);
        QCOMPARE(h.opened.size(), 3u);
        QCOMPARE(h.opened[0].toString(), QStringLiteral("smb://[::1]/"));
        QCOMPARE(h.opened[1].toString(), QStringLiteral("smb://192.168.10.21/"));
        QCOMPARE(h.opened[2], QUrl::fromLocalFile(QStringLiteral("/srv/share")));

        h.boxes.shown.clear();
        h.dialog->runCommand(MonitorDialog::AddBlackBothCommand);
        QCOMPARE(readFile(h.dir.path() / "blist.dat"), std::string("alice 192.168.10.21\n"));
        QCOMPARE(h.boxes.shown.size(), 1u);
        QCOMPARE(h.boxes.shown[0].text,
                 std::string("User alice and computer 192.168.10.21 has been added to the Black list!"));

        // The closes run beside the window; their outcome comes back to it.
        h.dialog->runCommand(MonitorDialog::CloseSessionCommand);
        QTRY_COMPARE(h.net.deleteCalls().size(), 1u);
        QCOMPARE(h.net.deleteCalls()[0].user, std::string("alice"));
        QTRY_COMPARE(h.files(), L({}));
        QCOMPARE(h.column(0), L({"bob", "alice"}));  // until the next poll

        h.dialog->runCommand(MonitorDialog::CloseAllSessionsCommand);
        QTRY_COMPARE(h.net.deleteCalls().size(), 3u);
        QVERIFY(h.tick());
        QCOMPARE(h.column(0), L({}));
    }

    void closeResourceClosesTheSelectedFile()
    {
        Harness h;
        h.net.addSession("alice", "pc1", {"/one", "/two"});
        QVERIFY(h.start());
        h.clickSessionRow(0);
        QTRY_COMPARE(h.files(), L({"/two", "/one"}));
        h.clickFileRow(1);
        const uint32_t id = h.dialog->filesModel()->index(1, 0).data(Qt::UserRole).toUInt();
        // The close waits on the service beside the window (the window answers meanwhile); its
        // outcome comes back to the window.
        h.slow.delayMs = 200;
        h.dialog->runCommand(MonitorDialog::CloseResourceCommand);
        QVERIFY(h.net.closedFileIds().empty());
        QTRY_COMPARE(h.net.closedFileIds(), std::vector<uint32_t>{id});
        QTRY_COMPARE(h.files(), L({"/two"}));
        h.slow.delayMs = 0;

        h.net.setStatus(Op::CloseFile, {netcode::NotSupported, "Samba cannot close one file of a session."});
        h.clickFileRow(0);
        const std::size_t boxes = h.boxes.shown.size();
        h.dialog->runCommand(MonitorDialog::CloseResourceCommand);
        QTRY_COMPARE(h.boxes.shown.size(), boxes + 1);
        QCOMPARE(h.boxes.shown.back().text, std::string("Samba cannot close one file of a session."));
    }

    void hidingFlashingAndShowingAgain()
    {
        Harness h;
        QVERIFY(h.start());
        // A new user while shown: nothing flashes.
        h.net.addSession("alice", "pc1");
        QVERIFY(h.tick());
        QVERIFY(!h.dialog->flashTimer().isActive());

        QTest::mouseClick(h.dialog->hideButton(), Qt::LeftButton);
        QVERIFY(!h.dialog->isVisible());
        QVERIFY(!h.monitor().desk()->mainVisible);
        QVERIFY(h.dialog->trayIcon()->isVisible());

        h.net.addSession("bob", "pc2");
        QVERIFY(h.tick());
        QVERIFY(h.dialog->flashTimer().isActive());
        QCOMPARE(h.dialog->flashTimer().interval(), 500);
        h.dialog->flashTick();
        const bool first = h.dialog->trayShowsUserFigure();
        h.dialog->flashTick();
        QCOMPARE(h.dialog->trayShowsUserFigure(), !first);
        h.dialog->flashTick();
        QCOMPARE(h.dialog->trayShowsUserFigure(), first);

        h.dialog->showFromTray();
        QVERIFY(h.dialog->isVisible());
        QVERIFY(h.monitor().desk()->mainVisible);
        QVERIFY(!h.dialog->flashTimer().isActive());
        QVERIFY(!h.dialog->trayShowsUserFigure());

        // Hidden again, then "Main dialog" from the tray menu.
        h.dialog->close();
        h.net.addSession("carol", "pc3");
        QVERIFY(h.tick());
        QVERIFY(h.dialog->flashTimer().isActive());
        h.dialog->runCommand(MonitorDialog::MainDialogCommand);
        QVERIFY(h.dialog->isVisible());
        QVERIFY(!h.dialog->flashTimer().isActive());

        // Minimised stays "visible": no flash.
        h.dialog->showMinimized();
        h.net.addSession("dave", "pc4");
        QVERIFY(h.tick());
        QVERIFY(h.monitor().desk()->mainVisible);
        QVERIFY(!h.dialog->flashTimer().isActive());
        QCOMPARE(h.beeps, 0);

        // "Beep" rings the bell for each new user; "Popup main dialog" brings the hidden window up
        // as "Main dialog" does, so nothing is left flashing.
        h.monitor().settings.beepOnNewUser = 1;
        h.monitor().settings.popupOnNewUser = 1;
        h.dialog->close();
        h.net.addSession("erin", "pc5");
        QVERIFY(h.tick());
        QCOMPARE(h.beeps, 1);
        QVERIFY(h.dialog->isVisible());
        QVERIFY(h.monitor().desk()->mainVisible);
        QVERIFY(!h.dialog->flashTimer().isActive());
    }

    void theHideAnimationSlidesDownThenHides()
    {
        // Rebuilt with animations on, to see the slide.
        Harness anim;
        anim.dialog.reset();
        {
            MonitorDialog::Options opts;
            opts.trayAvailable = [] { return true; };
            anim.dialog = std::make_unique<MonitorDialog>(*anim.face, opts);
        }
        anim.dialog->move(100, 100);
        QVERIFY(anim.start());
        const QPoint home = anim.dialog->pos();
        QTest::mouseClick(anim.dialog->hideButton(), Qt::LeftButton);
        QVERIFY(anim.dialog->sliding());
        QTRY_VERIFY(anim.dialog->pos().y() > home.y() + 60 || !anim.dialog->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!anim.dialog->isVisible(), 5000);
        QVERIFY(!anim.monitor().desk()->mainVisible);
        QCOMPARE(anim.dialog->pos(), home);
    }

    void escapeAndCloseNeverEndTheProgram()
    {
        Harness h;
        QVERIFY(h.start());
        QSignalSpy exits(h.dialog.get(), &MonitorDialog::exitRequested);
        QTest::keyClick(h.dialog.get(), Qt::Key_Escape);
        QVERIFY(h.dialog->isVisible());
        QVERIFY(h.monitor().desk()->mainVisible);
        QVERIFY(!h.dialog->close());
        QVERIFY(!h.dialog->isVisible());
        QVERIFY(!h.monitor().desk()->mainVisible);
        QVERIFY(h.dialog->trayIcon()->isVisible());
        QCOMPARE(exits.count(), 0);
    }

    void withoutATrayHidingMinimises()
    {
        Harness h;
        h.dialog.reset();
        MonitorDialog::Options o;
        o.animations = false;
        o.trayAvailable = [] { return false; };
        h.dialog = std::make_unique<MonitorDialog>(*h.face, o);
        QVERIFY(h.start());
        h.dialog->close();
        QVERIFY(h.dialog->isMinimized());
        QVERIFY(h.monitor().desk()->mainVisible);
    }

    void exitStopsEverythingInOrder()
    {
        Harness h;
        QVERIFY(h.start());
        std::vector<std::string> order;
        h.dialog->addExitStep([&] {
            order.push_back(h.dialog->pollTimerActive() ? "timer running" : "timer stopped");
            order.push_back(h.dialog->trayIcon()->isVisible() ? "tray shown" : "tray removed");
        });
        QSignalSpy exits(h.dialog.get(), &MonitorDialog::exitRequested);
        h.dialog->runCommand(MonitorDialog::ExitCommand);
        QCOMPARE(exits.count(), 1);
        QCOMPARE(order, (std::vector<std::string>{"timer stopped", "tray removed"}));
        QVERIFY(!h.dialog->isVisible());
    }

    void exitWhileAPollIsOnItsWay()
    {
        Harness h(nullptr, 3'600'000, 300);
        h.dialog->show();
        h.dialog->start();
        QVERIFY(h.face->pollBusy());
        h.dialog->runCommand(MonitorDialog::ExitCommand);
        h.dialog.reset();  // waits for the worker; the answer must not reach a dead window
        QTest::qWait(50);
    }

    void ticksDuringAnErrorBoxAreDropped()
    {
        QtMessageBoxes boxes;
        Harness h(&boxes, 20);
        boxes.setParentWindow(h.dialog.get());
        h.net.setStatus(Op::EnumSessions, {netcode::AccessDenied, "smbstatus only works as root!"});
        h.dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(h.dialog.get()));
        QString seen;
        int closes = 0;
        int pollsWhileOpen = -1;
        answerNextModal([&](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (!box)
                return false;
            seen = box->text();
            // Keep it open for many ticks of the 20 ms timer.
            QTest::qWait(300);
            // Counted before the box closes: a tick right after it may poll again, as it should.
            pollsWhileOpen = h.net.callCount(Op::EnumSessions);
            ++closes;
            box->accept();
            return true;
        });
        h.dialog->start();
        QTRY_COMPARE(closes, 1);
        QCOMPARE(seen, QStringLiteral("smbstatus only works as root!"));
        // Only the poll that opened the box ran while it was open.
        QCOMPARE(pollsWhileOpen, 1);
        // Once closed, the next tick polls again (and shows the box again).
        h.net.setStatus(Op::EnumSessions, NetStatus::success());
        QTRY_VERIFY(h.net.callCount(Op::EnumSessions) > 1);
    }

    void ticksDuringAFilesErrorBoxAreDropped()
    {
        QtMessageBoxes boxes;
        Harness h(&boxes, 20);
        boxes.setParentWindow(h.dialog.get());
        h.net.addSession("alice", "pc1", {"/a"});
        h.dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(h.dialog.get()));
        DeskCommands(h.monitor()).selectSessionRow(std::nullopt);
        h.dialog->start();
        QTRY_COMPARE(h.column(0), L({"alice"}));
        DeskCommands(h.monitor()).selectSessionRow(0);
        h.net.setStatus(Op::EnumFiles, {netcode::AccessDenied, "no files for you"});
        int boxesSeen = 0;
        int pollsWhileOpen = -1;
        answerNextModal([&](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (!box)
                return false;
            ++boxesSeen;
            const int before = h.net.callCount(Op::EnumSessions);
            QTest::qWait(300);
            pollsWhileOpen = h.net.callCount(Op::EnumSessions) - before;
            h.net.setStatus(Op::EnumFiles, NetStatus::success());
            box->accept();
            return true;
        });
        QTRY_COMPARE(boxesSeen, 1);
        QCOMPARE(pollsWhileOpen, 0);
        QTRY_VERIFY(QApplication::activeModalWidget() == nullptr);
    }

    void aTickWhileTheServiceIsStillAnsweringIsDropped()
    {
        Harness h(nullptr, 3'600'000, 200);
        h.net.addSession("alice", "pc1");
        h.dialog->show();
        h.dialog->start();
        h.dialog->pollTick();
        h.dialog->pollTick();
        QTRY_COMPARE(h.column(0), L({"alice"}));
        QTRY_VERIFY(!h.face->pollBusy());
        // Long enough for dropped ticks' polls to have asked the service, had they run.
        QTest::qWait(500);
        QCOMPARE(h.net.callCount(Op::EnumSessions), 1);
    }

    void theRemoteServerCommand_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QStringList>("users");
        QTest::addColumn<int>("errorBoxes");
        // The caption after the next tick: a failed poll says so until a poll works again.
        QTest::addColumn<QString>("captionAfter");
        QTest::newRow("a server") << S("srv1") << true << S("Current sessions: (server:srv1)") << L({"remote"}) << 0
                                  << S("Current sessions: (server:srv1)");
        QTest::newRow("cancel") << S("srv1") << false << S("Current sessions:") << L({"local"}) << 0
                                << S("Current sessions:");
        QTest::newRow("empty") << S("") << true << S("Current sessions:") << L({"local"}) << 0
                               << S("Current sessions:");
        QTest::newRow("unreachable") << S("nowhere") << true << S("Current sessions: (the poll failed)") << L({"local"})
                                     << 1 << S("Current sessions:");
    }

    void theRemoteServerCommand()
    {
        QFETCH(QString, typed);
        QFETCH(bool, ok);
        QFETCH(QString, caption);
        QFETCH(QStringList, users);
        QFETCH(int, errorBoxes);
        QFETCH(QString, captionAfter);
        Harness h;
        h.net.addSession("local", "pc1");
        h.net.setServerSessions("srv1", {{"remote", "pc9", {}, std::nullopt}});
        QVERIFY(h.start());
        QString initial;
        answerNextModal([&](QWidget* w) {
            auto* input = qobject_cast<ServerInputDialog*>(w);
            if (!input)
                return false;
            initial = input->text();
            input->edit()->setText(typed);
            ok ? input->accept() : input->reject();
            return true;
        });
        QSignalSpy done(h.dialog.get(), &MonitorDialog::pollFinished);
        QTest::mouseClick(h.dialog->remoteButton(), Qt::LeftButton);
        QCOMPARE(initial, QStringLiteral("127.0.0.1"));
        if (ok)
            QVERIFY(done.count() > 0 || done.wait(5000));
        QCOMPARE(h.dialog->captionLabel()->text(), caption);
        QCOMPARE(h.column(0), users);
        QCOMPARE(static_cast<int>(h.boxes.shown.size()), errorBoxes);
        // The next tick polls the server in force (this computer after a failure).
        QVERIFY(h.tick());
        QCOMPARE(h.column(0), users);
        QCOMPARE(h.dialog->captionLabel()->text(), captionAfter);
        QCOMPARE(static_cast<int>(h.boxes.shown.size()), errorBoxes);
    }

    void aPollThatThrowsOnTheWorkerEndsThatPollOnly()
    {
        Harness h;
        h.net.addSession("alice", "pc1");
        QVERIFY(h.start());
        h.slow.throwOnPoll = true;
        QVERIFY(h.tick());  // the poll ends instead of the program
        h.slow.throwOnPoll = false;
        QVERIFY(h.tick());
        QCOMPARE(h.column(0), L({"alice"}));
    }

    void anAnswerForTheOldServerIsNotShown()
    {
        Harness h(nullptr, 3'600'000, 150);
        h.net.addSession("local", "pc1");
        h.net.setServerSessions("srv1", {{"remote", "pc9", {}, std::nullopt}});
        QVERIFY(h.start());
        h.dialog->pollTick();  // asks this computer...
        h.monitor().setRemoteServer("srv1", false);  // ...while the server changes
        QSignalSpy done(h.dialog.get(), &MonitorDialog::pollFinished);
        QVERIFY(done.wait(5000));
        QCOMPARE(h.column(0), L({"remote"}));
    }

    void theWindowResizesAndKeepsItsLayout()
    {
        QRect sessions, files;
        {
            Harness h(nullptr, 3'600'000, 0, true);  // remembering its layout
            QVERIFY(h.start());
            const QRect small = h.dialog->sessionsView()->geometry();
            const QRect smallFiles = h.dialog->filesView()->geometry();
            h.dialog->resize(h.dialog->width() + 200, h.dialog->height() + 100);
            sessions = h.dialog->sessionsView()->geometry();
            files = h.dialog->filesView()->geometry();
            QCOMPARE(sessions.width(), small.width() + 200);
            QCOMPARE(sessions.height() + files.height(), small.height() + smallFiles.height() + 100);
            // The buttons stay in the bottom right corner, inside the window.
            QCOMPARE(h.dialog->historyButton()->geometry().right(), h.dialog->width() - 11);
            QVERIFY(h.dialog->historyButton()->geometry().bottom() < h.dialog->height());
            // The splitter still moves between the tables, within its limits: 100 up, 50 down.
            QCOMPARE(h.dialog->splitter()->moveBy(80), 50);
            QCOMPARE(h.dialog->splitter()->moveBy(-80), -80);
            QCOMPARE(h.dialog->sessionsView()->geometry().bottom(), sessions.bottom() - 30);
            QCOMPARE(h.dialog->filesView()->geometry().top(), files.top() - 30);
            QCOMPARE(h.dialog->filesView()->geometry().bottom(), files.bottom());
            sessions = h.dialog->sessionsView()->geometry();
            files = h.dialog->filesView()->geometry();
            QCOMPARE(h.dialog->splitter()->moveBy(-1000), -70);
            QCOMPARE(h.dialog->splitter()->moveBy(70), 70);
            QVERIFY(h.dialog->width() >= 680);
        }
        layoutSettings().sync();
        Harness again(nullptr, 3'600'000, 0, true);
        QCOMPARE(again.dialog->sessionsView()->geometry(), sessions);
        QCOMPARE(again.dialog->filesView()->geometry(), files);
        // Tests and the bench leave the file alone: their window starts at the first design.
        Harness plain;
        QCOMPARE(plain.dialog->size(), QSize(480, 392));
    }

    void aPressNearTheTopOrBottomDragsTheWindow()
    {
        Harness h;
        QVERIFY(h.start());
        const QPoint start = h.dialog->pos();
        QTest::mousePress(h.dialog.get(), Qt::LeftButton, {}, QPoint(60, 10));
        QMouseEvent move(QEvent::MouseMove, QPointF(90, 30), h.dialog->mapToGlobal(QPointF(90, 30)), Qt::NoButton,
                         Qt::LeftButton, {});
        QApplication::sendEvent(h.dialog.get(), &move);
        QTest::mouseRelease(h.dialog.get(), Qt::LeftButton, {}, QPoint(90, 30));
        QCOMPARE(h.dialog->pos(), start + QPoint(30, 20));

        // A press in the middle of the window's own surface does not.
        const QPoint here = h.dialog->pos();
        QTest::mousePress(h.dialog.get(), Qt::LeftButton, {}, QPoint(4, 200));
        QMouseEvent move2(QEvent::MouseMove, QPointF(40, 240), h.dialog->mapToGlobal(QPointF(40, 240)), Qt::NoButton,
                          Qt::LeftButton, {});
        QApplication::sendEvent(h.dialog.get(), &move2);
        QTest::mouseRelease(h.dialog.get(), Qt::LeftButton, {}, QPoint(40, 240));
        QCOMPARE(h.dialog->pos(), here);
    }

    void helpOpensTheProgramsOwnPage()
    {
        Harness h;
        QVERIFY(h.start());
        QTest::keyClick(h.dialog.get(), Qt::Key_F1);
        QTest::mouseClick(h.dialog->helpButton(), Qt::LeftButton);
        QCOMPARE(h.opened.size(), 2u);
        QVERIFY(h.opened[0].isLocalFile());
        QVERIFY(h.opened[0].toLocalFile().endsWith(QStringLiteral("vantor_help.html")));
        QFile page(h.opened[0].toLocalFile());
        QVERIFY(page.open(QIODevice::ReadOnly));
        QVERIFY(page.readAll().contains("Vantor"));
        QCOMPARE(h.opened[1], h.opened[0]);
        QVERIFY(h.boxes.shown.empty());

        // A desktop that cannot open it: the user is told, with the place, rather than left waiting.
        h.desktopOpens = false;
        QTest::keyClick(h.dialog.get(), Qt::Key_F1);
        QCOMPARE(h.boxes.shown.size(), 1u);
        QVERIFY(QString::fromStdString(h.boxes.shown[0].text).contains(h.opened[0].toString()));
    }

    void theHistoryWindowGetsTheReportPathOnlyFromTheButton()
    {
        Harness h;
        QVERIFY(h.start());
        h.monitor().settings.reportPath = std::string("weekly.html");
        std::vector<std::string> handed;
        auto answerHistory = [&] {
            answerNextModal([&](QWidget* w) {
                auto* history = qobject_cast<HistoryDialog*>(w);
                if (!history)
                    return false;
                handed.push_back(history->reportPathName);
                history->reject();
                return true;
            });
        };
        answerHistory();
        h.dialog->runCommand(MonitorDialog::ShowHistoryCommand);
        answerHistory();
        QTest::mouseClick(h.dialog->historyButton(), Qt::LeftButton);
        QCOMPARE(handed, (std::vector<std::string>{"", "weekly.html"}));
    }

    void clearHistoryDeletesTheLogsAndAboutSaysWhoWeAre()
    {
        Harness h;
        QVERIFY(h.start());
        std::ofstream(h.dir.path() / "users.log") << "x";
        std::ofstream(h.dir.path() / "files.log") << "y";
        h.dialog->runCommand(MonitorDialog::ClearHistoryCommand);
        QVERIFY(!std::filesystem::exists(h.dir.path() / "users.log"));
        QVERIFY(!std::filesystem::exists(h.dir.path() / "files.log"));
        h.boxes.shown.clear();
        h.dialog->runCommand(MonitorDialog::AboutCommand);
        QCOMPARE(h.boxes.shown.size(), 1u);
        QCOMPARE(h.boxes.shown[0].caption, std::string("About Vantor"));
    }

    void optionsOpensTheOptionsWindowAndCancelChangesNothing()
    {
        Harness h;
        QVERIFY(h.start());
        bool seen = false;
        answerNextModal([&](QWidget* w) {
            auto* sheet = qobject_cast<OptionsSheet*>(w);
            if (!sheet)
                return false;
            seen = true;
            sheet->reject();
            return true;
        });
        h.dialog->runCommand(MonitorDialog::OptionsCommand);
        QVERIFY(seen);
        QCOMPARE(h.monitor().settings.useBlackList, 1);
    }
};

QTEST_MAIN(MonitorDialogTest)
#include "MonitorDialogTest.moc"
