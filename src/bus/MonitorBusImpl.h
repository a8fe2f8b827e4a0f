#pragma once
// The inside of vantord's bus face, shared by its files: the bus thread and its tasks, the polkit
// check every method makes, and the methods themselves (MonitorBusService.cpp: the commands,
// MonitorBusViews.cpp: what the tables show, MonitorBusHistory.cpp: the history and the report).
// A method reads its arguments, asks polkit, and makes one call into the engine's commands
// (engine/Commands.h): the decisions are the engine's, never this layer's.

#include "bus/AuthorizationCache.h"
#include "bus/BusNames.h"
#include "bus/MonitorBusService.h"
#include "bus/PageView.h"
#include "monitor/Outcome.h"

#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

#include <unistd.h>

#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

namespace vantor {

namespace busimpl {

// What a call ends with: an error (name and text), or a reply that `fill` completes.
struct Reply {
    std::string errorName;
    std::string errorText;
    std::function<int(sd_bus_message*)> fill;
};
using Done = std::function<void(Reply)>;
// A call's work, run on the engine's loop once the caller is authorized.
using Work = std::function<void(Done)>;

inline Reply failure(const char* name, std::string text)
{
    return {name, std::move(text), {}};
}
inline Reply success(std::function<int(sd_bus_message*)> fill = {})
{
    return {{}, {}, std::move(fill)};
}
// A command's outcome as its reply: refusals and missing targets are the caller's to mend, failures
// the service's.
inline Reply replyOf(const Outcome& outcome)
{
    if (outcome.ok())
        return success();
    return failure(outcome.kind == Outcome::Kind::Failed ? bus::failedError : bus::refusedError, outcome.text);
}

// What the refusal of an action tells the user to do.
inline std::string refusalText(const std::string& action)
{
    const bool view = action == bus::viewAction;
    return std::string("You are not allowed to ")
           + (view ? "view the sessions" : "change the monitor (close, lists, options, history, test mail)")
           + " of the Vantor service (polkit action " + action
           + "): ask the administrator to allow it (a rule in /etc/polkit-1/rules.d, see "
             "/usr/share/doc/vantor/49-vantor.rules.example).";
}

inline std::optional<ListKind> listKind(const std::string& name)
{
    if (name == "black")
        return ListKind::Black;
    if (name == "white")
        return ListKind::White;
    return std::nullopt;
}

}  // namespace busimpl

struct MonitorBusService::Impl {
    using Reply = busimpl::Reply;
    using Done = busimpl::Done;
    using Work = busimpl::Work;

    Impl(Engine& e, Options o)
        : engine(e)
        , options(std::move(o))
    {
    }

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
        return [this, call](Reply outcome) {
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
        auto* pending =
            new Pending{this, sd_bus_message_ref(call), action, std::move(work), sender, views.generation()};
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
                                       busimpl::refusalText(pending->action).c_str());
            sd_bus_message_unref(pending->call);
            return 1;
        }
        if (pending->action == bus::viewAction)
            impl.views.remember(pending->sender, pending->action, pending->generation,
                                bus::AuthorizationCache::Clock::now());
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
            log(LogLevel::Warning,
                std::string("polkit's changes cannot be heard, every call asks it: ") + std::strerror(-r));
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
    // A change that the sessions table shows: a poll makes the table (and the signal) follow.
    void pollSoon()
    {
        engine.loop().post([this] { engine.poll(); });
    }

    // --- the methods (sd-bus's callbacks) --------------------------------------------------------
    static int getSessions(sd_bus_message* m, void* userdata, sd_bus_error*);
    static int getSessionsJson(sd_bus_message* m, void* userdata, sd_bus_error*);
    static int getSessionsChanges(sd_bus_message* m, void* userdata, sd_bus_error*);
    static int getCaption(sd_bus_message* m, void* userdata, sd_bus_error*);
    static int getStatus(sd_bus_message* m, void* userdata, sd_bus_error*);
    static int getOpenFiles(sd_bus_message* m, void* userdata, sd_bus_error*);
    static int getAllOpenFiles(sd_bus_message* m, void* userdata, sd_bus_error*);
    static int getShares(sd_bus_message* m, void* userdata, sd_bus_error*);
    static int getOptions(sd_bus_message* m, void* userdata, sd_bus_error*);
    static int getList(sd_bus_message* m, void* userdata, sd_bus_error*);
    static int closeSession(sd_bus_message* m, void* userdata, sd_bus_error*);
    static int closeAllSessions(sd_bus_message* m, void* userdata, sd_bus_error*);
    static int closeFile(sd_bus_message* m, void* userdata, sd_bus_error*);
    static int setRemoteServer(sd_bus_message* m, void* userdata, sd_bus_error*);
    static int setOptions(sd_bus_message* m, void* userdata, sd_bus_error*);
    static int setList(sd_bus_message* m, void* userdata, sd_bus_error*);
    static int addToList(sd_bus_message* m, void* userdata, sd_bus_error*);
    static int sendTestMail(sd_bus_message* m, void* userdata, sd_bus_error*);
    static int clearHistory(sd_bus_message* m, void* userdata, sd_bus_error*);
    static int getHistory(sd_bus_message* m, void* userdata, sd_bus_error*);
    static int makeReport(sd_bus_message* m, void* userdata, sd_bus_error*);
    static int getHistoryPage(sd_bus_message* m, void* userdata, sd_bus_error*);
    static int getHistoryFiles(sd_bus_message* m, void* userdata, sd_bus_error*);
    static int getReportText(sd_bus_message* m, void* userdata, sd_bus_error*);
};

}  // namespace vantor
