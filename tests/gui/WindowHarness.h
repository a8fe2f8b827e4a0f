#pragma once
// The main window over the fake service, slowed down as smbstatus would be, for the tests of the
// main window and of the detail windows it opens.

#include "MonitorFixture.h"
#include "app/LocalMonitorFace.h"
#include "app/MonitorDialog.h"
#include "app/TableModels.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <thread>

namespace vantor::test {

inline QString S(const char* text)
{
    return QString::fromUtf8(text);
}

inline QStringList L(std::initializer_list<const char*> items)
{
    QStringList out;
    for (const char* i : items)
        out << QString::fromUtf8(i);
    return out;
}

// The fake service, slowed down as smbstatus would be.
class SlowNet final : public NetManagement {
public:
    explicit SlowNet(FakeNetManagement& inner)
        : m_inner(inner)
    {
    }
    NetStatus enumSessions(const ServerName& s, std::vector<NetSessionInfo>& out) override
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs.load()));
        if (throwOnPoll)
            throw std::runtime_error("the service's answer cannot be read");
        return m_inner.enumSessions(s, out);
    }
    NetStatus enumFiles(const ServerName& s, const std::string& u, std::vector<NetFileInfo>& out) override
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs.load()));
        return m_inner.enumFiles(s, u, out);
    }
    NetStatus deleteSession(const ServerName& s, const std::string& c, const std::string& u) override
    {
        return m_inner.deleteSession(s, c, u);
    }
    NetStatus enumUsers(std::vector<std::string>& out) override { return m_inner.enumUsers(out); }
    NetStatus closeFile(const ServerName& s, uint32_t id) override
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs.load()));
        return m_inner.closeFile(s, id);
    }
    NetStatus enumAllFiles(const ServerName& s, std::vector<NetFileInfo>& out) override
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs.load()));
        return m_inner.enumAllFiles(s, out);
    }
    NetStatus enumShares(const ServerName& s, std::vector<NetShareInfo>& out) override
    {
        return m_inner.enumShares(s, out);
    }
    std::atomic<int> delayMs{0};
    std::atomic<bool> throwOnPoll{false};

private:
    FakeNetManagement& m_inner;
};

struct Harness {
    explicit Harness(MessageBoxes* customBoxes = nullptr, int pollMs = 3'600'000, int delayMs = 0,
                     bool rememberLayout = false)
    {
        slow.delayMs = delayMs;
        MonitorDialog::Options o;
        o.rememberLayout = rememberLayout;
        o.animations = false;
        o.openUrl = [this](const QUrl& url) {
            opened.push_back(url);
            return desktopOpens;
        };
        o.trayAvailable = [] { return true; };
        o.beep = [this] { ++beeps; };
        face = std::make_unique<LocalMonitorFace>(
            SessionMonitor::Context{slow, customBoxes ? *customBoxes : boxes, clock, dir.path(), &inspector},
            LocalMonitorFace::Options{LocalMonitorFace::PollMode::Background, pollMs});
        dialog = std::make_unique<MonitorDialog>(*face, o);
        sessionsTester = std::make_unique<QAbstractItemModelTester>(
            dialog->sessionsModel(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        filesTester = std::make_unique<QAbstractItemModelTester>(
            dialog->filesModel(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    }

    // Shows the window and waits for the first poll.
    bool start()
    {
        dialog->show();
        if (!QTest::qWaitForWindowExposed(dialog.get()))
            return false;
        QSignalSpy done(dialog.get(), &MonitorDialog::pollFinished);
        dialog->start();
        return done.wait(5000);
    }

    // One tick of the poll timer, and its poll carried through.
    bool tick()
    {
        QSignalSpy done(dialog.get(), &MonitorDialog::pollFinished);
        dialog->pollTick();
        return done.count() > 0 || done.wait(5000);
    }

    static QStringList column(const QAbstractItemModel* m, int col)
    {
        QStringList out;
        for (int r = 0; r < m->rowCount(); ++r)
            out << m->index(r, col).data().toString();
        return out;
    }
    QStringList column(int col) const { return column(dialog->sessionsModel(), col); }
    QStringList files() const
    {
        QStringList out;
        auto* m = dialog->filesModel();
        for (int r = 0; r < m->rowCount(); ++r)
            out << m->index(r, 0).data().toString();
        return out;
    }
    void clickSessionRow(int row)
    {
        QTableView* v = dialog->sessionsView();
        QTest::mouseClick(v->viewport(), Qt::LeftButton, {}, v->visualRect(v->model()->index(row, 0)).center());
    }
    void clickFileRow(int row)
    {
        QTableView* v = dialog->filesView();
        QTest::mouseClick(v->viewport(), Qt::LeftButton, {}, v->visualRect(v->model()->index(row, 0)).center());
    }
    int selectedSessionViewRow() const
    {
        auto rows = dialog->sessionsView()->selectionModel()->selectedRows();
        return rows.isEmpty() ? -1 : rows.first().row();
    }

    TempDir dir;
    FakeNetManagement net;
    SlowNet slow{net};
    RecordingMessageBoxes boxes;
    ManualClock clock;
    SetFileInspector inspector;
    std::vector<QUrl> opened;
    bool desktopOpens = true;
    int beeps = 0;
    std::unique_ptr<LocalMonitorFace> face;
    std::unique_ptr<MonitorDialog> dialog;
    SessionMonitor& monitor() { return face->monitor(); }
    std::unique_ptr<QAbstractItemModelTester> sessionsTester;
    std::unique_ptr<QAbstractItemModelTester> filesTester;
};

}  // namespace vantor::test
