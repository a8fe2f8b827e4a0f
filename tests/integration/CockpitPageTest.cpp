// The Cockpit page as an administrator uses it: Debian's cockpit-ws and its bridge run as a real
// account, on a private system bus with Debian's polkitd, against vantord and a private smbd;
// Debian's Chromium, driven headless by playwright-core, shows Cockpit's shell with the page in it.
// What the page shows is checked against Samba's own view, and what it does against Samba's state.

#include "FreePort.h"
#include "PrivateSystemBus.h"
#include "SambaFixture.h"
#include "bus/MonitorBusClient.h"
#include "platform/Process.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <systemd/sd-bus.h>

#include <cstdio>
#include <functional>

#include <grp.h>
#include <pwd.h>
#include <thread>
#include <unistd.h>

using namespace vantor;
using namespace vantor::samba;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Json = nlohmann::json;

namespace {

constexpr const char* cockpitWs = "/usr/lib/cockpit/cockpit-ws";
constexpr const char* chromium = "/usr/bin/chromium";
constexpr auto pollInterval = 3s;

template <class Pred> bool waitUntil(Pred done, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(150ms);
    }
    return true;
}

// The rows the page's sessions table shows, "user@computer", sorted.
const std::string shownRows = "[...document.querySelectorAll('table[aria-label=\"Sessions\"] tbody tr[data-i]')]"
                              ".map(r => r.cells[0].textContent + '@' + r.cells[1].textContent).sort()";

class CockpitPageTest : public test::SambaFixture {
protected:
    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root: accounts, the rules of polkit and smbstatus";
        if (!test::PrivateSystemBus::available())
            GTEST_SKIP() << "needs dbus-daemon and polkitd (scripts/install-deps.sh installs them)";
        if (!fs::exists(cockpitWs) || !fs::exists(chromium) || !fs::exists("/usr/share/cockpit/shell"))
            GTEST_SKIP() << "needs cockpit-ws, cockpit-bridge, cockpit-system and chromium (scripts/install-deps.sh "
                            "installs them)";
        if (!fs::exists(fs::path(VANTOR_COCKPIT_WORK) / "node_modules/playwright-core"))
            GTEST_SKIP() << "the page was not built (npm missing when configured)";
        if (findProgram("smbd").find('/') == std::string::npos)
            GTEST_SKIP() << "needs Samba's smbd and smbclient";

        PrivateSambaServer::Options options;
        options.shares = {"docs"};
        server = std::make_unique<PrivateSambaServer>(options);
        std::string error;
        ASSERT_TRUE(server->start(error)) << error;
        for (const char* name : {"alice", "bob", "carol", "dave", "eve", "frank"}) {
            accounts[name] = server->addUser(name, std::string("pw-") + name, error);
            ASSERT_FALSE(accounts[name].empty()) << error;
        }
        std::ofstream(server->sharePath("docs") / "a.txt") << "content\n";
        forwarder = std::make_unique<TcpForwarder>("127.0.0.2", server->port());
        ASSERT_TRUE(forwarder->start(error)) << error;

        // The page where the bridge looks for packages, in a folder every account may read.
        web = dataDir.path() / "web";
        fs::create_directories(web / "cockpit");
        fs::copy(fs::path(VANTOR_COCKPIT_WORK) / "dist", web / "cockpit/vantor", fs::copy_options::recursive);
        fs::permissions(dataDir.path(), fs::perms::others_exec | fs::perms::group_exec, fs::perm_options::add);
        for (const auto& entry : fs::recursive_directory_iterator(web))
            fs::permissions(entry.path(), fs::perms::others_read | fs::perms::others_exec | fs::perms::group_read,
                            fs::perm_options::add);

        // The rule the example suggests, given to alice; frank may look but not change; everyone
        // else is refused.
        rules = std::make_unique<test::PlacedFile>(rulesFile, rulesFor(accounts["frank"]));
        bus = std::make_unique<test::PrivateSystemBus>();
        ASSERT_TRUE(bus->start(dataDir.path(), VANTOR_SOURCE_DIR, error)) << error;
        root = MonitorBusClient::connect(bus->address(), error);
        ASSERT_TRUE(root) << error;
        fs::create_directories(VANTOR_TEST_ARTIFACTS);
    }

    void TearDown() override
    {
        browser.stop(3s);
        cockpit.stop();
        service.stop();
        root.reset();
        bus.reset();
        rules.reset();
        SambaFixture::TearDown();
    }

    void startService()
    {
        ChildProcess::Options o;
        o.outputFile = (dataDir.path() / "vantord.log").string();
        std::string error;
        ASSERT_TRUE(service.start({VANTORD_PROGRAM, "--config", (dataDir.path() / "vantor.conf").string(), "--data-dir",
                                   (dataDir.path() / "data").string(), "--samba-config", server->configFile().string(),
                                   "--command-port", std::to_string(test::freeTcpPort()), "--discovery-port",
                                   std::to_string(test::freeUdpPort()), "--listen", "127.0.0.1"},
                                  o, error))
            << error;
        ASSERT_TRUE(waitUntil([&] { return root->serviceRunning() || !service.running(); }, 20s));
        ASSERT_TRUE(root->serviceRunning()) << test::readWholeFile(dataDir.path() / "vantord.log");
    }

    // cockpit-ws on a free loopback port, its bridge as `account` (no login: the session is local).
    // The account gets folders of its own in place of this test's XDG ones, which only root may
    // enter: the bridge reads manifest overrides from its XDG_CONFIG_HOME and dies on a refusal
    // (Cockpit 337), and without a bridge cockpit-ws answers 401.
    void startCockpitAs(const std::string& account)
    {
        const passwd* pw = ::getpwnam(account.c_str());
        ASSERT_NE(pw, nullptr);
        const fs::path home = dataDir.path() / ("home-" + account);
        fs::create_directories(home);
        ASSERT_EQ(::chown(home.c_str(), pw->pw_uid, pw->pw_gid), 0);
        port = test::freeTcpPort();
        ChildProcess::Options o;
        o.newSession = true;
        o.outputFile = (dataDir.path() / "cockpit-ws.log").string();
        std::string error;
        ASSERT_TRUE(cockpit.start({"/usr/bin/setpriv",
                                   "--reuid=" + account,
                                   "--regid=" + std::to_string(pw->pw_gid),
                                   "--init-groups",
                                   "/usr/bin/env",
                                   "-u",
                                   "XDG_RUNTIME_DIR",
                                   "HOME=" + home.string(),
                                   "XDG_CONFIG_HOME=" + (home / ".config").string(),
                                   "XDG_DATA_HOME=" + (home / ".local/share").string(),
                                   "XDG_CACHE_HOME=" + (home / ".cache").string(),
                                   "XDG_STATE_HOME=" + (home / ".local/state").string(),
                                   "XDG_DATA_DIRS=" + web.string() + ":/usr/share",
                                   "DBUS_SYSTEM_BUS_ADDRESS=" + bus->address(),
                                   cockpitWs,
                                   "--address",
                                   "127.0.0.1",
                                   "--port",
                                   std::to_string(port),
                                   "--local-session=cockpit-bridge"},
                                  o, error))
            << error;
        int startError = 0;
        ASSERT_TRUE(browser.start({VANTOR_NODE, std::string(VANTOR_COCKPIT_WORK) + "/test/driver.mjs"}, startError))
            << startError;
    }

    // One command to the browser; its answer's value, or a failure of the test.
    Json page(const std::string& command, std::chrono::milliseconds limit = 60s)
    {
        const auto reply = browser.exchange(command, limit);
        if (reply.outcome != LineHelper::Reply::Outcome::Line) {
            ADD_FAILURE() << command << ": the browser gave no answer\n" << browser.errorOutput();
            return {};
        }
        const Json answer = Json::parse(reply.line, nullptr, false);
        if (answer.is_discarded() || !answer.contains("ok")) {
            ADD_FAILURE() << command << ": " << reply.line;
            return {};
        }
        return answer["ok"];
    }

    std::string openPage()
    {
        return page("open http://127.0.0.1:" + std::to_string(port) + "/vantor").get<std::string>();
    }

    std::vector<std::string> sambaRows()
    {
        std::vector<std::string> rows;
        for (const auto& s : sambaSessions())
            rows.push_back(s.user + "@" + s.computer);
        std::sort(rows.begin(), rows.end());
        return rows;
    }

    std::vector<std::string> pageRows()
    {
        const Json rows = page("eval " + shownRows);
        return rows.is_array() ? rows.get<std::vector<std::string>>() : std::vector<std::string>{};
    }

    bool sambaHasSessionOf(const std::string& user)
    {
        for (const auto& s : sambaSessions())
            if (s.user == user)
                return true;
        return false;
    }

    void selectRowOf(const std::string& user)
    {
        EXPECT_TRUE(page("eval (() => { const r = [...document.querySelectorAll('table[aria-label=\"Sessions\"] tbody "
                         "tr[data-i]')]"
                         ".find(r => r.cells[0].textContent === '"
                         + user + "'); if (r) r.click(); return !!r; })()")
                        .get<bool>())
            << user;
    }

    void shot(const std::string& name, int width, int height)
    {
        page("viewport " + std::to_string(width) + " " + std::to_string(height));
        std::this_thread::sleep_for(300ms);  // the layout settles
        page("shot " + (fs::path(VANTOR_TEST_ARTIFACTS) / name).string());
    }

    // alice may do everything; `viewer` may look; this test's other accounts are refused. Nobody
    // else's is decided here: the bus tests beside this one have polkitds and rules of their own,
    // and every polkitd reads every file.
    std::string rulesFor(const std::string& viewer)
    {
        std::string mine;
        for (const auto& [hint, name] : accounts)
            mine += (mine.empty() ? "\"" : ", \"") + name + "\"";
        return "polkit.addRule(function(action, subject) {\n"
               "    if (action.id.indexOf(\"org.vantor.monitor.\") != 0 || ["
               + mine
               + "].indexOf(subject.user) < 0)\n"
                 "        return polkit.Result.NOT_HANDLED;\n"
                 "    if (subject.user == \""
               + accounts["alice"]
               + "\")\n"
                 "        return polkit.Result.YES;\n"
                 "    if (subject.user == \""
               + viewer
               + "\" && action.id == \"org.vantor.monitor.view\")\n"
                 "        return polkit.Result.YES;\n"
                 "    return polkit.Result.NO;\n"
                 "});\n";
    }

    // A view of the sessions the page's user asks for on its own, through Cockpit's bridge: "ok",
    // or the error's name.
    std::string viewCall()
    {
        // cockpit.js answers with a promise of its own, which await takes and the driver would not.
        const Json answer =
            page("eval (async () => { try { await cockpit.dbus('org.vantor.Monitor1', {bus: 'system'})"
                 ".call('/org/vantor/Monitor', 'org.vantor.Monitor1', 'GetSessionsChanges', ['']); return 'ok'; }"
                 " catch (e) { return e.name || String(e); } })()");
        return answer.is_string() ? answer.get<std::string>() : answer.dump();
    }

    // The text of the page's notice line (what a change it was asked for came to).
    std::string notice()
    {
        return page("eval (document.querySelector('[role=status] .pf-v6-c-alert__title') || {}).textContent || ''")
            .get<std::string>();
    }

    // polkit's rules replaced at once (polkitd reloads them at every change it sees in the folder).
    void replaceRules(const std::string& text)
    {
        const std::string next = "/etc/polkit-1/.vantor-cockpit-test-" + std::to_string(::getpid()) + ".rules";
        std::ofstream(next) << text;
        ASSERT_EQ(std::rename(next.c_str(), rulesFile.c_str()), 0);
    }

    const std::string rulesFile =
        "/etc/polkit-1/rules.d/10-vantor-cockpit-test-" + std::to_string(::getpid()) + ".rules";
    std::map<std::string, std::string> accounts;
    fs::path web;
    int port = 0;
    std::unique_ptr<test::PlacedFile> rules;
    std::unique_ptr<test::PrivateSystemBus> bus;
    std::unique_ptr<MonitorBusClient> root;
    ChildProcess service;
    ChildProcess cockpit;
    LineHelper browser;
};

TEST_F(CockpitPageTest, TheAllowedUserSeesTheSessionsAndClosesAndBlackListsThem)
{
    auto& carol = connect(accounts["carol"], "pw-carol", false);
    ASSERT_TRUE(carol.open("a.txt"));
    connect(accounts["dave"], "pw-dave", true);
    startService();
    startCockpitAs(accounts["alice"]);
    ASSERT_EQ(openPage(), "sessions") << test::readWholeFile(dataDir.path() / "cockpit-ws.log");

    // What Samba sees, the page shows; the selected session's files come with it.
    std::vector<std::string> rows;
    ASSERT_TRUE(waitUntil([&] { return (rows = pageRows()) == sambaRows() && rows.size() == 2; }, 15s))
        << testing::PrintToString(rows) << " vs " << testing::PrintToString(sambaRows());
    selectRowOf(accounts["carol"]);
    std::string files;
    EXPECT_TRUE(waitUntil(
        [&] {
            files =
                page("eval document.querySelector('table[aria-label=\"Open files of the session\"] tbody').textContent")
                    .get<std::string>();
            return files.find("a.txt") != std::string::npos;
        },
        10s))
        << files;
    EXPECT_NE(page("eval document.querySelector('.vt-status').textContent").get<std::string>().find("running"),
              std::string::npos);
    shot("cockpit-page-desktop.png", 1280, 800);

    // The user asks for notifications in this browser: refused while the browser does not allow
    // them, kept once the user allows them. Every notification the page makes is recorded.
    page("tab Options");
    page("eval document.getElementById('vt-notify').click()");
    EXPECT_TRUE(waitUntil([&] { return notice() == "The browser does not allow notifications for this page."; }, 10s))
        << notice();
    EXPECT_FALSE(page("eval document.getElementById('vt-notify').checked").get<bool>());
    page("permit notifications");
    EXPECT_EQ(page("eval (() => { const Real = window.Notification; window.vtShown = []; window.Notification = class "
                   "extends Real {"
                   " constructor(title, options) { super(title, options); window.vtShown.push({title, body: "
                   "options.body}); } };"
                   " return Notification.permission; })()"),
              "granted");
    page("eval document.getElementById('vt-notify').click()");
    EXPECT_TRUE(waitUntil([&] { return page("eval localStorage.getItem('vantor:notify')") == "1"; }, 10s));
    EXPECT_TRUE(page("eval document.getElementById('vt-notify').checked").get<bool>());
    page("tab Sessions");

    // A newcomer is on the page after the next poll, with nothing done on the page, and the
    // browser shows a notification of the new user.
    const auto arrived = std::chrono::steady_clock::now();
    connect(accounts["eve"], "pw-eve", false);
    EXPECT_TRUE(waitUntil(
        [&] {
            rows = pageRows();
            return std::find(rows.begin(), rows.end(), accounts["eve"] + "@127.0.0.1") != rows.end();
        },
        pollInterval + 2s))
        << testing::PrintToString(rows);
    std::cout
        << "newcomer shown after "
        << std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - arrived).count()
        << " ms\n";
    Json shown;
    EXPECT_TRUE(waitUntil([&] { return !(shown = page("eval window.vtShown")).empty(); }, 5s));
    EXPECT_EQ(shown, Json::parse(R"([{"title": "New user on the shares", "body": ")" + accounts["eve"]
                                 + R"( from 127.0.0.1"}])"))
        << shown.dump();

    // Closed from the page: gone from Samba and from the table.
    selectRowOf(accounts["eve"]);
    page("click Close session");
    EXPECT_TRUE(waitUntil([&] { return !sambaHasSessionOf(accounts["eve"]); }, 15s));
    EXPECT_TRUE(waitUntil([&] { return pageRows() == sambaRows(); }, 10s)) << testing::PrintToString(pageRows());

    // dave's user on the black list: the service closes his session at its next poll. His row is
    // chosen with the keyboard, from carol's just above it.
    selectRowOf(accounts["carol"]);
    page("key ArrowDown");
    EXPECT_EQ(
        page(
            "eval document.querySelector('table[aria-label=\"Sessions\"] tr[aria-selected=true]').cells[0].textContent")
            .get<std::string>(),
        accounts["dave"]);
    page("eval document.querySelector('select[aria-label=\"What to add to a list\"]').value = 'user'");
    page("click Black list");
    std::string notice;
    EXPECT_TRUE(waitUntil(
        [&] {
            notice =
                page("eval (document.querySelector('[role=status] .pf-v6-c-alert__title') || {}).textContent || ''")
                    .get<std::string>();
            return notice == "Added " + accounts["dave"] + " <Any> to the black list.";
        },
        10s))
        << notice;
    EXPECT_TRUE(waitUntil([&] { return !sambaHasSessionOf(accounts["dave"]); }, 15s));
    EXPECT_TRUE(waitUntil(
        [&] {
            rows = pageRows();
            return rows == std::vector<std::string>{accounts["carol"] + "@127.0.0.1"};
        },
        10s))
        << testing::PrintToString(rows);

    // The lists tab shows the entry the button wrote.
    page("tab Lists");
    EXPECT_TRUE(waitUntil(
        [&] {
            return page("eval document.querySelector('table[aria-label=\"Black list\"] tbody').textContent")
                       .get<std::string>()
                   == accounts["dave"] + "<Any>Remove";
        },
        10s));
    // Both ended sessions are in the history, with what the service recorded of them (users.log
    // keeps a name's '_' as its blank).
    page("tab History");
    auto logged = [](std::string name) {
        std::replace(name.begin(), name.end(), '_', ' ');
        return name;
    };
    std::string history;
    EXPECT_TRUE(waitUntil(
        [&] {
            page("click Apply");
            history = page("eval document.querySelector('table[aria-label=\"Sessions history\"] tbody').textContent")
                          .get<std::string>();
            return history.find(logged(accounts["eve"])) != std::string::npos
                   && history.find(logged(accounts["dave"])) != std::string::npos;
        },
        15s))
        << history;
    shot("cockpit-page-history.png", 1280, 800);
    // The report, opened and saved: the page the service wrote, with its sessions drawn.
    const Json opened = page("popup Open report");
    ASSERT_TRUE(opened.is_object());
    const std::string reportText = opened["text"].get<std::string>();
    EXPECT_NE(reportText.find("Sessions 1\u20132 of 2"), std::string::npos) << reportText;
    const Json saved = page("download Download report");
    ASSERT_TRUE(saved.is_object());
    EXPECT_EQ(saved["name"], "report.html");
    EXPECT_GT(saved["size"].get<int>(), 1000);
    // Cockpit's dark style, as its shell's menu sets it.
    page("eval localStorage.setItem('shell:style', 'dark'); window.dispatchEvent(new CustomEvent('cockpit-style', "
         "{detail: {style: 'dark'}}))");
    EXPECT_TRUE(page("eval document.documentElement.classList.contains('pf-v6-theme-dark')").get<bool>());
    page("tab Options");
    EXPECT_TRUE(
        waitUntil([&] { return page("eval document.querySelectorAll('[data-key]').length").get<int>() > 10; }, 10s));
    shot("cockpit-page-options-dark.png", 1280, 800);
    page("tab Sessions");
    selectRowOf(accounts["carol"]);
    shot("cockpit-page-phone-dark.png", 390, 844);
    page("eval localStorage.setItem('shell:style', 'light'); window.dispatchEvent(new CustomEvent('cockpit-style', "
         "{detail: {style: 'light'}}))");
    EXPECT_FALSE(page("eval document.documentElement.classList.contains('pf-v6-theme-dark')").get<bool>());
    shot("cockpit-page-phone.png", 390, 844);
    // The service goes: the page says so, and what to ask for, instead of a broken table.
    service.stop();
    std::string status;
    EXPECT_TRUE(waitUntil(
        [&] {
            status = page("eval document.querySelector('.vt-status').textContent + "
                          "document.querySelector('[role=alert]').textContent")
                         .get<std::string>();
            return status.find("not running") != std::string::npos
                   && status.find("systemctl start vantord") != std::string::npos;
        },
        20s))
        << status;
    const Json log = page("log");
    for (const auto& line : log)
        EXPECT_EQ(line.get<std::string>().find("pageerror"), std::string::npos) << line;
}

// Waits for polkitd to announce that its authority changed (it reloaded its rules).
bool polkitChanged(const std::string& address, const std::function<void()>& change)
{
    sd_bus* bus = nullptr;
    bool heard = false;
    if (sd_bus_new(&bus) < 0 || sd_bus_set_address(bus, address.c_str()) < 0 || sd_bus_set_bus_client(bus, 1) < 0
        || sd_bus_start(bus) < 0
        || sd_bus_match_signal(
               bus, nullptr, nullptr, "/org/freedesktop/PolicyKit1/Authority", "org.freedesktop.PolicyKit1.Authority",
               "Changed",
               [](sd_bus_message*, void* flag, sd_bus_error*) {
                   *static_cast<bool*>(flag) = true;
                   return 0;
               },
               &heard)
               < 0) {
        sd_bus_flush_close_unref(bus);
        return false;
    }
    change();
    const auto end = std::chrono::steady_clock::now() + 15s;
    while (!heard && std::chrono::steady_clock::now() < end)
        if (sd_bus_process(bus, nullptr) == 0)
            sd_bus_wait(bus, 200'000);
    sd_bus_flush_close_unref(bus);
    return heard;
}

TEST_F(CockpitPageTest, WhatAUserSeesAndDoesFollowsTheirRights)
{
    connect(accounts["carol"], "pw-carol", false);
    startService();

    // Without the view right: the refusal and what to ask for, and nothing of the sessions.
    startCockpitAs(accounts["bob"]);
    ASSERT_EQ(openPage(), "refused");
    std::string text = page("eval document.querySelector('[role=alert]').textContent").get<std::string>();
    EXPECT_NE(text.find("org.vantor.monitor.view"), std::string::npos) << text;
    EXPECT_NE(text.find("ask the administrator"), std::string::npos) << text;
    EXPECT_TRUE(page("eval document.querySelector('[role=tablist]').closest('[hidden]') !== null").get<bool>());
    shot("cockpit-page-refused.png", 1280, 500);
    browser.stop(3s);
    cockpit.stop();

    // With the view right but not the manage right: the sessions, and a close refused in one line
    // that names the right to ask for; the session stays and the page stays as it was.
    startCockpitAs(accounts["frank"]);
    ASSERT_EQ(openPage(), "sessions") << test::readWholeFile(dataDir.path() / "cockpit-ws.log");
    std::vector<std::string> rows;
    ASSERT_TRUE(waitUntil([&] { return (rows = pageRows()) == sambaRows() && rows.size() == 1; }, 15s))
        << testing::PrintToString(rows);
    selectRowOf(accounts["carol"]);
    page("click Close session");
    EXPECT_TRUE(waitUntil([&] { return !notice().empty(); }, 10s));
    text = notice();
    EXPECT_EQ(text.find('\n'), std::string::npos) << text;
    EXPECT_NE(text.find("You are not allowed to change"), std::string::npos) << text;
    EXPECT_NE(text.find("org.vantor.monitor.manage"), std::string::npos) << text;
    EXPECT_NE(text.find("ask the administrator"), std::string::npos) << text;
    EXPECT_TRUE(sambaHasSessionOf(accounts["carol"]));
    EXPECT_EQ(pageRows(), rows);
    EXPECT_EQ(page("eval document.querySelector('[role=alert]').textContent").get<std::string>(), "");
    shot("cockpit-page-view-only.png", 1280, 800);

    // The view right taken away: refused at once, though the service had a yes from polkit for
    // this caller a moment ago (it keeps one a few seconds, and drops them when polkit changes).
    const auto kept = std::chrono::steady_clock::now();
    ASSERT_EQ(viewCall(), "ok");
    ASSERT_TRUE(polkitChanged(bus->address(), [&] { replaceRules(rulesFor("")); }));
    EXPECT_EQ(viewCall(), "org.vantor.Monitor1.Error.NotAuthorized");
    EXPECT_LT(std::chrono::steady_clock::now() - kept, 4s) << "too late to tell a kept yes from polkit's new no";
    // And given back: at once too, as a no is never kept.
    ASSERT_TRUE(polkitChanged(bus->address(), [&] { replaceRules(rulesFor(accounts["frank"])); }));
    EXPECT_EQ(viewCall(), "ok");
}

}  // namespace
