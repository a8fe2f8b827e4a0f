// The service's bus face at work: the engine with 10,000 sessions (an in-memory service) exported on
// a private system bus with Debian's polkitd, read by a client as the desktop would read it. Every
// call here is authorized by polkit, as every real one is. Root only (polkitd and its actions).
//
//   how long reading the 10,000 rows takes                     goal: at most 50 ms
//   how long after the service's poll a change is on the client  goal: within 100 ms

#include "PrivateSystemBus.h"
#include "TempDir.h"
#include "bus/MonitorBusClient.h"
#include "bus/MonitorBusService.h"
#include "engine/Engine.h"
#include "platform/Clock.h"
#include "platform/MessageBoxes.h"
#include "demo/FakeNetManagement.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <iostream>
#include <thread>
#include <unistd.h>

using namespace vantor;
using Clock_ = std::chrono::steady_clock;

namespace {

constexpr int rowCount = 10'000;
constexpr int runs = 20;

double ms(Clock_::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

void report(const char* what, std::vector<double> figures, double goal)
{
    std::sort(figures.begin(), figures.end());
    const double median = figures[figures.size() / 2];
    const double worst = figures.back();
    std::cout << what << ": median " << median << " ms, worst " << worst << " ms (goal " << goal
              << " ms): " << (worst <= goal ? "met" : "not met") << "\n";
}

}  // namespace

int main()
{
    if (::geteuid() != 0 || !test::PrivateSystemBus::available()) {
        std::cout << "bus bench: needs root, dbus-daemon and polkitd; not run\n";
        return 0;
    }
    test::TempDir dir;
    test::PrivateSystemBus bus;
    std::string error;
    if (!bus.start(dir.path(), VANTOR_SOURCE_DIR, error)) {
        std::cerr << "bus bench: " << error << "\n";
        return 1;
    }

    FakeNetManagement net;
    std::vector<FakeSession> sessions;
    for (int i = 0; i < rowCount; ++i)
        sessions.push_back(
            {"user" + std::to_string(i), "10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250), {}});
    net.setSessions(sessions);
    RecordingMessageBoxes boxes;
    EngineOptions options;
    options.history = false;
    options.pollInterval = std::chrono::hours(1);  // the bench polls when it wants
    Engine engine({net, boxes, SystemClock::instance(), dir.path(), nullptr}, options);
    engine.start();
    MonitorBusService face(engine, {bus.address(), {}});
    if (const std::string e = face.start(); !e.empty()) {
        std::cerr << "bus bench: " << e << "\n";
        return 1;
    }
    // When each poll is done on the service's side: the start of the change's way to the client.
    std::atomic<Clock_::rep> polledAt{0};
    auto told = engine.onPollFinished;
    engine.onPollFinished = [&] {
        polledAt = Clock_::now().time_since_epoch().count();
        told();
    };
    std::thread loop([&] { engine.loop().run(); });

    auto client = MonitorBusClient::connect(bus.address(), error);
    if (!client) {
        std::cerr << "bus bench: " << error << "\n";
        return 1;
    }
    bool changed = false;
    client->onSessionsChanged = [&] { changed = true; };

    auto pollAndWait = [&] {
        changed = false;
        engine.loop().post([&] { engine.poll(); });
        const auto end = Clock_::now() + std::chrono::seconds(10);
        while (!changed && Clock_::now() < end)
            client->wait(std::chrono::milliseconds(100));
        return changed;
    };
    if (!pollAndWait()) {
        std::cerr << "bus bench: no SessionsChanged after the first poll\n";
        return 1;
    }

    BusError e;
    std::vector<double> reads;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock_::now();
        auto s = client->getSessions(e);
        reads.push_back(ms(Clock_::now() - start));
        if (!s || s->rows.size() != static_cast<std::size_t>(rowCount)) {
            std::cerr << "bus bench: the rows did not come (" << e.name << " " << e.text << ")\n";
            return 1;
        }
    }

    std::vector<double> changes;
    for (int i = 0; i < runs; ++i) {
        net.addSession("newcomer" + std::to_string(i), "10.1.0." + std::to_string(i));
        if (!pollAndWait()) {
            std::cerr << "bus bench: a change did not reach the client\n";
            return 1;
        }
        auto s = client->getSessions(e);
        const auto arrived = Clock_::now();
        if (!s) {
            std::cerr << "bus bench: " << e.name << " " << e.text << "\n";
            return 1;
        }
        changes.push_back(ms(arrived - Clock_::time_point(Clock_::duration(polledAt.load()))));
    }

    report("reading 10,000 rows over the bus (authorized)", reads, 50);
    report("a change of the sessions on the client after the service's poll (10,000 rows)", changes, 100);

    engine.loop().quit();
    loop.join();
    face.stop();
    engine.stop();
    return 0;
}
