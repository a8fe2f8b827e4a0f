#include "bus/MonitorBusService.h"

#include "bus/AuthorizationCache.h"
#include "bus/BusNames.h"
#include "bus/BusRows.h"
#include "bus/PageView.h"
#include "history/HistoryLog.h"
#include "history/HistoryReader.h"
#include "history/HistoryReport.h"
#include "mail/TestMail.h"
#include "options/OptionsCommand.h"
#include "options/OptionsModel.h"
#include "options/SettingsFile.h"

#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

#include <fcntl.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

namespace vantor {

namespace {

// What a call ends with: an error (name and text), or a reply that `fill` completes.
struct Outcome {
    std::string errorName;
    std::string errorText;
    std::function<int(sd_bus_message*)> fill;
};
using Done = std::function<void(Outcome)>;
// A call's work, run on the engine's loop once the caller is authorized.
using Work = std::function<void(Done)>;

Outcome failure(const char* name, std::string text) { return {name, std::move(text), {}}; }
Outcome success(std::function<int(sd_bus_message*)> fill = {}) { return {{}, {}, std::move(fill)}; }

std::string statusText(const NetStatus& status)
{
    return status.text.empty() ? "Error " + std::to_string(status.code) : status.text;
}

// What the refusal of an action tells the user to do.
std::string refusalText(const std::string& action)
{
    const bool view = action == bus::viewAction;
    return std::string("You are not allowed to ") + (view ? "view the sessions" : "change the monitor (close, lists, options, history, test mail)")
        + " of the Vantor service (polkit action " + action
        + "): ask the administrator to allow it (a rule in /etc/polkit-1/rules.d, see "
          "/usr/share/doc/vantor/49-vantor.rules.example).";
}

std::optional<ListKind> listKind(const std::string& name)
{
    if (name == "black")
        return ListKind::Black;
    if (name == "white")
        return ListKind::White;
    return std::nullopt;
}

// A file descriptor handed to a reply, closed once the reply has its own copy (or never got made).
struct OwnedFd {
    int fd = -1;
    explicit OwnedFd(int f) : fd(f) {}
    ~OwnedFd()
    {
        if (fd >= 0)
            ::close(fd);
    }
    OwnedFd(const OwnedFd&) = delete;
    OwnedFd& operator=(const OwnedFd&) = delete;
};

// A log that is not there yet is an empty history, not a failure.
std::shared_ptr<OwnedFd> openLog(const std::filesystem::path& file)
{
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT)
        fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    return std::make_shared<OwnedFd>(fd);
}

}  // namespace

struct MonitorBusService::Impl {
    Impl(Engine& e, Options o) : engine(e), options(std::move(o)) {}

    Engine& engine;
    Options options;
    sd_event* event = nullptr;
    sd_bus* bus = nullptr;
    sd_bus_slot* vtableSlot = nullptr;
    int wakeFd = -1;
    std::mutex mutex;
    std::deque<std::function<void()>> busTasks;
    std::thread thread;
    // On the engine's loop: what the last SessionsChanged told.
    SessionsSnapshotPtr lastSnapshot;
    std::string lastCaption;
    PollState lastPollState;
    // On the engine's loop: the table's last states, for a page that fetches only what changed.
    bus::SessionsJournal journal;
    // On the bus thread: polkit's recent yes to a view (see AuthorizationCache.h).
    bus::AuthorizationCache views{std::chrono::seconds(5)};
    // What waits on Samba; last, so that it is joined before the rest goes. The history's reads
    // and reports and the test mail (which may wait on a mail server that never answers) have
    // workers of their own, so that neither holds a close.
    bus::HistoryCache historyCache;
    std::unique_ptr<Worker> history = std::make_unique<Worker>();
    std::unique_ptr<Worker> mails = std::make_unique<Worker>();
    std::unique_ptr<Worker> actions = std::make_unique<Worker>();

    void log(LogLevel level, const std::string& text) const
    {
        if (options.log)
            options.log(level, text);
    }

    // Thread-safe: runs `fn` on the bus thread.
    void toBus(std::function<void()> fn)
    {
        {
            std::lock_guard lock(mutex);
            busTasks.push_back(std::move(fn));
        }
        const uint64_t one = 1;
        [[maybe_unused]] auto written = ::write(wakeFd, &one, sizeof one);
    }

    void runBusTasks()
    {
        uint64_t count = 0;
        [[maybe_unused]] auto got = ::read(wakeFd, &count, sizeof count);
        std::deque<std::function<void()>> tasks;
        {
            std::lock_guard lock(mutex);
            tasks.swap(busTasks);
        }
        for (auto& task : tasks)
            task();
    }

    // Hands the outcome to the bus thread, which replies to `call` and lets it go.
    Done replyTo(sd_bus_message* call)
    {
        return [this, call](Outcome outcome) {
            toBus([this, call, outcome = std::move(outcome)] {
                if (!outcome.errorName.empty()) {
                    sd_bus_reply_method_errorf(call, outcome.errorName.c_str(), "%s", outcome.errorText.c_str());
                } else {
                    sd_bus_message* reply = nullptr;
                    int r = sd_bus_message_new_method_return(call, &reply);
                    if (r >= 0 && outcome.fill)
                        r = outcome.fill(reply);
                    if (r >= 0)
                        r = sd_bus_send(bus, reply, nullptr);
                    else
                        sd_bus_reply_method_errnof(call, -r, "the reply could not be made: %m");
                    sd_bus_message_unref(reply);
                }
                sd_bus_message_unref(call);
            });
        };
    }

    struct Pending {
        Impl* impl;
        sd_bus_message* call;
        std::string action;
        Work work;
        std::string sender;
        uint64_t generation;
    };

    void run(sd_bus_message* call, Work work)
    {
        Done done = replyTo(call);
        engine.loop().post([work = std::move(work), done = std::move(done)] { work(done); });
    }

    // Asks polkit whether the caller the bus names may do `action`; runs `work` on the engine's
    // loop when it may. Anything else, polkit's silence included, refuses the call.
    int authorize(sd_bus_message* call, const char* action, Work work)
    {
        const char* sender = sd_bus_message_get_sender(call);
        if (!sender)
            return sd_bus_reply_method_errorf(call, bus::notAuthorizedError, "The caller has no bus name.");
        const bool view = std::strcmp(action, bus::viewAction) == 0;
        if (view && views.allowed(sender, action, bus::AuthorizationCache::Clock::now())) {
            run(sd_bus_message_ref(call), std::move(work));
            return 1;
        }
        const bool interactive = sd_bus_message_get_allow_interactive_authorization(call) > 0;
        sd_bus_message* check = nullptr;
        int r = sd_bus_message_new_method_call(bus, &check, "org.freedesktop.PolicyKit1",
                                               "/org/freedesktop/PolicyKit1/Authority",
                                               "org.freedesktop.PolicyKit1.Authority", "CheckAuthorization");
        if (r >= 0)
            r = sd_bus_message_append(check, "(sa{sv})sa{ss}us", "system-bus-name", 1, "name", "s", sender, action, 0,
                                      static_cast<uint32_t>(interactive ? 1 : 0), "");
        auto* pending = new Pending{this, sd_bus_message_ref(call), action, std::move(work), sender, views.generation()};
        if (r >= 0) {
            // A password dialogue may take the user a while; a plain check is answered at once.
            const uint64_t timeout = interactive ? 300'000'000ULL : 25'000'000ULL;
            r = sd_bus_call_async(bus, nullptr, check, &Impl::onPolkitReply, pending, timeout);
        }
        sd_bus_message_unref(check);
        if (r < 0) {
            log(LogLevel::Warning, std::string("polkit cannot be asked: ") + std::strerror(-r));
            sd_bus_reply_method_errorf(call, bus::notAuthorizedError,
                                       "The authorization service (polkit) cannot be asked; the call is refused.");
            sd_bus_message_unref(pending->call);
            delete pending;
        }
        return 1;
    }

    static int onPolkitReply(sd_bus_message* reply, void* userdata, sd_bus_error*)
    {
        std::unique_ptr<Pending> pending(static_cast<Pending*>(userdata));
        Impl& impl = *pending->impl;
        int authorized = 0;
        int challenge = 0;
        if (sd_bus_message_is_method_error(reply, nullptr)) {
            const sd_bus_error* e = sd_bus_message_get_error(reply);
            impl.log(LogLevel::Warning, std::string("polkit did not answer: ") + (e && e->message ? e->message : "?"));
            sd_bus_reply_method_errorf(pending->call, bus::notAuthorizedError,
                                       "The authorization service (polkit) did not answer; the call is refused.");
            sd_bus_message_unref(pending->call);
            return 1;
        }
        if (sd_bus_message_enter_container(reply, 'r', "bba{ss}") < 0
            || sd_bus_message_read(reply, "bb", &authorized, &challenge) < 0)
            authorized = 0;
        if (!authorized) {
            sd_bus_reply_method_errorf(pending->call, bus::notAuthorizedError, "%s",
                                       refusalText(pending->action).c_str());
            sd_bus_message_unref(pending->call);
            return 1;
        }
        if (pending->action == bus::viewAction)
            impl.views.remember(pending->sender, pending->action, pending->generation, bus::AuthorizationCache::Clock::now());
        impl.run(pending->call, std::move(pending->work));
        return 1;
    }

    // polkit's authority changed (rules, actions, login sessions), or polkitd went or came: no
    // earlier yes counts any more. (A forged signal can only make the service ask polkit again.)
    static int onPolkitChanged(sd_bus_message*, void* userdata, sd_bus_error*)
    {
        static_cast<Impl*>(userdata)->views.clear();
        return 0;
    }

    // Without polkit's announcements a kept yes could outlive a right taken away: then none is kept.
    void watchPolkit()
    {
        int r = sd_bus_match_signal(bus, nullptr, nullptr, "/org/freedesktop/PolicyKit1/Authority",
                                    "org.freedesktop.PolicyKit1.Authority", "Changed", &Impl::onPolkitChanged, this);
        if (r >= 0)
            r = sd_bus_add_match(bus, nullptr,
                                 "type='signal',interface='org.freedesktop.DBus',member='NameOwnerChanged',"
                                 "arg0='org.freedesktop.PolicyKit1'",
                                 &Impl::onPolkitChanged, this);
        if (r < 0) {
            log(LogLevel::Warning, std::string("polkit's changes cannot be heard, every call asks it: ") + std::strerror(-r));
            views.disable();
        }
    }

    // --- what the engine tells the bus ---------------------------------------------------------

    void pollFinished()
    {
        const SessionsSnapshotPtr snap = engine.monitor().snapshot();
        const std::string caption = engine.monitor().captionText();
        const PollState state = engine.pollState();
        const bool same = lastSnapshot && snap && lastSnapshot->rows == snap->rows
            && lastSnapshot->currentSessionsCount == snap->currentSessionsCount
            && lastSnapshot->openFilesTotal == snap->openFilesTotal && caption == lastCaption
            && state.error == lastPollState.error && state.route == lastPollState.route;
        lastSnapshot = snap;
        lastCaption = caption;
        lastPollState = state;
        if (!same) {
            if (snap)
                journal.record(snap);
            emit("SessionsChanged");
        }
    }

    void emit(const char* signal)
    {
        toBus([this, signal] { sd_bus_emit_signal(bus, bus::objectPath, bus::interfaceName, signal, ""); });
    }

    void emitNewUser(bool beep, bool popup)
    {
        toBus([this, beep, popup] {
            sd_bus_emit_signal(bus, bus::objectPath, bus::interfaceName, "NewUser", "bb", static_cast<int>(beep),
                               static_cast<int>(popup));
        });
    }

    // --- the methods ---------------------------------------------------------------------------

    static Impl& self(void* userdata) { return *static_cast<Impl*>(userdata); }

    static int getSessions(sd_bus_message* m, void* userdata, sd_bus_error*)
    {
        Impl& impl = self(userdata);
        return impl.authorize(m, bus::viewAction, [&impl](Done done) {
            const SessionsSnapshotPtr snap = impl.engine.monitor().snapshot();
            done(success([snap](sd_bus_message* reply) {
                int r = bus::writeSessionRows(reply, snap->rows);
                return r < 0 ? r : sd_bus_message_append(reply, "uu", snap->currentSessionsCount, snap->openFilesTotal);
            }));
        });
    }

    // The same table as one JSON text (see PageView.h): what a web page asks for.
    static int getSessionsJson(sd_bus_message* m, void* userdata, sd_bus_error*)
    {
        Impl& impl = self(userdata);
        return impl.authorize(m, bus::viewAction, [&impl](Done done) {
            // Written on the bus thread: the snapshot does not change, and the engine goes on.
            done(success([snap = impl.engine.monitor().snapshot()](sd_bus_message* reply) {
                return sd_bus_message_append(reply, "s", bus::sessionsJson(*snap).c_str());
            }));
        });
    }

    // What changed in the table since the version the caller holds ("": none), as JSON (see
    // PageView.h): after a change a page fetches a few rows, not the table.
    static int getSessionsChanges(sd_bus_message* m, void* userdata, sd_bus_error*)
    {
        Impl& impl = self(userdata);
        const char* since = nullptr;
        if (int r = sd_bus_message_read(m, "s", &since); r < 0)
            return r;
        return impl.authorize(m, bus::viewAction, [&impl, since = std::string(since)](Done done) {
            if (!impl.journal.newest()) {
                const SessionsSnapshotPtr snap = impl.engine.monitor().snapshot();
                impl.journal.record(snap ? snap : std::make_shared<const SessionsSnapshot>());
            }
            const bus::SessionsJournal::Entry now = *impl.journal.newest();
            const bus::SessionsJournal::Entry* base = impl.journal.find(since);
            // Written on the bus thread, as the whole table is.
            done(success([now, from = base ? base->snapshot : nullptr](sd_bus_message* reply) {
                return sd_bus_message_append(reply, "s",
                                             bus::sessionsChangeJson(from.get(), *now.snapshot, now.version).c_str());
            }));
        });
    }

    static int getCaption(sd_bus_message* m, void* userdata, sd_bus_error*)
    {
        Impl& impl = self(userdata);
        return impl.authorize(m, bus::viewAction, [&impl](Done done) {
            SessionMonitor& monitor = impl.engine.monitor();
            done(success([caption = monitor.captionText(), server = monitor.settings.serverName.get()](sd_bus_message* reply) {
                return sd_bus_message_append(reply, "ss", caption.c_str(), server.c_str());
            }));
        });
    }

    // How the polls stand: "pollError" (empty while they work) and "pollRoute" (empty on the
    // server's usual listing, else the short name of the one the poll fell back to).
    static int getStatus(sd_bus_message* m, void* userdata, sd_bus_error*)
    {
        Impl& impl = self(userdata);
        return impl.authorize(m, bus::viewAction, [&impl](Done done) {
            const PollState state = impl.engine.pollState();
            const bus::OptionValues values{{"pollError", state.error}, {"pollRoute", state.route}};
            done(success([values](sd_bus_message* reply) { return bus::writeOptionValues(reply, values); }));
        });
    }

    static int getOpenFiles(sd_bus_message* m, void* userdata, sd_bus_error*)
    {
        Impl& impl = self(userdata);
        const char* user = nullptr;
        if (int r = sd_bus_message_read(m, "s", &user); r < 0)
            return r;
        return impl.authorize(m, bus::viewAction, [&impl, user = std::string(user)](Done done) {
            SessionMonitor& monitor = impl.engine.monitor();
            impl.actions->run([&monitor, server = monitor.settings.serverName.get(), user, done] {
                const FilesFetch fetch = monitor.fetchOpenFiles(server, user);
                if (!fetch.attempted)
                    return done(failure(bus::failedError, "The server name cannot be converted."));
                if (!fetch.status.ok())
                    return done(failure(bus::failedError, statusText(fetch.status)));
                done(success([rows = monitor.openFileRowsOf(fetch.files)](sd_bus_message* reply) {
                    return bus::writeFileRows(reply, rows);
                }));
            });
        });
    }

    static int getAllOpenFiles(sd_bus_message* m, void* userdata, sd_bus_error*)
    {
        Impl& impl = self(userdata);
        return impl.authorize(m, bus::viewAction, [&impl](Done done) {
            SessionMonitor& monitor = impl.engine.monitor();
            const auto server = SessionMonitor::serverArgument(monitor.settings.serverName.get());
            if (!server)
                return done(failure(bus::failedError, "The server name cannot be converted."));
            // The files of the sessions the table shows, as the engine's own listing keeps them.
            impl.actions->run([&monitor, server = *server, rows = monitor.snapshot()->rows, done] {
                std::vector<NetFileInfo> files;
                const NetStatus status = monitor.net().enumAllFiles(server, files);
                if (!status.ok())
                    return done(failure(bus::failedError, statusText(status)));
                done(success([kept = filesOfSessions(rows, files)](sd_bus_message* reply) {
                    return bus::writeListedFiles(reply, kept);
                }));
            });
        });
    }

    // A change that the sessions table shows: a poll makes the table (and the signal) follow.
    void pollSoon()
    {
        engine.loop().post([this] { engine.poll(); });
    }

    static int closeSession(sd_bus_message* m, void* userdata, sd_bus_error*)
    {
        Impl& impl = self(userdata);
        const char* user = nullptr;
        const char* computer = nullptr;
        if (int r = sd_bus_message_read(m, "ss", &user, &computer); r < 0)
            return r;
        return impl.authorize(m, bus::manageAction,
                              [&impl, user = std::string(user), computer = std::string(computer)](Done done) {
            impl.actions->run([&impl, user, computer, done] {
                const NetStatus status = impl.engine.monitor().closeSessionByName(user, computer);
                if (!status.ok())
                    return done(failure(bus::failedError, statusText(status)));
                impl.log(LogLevel::Notice, "closed the session of " + user + " from " + computer + " as asked over the bus");
                impl.pollSoon();
                done(success());
            });
        });
    }

    static int closeAllSessions(sd_bus_message* m, void* userdata, sd_bus_error*)
    {
        Impl& impl = self(userdata);
        return impl.authorize(m, bus::manageAction, [&impl](Done done) {
            impl.actions->run([&impl, done] {
                impl.engine.monitor().closeAllSessions();
                impl.pollSoon();
                done(success());
            });
        });
    }

    static int closeFile(sd_bus_message* m, void* userdata, sd_bus_error*)
    {
        Impl& impl = self(userdata);
        uint32_t id = 0;
        if (int r = sd_bus_message_read(m, "u", &id); r < 0)
            return r;
        return impl.authorize(m, bus::manageAction, [&impl, id](Done done) {
            SessionMonitor& monitor = impl.engine.monitor();
            const auto server = SessionMonitor::serverArgument(monitor.settings.serverName.get());
            if (!server)
                return done(failure(bus::failedError, "The server name cannot be converted."));
            impl.actions->run([&impl, &monitor, server = *server, id, done] {
                const NetStatus status = monitor.net().closeFile(server, id);
                if (!status.ok())
                    return done(failure(bus::failedError, statusText(status)));
                impl.pollSoon();
                done(success());
            });
        });
    }

    static int setRemoteServer(sd_bus_message* m, void* userdata, sd_bus_error*)
    {
        Impl& impl = self(userdata);
        const char* text = nullptr;
        if (int r = sd_bus_message_read(m, "s", &text); r < 0)
            return r;
        return impl.authorize(m, bus::manageAction, [&impl, text = std::string(text)](Done done) {
            if (!SessionMonitor::serverArgument(text))
                return done(failure(bus::refusedError, "The server name cannot be converted."));
            // The srvsvc helper logs on to the server with root's credentials: only a server that
            // root's settings file names may have them.
            if (!remoteServerListed(impl.engine.monitor().settings.remoteServers, text))
                return done(failure(bus::refusedError, "The service watches only the servers its settings file lists "
                                                       "(remoteServers in /etc/vantor/vantor.conf); "
                                                           + text + " is not one of them."));
            impl.engine.monitor().setRemoteServer(text, false);
            impl.engine.poll();
            done(success());
        });
    }

    static int getOptions(sd_bus_message* m, void* userdata, sd_bus_error*)
    {
        Impl& impl = self(userdata);
        return impl.authorize(m, bus::viewAction, [&impl](Done done) {
            bus::OptionValues values;
            for (const SettingKey& key : settingKeys())
                values.emplace_back(key.name, key.write(impl.engine.monitor().settings));
            done(success([values](sd_bus_message* reply) { return bus::writeOptionValues(reply, values); }));
        });
    }

    // Options as the Options window's OK takes them: every value read as the settings file reads
    // it, then the window's own checks; nothing changes unless all of them pass.
    static int setOptions(sd_bus_message* m, void* userdata, sd_bus_error*)
    {
        Impl& impl = self(userdata);
        bus::OptionValues values;
        if (int r = bus::readOptionValues(m, values); r < 0)
            return r;
        return impl.authorize(m, bus::manageAction, [&impl, values](Done done) {
            SessionMonitor& monitor = impl.engine.monitor();
            MonitorSettings edited = monitor.settings;
            for (const auto& [name, value] : values) {
                const SettingKey* key = nullptr;
                for (const SettingKey& k : settingKeys())
                    if (name == k.name)
                        key = &k;
                // The server is the remote-server command's, with its own check.
                if (!key || name == "serverName")
                    return done(failure(bus::refusedError, "There is no option " + name + "."));
                if (auto problem = key->read(edited, value))
                    return done(failure(bus::refusedError, name + ": " + *problem));
            }
            // The service runs as root: a report path outside its data folder would let a caller
            // write a file anywhere, and a password file of the caller's choosing would send any
            // file's first line to a mail server of the caller's choosing. Only the settings file,
            // root's own, names those.
            const std::string reportPath = edited.reportPath.get();
            if (reportPath != monitor.settings.reportPath.get() && reportPath.find('/') != std::string::npos)
                return done(failure(bus::refusedError,
                                    "reportPath: over the bus only a file name in the service's data folder, not "
                                        + reportPath + "."));
            if (edited.smtpPasswordFile != monitor.settings.smtpPasswordFile)
                return done(failure(bus::refusedError,
                                    "smtpPasswordFile is set in the service's settings file only "
                                    "(/etc/vantor/vantor.conf, by root)."));
            const MonitorSettings& now = monitor.settings;
            // Which consoles may act without polkit and which servers get root's credentials are
            // root's to say, in root's file.
            for (const auto& [changed, name] :
                 {std::pair{edited.consoleListen != now.consoleListen, "consoleListen"},
                  std::pair{edited.consoleAllow != now.consoleAllow, "consoleAllow"},
                  std::pair{edited.remoteServers != now.remoteServers, "remoteServers"}})
                if (changed)
                    return done(failure(bus::refusedError, std::string(name)
                                                               + " is set in the service's settings file only "
                                                                 "(/etc/vantor/vantor.conf, by root)."));
            // With a password in the settings, a relay of the caller's choosing would be handed it
            // at the next mail.
            const bool relayChanged = edited.smtpServer != now.smtpServer || edited.smtpPort != now.smtpPort
                                      || edited.smtpSecurity != now.smtpSecurity || edited.smtpUser != now.smtpUser
                                      || edited.smtpCertFingerprint != now.smtpCertFingerprint;
            if (relayChanged && !now.smtpPasswordFile.empty())
                return done(failure(bus::refusedError,
                                    "The mail server, its port, security, user and certificate are set in the "
                                    "service's settings file only while it names a password file "
                                    "(/etc/vantor/vantor.conf, by root)."));
            const OptionsValues accepted = optionsFromSettings(edited);
            if (auto check = firstFailingCheck(accepted))
                return done(failure(bus::refusedError, *check));
            applyAcceptedOptions(monitor, accepted, [&monitor](int32_t index) {
                trimLogs(monitor.dataDir(), index, monitor.clock().now());
            });
            if (!impl.engine.saveSettings())
                return done(failure(bus::failedError, "The options are in force but could not be saved."));
            done(success());
        });
    }

    static int getList(sd_bus_message* m, void* userdata, sd_bus_error*)
    {
        Impl& impl = self(userdata);
        const char* name = nullptr;
        if (int r = sd_bus_message_read(m, "s", &name); r < 0)
            return r;
        const auto kind = listKind(name);
        if (!kind)
            return sd_bus_reply_method_errorf(m, bus::refusedError, "There is no list %s (black or white).", name);
        return impl.authorize(m, bus::viewAction, [&impl, kind = *kind](Done done) {
            const auto rows = loadAccessRowsFile(impl.engine.monitor().listFilePath(kind));
            done(success([rows](sd_bus_message* reply) {
                int r = sd_bus_message_open_container(reply, 'a', "(ss)");
                for (std::size_t i = 0; r >= 0 && i < rows.size(); ++i)
                    r = sd_bus_message_append(reply, "(ss)", rows[i].user.c_str(), rows[i].computer.c_str());
                return r < 0 ? r : sd_bus_message_close_container(reply);
            }));
        });
    }

    static int setList(sd_bus_message* m, void* userdata, sd_bus_error*)
    {
        Impl& impl = self(userdata);
        const char* name = nullptr;
        int r = sd_bus_message_read(m, "s", &name);
        if (r < 0)
            return r;
        const auto kind = listKind(name);
        if (!kind)
            return sd_bus_reply_method_errorf(m, bus::refusedError, "There is no list %s (black or white).", name);
        std::vector<std::pair<std::string, std::string>> pairs;
        r = sd_bus_message_enter_container(m, 'a', "(ss)");
        while (r > 0) {
            const char* user = nullptr;
            const char* computer = nullptr;
            r = sd_bus_message_read(m, "(ss)", &user, &computer);
            if (r > 0)
                pairs.emplace_back(user, computer);
        }
        if (r < 0 || (r = sd_bus_message_exit_container(m)) < 0)
            return r;
        for (const auto& [user, computer] : pairs)
            if (!listNameAcceptable(user) || !listNameAcceptable(computer))
                return sd_bus_reply_method_errorf(m, bus::refusedError,
                                                  "A list name must be 1 to 255 bytes without blanks: \"%s\" \"%s\".",
                                                  user.c_str(), computer.c_str());
        return impl.authorize(m, bus::manageAction, [&impl, kind = *kind, pairs](Done done) {
            SessionMonitor& monitor = impl.engine.monitor();
            if (!writeAccessListFile(monitor.listFilePath(kind), pairs))
                return done(failure(bus::failedError, monitor.listFilePath(kind).string() + " cannot be written."));
            monitor.loadAccessLists();
            impl.log(LogLevel::Notice, std::string(kind == ListKind::Black ? "black" : "white") + " list written over the bus");
            done(success());
        });
    }

    // The shares and their folders as the service's configuration names them. A service that cannot
    // tell answers with none: the desktop then works the folders out from the open files.
    static int getShares(sd_bus_message* m, void* userdata, sd_bus_error*)
    {
        Impl& impl = self(userdata);
        return impl.authorize(m, bus::viewAction, [&impl](Done done) {
            SessionMonitor& monitor = impl.engine.monitor();
            const auto server = SessionMonitor::serverArgument(monitor.settings.serverName.get());
            impl.actions->run([&monitor, server, done] {
                std::vector<NetShareInfo> shares;
                if (!server || !monitor.net().enumShares(*server, shares).ok())
                    shares.clear();
                done(success([shares = std::move(shares)](sd_bus_message* reply) { return bus::writeShares(reply, shares); }));
            });
        });
    }

    // One entry added on the engine's loop, where every change of a list is made: two callers
    // adding at once both land, which a read of the list and a write of it back could not promise.
    static int addToList(sd_bus_message* m, void* userdata, sd_bus_error*)
    {
        Impl& impl = self(userdata);
        const char* name = nullptr;
        const char* user = nullptr;
        const char* computer = nullptr;
        if (int r = sd_bus_message_read(m, "sss", &name, &user, &computer); r < 0)
            return r;
        const auto kind = listKind(name);
        if (!kind)
            return sd_bus_reply_method_errorf(m, bus::refusedError, "There is no list %s (black or white).", name);
        if (!listNameAcceptable(user) || !listNameAcceptable(computer))
            return sd_bus_reply_method_errorf(m, bus::refusedError,
                                              "A list name must be 1 to 255 bytes without blanks: \"%s\" \"%s\".", user,
                                              computer);
        return impl.authorize(m, bus::manageAction,
                              [&impl, kind = *kind, user = std::string(user), computer = std::string(computer)](Done done) {
            SessionMonitor& monitor = impl.engine.monitor();
            if (!appendAccessListLine(monitor.listFilePath(kind), user, computer))
                return done(failure(bus::failedError, monitor.listFilePath(kind).string() + " cannot be written."));
            monitor.loadAccessLists();
            impl.log(LogLevel::Notice, user + " " + computer + " added to the "
                                           + (kind == ListKind::Black ? "black" : "white") + " list over the bus");
            done(success());
        });
    }

    // The two logs as they are, for the caller to read as the history window reads them: the
    // data folder is root's, and a reply of a million file lines would not fit a bus message.
    static int getHistory(sd_bus_message* m, void* userdata, sd_bus_error*)
    {
        Impl& impl = self(userdata);
        return impl.authorize(m, bus::viewAction, [&impl](Done done) {
            impl.history->run([dataDir = impl.engine.monitor().dataDir(), done] {
                const auto files = openLog(logFilePath(dataDir, filesLogName));
                const auto users = openLog(logFilePath(dataDir, usersLogName));
                if (files->fd < 0 || users->fd < 0)
                    return done(failure(bus::failedError, "The history cannot be read: " + std::string(std::strerror(errno))));
                done(success([files, users](sd_bus_message* reply) {
                    return sd_bus_message_append(reply, "hh", files->fd, users->fd);
                }));
            });
        });
    }

    // Writes the report where the service's settings say, as the history window does, and hands
    // the page over: the caller cannot open the service's data folder.
    static int makeReport(sd_bus_message* m, void* userdata, sd_bus_error*)
    {
        Impl& impl = self(userdata);
        return impl.authorize(m, bus::viewAction, [&impl](Done done) {
            SessionMonitor& monitor = impl.engine.monitor();
            impl.history->run([dataDir = monitor.dataDir(), path = monitor.settings.reportPath.get(),
                               now = monitor.clock().now(), done] {
                std::string why;
                std::shared_ptr<OwnedFd> page;
                // Opened under the gate, before another report can take its name: the page is moved
                // onto its name whole, so the open file stays this report whatever comes later.
                const bool written = HistoryStore::instance().withLoaded(dataDir, [&](const HistoryPtr& history) {
                    if (!generateReport(*history, dataDir, path, now, &why))
                        return false;
                    page = std::make_shared<OwnedFd>(::open(reportFilePath(dataDir, path).c_str(), O_RDONLY | O_CLOEXEC));
                    if (page->fd < 0)
                        why = std::strerror(errno);
                    return page->fd >= 0;
                });
                const std::string where = reportFilePath(dataDir, path).string();
                if (!written)
                    return done(failure(bus::failedError, "The web-based report could not be written to " + where + ".\n" + why));
                done(success([page, where](sd_bus_message* reply) {
                    return sd_bus_message_append(reply, "sh", where.c_str(), page->fd);
                }));
            });
        });
    }

    // The history for a caller that cannot take file descriptors (a web page): one page of the
    // sessions the filters keep, newest first unless sorted, with how many they keep in all.
    static int getHistoryPage(sd_bus_message* m, void* userdata, sd_bus_error*)
    {
        Impl& impl = self(userdata);
        bus::OptionValues values;
        uint32_t offset = 0, count = 0;
        int r = bus::readOptionValues(m, values);
        if (r < 0 || (r = sd_bus_message_read(m, "uu", &offset, &count)) < 0)
            return r;
        bus::HistoryQuery query;
        if (auto problem = bus::readHistoryQuery(values, query))
            return sd_bus_reply_method_errorf(m, bus::refusedError, "%s.", problem->c_str());
        return impl.authorize(m, bus::viewAction, [&impl, query, offset, count](Done done) {
            impl.history->run([&impl, dataDir = impl.engine.monitor().dataDir(), query, offset, count, done] {
                const HistoryPtr data = impl.historyCache.get(dataDir);
                const std::vector<std::size_t> kept = bus::historySessions(*data, query);
                done(success([data, kept, offset, count](sd_bus_message* reply) {
                    int w = sd_bus_message_append(reply, "u", static_cast<uint32_t>(kept.size()));
                    if (w >= 0)
                        w = sd_bus_message_open_container(reply, 'a', "(ssxuu)");
                    const std::size_t end = std::min<std::size_t>(kept.size(), std::size_t{offset} + count);
                    for (std::size_t i = offset; w >= 0 && i < end; ++i) {
                        const SessionRecord& s = data->sessions()[kept[i]];
                        w = sd_bus_message_append(reply, "(ssxuu)", bus::validUtf8(s.user).c_str(),
                                                  bus::validUtf8(s.computer).c_str(), int64_t{s.start}, s.duration,
                                                  s.fileCount);
                    }
                    return w < 0 ? w : sd_bus_message_close_container(reply);
                }));
            });
        });
    }

    // The files of one session of the history (its user, computer, start and duration), a page at a time.
    static int getHistoryFiles(sd_bus_message* m, void* userdata, sd_bus_error*)
    {
        Impl& impl = self(userdata);
        const char* user = nullptr;
        const char* computer = nullptr;
        int64_t start = 0;
        uint32_t duration = 0, offset = 0, count = 0;
        if (int r = sd_bus_message_read(m, "ssxuuu", &user, &computer, &start, &duration, &offset, &count); r < 0)
            return r;
        return impl.authorize(m, bus::viewAction, [&impl, user = std::string(user), computer = std::string(computer),
                                                   start, duration, offset, count](Done done) {
            impl.history->run([&impl, dataDir = impl.engine.monitor().dataDir(), user, computer, start, duration,
                               offset, count, done] {
                const HistoryPtr data = impl.historyCache.get(dataDir);
                const auto files = bus::historySessionFiles(*data, user, computer, start, duration);
                done(success([data, files, offset, count](sd_bus_message* reply) {
                    int r = sd_bus_message_append(reply, "u", static_cast<uint32_t>(files.size()));
                    if (r >= 0)
                        r = sd_bus_message_open_container(reply, 'a', "(xs)");
                    const std::size_t end = std::min<std::size_t>(files.size(), std::size_t{offset} + count);
                    for (std::size_t i = offset; r >= 0 && i < end; ++i) {
                        const FileRecord& f = data->files()[files[i]];
                        r = sd_bus_message_append(reply, "(xs)", int64_t{f.time}, bus::validUtf8(f.path).c_str());
                    }
                    return r < 0 ? r : sd_bus_message_close_container(reply);
                }));
            });
        });
    }

    // The report as MakeReport writes it, handed over as text for a caller that cannot take a
    // file descriptor. A page beyond what one bus message may carry is refused, not cut.
    static int getReportText(sd_bus_message* m, void* userdata, sd_bus_error*)
    {
        Impl& impl = self(userdata);
        return impl.authorize(m, bus::viewAction, [&impl](Done done) {
            SessionMonitor& monitor = impl.engine.monitor();
            impl.history->run([dataDir = monitor.dataDir(), path = monitor.settings.reportPath.get(),
                               now = monitor.clock().now(), done] {
                constexpr std::uintmax_t largest = 24u << 20;
                std::string why;
                std::string page;
                const bool written = HistoryStore::instance().withLoaded(dataDir, [&](const HistoryPtr& history) {
                    if (!generateReport(*history, dataDir, path, now, &why))
                        return false;
                    std::error_code ec;
                    const auto size = std::filesystem::file_size(reportFilePath(dataDir, path), ec);
                    if (ec || size > largest) {
                        why = ec ? ec.message() : "the report is larger than 24 MiB; open it on the server";
                        return false;
                    }
                    std::ifstream in(reportFilePath(dataDir, path), std::ios::binary);
                    page.assign(std::istreambuf_iterator<char>(in), {});
                    return static_cast<bool>(in) || in.eof();
                });
                const std::string where = reportFilePath(dataDir, path).string();
                if (!written)
                    return done(failure(bus::failedError, "The web-based report could not be written to " + where + ".\n" + why));
                done(success([where, page = bus::validUtf8(page)](sd_bus_message* reply) {
                    return sd_bus_message_append(reply, "ss", where.c_str(), page.c_str());
                }));
            });
        });
    }

    // The test mail through the relay of the service's own settings: the one its mails take.
    static int sendTestMail(sd_bus_message* m, void* userdata, sd_bus_error*)
    {
        Impl& impl = self(userdata);
        return impl.authorize(m, bus::manageAction, [&impl](Done done) {
            const MonitorSettings& settings = impl.engine.monitor().settings;
            impl.mails->run([relay = mailRelay(settings), address = settings.mailAddress, done] {
                RecordingMessageBoxes told;
                const TestMailOutcome outcome = SendTestMail(relay, address, told);
                // The reason is what the box adds to its fixed text.
                const std::string fixed = testMailBox(outcome, nullptr).text;
                std::string reason;
                if (!told.shown.empty() && told.shown.back().text.size() > fixed.size() + 1)
                    reason = told.shown.back().text.substr(fixed.size() + 1);
                done(success([outcome, reason](sd_bus_message* reply) {
                    return sd_bus_message_append(reply, "us", static_cast<uint32_t>(outcome), reason.c_str());
                }));
            });
        });
    }

    static int clearHistory(sd_bus_message* m, void* userdata, sd_bus_error*)
    {
        Impl& impl = self(userdata);
        return impl.authorize(m, bus::manageAction, [&impl](Done done) {
            SessionMonitor& monitor = impl.engine.monitor();
            if (!vantor::clearHistory(monitor.dataDir(), monitor.boxes()))
                return done(failure(bus::failedError, "The history could not be cleared."));
            done(success());
        });
    }
};

namespace {

// Every method is open to every caller as far as sd-bus is concerned: polkit decides, per call.
const sd_bus_vtable monitorVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("GetSessions", "", "a" VANTOR_BUS_SESSION_ROW "uu", MonitorBusService::Impl::getSessions, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("GetCaption", "", "ss", MonitorBusService::Impl::getCaption, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("GetStatus", "", "a{ss}", MonitorBusService::Impl::getStatus, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("GetOpenFiles", "s", "a" VANTOR_BUS_FILE_ROW, MonitorBusService::Impl::getOpenFiles, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("CloseSession", "ss", "", MonitorBusService::Impl::closeSession, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("CloseAllSessions", "", "", MonitorBusService::Impl::closeAllSessions, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("CloseFile", "u", "", MonitorBusService::Impl::closeFile, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("SetRemoteServer", "s", "", MonitorBusService::Impl::setRemoteServer, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("GetOptions", "", "a{ss}", MonitorBusService::Impl::getOptions, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("SetOptions", "a{ss}", "", MonitorBusService::Impl::setOptions, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("GetList", "s", "a(ss)", MonitorBusService::Impl::getList, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("SetList", "sa(ss)", "", MonitorBusService::Impl::setList, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("ClearHistory", "", "", MonitorBusService::Impl::clearHistory, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("GetAllOpenFiles", "", "a" VANTOR_BUS_LISTED_FILE_ROW, MonitorBusService::Impl::getAllOpenFiles, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("GetShares", "", "a" VANTOR_BUS_SHARE_ROW, MonitorBusService::Impl::getShares, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("AddToList", "sss", "", MonitorBusService::Impl::addToList, SD_BUS_VTABLE_UNPRIVILEGED),
    // files.log and users.log, read-only.
    SD_BUS_METHOD("GetHistory", "", "hh", MonitorBusService::Impl::getHistory, SD_BUS_VTABLE_UNPRIVILEGED),
    // Where the service wrote the report, and the page.
    SD_BUS_METHOD("MakeReport", "", "sh", MonitorBusService::Impl::makeReport, SD_BUS_VTABLE_UNPRIVILEGED),
    // How it went (0 cannot connect, 1 cannot send, 2 sent) and the mail server's reason.
    SD_BUS_METHOD("SendTestMail", "", "us", MonitorBusService::Impl::sendTestMail, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("GetSessionsJson", "", "s", MonitorBusService::Impl::getSessionsJson, SD_BUS_VTABLE_UNPRIVILEGED),
    // What changed in the table since a version the caller holds ("": none), as JSON.
    SD_BUS_METHOD("GetSessionsChanges", "s", "s", MonitorBusService::Impl::getSessionsChanges, SD_BUS_VTABLE_UNPRIVILEGED),
    // A page of the history's sessions: filters (text, from, to, sort, order), offset, count;
    // how many the filters keep, and the page's user, computer, start, duration and file count.
    SD_BUS_METHOD("GetHistoryPage", "a{ss}uu", "ua(ssxuu)", MonitorBusService::Impl::getHistoryPage, SD_BUS_VTABLE_UNPRIVILEGED),
    // One history session's files (user, computer, start, duration, offset, count): the total, and time and path.
    SD_BUS_METHOD("GetHistoryFiles", "ssxuuu", "ua(xs)", MonitorBusService::Impl::getHistoryFiles, SD_BUS_VTABLE_UNPRIVILEGED),
    // Where the service wrote the report, and the page itself.
    SD_BUS_METHOD("GetReportText", "", "ss", MonitorBusService::Impl::getReportText, SD_BUS_VTABLE_UNPRIVILEGED),
    // pollError, pollRoute.
    SD_BUS_SIGNAL("SessionsChanged", "", 0),
    // Whether the desktop beeps and pops up: its part of the event, as the options say.
    SD_BUS_SIGNAL("NewUser", "bb", 0),
    SD_BUS_VTABLE_END};

}  // namespace

MonitorBusService::MonitorBusService(Engine& engine, Options options)
    : m_impl(std::make_unique<Impl>(engine, std::move(options)))
{
}

MonitorBusService::~MonitorBusService() { stop(); }

std::string MonitorBusService::start()
{
    Impl& impl = *m_impl;
    auto fail = [&](const std::string& what, int r) {
        const std::string text = what + ": " + std::strerror(-r);
        if (impl.bus)
            impl.bus = sd_bus_flush_close_unref(impl.bus);
        if (impl.event)
            impl.event = sd_event_unref(impl.event);
        if (impl.wakeFd >= 0)
            ::close(impl.wakeFd);
        impl.wakeFd = -1;
        return text;
    };
    int r = 0;
    if (impl.options.address.empty()) {
        r = sd_bus_open_system(&impl.bus);
    } else {
        r = sd_bus_new(&impl.bus);
        if (r >= 0)
            r = sd_bus_set_address(impl.bus, impl.options.address.c_str());
        if (r >= 0)
            r = sd_bus_set_bus_client(impl.bus, 1);
        if (r >= 0)
            r = sd_bus_start(impl.bus);
    }
    if (r < 0)
        return fail("the system bus cannot be reached", r);
    if ((r = sd_event_new(&impl.event)) < 0 || (r = sd_bus_attach_event(impl.bus, impl.event, 0)) < 0)
        return fail("the bus's event loop cannot be made", r);
    impl.watchPolkit();
    impl.wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (impl.wakeFd < 0)
        return fail("the bus thread's wake-up cannot be made", -errno);
    r = sd_event_add_io(impl.event, nullptr, impl.wakeFd, EPOLLIN,
                        [](sd_event_source*, int, uint32_t, void* userdata) {
                            static_cast<Impl*>(userdata)->runBusTasks();
                            return 0;
                        },
                        &impl);
    if (r < 0)
        return fail("the bus thread's wake-up cannot be watched", r);
    r = sd_bus_add_object_vtable(impl.bus, &impl.vtableSlot, bus::objectPath, bus::interfaceName, monitorVtable, &impl);
    if (r < 0)
        return fail("the object cannot be exported", r);
    r = sd_bus_request_name(impl.bus, bus::serviceName, 0);
    if (r < 0)
        return fail(std::string("the name ") + bus::serviceName + " cannot be had", r);

    impl.engine.onPollFinished = [&impl] { impl.pollFinished(); };
    impl.engine.onNewUser = [&impl](const SessionEntry&) {
        const MonitorSettings& s = impl.engine.monitor().settings;
        impl.emitNewUser(s.beepOnNewUser != 0, s.popupOnNewUser != 0);
    };
    impl.thread = std::thread([&impl] { sd_event_loop(impl.event); });
    return {};
}

void MonitorBusService::stop()
{
    Impl& impl = *m_impl;
    if (!impl.thread.joinable())
        return;
    impl.engine.onPollFinished = {};
    impl.engine.onNewUser = {};
    impl.toBus([&impl] { sd_event_exit(impl.event, 0); });
    impl.thread.join();
    impl.actions.reset();
    impl.mails.reset();
    impl.history.reset();
    impl.vtableSlot = sd_bus_slot_unref(impl.vtableSlot);
    impl.bus = sd_bus_flush_close_unref(impl.bus);
    impl.event = sd_event_unref(impl.event);
    ::close(impl.wakeFd);
    impl.wakeFd = -1;
}

}  // namespace vantor
