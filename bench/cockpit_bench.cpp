// The Cockpit page at work: the engine with an in-memory server exported on a private system bus
// with Debian's polkitd, Debian's cockpit-ws and bridge on a loopback port, and the page in
// Debian's Chromium driven headless by playwright-core. Root only (polkitd and its actions).
//
//   drawing 10,000 sessions until they are on the screen          goal: at most 200 ms
//   from the signal of a change to the page showing it            goal: within 100 ms
//   the page's own code and styles, compressed (gzip -9)          goal: under 300 KB
// and where a change's time goes: polkit's check (for root, as the bench's Cockpit runs, and for
// another user, whose check runs polkit's rules), the service's JSON, the call on the bus alone
// and through Cockpit's bridge, and the page's parsing and drawing.

#include "FreePort.h"
#include "PrivateSystemBus.h"
#include "TempDir.h"
#include "bus/BusNames.h"
#include "bus/MonitorBusService.h"
#include "bus/PageView.h"
#include "engine/Engine.h"
#include "platform/Clock.h"
#include "platform/MessageBoxes.h"
#include "platform/Process.h"
#include "demo/FakeNetManagement.h"

#include <nlohmann/json.hpp>
#include <systemd/sd-bus.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <iostream>
#include <thread>
#include <unistd.h>

using namespace vantor;
namespace fs = std::filesystem;
using Json = nlohmann::json;

namespace {

constexpr int rowCount = 10'000;
constexpr int runs = 10;

void report(const std::string& what, std::vector<double> figures, double goal)
{
    if (figures.empty()) {
        std::cout << what << ": no figure (goal " << goal << " ms): not met\n";
        return;
    }
    std::sort(figures.begin(), figures.end());
    const double median = figures[figures.size() / 2];
    const double worst = figures.back();
    std::cout << what << ": median " << median << " ms, worst " << worst << " ms (goal " << goal
              << " ms): " << (worst <= goal ? "met" : "not met") << "\n";
}

double wallMs()
{
    return std::chrono::duration<double, std::milli>(std::chrono::system_clock::now().time_since_epoch()).count();
}

std::vector<FakeSession> sessions(int count)
{
    std::vector<FakeSession> out;
    for (int i = 0; i < count; ++i) {
        FakeSession s{
            "user" + std::to_string(i), "10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250), {}, {}, {}};
        s.details.shares = {"docs", "home"};
        s.details.dialect = "SMB3_11";
        s.details.encryption = "none";
        s.details.signing = "AES-128-GMAC";
        s.details.processId = 1000 + i;
        s.details.connectedAt = 1'760'000'000 + i;
        out.push_back(std::move(s));
    }
    return out;
}

struct Failure {
    std::string text;
};

double sinceMs(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

void part(const std::string& what, std::vector<double> figures)
{
    if (figures.empty()) {
        std::cout << "  " << what << ": no figure\n";
        return;
    }
    std::sort(figures.begin(), figures.end());
    std::cout << "  " << what << ": median " << figures[figures.size() / 2] << " ms, worst " << figures.back()
              << " ms\n";
}

// A connection of the bench's own to the private bus, as root.
struct BusCaller {
    sd_bus* bus = nullptr;
    explicit BusCaller(const std::string& address)
    {
        if (sd_bus_new(&bus) < 0 || sd_bus_set_address(bus, address.c_str()) < 0 || sd_bus_set_bus_client(bus, 1) < 0
            || sd_bus_start(bus) < 0)
            throw Failure{"the bench cannot reach its bus"};
    }
    ~BusCaller() { sd_bus_flush_close_unref(bus); }

    // The time of one call of the service's with a string argument (none when empty) and a string reply.
    double call(const char* method, const char* argument, std::string* answer = nullptr)
    {
        sd_bus_error error = SD_BUS_ERROR_NULL;
        sd_bus_message* reply = nullptr;
        const auto start = std::chrono::steady_clock::now();
        const int r = argument ? sd_bus_call_method(bus, bus::serviceName, bus::objectPath, bus::interfaceName, method,
                                                    &error, &reply, "s", argument)
                               : sd_bus_call_method(bus, bus::serviceName, bus::objectPath, bus::interfaceName, method,
                                                    &error, &reply, "");
        const char* text = nullptr;
        const bool ok = r >= 0 && sd_bus_message_read(reply, "s", &text) >= 0;
        const double ms = sinceMs(start);
        if (ok && answer)
            *answer = text;
        const std::string why = error.message ? error.message : "";
        sd_bus_error_free(&error);
        sd_bus_message_unref(reply);
        if (!ok)
            throw Failure{std::string(method) + ": " + why};
        return ms;
    }

    // The time of polkit's check of the view for a process.
    double checkProcess(pid_t pid)
    {
        sd_bus_error error = SD_BUS_ERROR_NULL;
        sd_bus_message* reply = nullptr;
        const auto start = std::chrono::steady_clock::now();
        const int r = sd_bus_call_method(bus, "org.freedesktop.PolicyKit1", "/org/freedesktop/PolicyKit1/Authority",
                                         "org.freedesktop.PolicyKit1.Authority", "CheckAuthorization", &error, &reply,
                                         "(sa{sv})sa{ss}us", "unix-process", 2, "pid", "u", static_cast<uint32_t>(pid),
                                         "start-time", "t", uint64_t(0), bus::viewAction, 0, uint32_t(0), "");
        const double ms = sinceMs(start);
        const std::string why = error.message ? error.message : "";
        sd_bus_error_free(&error);
        sd_bus_message_unref(reply);
        if (r < 0)
            throw Failure{"polkit's check: " + why};
        return ms;
    }
};

}  // namespace

int main()
{
    if (::geteuid() != 0 || !test::PrivateSystemBus::available() || !fs::exists("/usr/lib/cockpit/cockpit-ws")
        || !fs::exists("/usr/bin/chromium")) {
        std::cout << "cockpit bench: needs root, dbus-daemon, polkitd, cockpit-ws and chromium; not run\n";
        return 0;
    }
    test::TempDir dir;
    test::PrivateSystemBus bus;
    std::string error;
    if (!bus.start(dir.path(), VANTOR_SOURCE_DIR, error)) {
        std::cerr << "cockpit bench: " << error << "\n";
        return 1;
    }

    FakeNetManagement net;
    net.setSessions(sessions(rowCount));
    RecordingMessageBoxes boxes;
    EngineOptions options;
    options.history = false;
    options.pollInterval = std::chrono::hours(1);  // the bench polls when it wants
    Engine engine({net, boxes, SystemClock::instance(), dir.path(), nullptr}, options);
    engine.start();
    MonitorBusService face(engine, {bus.address(), {}});
    if (const std::string e = face.start(); !e.empty()) {
        std::cerr << "cockpit bench: " << e << "\n";
        return 1;
    }
    // When each poll is done on the service's side, just before the signal goes out.
    std::atomic<double> polledAt{0};
    auto told = engine.onPollFinished;
    engine.onPollFinished = [&] {
        polledAt = wallMs();
        told();
    };
    std::thread loop([&] { engine.loop().run(); });
    engine.loop().post([&] { engine.poll(); });

    const fs::path web = dir.path() / "web";
    fs::create_directories(web / "cockpit");
    fs::copy(fs::path(VANTOR_COCKPIT_WORK) / "dist", web / "cockpit/vantor", fs::copy_options::recursive);
    const int port = test::freeTcpPort();
    ChildProcess cockpit;
    ChildProcess::Options o;
    o.newSession = true;
    o.outputFile = (dir.path() / "cockpit-ws.log").string();
    LineHelper browser;
    int startError = 0;
    std::vector<double> draws, bigChanges, smallChanges, bigFetches, smallFetches, signals, smallSignals, bigDraws,
        smallDraws;
    std::vector<double> bigSignals, bigParses, smallParses, rootChecks, userChecks, tableJson, changeJson, busTable,
        busChange, cockpitTable;
    std::vector<double> busSignals;
    int fullFetches = 0;
    double wholeParse = -1;
    double originOff = 0;
    try {
        if (!cockpit.start({"/usr/bin/env", "XDG_DATA_DIRS=" + web.string() + ":/usr/share",
                            "/usr/lib/cockpit/cockpit-ws", "--address", "127.0.0.1", "--port", std::to_string(port),
                            "--local-session=cockpit-bridge"},
                           o, error))
            throw Failure{error};
        if (!browser.start({VANTOR_NODE, std::string(VANTOR_COCKPIT_WORK) + "/test/driver.mjs"}, startError))
            throw Failure{"the browser's driver did not start"};
        auto page = [&](const std::string& command) {
            const auto reply = browser.exchange(command, std::chrono::seconds(60));
            const Json answer =
                reply.outcome == LineHelper::Reply::Outcome::Line ? Json::parse(reply.line, nullptr, false) : Json();
            if (!answer.is_object() || !answer.contains("ok"))
                throw Failure{command.substr(0, 40) + ": " + (reply.line.empty() ? browser.errorOutput() : reply.line)};
            return answer["ok"];
        };
        page("open http://127.0.0.1:" + std::to_string(port) + "/cockpit/@localhost/vantor/index.html");
        auto waitForRows = [&](int rows, double after) {
            const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
            while (std::chrono::steady_clock::now() < end) {
                const Json t = page("eval vantorTimes()");
                if (t["rows"].get<int>() == rows && t["paintedAt"].get<double>() >= after)
                    return t;
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            throw Failure{"the page never showed " + std::to_string(rows) + " rows"};
        };
        const Json first = waitForRows(rowCount, 0);
        wholeParse = first["fullParseMs"].get<double>();
        originOff = first["originOff"].get<double>();

        for (int i = 0; i < runs; ++i)
            draws.push_back(page("eval vantorRedraw()").get<double>());

        // The parts one by one, at 10,000 sessions. polkit, for root (the bench's own connection)
        // and for a process of another user.
        BusCaller caller(bus.address());
        ChildProcess other;
        ChildProcess::Options quiet;
        if (!other.start(
                {"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "/bin/sleep", "60"}, quiet,
                error))
            throw Failure{error};
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        for (int i = 0; i < runs; ++i) {
            rootChecks.push_back(caller.checkProcess(::getpid()));
            userChecks.push_back(caller.checkProcess(other.pid()));
        }
        other.stop();
        // The service's JSON of the table, and of a change of one row.
        const SessionsSnapshotPtr now = engine.monitor().snapshot();
        SessionsSnapshot older = *now;
        older.rows.pop_back();
        for (int i = 0; i < runs; ++i) {
            auto start = std::chrono::steady_clock::now();
            const std::string whole = bus::sessionsJson(*now);
            tableJson.push_back(sinceMs(start));
            start = std::chrono::steady_clock::now();
            const std::string change = bus::sessionsChangeJson(&older, *now, "v");
            changeJson.push_back(sinceMs(start));
        }
        // The calls on the bus alone (the first asks polkit, the rest find its yes kept), and the
        // whole table through Cockpit's bridge and the browser's WebSocket.
        std::string answer;
        caller.call("GetSessionsChanges", "", &answer);
        const std::string version = Json::parse(answer)["version"];
        for (int i = 0; i < runs; ++i) {
            busTable.push_back(caller.call("GetSessionsJson", nullptr));
            busChange.push_back(caller.call("GetSessionsChanges", version.c_str()));
            cockpitTable.push_back(
                page("eval (async () => { const c = cockpit.dbus('org.vantor.Monitor1', {bus: 'system'}); "
                     "const t = performance.now(); await c.call('/org/vantor/Monitor', 'org.vantor.Monitor1', "
                     "'GetSessionsJson', []); const ms = performance.now() - t; c.close(); return ms; })()")
                    .get<double>());
        }

        // Where a change's time goes: the call that fetches the rows (through the bridge, polkit
        // and the service), and drawing them.
        // The signal's way to a plain client on the bus, beside the page's through Cockpit.
        std::atomic<double> heardAt{0};
        BusCaller listener(bus.address());
        sd_bus_match_signal(
            listener.bus, nullptr, nullptr, bus::objectPath, bus::interfaceName, "SessionsChanged",
            [](sd_bus_message*, void* at, sd_bus_error*) {
                *static_cast<std::atomic<double>*>(at) = wallMs();
                return 0;
            },
            &heardAt);
        std::jthread listen([&](std::stop_token stop) {
            while (!stop.stop_requested())
                if (sd_bus_process(listener.bus, nullptr) == 0)
                    sd_bus_wait(listener.bus, 50'000);
        });
        auto changes = [&](int base, std::vector<double>& into, std::vector<double>& fetches) {
            signals.clear();
            for (int i = 0; i < runs; ++i) {
                net.addSession("newcomer" + std::to_string(base + i), "10.1.0." + std::to_string(i));
                const double before = wallMs();
                engine.loop().post([&] { engine.poll(); });
                const Json shown = waitForRows(base + i + 1, before);
                into.push_back(shown["paintedAt"].get<double>() - polledAt.load());
                fetches.push_back(shown["fetchMs"].get<double>());
                (base == rowCount ? bigDraws : smallDraws).push_back(shown["drawMs"].get<double>());
                (base == rowCount ? bigParses : smallParses).push_back(shown["parseMs"].get<double>());
                fullFetches += shown["full"].get<bool>() ? 1 : 0;
                signals.push_back(shown["signalAt"].get<double>() - polledAt.load());
                busSignals.push_back(heardAt.load() - polledAt.load());
            }
        };
        changes(rowCount, bigChanges, bigFetches);
        bigSignals = signals;
        net.setSessions(sessions(100));
        engine.loop().post([&] { engine.poll(); });
        waitForRows(100, 0);
        changes(100, smallChanges, smallFetches);
        listen.request_stop();
        listen.join();
        smallSignals = signals;
    } catch (const Failure& f) {
        std::cerr << "cockpit bench: " << f.text << "\n" << test::readWholeFile(dir.path() / "cockpit-ws.log") << "\n";
    }
    browser.stop(std::chrono::seconds(3));
    cockpit.stop();

    report("drawing 10,000 sessions in Chromium until they are on the screen", draws, 200);
    report("from SessionsChanged to the page showing the change (100 sessions)", smallChanges, 100);
    report("from SessionsChanged to the page showing the change (10,000 sessions)", bigChanges, 100);
    std::cout << "where a change's time goes (each change one row; " << fullFetches
              << " of the page's fetches brought the whole table):\n";
    part("the signal's way to the page (100 sessions)", smallSignals);
    part("the signal's way to the page (10,000 sessions)", bigSignals);
    part("the signal's way to a plain client on the bus (both)", busSignals);
    part("GetSessionsChanges through Cockpit, polkit's yes kept (100 sessions)", smallFetches);
    part("GetSessionsChanges through Cockpit, polkit's yes kept (10,000 sessions)", bigFetches);
    part("parsing the change in the page (100 sessions)", smallParses);
    part("parsing the change in the page (10,000 sessions)", bigParses);
    part("sorting in the change and drawing the table (100 sessions)", smallDraws);
    part("sorting in the change and drawing the table (10,000 sessions)", bigDraws);
    std::cout << "  (Chromium's performance.timeOrigin stood " << originOff
              << " ms off its wall clock; the figures use the wall clock)\n";
    std::cout << "the parts alone, at 10,000 sessions:\n";
    part("polkit's check for root", rootChecks);
    part("polkit's check for another user (its rules run)", userChecks);
    part("the service's JSON of the whole table", tableJson);
    part("the service's JSON of a change of one row", changeJson);
    part("GetSessionsJson on the bus, no bridge (the whole table)", busTable);
    part("GetSessionsChanges on the bus, no bridge (nothing changed)", busChange);
    part("GetSessionsJson through Cockpit's bridge (the whole table)", cockpitTable);
    part("parsing the whole table in the page", {wholeParse});
    part("sorting and drawing the whole table in the page", draws);

    std::size_t compressed = 0;
    for (const char* file : {"index.js", "index.css", "index.html", "manifest.json"}) {
        ProcessOptions gz;
        gz.timeLimit = std::chrono::seconds(10);
        const ProcessResult r =
            runProcess({"gzip", "-9", "-c", (fs::path(VANTOR_COCKPIT_WORK) / "dist" / file).string()}, gz);
        compressed += r.out.size();
    }
    std::cout << "the page's own code and styles, gzip -9: " << compressed / 1024.0
              << " KB (goal under 300 KB): " << (compressed < 300 * 1024 ? "met" : "not met") << "\n";

    engine.loop().quit();
    loop.join();
    face.stop();
    engine.stop();
    return 0;
}
