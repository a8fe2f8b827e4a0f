#include "bus/MonitorBusImpl.h"

#include "bus/BusRows.h"
#include "engine/Commands.h"

#include <fcntl.h>
#include <sys/eventfd.h>

// The commands: each reads its arguments, asks polkit, and hands the engine's outcome back.

namespace vantor {

using namespace busimpl;

int MonitorBusService::Impl::closeSession(sd_bus_message* m, void* userdata, sd_bus_error*)
{
    Impl& impl = self(userdata);
    const char* user = nullptr;
    const char* computer = nullptr;
    if (int r = sd_bus_message_read(m, "ss", &user, &computer); r < 0)
        return r;
    return impl.authorize(m, bus::manageAction,
                          [&impl, user = std::string(user), computer = std::string(computer)](Done done) {
                              impl.actions->run([&impl, user, computer, done] {
                                  const Outcome outcome = vantor::closeSession(impl.engine.monitor(), user, computer);
                                  if (outcome.ok()) {
                                      impl.log(LogLevel::Notice, "closed the session of " + user + " from " + computer
                                                                     + " as asked over the bus");
                                      impl.pollSoon();
                                  }
                                  done(replyOf(outcome));
                              });
                          });
}

int MonitorBusService::Impl::closeAllSessions(sd_bus_message* m, void* userdata, sd_bus_error*)
{
    Impl& impl = self(userdata);
    return impl.authorize(m, bus::manageAction, [&impl](Done done) {
        impl.actions->run([&impl, done] {
            const Outcome outcome = vantor::closeAllSessions(impl.engine.monitor());
            impl.pollSoon();
            done(replyOf(outcome));
        });
    });
}

int MonitorBusService::Impl::closeFile(sd_bus_message* m, void* userdata, sd_bus_error*)
{
    Impl& impl = self(userdata);
    uint32_t id = 0;
    if (int r = sd_bus_message_read(m, "u", &id); r < 0)
        return r;
    return impl.authorize(m, bus::manageAction, [&impl, id](Done done) {
        impl.actions->run([&impl, id, done] {
            const Outcome outcome = vantor::closeFile(impl.engine.monitor(), id);
            if (outcome.ok())
                impl.pollSoon();
            done(replyOf(outcome));
        });
    });
}

int MonitorBusService::Impl::setRemoteServer(sd_bus_message* m, void* userdata, sd_bus_error*)
{
    Impl& impl = self(userdata);
    const char* text = nullptr;
    if (int r = sd_bus_message_read(m, "s", &text); r < 0)
        return r;
    return impl.authorize(m, bus::manageAction, [&impl, text = std::string(text)](Done done) {
        const Outcome outcome = chooseServer(impl.engine.monitor(), text, Chooser::Service);
        if (outcome.ok())
            impl.engine.poll();
        done(replyOf(outcome));
    });
}

int MonitorBusService::Impl::setOptions(sd_bus_message* m, void* userdata, sd_bus_error*)
{
    Impl& impl = self(userdata);
    bus::OptionValues values;
    if (int r = bus::readOptionValues(m, values); r < 0)
        return r;
    return impl.authorize(m, bus::manageAction,
                          [&impl, values](Done done) { done(replyOf(vantor::setOptions(impl.engine, values))); });
}

int MonitorBusService::Impl::setList(sd_bus_message* m, void* userdata, sd_bus_error*)
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
    // Names no list file can hold are refused before polkit is troubled.
    for (const auto& [user, computer] : pairs)
        if (auto refused = checkListNames(user, computer))
            return sd_bus_reply_method_errorf(m, bus::refusedError, "%s", refused->text.c_str());
    return impl.authorize(m, bus::manageAction, [&impl, kind = *kind, pairs](Done done) {
        const Outcome outcome = vantor::setList(impl.engine.monitor(), kind, pairs);
        if (outcome.ok())
            impl.log(LogLevel::Notice, std::string(listName(kind)) + " list written over the bus");
        done(replyOf(outcome));
    });
}

// One entry added on the engine's loop, where every change of a list is made: two callers adding at
// once both land, which a read of the list and a write of it back could not promise.
int MonitorBusService::Impl::addToList(sd_bus_message* m, void* userdata, sd_bus_error*)
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
    if (auto refused = checkListNames(user, computer))
        return sd_bus_reply_method_errorf(m, bus::refusedError, "%s", refused->text.c_str());
    return impl.authorize(m, bus::manageAction,
                          [&impl, kind = *kind, user = std::string(user), computer = std::string(computer)](Done done) {
                              const Outcome outcome = vantor::addToList(impl.engine.monitor(), kind, user, computer);
                              if (outcome.ok())
                                  impl.log(LogLevel::Notice, user + " " + computer + " added to the " + listName(kind)
                                                                 + " list over the bus");
                              done(replyOf(outcome));
                          });
}

// The test mail through the relay of the service's own settings: the one its mails take.
int MonitorBusService::Impl::sendTestMail(sd_bus_message* m, void* userdata, sd_bus_error*)
{
    Impl& impl = self(userdata);
    return impl.authorize(m, bus::manageAction, [&impl](Done done) {
        const MonitorSettings& settings = impl.engine.monitor().settings;
        impl.mails->run([relay = mailRelay(settings), address = settings.mailAddress, done] {
            const TestMailResult mail = vantor::sendTestMail(relay, address);
            done(success([mail](sd_bus_message* reply) {
                return sd_bus_message_append(reply, "us", static_cast<uint32_t>(mail.outcome), mail.reason.c_str());
            }));
        });
    });
}

int MonitorBusService::Impl::clearHistory(sd_bus_message* m, void* userdata, sd_bus_error*)
{
    Impl& impl = self(userdata);
    return impl.authorize(m, bus::manageAction, [&impl](Done done) {
        const Outcome outcome = vantor::clearHistory(impl.engine.monitor().dataDir());
        // What the window's box says is the journal's line.
        impl.log(outcome.ok() ? LogLevel::Info : LogLevel::Error, outcome.text);
        done(outcome.ok() ? success() : failure(bus::failedError, "The history could not be cleared."));
    });
}

namespace {

// The contract is packaging/dbus/org.vantor.Monitor1.xml, where each member is documented; a test
// holds the service's introspection to it. Every method is open to every caller as far as sd-bus is
// concerned: polkit decides, per call.
using Methods = MonitorBusService::Impl;

const sd_bus_vtable monitorVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD_WITH_NAMES("GetSessions", "", "", "a" VANTOR_BUS_SESSION_ROW "uu",
                             SD_BUS_PARAM(rows) SD_BUS_PARAM(currentSessions) SD_BUS_PARAM(openFilesTotal),
                             Methods::getSessions, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("GetCaption", "", "", "ss", SD_BUS_PARAM(caption) SD_BUS_PARAM(server),
                             Methods::getCaption, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("GetStatus", "", "", "a{ss}", SD_BUS_PARAM(status), Methods::getStatus,
                             SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("GetOpenFiles", "s", SD_BUS_PARAM(user), "a" VANTOR_BUS_FILE_ROW, SD_BUS_PARAM(files),
                             Methods::getOpenFiles, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("CloseSession", "ss", SD_BUS_PARAM(user) SD_BUS_PARAM(computer), "", "",
                             Methods::closeSession, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("CloseAllSessions", "", "", "", "", Methods::closeAllSessions, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("CloseFile", "u", SD_BUS_PARAM(id), "", "", Methods::closeFile,
                             SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("SetRemoteServer", "s", SD_BUS_PARAM(server), "", "", Methods::setRemoteServer,
                             SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("GetOptions", "", "", "a{ss}", SD_BUS_PARAM(options), Methods::getOptions,
                             SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("SetOptions", "a{ss}", SD_BUS_PARAM(options), "", "", Methods::setOptions,
                             SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("GetList", "s", SD_BUS_PARAM(list), "a(ss)", SD_BUS_PARAM(entries), Methods::getList,
                             SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("SetList", "sa(ss)", SD_BUS_PARAM(list) SD_BUS_PARAM(entries), "", "", Methods::setList,
                             SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("ClearHistory", "", "", "", "", Methods::clearHistory, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("GetAllOpenFiles", "", "", "a" VANTOR_BUS_LISTED_FILE_ROW, SD_BUS_PARAM(files),
                             Methods::getAllOpenFiles, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("GetShares", "", "", "a" VANTOR_BUS_SHARE_ROW, SD_BUS_PARAM(shares), Methods::getShares,
                             SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("AddToList", "sss", SD_BUS_PARAM(list) SD_BUS_PARAM(user) SD_BUS_PARAM(computer), "", "",
                             Methods::addToList, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("GetHistory", "", "", "hh", SD_BUS_PARAM(filesLog) SD_BUS_PARAM(usersLog),
                             Methods::getHistory, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("MakeReport", "", "", "sh", SD_BUS_PARAM(file) SD_BUS_PARAM(page), Methods::makeReport,
                             SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("SendTestMail", "", "", "us", SD_BUS_PARAM(outcome) SD_BUS_PARAM(reason),
                             Methods::sendTestMail, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("GetSessionsJson", "", "", "s", SD_BUS_PARAM(json), Methods::getSessionsJson,
                             SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("GetSessionsChanges", "s", SD_BUS_PARAM(since), "s", SD_BUS_PARAM(changes),
                             Methods::getSessionsChanges, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES(
        "GetHistoryPage", "a{ss}uu", SD_BUS_PARAM(filters) SD_BUS_PARAM(offset) SD_BUS_PARAM(count), "ua(ssxuu)",
        SD_BUS_PARAM(total) SD_BUS_PARAM(sessions), Methods::getHistoryPage, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("GetHistoryFiles", "ssxuuu",
                             SD_BUS_PARAM(user) SD_BUS_PARAM(computer) SD_BUS_PARAM(start) SD_BUS_PARAM(duration)
                                 SD_BUS_PARAM(offset) SD_BUS_PARAM(count),
                             "ua(xs)", SD_BUS_PARAM(total) SD_BUS_PARAM(files), Methods::getHistoryFiles,
                             SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("GetReportText", "", "", "ss", SD_BUS_PARAM(file) SD_BUS_PARAM(page),
                             Methods::getReportText, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_SIGNAL("SessionsChanged", "", 0),
    SD_BUS_SIGNAL_WITH_NAMES("NewUser", "bb", SD_BUS_PARAM(beep) SD_BUS_PARAM(popup), 0),
    SD_BUS_VTABLE_END};

}  // namespace

MonitorBusService::MonitorBusService(Engine& engine, Options options)
    : m_impl(std::make_unique<Impl>(engine, std::move(options)))
{
}

MonitorBusService::~MonitorBusService()
{
    stop();
}

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
    r = sd_event_add_io(
        impl.event, nullptr, impl.wakeFd, EPOLLIN,
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