#include "FakeAutostart.h"
#include "ModalAnswer.h"
#include "MonitorFixture.h"
#include "access/AccessListModel.h"
#include "access/AccessListPage.h"
#include "options/OptionsCommand.h"
#include "options/OptionsSheet.h"
#include "platform/AutostartXdg.h"
#include "platform/SystemError.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTabBar>
#include <QToolButton>
#include <QtTest>

#include <cerrno>

using namespace vantor;
using vantor::test::FakeAutostart;
using vantor::test::MonitorHarness;
using vantor::test::whenModal;

namespace {

template <typename T> T* child(const QWidget& parent, const char* name)
{
    T* w = parent.findChild<T*>(QString::fromLatin1(name));
    if (!w)
        qFatal("no child %s", name);
    return w;
}

}  // namespace

class OptionsSheetTest : public QObject {
    Q_OBJECT
private:
    struct Setup {
        MonitorHarness h;
        FakeAutostart autostart;
        OptionsDeps deps;
        TrimLogsFn trimLogs;
        Setup()
        {
            deps.autostart = &autostart;
            deps.executablePath = "/usr/local/bin/vantor";
            deps.accounts = &h.net;
            deps.browseDirectory = h.dir.path();
        }
        OptionsValue defaults() const { return optionsFromSettings(MonitorSettings{}); }
        // The monitor's options as a local face hands them to the window.
        OptionsValue value() const { return optionsOf(h.monitor); }
        // "Options..." on the monitor, as a local face runs it.
        bool run() { return storeOptions(h.monitor, runOptionsWindow(value(), h.boxes, nullptr, deps), trimLogs); }
    };

    static void clickOk(OptionsSheet& sheet) { child<QPushButton>(sheet, "ok")->click(); }

private slots:
    void aFreshStartShowsTheDefaults()
    {
        Setup s;
        OptionsSheet sheet(s.value(), s.h.boxes, s.deps);
        QCOMPARE(sheet.windowTitle(), QStringLiteral("Options"));
        for (const char* box :
             {"hideSystemRequests", "hideLocalUsers", "noHistory", "noFileLog", "launchOnStartup", "popupOnNewUser",
              "beepOnNewUser", "mailOnNewUser", "dailyReport", "reportAutoUpdate", "reportLimit"})
            QVERIFY2(!child<QCheckBox>(sheet, box)->isChecked(), box);
        QVERIFY(child<QRadioButton>(sheet, "useBlackList")->isChecked());
        QVERIFY(!child<QRadioButton>(sheet, "useWhiteList")->isChecked());
        QCOMPARE(child<QComboBox>(sheet, "reportLimitIndex")->currentText(), QStringLiteral("1 Hour"));
        QCOMPARE(child<QLineEdit>(sheet, "dailyReportTime")->text(), QStringLiteral("23:59"));
        QCOMPARE(child<QLineEdit>(sheet, "reportPath")->text(), QStringLiteral("report.html"));
        QCOMPARE(child<QLineEdit>(sheet, "mailAddress")->text().toStdString(), MonitorSettings{}.mailAddress);
        QCOMPARE(child<QLineEdit>(sheet, "smtpServer")->text().toStdString(), MonitorSettings{}.smtpServer);
        QCOMPARE(child<QSpinBox>(sheet, "smtpPort")->value(), 25);
        QCOMPARE(child<QComboBox>(sheet, "smtpSecurity")->currentText(), QStringLiteral("None"));

        auto* combo = child<QComboBox>(sheet, "reportLimitIndex");
        QCOMPARE(combo->count(), 10);
        QCOMPARE(combo->itemText(3), QStringLiteral("-------------"));
        QCOMPARE(combo->itemText(9), QStringLiteral("1 Month"));

        // Accepting the defaults untouched gives them back.
        sheet.show();
        clickOk(sheet);
        QCOMPARE(sheet.result(), int(QDialog::Accepted));
        QCOMPARE(sheet.values(), s.defaults());
        QVERIFY(s.h.boxes.shown.empty());
    }

    void tabsInOrderAndTheNavigationButtons()
    {
        Setup s;
        OptionsSheet sheet(s.value(), s.h.boxes, s.deps);
        sheet.show();
        QTabBar* tabs = sheet.tabBar();
        QCOMPARE(tabs->count(), 6);
        auto* pages = sheet.findChild<QStackedWidget*>();
        QCOMPARE(tabs->currentIndex(), 0);
        QCOMPARE(pages->currentWidget()->objectName(), QStringLiteral("generalPage"));

        child<QToolButton>(sheet, "prev")->click();
        QCOMPARE(tabs->currentIndex(), 0);
        child<QToolButton>(sheet, "next")->click();
        QCOMPARE(pages->currentWidget()->objectName(), QStringLiteral("usersPage"));
        child<QToolButton>(sheet, "last")->click();
        QCOMPARE(pages->currentWidget()->objectName(), QStringLiteral("whiteListPage"));
        child<QToolButton>(sheet, "next")->click();
        QCOMPARE(tabs->currentIndex(), 5);
        tabs->setCurrentIndex(3);
        QCOMPARE(pages->currentWidget()->objectName(), QStringLiteral("reportPage"));
        QVERIFY(child<QWidget>(sheet, "reportPage")->isVisible());
        QVERIFY(!child<QWidget>(sheet, "generalPage")->isVisible());
        child<QToolButton>(sheet, "first")->click();
        QCOMPARE(tabs->currentIndex(), 0);
    }

    void blockingChecks_data()
    {
        QTest::addColumn<QString>("time");
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("limitIndex");  // -2: type limitText instead
        QTest::addColumn<QString>("limitText");
        QTest::addColumn<QString>("message");  // empty: OK closes the window
        QTest::addColumn<int>("acceptedIndex");

        const QString none;
        const QString limit = QString::fromLatin1(optionsText::wrongReportLimit);
        const QString time = QString::fromLatin1(optionsText::wrongTime);
        const QString ok = QStringLiteral("23:59");
        const QString html = QStringLiteral("report.html");
        QTest::newRow("separator refused though unticked") << ok << html << 3 << none << limit << 3;
        QTest::newRow("typed separator") << ok << html << -2 << QStringLiteral("-------------") << limit << -2;
        QTest::newRow("typed choice") << ok << html << -2 << QStringLiteral("2 days") << none << 5;
        QTest::newRow("typed text that is no choice") << ok << html << -2 << QStringLiteral("forever") << none << -1;
        QTest::newRow("8:30 refused") << QStringLiteral("8:30") << html << 0 << none << time << 0;
        QTest::newRow("08:30 accepted") << QStringLiteral("08:30") << html << 9 << none << none << 9;
    }

    void blockingChecks()
    {
        QFETCH(QString, time);
        QFETCH(QString, path);
        QFETCH(int, limitIndex);
        QFETCH(QString, limitText);
        QFETCH(QString, message);
        QFETCH(int, acceptedIndex);

        Setup s;
        s.h.dir.write("wlist.dat", "A pcA\nB pcB\n");
        s.h.dir.write("blist.dat", "old old\n");
        OptionsSheet sheet(s.value(), s.h.boxes, s.deps);
        sheet.show();
        sheet.listPage(OptionsSheet::WhiteList)->model()->addAtTop("New", "<Any>");
        sheet.listPage(OptionsSheet::BlackList)->model()->clear();
        sheet.showTab(OptionsSheet::Report);

        child<QLineEdit>(sheet, "dailyReportTime")->setText(time);
        child<QLineEdit>(sheet, "reportPath")->setText(path);
        auto* combo = child<QComboBox>(sheet, "reportLimitIndex");
        if (limitIndex == -2)
            combo->setEditText(limitText);
        else
            combo->setCurrentIndex(limitIndex);
        clickOk(sheet);

        // The lists are stored first, whatever the checks say.
        storeOptions(s.h.monitor, sheet.outcome(), {});
        QCOMPARE(s.h.dir.read("wlist.dat"), std::string("New <Any>\nB pcB\nA pcA\n"));
        QCOMPARE(s.h.dir.read("blist.dat"), std::string());
        if (message.isEmpty()) {
            QCOMPARE(sheet.outcome().closed, OptionsClosed::Accepted);
            QVERIFY(s.h.boxes.shown.empty());
            QCOMPARE(sheet.result(), int(QDialog::Accepted));
            QVERIFY(!sheet.isVisible());
            QCOMPARE(sheet.values().settings.reportLimitIndex, acceptedIndex);
            QCOMPARE(QString::fromStdString(sheet.values().settings.dailyReportTime), time);
            QCOMPARE(QString::fromStdString(sheet.values().settings.reportPath.get()), path);
            return;
        }
        QCOMPARE(s.h.boxes.shown.size(), std::size_t(1));
        const BoxRequest& box = s.h.boxes.shown[0];
        QCOMPARE(QString::fromStdString(box.text), message);
        QCOMPARE(box.caption, std::string("Error"));
        QCOMPARE(box.icon, BoxIcon::Error);
        QCOMPARE(box.owner, static_cast<void*>(static_cast<QWidget*>(&sheet)));
        QVERIFY(sheet.isVisible());
        QCOMPARE(sheet.result(), int(QDialog::Rejected));
        // The controls and the tab stay as the user left them.
        QCOMPARE(sheet.tabBar()->currentIndex(), int(OptionsSheet::Report));
        QCOMPARE(child<QLineEdit>(sheet, "dailyReportTime")->text(), time);
        QVERIFY(s.autostart.calls.empty());
    }

    void anEmptyWhiteListWarnsAndThenCloses()
    {
        Setup s;
        s.h.dir.write("wlist.dat", "alice pc1\n");
        OptionsSheet sheet(s.value(), s.h.boxes, s.deps);
        sheet.show();
        child<QRadioButton>(sheet, "useWhiteList")->click();
        QVERIFY(!child<QRadioButton>(sheet, "useBlackList")->isChecked());
        sheet.showTab(OptionsSheet::WhiteList);
        child<QPushButton>(*sheet.listPage(OptionsSheet::WhiteList), "clear")->click();
        clickOk(sheet);
        storeOptions(s.h.monitor, sheet.outcome(), {});
        QCOMPARE(s.h.boxes.shown.size(), std::size_t(1));
        QCOMPARE(s.h.boxes.shown[0].caption, std::string("Warning"));
        QCOMPARE(s.h.boxes.shown[0].text, std::string(optionsText::whiteListEmpty));
        QCOMPARE(s.h.boxes.shown[0].icon, BoxIcon::Warning);
        QCOMPARE(sheet.result(), int(QDialog::Accepted));
        QCOMPARE(sheet.values().settings.useBlackList, 0);
        QCOMPARE(s.h.dir.read("wlist.dat"), std::string());
    }

    void browseFillsThePathAndCancelKeepsIt()
    {
        Setup s;
        OptionsSheet sheet(s.value(), s.h.boxes, s.deps);
        sheet.show();
        sheet.showTab(OptionsSheet::Report);
        auto* path = child<QLineEdit>(sheet, "reportPath");
        auto* browse = child<QPushButton>(sheet, "browseReport");

        bool failed = false;
        QString filter, chosen;
        whenModal<QFileDialog>(
            [&](QFileDialog* d) {
                filter = d->nameFilters().join(QLatin1Char(';'));
                chosen = d->selectedFiles().value(0);
                QCOMPARE(d->acceptMode(), QFileDialog::AcceptSave);
                QCOMPARE(d->defaultSuffix(), QStringLiteral("html"));
                d->reject();
            },
            &failed);
        browse->click();
        QVERIFY(!failed);
        QCOMPARE(filter, QStringLiteral("Web page (*.html)"));
        QCOMPARE(QFileInfo(chosen).fileName(), QStringLiteral("report.html"));
        QCOMPARE(QFileInfo(chosen).absolutePath(), QString::fromStdString(s.h.dir.path().string()));
        QCOMPARE(path->text(), QStringLiteral("report.html"));

        const QString target = QString::fromStdString((s.h.dir / "weekly").string());
        whenModal<QFileDialog>(
            [&](QFileDialog* d) {
                // Typed into the name field, as a person does: selectFile() leaves that field alone
                // while it has the focus, which depends on when the window manager activates the dialog.
                auto* name = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
                if (!name) {
                    d->reject();
                    return;
                }
                name->setText(target);
                static_cast<QDialog*>(d)->accept();
            },
            &failed);
        browse->click();
        QVERIFY(!failed);
        QCOMPARE(path->text(), target + QStringLiteral(".html"));
    }

    void sendTestMailUsesTheValuesTypedNow()
    {
        Setup s;
        std::vector<std::pair<MailRelay, std::string>> sent;
        void* owner = nullptr;
        s.deps.sendTestMail = [&](const MailRelay& relay, const std::string& address, MessageBoxes& boxes,
                                  void* boxOwner) {
            sent.emplace_back(relay, address);
            owner = boxOwner;
            boxes.show({"Vantor", "The mail has been sent!", BoxIcon::Information, BoxButtons::Ok, boxOwner});
        };
        void* mailPage = nullptr;
        bool failed = false;
        whenModal<OptionsSheet>(
            [&](OptionsSheet* sheet) {
                sheet->showTab(OptionsSheet::Mail);
                mailPage = static_cast<QWidget*>(child<QWidget>(*sheet, "mailPage"));
                child<QLineEdit>(*sheet, "smtpServer")->setText(QStringLiteral("smtp.test.lan"));
                child<QLineEdit>(*sheet, "mailAddress")->setText(QStringLiteral("me@test.lan"));
                child<QSpinBox>(*sheet, "smtpPort")->setValue(587);
                child<QComboBox>(*sheet, "smtpSecurity")->setCurrentIndex(1);
                child<QLineEdit>(*sheet, "smtpUser")->setText(QStringLiteral(" mailer "));
                child<QLineEdit>(*sheet, "smtpPasswordFile")->setText(QStringLiteral("/root/pw"));
                child<QLineEdit>(*sheet, "smtpCertFingerprint")->setText(QStringLiteral("AB:CD"));
                child<QPushButton>(*sheet, "sendTestMail")->click();
                child<QPushButton>(*sheet, "cancel")->click();
            },
            &failed);
        bool accepted = s.run();
        QVERIFY(!failed);
        QVERIFY(!accepted);
        QCOMPARE(sent.size(), std::size_t(1));
        const MailRelay& relay = sent[0].first;
        QCOMPARE(relay.server, std::string("smtp.test.lan"));
        QCOMPARE(relay.port, 587);
        QCOMPARE(relay.security, SmtpSecurity::StartTls);
        QCOMPARE(relay.user, std::string("mailer"));
        QCOMPARE(relay.passwordFile, std::string("/root/pw"));
        QCOMPARE(relay.certFingerprint, std::string("AB:CD"));
        QCOMPARE(sent[0].second, std::string("me@test.lan"));
        QVERIFY(owner != nullptr);
        QCOMPARE(owner, mailPage);  // the box belongs to the E-mail page
        QCOMPARE(s.h.boxes.shown.size(), std::size_t(1));
        // Tried, then cancelled: the settings keep their values.
        QCOMPARE(s.h.monitor.settings.smtpServer, MonitorSettings{}.smtpServer);
        QCOMPARE(s.h.monitor.settings.smtpPort, 25);

        Setup without;
        OptionsSheet sheet(without.value(), without.h.boxes, without.deps);
        QVERIFY(!child<QPushButton>(sheet, "sendTestMail")->isEnabled());
    }

    void autostartIsReadWrittenAndRemovedInATemporaryRoot()
    {
        Setup s;
        XdgAutostart xdg(s.h.dir / "etc/xdg/autostart");
        s.deps.autostart = &xdg;
        {
            OptionsSheet sheet(s.value(), s.h.boxes, s.deps);
            QVERIFY(!child<QCheckBox>(sheet, "launchOnStartup")->isChecked());
            sheet.show();
            child<QCheckBox>(sheet, "launchOnStartup")->setChecked(true);
            clickOk(sheet);
            QCOMPARE(sheet.result(), int(QDialog::Accepted));
        }
        QVERIFY(s.h.dir.read("etc/xdg/autostart/vantor.desktop").find("\nExec=\"/usr/local/bin/vantor\"\n")
                != std::string::npos);
        {
            OptionsSheet sheet(s.value(), s.h.boxes, s.deps);
            QVERIFY(child<QCheckBox>(sheet, "launchOnStartup")->isChecked());
            sheet.show();
            child<QCheckBox>(sheet, "launchOnStartup")->setChecked(false);
            clickOk(sheet);
        }
        QVERIFY(!std::filesystem::exists(s.h.dir / "etc/xdg/autostart/vantor.desktop"));
        {
            // Unticked with no entry: closes without a message.
            OptionsSheet sheet(s.value(), s.h.boxes, s.deps);
            sheet.show();
            clickOk(sheet);
            QCOMPARE(sheet.result(), int(QDialog::Accepted));
        }
        QVERIFY(s.h.boxes.shown.empty());
    }

    void aRefusedAutostartWriteShowsTheErrorAndStillCloses()
    {
        Setup s;
        s.h.dir.write("etc", "a file where a directory should be");
        XdgAutostart xdg(s.h.dir / "etc/xdg/autostart");
        s.deps.autostart = &xdg;
        OptionsSheet sheet(s.value(), s.h.boxes, s.deps);
        sheet.show();
        child<QCheckBox>(sheet, "launchOnStartup")->setChecked(true);
        clickOk(sheet);
        QCOMPARE(s.h.boxes.shown.size(), std::size_t(1));
        const BoxRequest& box = s.h.boxes.shown[0];
        QCOMPARE(box.caption, std::string("Error"));
        QCOMPARE(box.text, systemErrorText(ENOTDIR));
        QCOMPARE(box.icon, BoxIcon::Information);
        QCOMPARE(box.owner, static_cast<void*>(static_cast<QWidget*>(&sheet)));
        QCOMPARE(sheet.result(), int(QDialog::Accepted));
        QVERIFY(!sheet.isVisible());
    }

    void cancelChangesNothingAndReloadsNothing()
    {
        Setup s;
        s.h.dir.write("blist.dat", "bob pc2\n");
        int trims = 0;
        s.trimLogs = [&](int32_t) { ++trims; };
        bool failed = false;
        whenModal<OptionsSheet>(
            [](OptionsSheet* sheet) {
                child<QCheckBox>(*sheet, "hideLocalUsers")->setChecked(true);
                child<QCheckBox>(*sheet, "reportLimit")->setChecked(true);
                child<QRadioButton>(*sheet, "useWhiteList")->setChecked(true);
                sheet->listPage(OptionsSheet::BlackList)->model()->addAtTop("eve", "<Any>");
                child<QPushButton>(*sheet, "cancel")->click();
            },
            &failed);
        QVERIFY(!s.run());
        QVERIFY(!failed);
        QCOMPARE(optionsFromSettings(s.h.monitor.settings), s.defaults());
        QVERIFY(s.h.monitor.blackList().empty());
        QCOMPARE(s.h.dir.read("blist.dat"), std::string("bob pc2\n"));
        QCOMPARE(trims, 0);
        QVERIFY(s.autostart.calls.empty());
    }

    void acceptingTheWhiteListClosesUnlistedSessionsAtTheNextPoll()
    {
        Setup s;
        s.h.net.addSession("Alice", "PC1");
        s.h.net.addSession("bob", "PC2");
        s.h.dir.write("wlist.dat", "alice <Any>\n");
        s.h.monitor.loadAccessLists();
        s.h.monitor.pollSessions();
        QCOMPARE(s.h.monitor.sessionRows().size(), std::size_t(2));

        std::vector<int32_t> trims;
        s.trimLogs = [&](int32_t index) { trims.push_back(index); };
        bool failed = false;
        whenModal<OptionsSheet>(
            [](OptionsSheet* sheet) {
                child<QRadioButton>(*sheet, "useWhiteList")->click();
                child<QCheckBox>(*sheet, "reportLimit")->setChecked(true);
                child<QComboBox>(*sheet, "reportLimitIndex")->setCurrentIndex(5);
                child<QPushButton>(*sheet, "ok")->click();
            },
            &failed);
        QVERIFY(s.run());
        QVERIFY(!failed);
        QCOMPARE(s.h.monitor.settings.useBlackList, 0);
        QCOMPARE(trims, std::vector<int32_t>{5});
        QVERIFY(s.h.net.deleteCalls().empty());  // nothing happens before the next poll

        s.h.monitor.pollSessions();
        QCOMPARE(s.h.net.deleteCalls().size(), std::size_t(1));
        QCOMPARE(s.h.net.deleteCalls()[0].user, std::string("bob"));
        QCOMPARE(s.h.rowUsers(), std::vector<std::string>{"Alice"});
    }
};

QTEST_MAIN(OptionsSheetTest)
#include "OptionsSheetTest.moc"
