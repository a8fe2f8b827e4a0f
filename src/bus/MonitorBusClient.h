#pragma once
// A client of vantord's face on the system bus: each call as a blocking function, the signals as
// hooks run from process(). A program with a loop of its own watches fd() and calls process() when
// it is readable; the calls themselves belong on a thread beside a window's (they wait on polkit,
// which may wait on a password dialogue).

#include "base/AccessList.h"
#include "history/HistoryReader.h"
#include "mail/TestMail.h"
#include "monitor/SessionTypes.h"
#include "options/OptionsModel.h"

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

typedef struct sd_bus sd_bus;

namespace vantor {

struct BusError {
    std::string name;  // the D-Bus error name; empty: no error
    std::string text;
    explicit operator bool() const { return !name.empty(); }
    // polkit said no (or could not be asked).
    bool refused() const;
    // Nobody owns the service's name, or it went away during the call.
    bool serviceGone() const;
};

struct BusSessions {
    std::vector<SessionEntry> rows;
    uint32_t currentSessions = 0;
    uint32_t openFilesTotal = 0;
};

// The report as the service wrote it: where, in its data folder, and the page itself.
struct BusReport {
    std::string serviceFile;
    std::string page;
};

struct BusTestMail {
    TestMailOutcome outcome = TestMailOutcome::CannotConnect;
    std::string reason;  // the mail server's, or why it could not be reached; may be empty
};

class MonitorBusClient {
public:
    // Connects to `address` (empty: the system bus); null with `error` set when that fails.
    static std::unique_ptr<MonitorBusClient> connect(const std::string& address, std::string& error);
    ~MonitorBusClient();
    MonitorBusClient(const MonitorBusClient&) = delete;
    MonitorBusClient& operator=(const MonitorBusClient&) = delete;

    // Whether polkit may ask the user for a password before answering (a desktop: yes).
    void setInteractive(bool interactive) { m_interactive = interactive; }
    // Whether the service's name has an owner now.
    bool serviceRunning();

    // The service object's introspection data (org.freedesktop.DBus.Introspectable).
    std::optional<std::string> introspect(BusError& error);
    std::optional<BusSessions> getSessions(BusError& error);
    std::optional<std::pair<std::string, std::string>> getCaption(BusError& error);  // caption, serverName
    std::optional<std::vector<OpenFileRow>> getOpenFiles(const std::string& user, BusError& error);
    bool closeSession(const std::string& user, const std::string& computer, BusError& error);
    bool closeAllSessions(BusError& error);
    bool closeFile(uint32_t id, BusError& error);
    bool setRemoteServer(const std::string& server, BusError& error);
    std::optional<std::map<std::string, std::string>> getOptions(BusError& error);
    // "pollError" and "pollRoute" (and what a later service adds).
    std::optional<std::map<std::string, std::string>> getStatus(BusError& error);
    bool setOptions(const std::map<std::string, std::string>& values, BusError& error);
    std::optional<std::vector<AccessRow>> getList(const std::string& kind, BusError& error);
    bool setList(const std::string& kind, const std::vector<AccessRow>& rows, BusError& error);
    // The Options window's value: the service's options, its black list and its white list.
    std::optional<OptionsValue> getOptionsValue(BusError& error);
    // What the Options window handed back: the black list, the white list, then, when every check
    // passed, the options (the server stays the remote-server command's). False at the first
    // refusal, which leaves the rest unsent.
    bool storeOptions(const OptionsResult& result, BusError& error);
    bool clearHistory(BusError& error);
    // Every user's open files, of the sessions the table shows.
    std::optional<std::vector<NetFileInfo>> getAllOpenFiles(BusError& error);
    // The shares the service's configuration names, with their folders (empty when it cannot tell).
    std::optional<std::vector<NetShareInfo>> getShares(BusError& error);
    // One entry added to the list "black" or "white" by the service itself.
    bool addToList(const std::string& kind, const std::string& user, const std::string& computer, BusError& error);
    // The service's history, read as the history window reads the logs.
    std::optional<HistoryData> getHistory(BusError& error);
    std::optional<BusReport> makeReport(BusError& error);
    std::optional<BusTestMail> sendTestMail(BusError& error);

    // The service's signals, run from process().
    std::function<void()> onSessionsChanged;
    // A new user came: whether the desktop beeps and pops the window up.
    std::function<void(bool beep, bool popup)> onNewUser;
    // The service came on the bus (true) or left it (false).
    std::function<void(bool running)> onServiceChanged;
    // The connection's file descriptor, for a host loop's poll.
    int fd() const;
    // Handles what has arrived (signals above all) without waiting.
    void process();
    // Waits up to `limit` for something to arrive and handles it; false when nothing came.
    bool wait(std::chrono::milliseconds limit);

private:
    MonitorBusClient() = default;
    struct Call;

    sd_bus* m_bus = nullptr;
    bool m_interactive = false;
};

}  // namespace vantor
