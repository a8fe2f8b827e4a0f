// The agent over the real monitor core: what a console reads and does goes through the published
// snapshot and the thread-safe session actions.
#include "AgentFixture.h"
#include "FaultInjection.h"
#include "FreePort.h"
#include "MonitorFixture.h"
#include "console/SessionMonitorAgentHost.h"

#include <gtest/gtest.h>

#include <atomic>
#include <sstream>

using namespace vantor;
using namespace vantor::test;
using vantor::test::DiskFull;

namespace {

struct Posted {
    std::mutex mutex;
    std::vector<std::function<void()>> queue;
    void post(std::function<void()> fn)
    {
        std::lock_guard lock(mutex);
        queue.push_back(std::move(fn));
    }
    void runAll()
    {
        std::vector<std::function<void()>> q;
        {
            std::lock_guard lock(mutex);
            q.swap(queue);
        }
        for (auto& fn : q)
            fn();
    }
};

}  // namespace

TEST(SessionMonitorAgentHost, ConsoleSeesTheTableAndActsOnTheMonitor)
{
    MonitorHarness h;
    h.net.addSession("alice", "pc1", {"/srv/a", "/srv/b"});
    h.net.addSession("bob", "pc2", {"/srv/x"});
    h.monitor.pollSessions();

    Posted gui;
    SessionMonitorAgentHost host(h.monitor, [&](std::function<void()> fn) { gui.post(std::move(fn)); });
    std::atomic<int> reports = 0, deletions = 0;
    h.dir.write("report.html", "<html>history</html>");
    host.setReportGenerator([&] {
        ++reports;
        return h.dir / "report.html";
    });
    host.setLogDeleter([&] { ++deletions; });
    EXPECT_EQ(host.hostName(), localHostName());

    LoopbackAgent a(host);
    ASSERT_TRUE(a.agent.commandActive());
    auto& client = *a.client;

    const auto id = client.identity("127.0.0.1");
    ASSERT_TRUE(id) << id.error;
    EXPECT_EQ(id.value->sessions, 2);
    EXPECT_EQ(id.value->openFiles, 3);

    const auto rows = client.sessions("127.0.0.1");
    ASSERT_TRUE(rows) << rows.error;
    EXPECT_EQ(*rows.value, h.monitor.sessionRows());  // top row first

    std::ostringstream report;
    EXPECT_TRUE(client.report("127.0.0.1", report));
    EXPECT_EQ(report.str(), "<html>history</html>");
    EXPECT_TRUE(client.deleteLogs("127.0.0.1"));
    EXPECT_EQ(reports, 1);
    EXPECT_EQ(deletions, 1);

    EXPECT_TRUE(client.closeSession("127.0.0.1", "alice", "pc1"));
    auto calls = h.net.deleteCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].user, "alice");
    EXPECT_EQ(calls[0].computer, "pc1");

    EXPECT_TRUE(client.closeAll("127.0.0.1"));
    EXPECT_EQ(h.net.deleteCalls().size(), 3u);
    gui.runAll();  // the open-files table is emptied on the GUI thread
    a.agent.stop();
}

TEST(SessionMonitorAgentHost, WithoutHistoryTheReportIsMissingAndBoxesAreShownOnTheGuiThread)
{
    MonitorHarness h;
    Posted gui;
    SessionMonitorAgentHost host(h.monitor, [&](std::function<void()> fn) { gui.post(std::move(fn)); });
    EXPECT_EQ(host.generateReport(), std::filesystem::path{});
    host.deleteLogs();
    EXPECT_EQ(host.snapshot(), h.monitor.snapshot());

    host.showBox({"Error", "Can't create socket!", BoxIcon::Error, BoxButtons::Ok});
    EXPECT_TRUE(h.boxes.shown.empty());
    gui.runAll();
    ASSERT_EQ(h.boxes.shown.size(), 1u);
    EXPECT_EQ(h.boxes.shown[0].text, "Can't create socket!");

    SessionMonitorAgentHost direct(h.monitor, {});
    direct.showBox({"Error", "x", BoxIcon::Information, BoxButtons::Ok});
    EXPECT_EQ(h.boxes.shown.size(), 2u);
}

TEST(SessionMonitorAgentHost, AReportThatCannotBeWrittenIsNeitherEmptyNorSilent)
{
    if (!faultsCanBeInjected())
        GTEST_SKIP() << "no fault injection here";
    MonitorHarness h;
    Posted gui;
    SessionMonitorAgentHost host(h.monitor, [&](std::function<void()> fn) { gui.post(std::move(fn)); });
    host.useHistoryReport(h.dir.path(), h.clock);
    h.dir.write("users.log", "1110204309 alice pc1 10\n");

    LoopbackAgent a(host);
    ASSERT_TRUE(a.agent.commandActive());
    auto& client = *a.client;

    {
        // No report yet and none can be made: the console hears "no report", not an empty page.
        DiskFull full(h.dir.path());
        std::ostringstream page;
        const auto none = client.report("127.0.0.1", page);
        EXPECT_FALSE(none);
        EXPECT_TRUE(page.str().empty());
    }
    std::ostringstream first;
    ASSERT_TRUE(client.report("127.0.0.1", first)) << "a report once the disk has room";
    EXPECT_NE(first.str().find("alice"), std::string::npos);

    h.dir.write("users.log", "1110204309 alice pc1 10\n1110204400 bob pc2 10\n");
    {
        // The previous report stands whole and is what the console gets.
        DiskFull full(h.dir.path(), 512);
        for (int i = 0; i < 2; ++i) {
            std::ostringstream page;
            ASSERT_TRUE(client.report("127.0.0.1", page));
            EXPECT_EQ(page.str(), first.str());
        }
    }
    a.agent.stop();
    gui.runAll();
    // The user learns why, once for the same reason however many consoles ask.
    ASSERT_EQ(h.boxes.shown.size(), 2u);
    for (const auto& box : h.boxes.shown) {
        EXPECT_EQ(box.icon, BoxIcon::Error);
        EXPECT_NE(box.text.find("report.html"), std::string::npos) << box.text;
    }
}
