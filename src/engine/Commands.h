#pragma once
// The commands anyone may give the monitor: a window's menu, the service's bus, a console. Each takes
// its target as a value and answers with an outcome: done, or which failure and the text that says
// so. The decisions and their texts live here once; a window shows an outcome as a box, the service
// turns it into a bus error and a journal line. Which row a desktop's menu meant is the desktop's
// business (Desk.h): a command here is told the session or the file itself.
//
// The commands that wait on the service (the closes) are thread-safe and block: a caller runs them
// beside its GUI or its bus thread. The others run on the monitor's thread.

#include "monitor/Outcome.h"
#include "monitor/SessionMonitor.h"
#include "mail/TestMail.h"
#include "options/OptionsCommand.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vantor {

class Engine;

// --- the sessions and files ------------------------------------------------------------------------

// Ends one session on the monitored server. A session without a user name is never closed by
// name: the service would take the empty name as every user of that computer. Thread-safe.
Outcome closeSession(SessionMonitor& monitor, const std::string& user, const std::string& computer);
// Ends every session the table shows; `closed` (when given) says how many went. Thread-safe.
Outcome closeAllSessions(SessionMonitor& monitor, std::size_t* closed = nullptr);
// Closes one open file by the service's identifier. Thread-safe.
Outcome closeFile(SessionMonitor& monitor, uint32_t id);

// --- the lists --------------------------------------------------------------------------------------

// Whether `user` and `computer` can be written as a list's line; the bus's refusal when not.
std::optional<Outcome> checkListNames(const std::string& user, const std::string& computer);
// The "Add to the ... list" commands: the line appended, the lists read again, and the box that
// confirms it (SessionMonitor::addToList).
Outcome addToList(SessionMonitor& monitor, ListKind list, const std::string& user, const std::string& computer);
// Both lists replaced (the Options window's OK over the bus).
Outcome setList(SessionMonitor& monitor, ListKind list, const std::vector<std::pair<std::string, std::string>>& pairs);
const char* listName(ListKind list);  // "black", "white"

// --- the server, the options, the history, the mail -------------------------------------------------

// Who chooses the server: the service lets a caller choose only what its settings file lists.
enum class Chooser { Desk, Service };
// The "Input" dialog's text as the monitored server (the poll is the caller's).
Outcome chooseServer(SessionMonitor& monitor, const std::string& text, Chooser chooser);

// Options handed over as "name" = "value" texts (the bus): every value read as the settings file
// reads it, then the checks the service holds for root and the Options window's; nothing changes
// unless all pass. Applied, then saved.
Outcome setOptions(Engine& engine, const std::vector<std::pair<std::string, std::string>>& values);
// The Options window of a desk over its own engine: what the window hands back stored (the lists,
// the settings applied with the logs trimmed, then saved), a failed trim or save told on the
// monitor's boxes.
void storeOptions(Engine& engine, const OptionsResult& result);
// Every option by name, as the settings file writes it.
std::vector<std::pair<std::string, std::string>> optionTexts(const MonitorSettings& settings);

// "Clear history": both logs deleted; the confirmation or the failure.
Outcome clearHistory(const std::filesystem::path& dataDir);

// The report written where `reportPath` says; `where` is its file. `thenHeld` runs while no other
// report can take the file's name (to open or read the page just made) and may fail it with a reason.
using ReportTaken = std::function<bool(const std::filesystem::path& file, std::string& why)>;
Outcome makeReport(const std::filesystem::path& dataDir, const std::string& reportPath, int64_t now, std::string& where,
                   const ReportTaken& thenHeld = {});

// The test mail through `relay`: how it went and the mail server's reason.
struct TestMailResult {
    TestMailOutcome outcome = TestMailOutcome::CannotConnect;
    std::string reason;
    BoxRequest box(void* owner = nullptr) const { return testMailBox(outcome, owner, reason); }
};
TestMailResult sendTestMail(const MailRelay& relay, const std::string& address);

}  // namespace vantor
