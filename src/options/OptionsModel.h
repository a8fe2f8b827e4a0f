#pragma once
// What the Options window edits and decides, without the window: its copy of the settings and the
// lists, the report-limit choices, and what OK does after the controls have been read (the
// empty-white-list warning, the blocking checks in their order, the autostart entry).

#include "access/AccessListRows.h"
#include "monitor/MonitorSettings.h"
#include "platform/Autostart.h"
#include "platform/MessageBoxes.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace vantor {

// What the Options window edits: a copy of the settings and of both access lists, as the list
// pages show them. The window shows sixteen of the settings; the others (serverName, the service's
// own) ride along unchanged, so the copy goes back whole.
struct OptionsValue {
    MonitorSettings settings;
    AccessListRows whiteList;
    AccessListRows blackList;

    bool operator==(const OptionsValue&) const = default;
};

// The settings with no list rows.
OptionsValue optionsFromSettings(const MonitorSettings& settings);

// How the Options window closed. OK stores the lists before its checks run, so a window that a
// check kept open and that was then cancelled still stores the lists of that OK.
enum class OptionsClosed { Cancelled, ListsAccepted, Accepted };

struct OptionsResult {
    OptionsClosed closed = OptionsClosed::Cancelled;
    // ListsAccepted: the lists of the last OK, the settings as they came in. Accepted: all of it.
    OptionsValue value;
};

// The report-limit choice list; the two rows of dashes are separators, not choices.
inline constexpr std::array<const char*, 10> reportLimitChoices = {
    "1 Hour", "2 Hours", "3 Hours", "-------------", "1 Day", "2 Days", "3 Days", "-------------", "1 Week", "1 Month"};
bool isReportLimitSeparator(int32_t index);
// A choice that carries a limit (not a separator, not "no selection").
bool isReportLimitChoice(int32_t index);

namespace optionsText {
inline constexpr const char* whiteListEmpty = "White list is empty! All users will be blocked!";
inline constexpr const char* wrongReportLimit = "Wrong entry for the report limit!";
inline constexpr const char* noReportName = "Input a filename for the web-based report!";
inline constexpr const char* reportNotHtml =
    "Input a filename for the web-based report! The file must have *.htm or *.html extension!";
inline constexpr const char* wrongTime = "Wrong time format! Use hh:mm format, e.g. 08:30, 15:00";
}  // namespace optionsText

// The first check that keeps the Options window open, as the text of its error box; none when
// every check passes.
std::optional<std::string> firstFailingCheck(const OptionsValue& values);

// The E-mail page's "Send test mail": sends the test mail to `mailAddress` through the relay and
// shows its outcome itself through `boxes`, owned by `owner` (the E-mail page). The mail code
// shows its box between its own steps (after a refused mail, before QUIT), so it is handed the
// boxes rather than asked for an outcome.
using SendTestMailFn =
    std::function<void(const MailRelay& relay, const std::string& mailAddress, MessageBoxes& boxes, void* owner)>;

// Everything OK needs besides the values read from the controls.
struct OptionsAcceptContext {
    MessageBoxes& boxes;
    Autostart& autostart;
    std::string executablePath;  // what the autostart entry starts
    void* owner = nullptr;  // the Options window, owner of every box shown here
};

// OK after the controls and the list pages have been read into `values`: warns of an empty white
// list, runs the blocking checks (false at the first failure, after its box), then writes or
// removes the autostart entry. True when the window closes with OK, also after the autostart entry
// could not be written.
bool acceptOptions(const OptionsValue& values, bool launchOnStartup, const OptionsAcceptContext& context);

// How an Options window closes, as its OKs go. Made with the value the window was given; closed
// as cancelled unless an OK came.
class OptionsCloser {
public:
    explicit OptionsCloser(const OptionsValue& given)
        : m_result{OptionsClosed::Cancelled, given}
    {
    }
    // OK with the value read from the controls and the list pages: its lists count from now on,
    // then acceptOptions; true when the window closes with all of `edited` accepted.
    bool ok(const OptionsValue& edited, bool launchOnStartup, const OptionsAcceptContext& context);
    const OptionsResult& result() const { return m_result; }

private:
    OptionsResult m_result;
};

}  // namespace vantor
