// The Cockpit page at work: the engine with an in-memory server exported on a private system bus
// with Debian's polkitd, Debian's cockpit-ws and bridge on a loopback port, and the page in
// Debian's Chromium driven headless by playwright-core. Root only (polkitd and its actions).
//
//   drawing 10,000 sessions until they are on the screen          goal: at most 200 ms
//   from the signal of a change to the page showing it            goal: within 100 ms
//   the page's own code and styles, compressed (gzip -9)          goal: under 300 KB

#include "FreePort.h"
#include "PrivateSystemBus.h"
#include "TempDir.h"
#include "bus/MonitorBusService.h"
#include "engine/Engine.h"
#include "platform/Clock.h"
#include "platform/MessageBoxes.h"
#include "platform/Process.h"
#include "demo/FakeNetManagement.h"

#include <nlohmann/json.hpp>

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
        FakeSession s{"user" + std::to_string(i), "10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250), {}, {}, {}};
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
    std::vector<double> draws, bigChanges, smallChanges, bigFetches, smallFetches, signals, smallSignals, bigDraws, smallDraws;
    try {
        if (!cockpit.start({"/usr/bin/env", "XDG_DATA_DIRS=" + web.string() + ":/usr/share", "/usr/lib/cockpit/cockpit-ws",
                            "--address", "127.0.0.1", "--port", std::to_string(port), "--local-session=cockpit-bridge"},
                           o, error))
            throw Failure{error};
        if (!browser.start({VANTOR_NODE, std::string(VANTOR_COCKPIT_WORK) + "/test/driver.mjs"}, startError))
            throw Failure{"the browser's driver did not start"};
        auto page = [&](const std::string& command) {
            const auto reply = browser.exchange(command, std::chrono::seconds(60));
            const Json answer = reply.outcome == LineHelper::Reply::Outcome::Line ? Json::parse(reply.line, nullptr, false) : Json();
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
        waitForRows(rowCount, 0);

        for (int i = 0; i < runs; ++i)
            draws.push_back(page("eval vantorRedraw()").get<double>());

        // Where a change's time goes: the call that fetches the rows (through the bridge, polkit
        // and the service), and drawing them.
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
                signals.push_back(shown["signalAt"].get<double>() - polledAt.load());
            }
        };
        changes(rowCount, bigChanges, bigFetches);
        net.setSessions(sessions(100));
        engine.loop().post([&] { engine.poll(); });
        waitForRows(100, 0);
        changes(100, smallChanges, smallFetches);
        smallSignals = signals;
    } catch (const Failure& f) {
        std::cerr << "cockpit bench: " << f.text << "\n" << test::readWholeFile(dir.path() / "cockpit-ws.log") << "\n";
    }
    browser.stop(std::chrono::seconds(3));
    cockpit.stop();

    report("drawing 10,000 sessions in Chromium until they are on the screen", draws, 200);
    report("from SessionsChanged to the page showing the change (100 sessions)", smallChanges, 100);
    report("from SessionsChanged to the page showing the change (10,000 sessions)", bigChanges, 100);
    auto part = [](const std::string& what, std::vector<double> figures) {
        if (figures.empty())
            return;
        std::sort(figures.begin(), figures.end());
        std::cout << "  of which " << what << ": median " << figures[figures.size() / 2] << " ms\n";
    };
    part("the signal's way to the page (100 sessions)", smallSignals);
    part("the GetSessions call through Cockpit (100 sessions)", smallFetches);
    part("the GetSessions call through Cockpit (10,000 sessions)", bigFetches);
    part("sorting and drawing the table (100 sessions)", smallDraws);
    part("sorting and drawing the table (10,000 sessions)", bigDraws);

    std::size_t compressed = 0;
    for (const char* file : {"index.js", "index.css", "index.html", "manifest.json"}) {
        ProcessOptions gz;
        gz.timeLimit = std::chrono::seconds(10);
        const ProcessResult r = runProcess({"gzip", "-9", "-c", (fs::path(VANTOR_COCKPIT_WORK) / "dist" / file).string()}, gz);
        compressed += r.out.size();
    }
    std::cout << "the page's own code and styles, gzip -9: " << compressed / 1024.0 << " KB (goal under 300 KB): "
              << (compressed < 300 * 1024 ? "met" : "not met") << "\n";

    engine.loop().quit();
    loop.join();
    face.stop();
    engine.stop();
    return 0;
}
