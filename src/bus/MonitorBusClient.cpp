#include "bus/MonitorBusClient.h"

#include "bus/BusNames.h"
#include "bus/BusRows.h"
#include "options/SettingsFile.h"

#include <systemd/sd-bus.h>

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>

namespace vantor {

bool BusError::refused() const
{
    return name == bus::notAuthorizedError;
}

bool BusError::serviceGone() const
{
    return name == SD_BUS_ERROR_SERVICE_UNKNOWN || name == SD_BUS_ERROR_NAME_HAS_NO_OWNER
           || name == SD_BUS_ERROR_NO_REPLY || name == SD_BUS_ERROR_DISCONNECTED;
}

// One method call: the arguments appended by `in`, the reply read by `out`.
struct MonitorBusClient::Call {
    static bool run(MonitorBusClient& client, const char* method, BusError& error,
                    const std::function<int(sd_bus_message*)>& in, const std::function<int(sd_bus_message*)>& out,
                    const char* interface = bus::interfaceName)
    {
        error = {};
        sd_bus_message* call = nullptr;
        sd_bus_message* reply = nullptr;
        sd_bus_error e = SD_BUS_ERROR_NULL;
        int r =
            sd_bus_message_new_method_call(client.m_bus, &call, bus::serviceName, bus::objectPath, interface, method);
        if (r >= 0)
            r = sd_bus_message_set_allow_interactive_authorization(call, client.m_interactive);
        // A stopped service is the administrator's choice: no call of the desktop starts it.
        if (r >= 0)
            r = sd_bus_message_set_auto_start(call, 0);
        if (r >= 0 && in)
            r = in(call);
        if (r >= 0) {
            // A password dialogue may take the user a while.
            const uint64_t timeout = client.m_interactive ? 300'000'000ULL : 0;
            r = sd_bus_call(client.m_bus, call, timeout, &e, &reply);
        }
        if (r >= 0 && out) {
            r = out(reply);
            if (r < 0)
                sd_bus_error_set_errno(&e, r);
        }
        bool ok = r >= 0;
        if (!ok) {
            if (!sd_bus_error_is_set(&e))
                sd_bus_error_set_errno(&e, r);
            error.name = e.name ? e.name : SD_BUS_ERROR_FAILED;
            error.text = e.message ? e.message : std::strerror(-r);
        }
        sd_bus_error_free(&e);
        sd_bus_message_unref(reply);
        sd_bus_message_unref(call);
        return ok;
    }
};

std::unique_ptr<MonitorBusClient> MonitorBusClient::connect(const std::string& address, std::string& error)
{
    std::unique_ptr<MonitorBusClient> client(new MonitorBusClient);
    int r = 0;
    if (address.empty()) {
        r = sd_bus_open_system(&client->m_bus);
    } else {
        r = sd_bus_new(&client->m_bus);
        if (r >= 0)
            r = sd_bus_set_address(client->m_bus, address.c_str());
        if (r >= 0)
            r = sd_bus_set_bus_client(client->m_bus, 1);
        if (r >= 0)
            r = sd_bus_start(client->m_bus);
    }
    if (r >= 0) {
        auto handler = [](sd_bus_message* m, void* userdata, sd_bus_error*) {
            auto* self = static_cast<MonitorBusClient*>(userdata);
            const std::string member = sd_bus_message_get_member(m);
            if (member == "SessionsChanged" && self->onSessionsChanged)
                self->onSessionsChanged();
            else if (member == "NewUser" && self->onNewUser) {
                int beep = 0;
                int popup = 0;
                if (sd_bus_message_read(m, "bb", &beep, &popup) < 0)
                    beep = popup = 0;
                self->onNewUser(beep != 0, popup != 0);
            }
            return 0;
        };
        r = sd_bus_match_signal(client->m_bus, nullptr, bus::serviceName, bus::objectPath, bus::interfaceName, nullptr,
                                handler, client.get());
    }
    if (r >= 0) {
        auto owner = [](sd_bus_message* m, void* userdata, sd_bus_error*) {
            auto* self = static_cast<MonitorBusClient*>(userdata);
            const char* name = nullptr;
            const char* before = nullptr;
            const char* after = nullptr;
            if (sd_bus_message_read(m, "sss", &name, &before, &after) >= 0 && self->onServiceChanged)
                self->onServiceChanged(after && *after);
            return 0;
        };
        const std::string rule =
            std::string("type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',"
                        "member='NameOwnerChanged',arg0='")
            + bus::serviceName + "'";
        r = sd_bus_add_match(client->m_bus, nullptr, rule.c_str(), owner, client.get());
    }
    if (r < 0) {
        error = std::string("the system bus cannot be reached: ") + std::strerror(-r);
        return nullptr;
    }
    return client;
}

MonitorBusClient::~MonitorBusClient()
{
    sd_bus_flush_close_unref(m_bus);
}

bool MonitorBusClient::serviceRunning()
{
    return sd_bus_get_name_creds(m_bus, bus::serviceName, 0, nullptr) >= 0;
}

std::optional<BusSessions> MonitorBusClient::getSessions(BusError& error)
{
    BusSessions s;
    if (!Call::run(*this, "GetSessions", error, {}, [&](sd_bus_message* m) {
            const int r = bus::readSessionRows(m, s.rows);
            return r < 0 ? r : sd_bus_message_read(m, "uu", &s.currentSessions, &s.openFilesTotal);
        }))
        return std::nullopt;
    return s;
}

std::optional<std::string> MonitorBusClient::introspect(BusError& error)
{
    std::string xml;
    if (!Call::run(
            *this, "Introspect", error, {},
            [&](sd_bus_message* m) {
                const char* text = nullptr;
                const int r = sd_bus_message_read(m, "s", &text);
                if (r >= 0)
                    xml = text;
                return r;
            },
            "org.freedesktop.DBus.Introspectable"))
        return std::nullopt;
    return xml;
}

std::optional<std::pair<std::string, std::string>> MonitorBusClient::getCaption(BusError& error)
{
    std::pair<std::string, std::string> result;
    if (!Call::run(*this, "GetCaption", error, {}, [&](sd_bus_message* m) {
            const char* caption = nullptr;
            const char* server = nullptr;
            const int r = sd_bus_message_read(m, "ss", &caption, &server);
            if (r >= 0)
                result = {caption, server};
            return r;
        }))
        return std::nullopt;
    return result;
}

std::optional<std::vector<OpenFileRow>> MonitorBusClient::getOpenFiles(const std::string& user, BusError& error)
{
    std::vector<OpenFileRow> rows;
    if (!Call::run(
            *this, "GetOpenFiles", error,
            [&](sd_bus_message* m) { return sd_bus_message_append(m, "s", user.c_str()); },
            [&](sd_bus_message* m) { return bus::readFileRows(m, rows); }))
        return std::nullopt;
    return rows;
}

bool MonitorBusClient::closeSession(const std::string& user, const std::string& computer, BusError& error)
{
    return Call::run(*this, "CloseSession", error,
                     [&](sd_bus_message* m) { return sd_bus_message_append(m, "ss", user.c_str(), computer.c_str()); },
                     {});
}

bool MonitorBusClient::closeAllSessions(BusError& error)
{
    return Call::run(*this, "CloseAllSessions", error, {}, {});
}

bool MonitorBusClient::closeFile(uint32_t id, BusError& error)
{
    return Call::run(*this, "CloseFile", error, [&](sd_bus_message* m) { return sd_bus_message_append(m, "u", id); },
                     {});
}

bool MonitorBusClient::setRemoteServer(const std::string& server, BusError& error)
{
    return Call::run(*this, "SetRemoteServer", error,
                     [&](sd_bus_message* m) { return sd_bus_message_append(m, "s", server.c_str()); }, {});
}

std::optional<std::map<std::string, std::string>> MonitorBusClient::getOptions(BusError& error)
{
    bus::OptionValues values;
    if (!Call::run(*this, "GetOptions", error, {}, [&](sd_bus_message* m) { return bus::readOptionValues(m, values); }))
        return std::nullopt;
    return std::map<std::string, std::string>(values.begin(), values.end());
}

std::optional<std::map<std::string, std::string>> MonitorBusClient::getStatus(BusError& error)
{
    bus::OptionValues values;
    if (!Call::run(*this, "GetStatus", error, {}, [&](sd_bus_message* m) { return bus::readOptionValues(m, values); }))
        return std::nullopt;
    return std::map<std::string, std::string>(values.begin(), values.end());
}

bool MonitorBusClient::setOptions(const std::map<std::string, std::string>& values, BusError& error)
{
    const bus::OptionValues pairs(values.begin(), values.end());
    return Call::run(*this, "SetOptions", error, [&](sd_bus_message* m) { return bus::writeOptionValues(m, pairs); },
                     {});
}

std::optional<std::vector<AccessRow>> MonitorBusClient::getList(const std::string& kind, BusError& error)
{
    std::vector<AccessRow> rows;
    if (!Call::run(
            *this, "GetList", error, [&](sd_bus_message* m) { return sd_bus_message_append(m, "s", kind.c_str()); },
            [&](sd_bus_message* m) {
                int r = sd_bus_message_enter_container(m, 'a', "(ss)");
                while (r > 0) {
                    const char* user = nullptr;
                    const char* computer = nullptr;
                    r = sd_bus_message_read(m, "(ss)", &user, &computer);
                    if (r > 0)
                        rows.push_back({user, computer});
                }
                return r < 0 ? r : sd_bus_message_exit_container(m);
            }))
        return std::nullopt;
    return rows;
}

bool MonitorBusClient::setList(const std::string& kind, const std::vector<AccessRow>& rows, BusError& error)
{
    return Call::run(*this, "SetList", error,
                     [&](sd_bus_message* m) {
                         int r = sd_bus_message_append(m, "s", kind.c_str());
                         if (r >= 0)
                             r = sd_bus_message_open_container(m, 'a', "(ss)");
                         for (std::size_t i = 0; r >= 0 && i < rows.size(); ++i)
                             r = sd_bus_message_append(m, "(ss)", rows[i].user.c_str(), rows[i].computer.c_str());
                         return r < 0 ? r : sd_bus_message_close_container(m);
                     },
                     {});
}

std::optional<OptionsValue> MonitorBusClient::getOptionsValue(BusError& error)
{
    const auto options = getOptions(error);
    const auto black = options ? getList("black", error) : std::nullopt;
    const auto white = black ? getList("white", error) : std::nullopt;
    if (!white)
        return std::nullopt;
    OptionsValue value;
    for (const SettingKey& key : settingKeys())
        if (auto it = options->find(key.name); it != options->end())
            key.read(value.settings, it->second);
    value.blackList.setFileLines(*black);
    value.whiteList.setFileLines(*white);
    return value;
}

bool MonitorBusClient::storeOptions(const OptionsResult& result, BusError& error)
{
    if (result.closed == OptionsClosed::Cancelled)
        return true;
    // The lists as the list files would hold them, as the window's OK has always written them.
    if (!setList("black", result.value.blackList.fileLines(), error)
        || !setList("white", result.value.whiteList.fileLines(), error))
        return false;
    if (result.closed != OptionsClosed::Accepted)
        return true;
    std::map<std::string, std::string> accepted;
    for (const SettingKey& key : settingKeys())
        if (std::string(key.name) != "serverName")
            accepted[key.name] = key.write(result.value.settings);
    return setOptions(accepted, error);
}

bool MonitorBusClient::clearHistory(BusError& error)
{
    return Call::run(*this, "ClearHistory", error, {}, {});
}

namespace {

// The whole content of a file passed over the bus, from its start whatever its offset.
int readPassedFile(int fd, std::string& out)
{
    out.clear();
    char buf[1 << 16];
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(fd, buf, sizeof buf, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -errno;
        if (n == 0)
            return 0;
        out.append(buf, static_cast<std::size_t>(n));
        at += n;
    }
}

}  // namespace

std::optional<std::vector<NetFileInfo>> MonitorBusClient::getAllOpenFiles(BusError& error)
{
    std::vector<NetFileInfo> files;
    if (!Call::run(*this, "GetAllOpenFiles", error, {},
                   [&](sd_bus_message* m) { return bus::readListedFiles(m, files); }))
        return std::nullopt;
    return files;
}

std::optional<std::vector<NetShareInfo>> MonitorBusClient::getShares(BusError& error)
{
    std::vector<NetShareInfo> shares;
    if (!Call::run(*this, "GetShares", error, {}, [&](sd_bus_message* m) { return bus::readShares(m, shares); }))
        return std::nullopt;
    return shares;
}

bool MonitorBusClient::addToList(const std::string& kind, const std::string& user, const std::string& computer,
                                 BusError& error)
{
    return Call::run(*this, "AddToList", error,
                     [&](sd_bus_message* m) {
                         return sd_bus_message_append(m, "sss", kind.c_str(), user.c_str(), computer.c_str());
                     },
                     {});
}

std::optional<HistoryData> MonitorBusClient::getHistory(BusError& error)
{
    std::string files, users;
    if (!Call::run(*this, "GetHistory", error, {}, [&](sd_bus_message* m) {
            int filesFd = -1, usersFd = -1;
            int r = sd_bus_message_read(m, "hh", &filesFd, &usersFd);
            if (r >= 0)
                r = readPassedFile(filesFd, files);
            return r < 0 ? r : readPassedFile(usersFd, users);
        }))
        return std::nullopt;
    std::istringstream filesIn(std::move(files));
    std::istringstream usersIn(std::move(users));
    return HistoryData::load(filesIn, usersIn);
}

std::optional<BusReport> MonitorBusClient::makeReport(BusError& error)
{
    BusReport report;
    if (!Call::run(*this, "MakeReport", error, {}, [&](sd_bus_message* m) {
            const char* where = nullptr;
            int fd = -1;
            int r = sd_bus_message_read(m, "sh", &where, &fd);
            if (r >= 0) {
                report.serviceFile = where;
                r = readPassedFile(fd, report.page);
            }
            return r;
        }))
        return std::nullopt;
    return report;
}

std::optional<BusTestMail> MonitorBusClient::sendTestMail(BusError& error)
{
    BusTestMail mail;
    if (!Call::run(*this, "SendTestMail", error, {}, [&](sd_bus_message* m) {
            uint32_t outcome = 0;
            const char* reason = nullptr;
            const int r = sd_bus_message_read(m, "us", &outcome, &reason);
            if (r >= 0) {
                mail.outcome = outcome == 2   ? TestMailOutcome::Sent
                               : outcome == 1 ? TestMailOutcome::CannotSend
                                              : TestMailOutcome::CannotConnect;
                mail.reason = reason;
            }
            return r;
        }))
        return std::nullopt;
    return mail;
}

int MonitorBusClient::fd() const
{
    return sd_bus_get_fd(m_bus);
}

void MonitorBusClient::process()
{
    while (sd_bus_process(m_bus, nullptr) > 0) { }
}

bool MonitorBusClient::wait(std::chrono::milliseconds limit)
{
    bool handled = false;
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const int r = sd_bus_process(m_bus, nullptr);
        if (r > 0) {
            handled = true;
            continue;
        }
        if (r < 0 || handled)
            return handled;
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0 || sd_bus_wait(m_bus, static_cast<uint64_t>(left.count())) <= 0)
            return false;
    }
}

}  // namespace vantor
