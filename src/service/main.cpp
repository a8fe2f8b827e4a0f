// vantord: the engine as a system service. Settings from /etc/vantor/vantor.conf, data in
// /var/lib/vantor, messages to standard error (the journal), no window and no display.
#include "bus/MonitorBusService.h"
#include "engine/Engine.h"
#include "sockets/NetSocket.h"
#include "mail/SendMail.h"
#include "platform/Clock.h"
#include "platform/Paths.h"
#include "platform/PlatformNetManagement.h"
#include "service/Metrics.h"
#include "service/MetricsServer.h"
#include "service/ServiceCommandLine.h"
#include "service/ServiceLog.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <pthread.h>
#include <thread>
#include <unistd.h>

using namespace vantor;

namespace {

// Signals are taken by one thread with sigwait and handed to the engine's loop as tasks, so what
// they do runs where everything else of the engine runs. Every other thread blocks them; this is
// set up before any thread starts, so they inherit the mask.
sigset_t serviceSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGUSR2);  // ends the signal thread itself
    return set;
}

// Serves /metrics as the settings now ask (on the engine's loop, after a start or a reload): a
// changed address starts the server again, an empty one stops it.
void applyMetricsSettings(const MonitorSettings& settings, MetricsServer& server, std::atomic<bool>& perSession,
                          ServiceLog& log)
{
    perSession = settings.metricsPerSession == 1;
    const auto address = parseListenAddress(settings.metricsListen);
    if (!address) {
        // Empty, or refused by the settings file with its line already logged.
        if (server.running()) {
            server.stop();
            log.write(LogLevel::Notice, "metrics no longer served");
        }
        return;
    }
    if (server.running() && server.address() == *address)
        return;
    if (auto error = server.start(*address))
        log.write(LogLevel::Error, *error);
    else
        log.write(LogLevel::Notice, "serving metrics on http://" + listenAddressText(*address) + "/metrics");
}

}  // namespace

int main(int argc, char** argv)
{
    const ServiceCommandLineResult cmd = parseServiceCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!cmd.error.empty()) {
        std::cerr << "vantord: " << cmd.error << "\n" << serviceUsage();
        return 2;
    }
    if (cmd.options.help) {
        std::cout << serviceUsage();
        return 0;
    }
    if (cmd.options.version) {
        std::cout << "vantord " << VANTOR_VERSION << "\n";
        return 0;
    }

    const sigset_t signals = serviceSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    ServiceLog log(std::cerr, std::getenv("JOURNAL_STREAM") != nullptr);
    if (!initializeSockets()) {
        log.write(LogLevel::Error, socketsInitializationFailedText);
        return 1;
    }
    const std::filesystem::path dataDir = cmd.options.dataDir;
    if (!ensureDirectory(dataDir)) {
        log.write(LogLevel::Error, dataDir.string() + ": the data folder cannot be made");
        return 1;
    }

    std::unique_ptr<NetManagement> net = createPlatformNetManagement({cmd.options.sambaConfig, dataDir});
    // A mail server that never answers must not hold the engine's worker: mail has its own.
    AsyncMailSender mail;
    mail.setFailureHandler([&log](const std::string& to, const std::string& server, const std::string& error) {
        log.write(LogLevel::Warning, "the mail to " + to + " through " + server + " failed: " + error);
    });

    Engine* enginePtr = nullptr;
    mail.setOutcome([&enginePtr](const std::string&, bool sent) {
        if (enginePtr)
            enginePtr->counters().mail(sent);
    });
    LogBoxes boxes(log, [&enginePtr] { return enginePtr && enginePtr->monitor().pollInProgress(); });
    EngineOptions options;
    options.settingsFile = cmd.options.config;
    // Off until the settings file names the address and the consoles: the protocol asks nobody
    // who they are, so it must not be open where the administrator never opened it.
    options.consoleAgent = true;
    options.consoleAgentOnlyWhenListed = true;
    if (cmd.options.commandPort)
        options.agentConfig.commandPort = *cmd.options.commandPort;
    if (cmd.options.discoveryPort)
        options.agentConfig.discoveryPort = *cmd.options.discoveryPort;
    if (cmd.options.listen)
        options.agentConfig.bindAddress = *cmd.options.listen;
    options.mail = &mail;
    // A restart of the service is no news: the sessions it showed go on after it.
    options.keepSessions = true;
    options.historyDaysDefault = 90;
    options.log = [&log](LogLevel level, const std::string& text) { log.write(level, text); };
    Engine engine({*net, boxes, SystemClock::instance(), dataDir, nullptr}, options);
    enginePtr = &engine;
    // No desktop: nothing is selected here, and a new user is news for the log, not for a tray icon.
    engine.monitor().setDesk(nullptr);

    // Read by the server's threads: the snapshot and the counters are published for any thread,
    // the settings are not, so the one setting a scrape needs is copied here.
    std::atomic<bool> metricsPerSession{false};
    MetricsPages metricsPages;
    MetricsServer metrics([&engine, &metricsPerSession, &metricsPages] {
        return metricsPages.page(
            {VANTOR_VERSION, engine.counters().read(), engine.monitor().snapshot(), metricsPerSession});
    });
    auto applyMetrics = [&] { applyMetricsSettings(engine.monitor().settings, metrics, metricsPerSession, log); };

    std::thread signalThread([&engine, &applyMetrics, signals] {
        for (;;) {
            int sig = 0;
            if (sigwait(&signals, &sig) != 0 || sig == SIGUSR2)
                return;
            if (sig == SIGHUP) {
                engine.loop().post([&engine, &applyMetrics] {
                    engine.reload();
                    applyMetrics();
                });
            } else {
                engine.loop().quit();
                return;
            }
        }
    });

    engine.start();
    // The desktop's way in. Without a bus the service still polices the sessions and answers
    // consoles: a server without D-Bus is no reason to stop doing that.
    MonitorBusService busFace(engine, {{}, options.log});
    if (const std::string error = busFace.start(); !error.empty())
        log.write(LogLevel::Warning, "no D-Bus interface (the desktop program cannot reach the service): " + error);
    log.write(LogLevel::Notice, "started: settings " + cmd.options.config + ", data " + dataDir.string());
    applyMetrics();
    engine.startPolling();
    engine.loop().run();
    busFace.stop();

    // The history's open sessions are kept for the next start before the process goes; the agent's threads are
    // told to stop but not waited for (a wait of theirs lasts up to 3 s), as the exit ends them.
    // The metrics server is not stopped, which would wait for a kept-alive scraper: a scrape under
    // way reads an engine that stays until the exit, and the exit ends the server's threads.
    engine.stop(false);
    log.write(LogLevel::Notice, "stopped");
    pthread_kill(signalThread.native_handle(), SIGUSR2);
    signalThread.join();
    std::cerr.flush();
    std::_Exit(0);
}
