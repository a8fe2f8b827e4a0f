#include "engine/Commands.h"

#include "engine/Engine.h"
#include "history/HistoryLog.h"
#include "history/HistoryReader.h"
#include "history/HistoryReport.h"
#include "options/OptionsCommand.h"
#include "options/SettingsFile.h"

#include <algorithm>

namespace vantor {

// --- the sessions and files ------------------------------------------------------------------------

Outcome closeSession(SessionMonitor& monitor, const std::string& user, const std::string& computer)
{
    const NetStatus status = monitor.closeSessionByName(user, computer);
    return status.ok() ? Outcome::done() : Outcome::failed(status);
}

Outcome closeAllSessions(SessionMonitor& monitor, std::size_t* closed)
{
    const std::size_t n = monitor.closeAllSessions();
    if (closed)
        *closed = n;
    return Outcome::done();
}

Outcome closeFile(SessionMonitor& monitor, uint32_t id)
{
    const auto server = SessionMonitor::serverArgument(monitor.settings.serverName.get());
    if (!server)
        return Outcome::failed(commandText::serverNotConvertible);
    const NetStatus status = monitor.net().closeFile(*server, id);
    return status.ok() ? Outcome::done() : Outcome::failed(status);
}

// --- the lists --------------------------------------------------------------------------------------

std::optional<Outcome> checkListNames(const std::string& user, const std::string& computer)
{
    if (listNameAcceptable(user) && listNameAcceptable(computer))
        return std::nullopt;
    return Outcome::refused(commandText::listNameRefused(user, computer));
}

Outcome addToList(SessionMonitor& monitor, ListKind list, const std::string& user, const std::string& computer)
{
    return monitor.addToList(list, user, computer);
}

Outcome setList(SessionMonitor& monitor, ListKind list, const std::vector<std::pair<std::string, std::string>>& pairs)
{
    for (const auto& [user, computer] : pairs)
        if (auto refused = checkListNames(user, computer))
            return *refused;
    if (!writeAccessListFile(monitor.listFilePath(list), pairs))
        return Outcome::failed(monitor.listFilePath(list).string() + " cannot be written.");
    monitor.loadAccessLists();
    return Outcome::done();
}

const char* listName(ListKind list)
{
    return list == ListKind::Black ? "black" : "white";
}

// --- the server, the options, the history, the mail -------------------------------------------------

Outcome chooseServer(SessionMonitor& monitor, const std::string& text, Chooser chooser)
{
    if (chooser == Chooser::Desk)
        return monitor.chooseServer(text);
    if (!SessionMonitor::serverArgument(text))
        return Outcome::refused(commandText::serverNotConvertible);
    // The srvsvc helper logs on to the server with root's credentials: only a server that root's
    // settings file names may have them.
    if (!remoteServerListed(monitor.settings.remoteServers, text))
        return Outcome::refused(commandText::serverNotListed(text));
    return monitor.chooseServer(text);
}

namespace {

// What a caller of the service may not change: which consoles may act without polkit, which
// servers get root's credentials, the files root's service reads and writes, and, while a password
// is set, where that password goes.
std::optional<std::string> serviceRefusal(const MonitorSettings& now, const MonitorSettings& edited)
{
    // A report path outside the data folder would let a caller write a file anywhere, and a
    // password file of the caller's choosing would send any file's first line to a mail server of
    // the caller's choosing.
    const std::string reportPath = edited.reportPath.get();
    if (reportPath != now.reportPath.get() && reportPath.find('/') != std::string::npos)
        return "reportPath: over the bus only a file name in the service's data folder, not " + reportPath + ".";
    const char* rootsOnly = " is set in the service's settings file only (/etc/vantor/vantor.conf, by root).";
    for (const auto& [changed, name] : {std::pair{edited.smtpPasswordFile != now.smtpPasswordFile, "smtpPasswordFile"},
                                        std::pair{edited.consoleListen != now.consoleListen, "consoleListen"},
                                        std::pair{edited.consoleAllow != now.consoleAllow, "consoleAllow"},
                                        std::pair{edited.remoteServers != now.remoteServers, "remoteServers"}})
        if (changed)
            return std::string(name) + rootsOnly;
    const bool relayChanged = edited.smtpServer != now.smtpServer || edited.smtpPort != now.smtpPort
                              || edited.smtpSecurity != now.smtpSecurity || edited.smtpUser != now.smtpUser
                              || edited.smtpCertFingerprint != now.smtpCertFingerprint;
    if (relayChanged && !now.smtpPasswordFile.empty())
        return "The mail server, its port, security, user and certificate are set in the service's settings file "
               "only while it names a password file (/etc/vantor/vantor.conf, by root).";
    return std::nullopt;
}

}  // namespace

Outcome setOptions(Engine& engine, const std::vector<std::pair<std::string, std::string>>& values)
{
    SessionMonitor& monitor = engine.monitor();
    MonitorSettings edited = monitor.settings;
    for (const auto& [name, value] : values) {
        const SettingKey* key = findSettingKey(name);
        // The server is the remote-server command's, with its own check.
        if (!key || name == "serverName")
            return Outcome::refused("There is no option " + name + ".");
        if (auto problem = key->read(edited, value))
            return Outcome::refused(name + ": " + *problem);
    }
    if (auto refusal = serviceRefusal(monitor.settings, edited))
        return Outcome::refused(*refusal);
    const OptionsValue accepted = optionsFromSettings(edited);
    if (auto check = firstFailingCheck(accepted))
        return Outcome::refused(*check);
    applyAcceptedOptions(monitor, accepted,
                         [&monitor](int32_t index) { trimLogs(monitor.dataDir(), index, monitor.clock().now()); });
    if (!engine.saveSettings().ok())
        return Outcome::failed("The options are in force but could not be saved.");
    return Outcome::done();
}

void storeOptions(Engine& engine, const OptionsResult& result)
{
    SessionMonitor& monitor = engine.monitor();
    storeOptions(
        monitor, result,
        [&monitor](int32_t index) {
            std::string why;
            if (!trimLogs(monitor.dataDir(), index, monitor.clock().now(), &why) && !why.empty())
                monitor.boxes().show({"Error", trimFailedText(why), BoxIcon::Error, BoxButtons::Ok, nullptr});
        },
        [&engine] { engine.saveSettings().showOn(engine.monitor().boxes()); });
}

std::vector<std::pair<std::string, std::string>> optionTexts(const MonitorSettings& settings)
{
    std::vector<std::pair<std::string, std::string>> texts;
    for (const SettingKey& key : settingKeys())
        texts.emplace_back(key.name, key.write(settings));
    return texts;
}

Outcome clearHistory(const std::filesystem::path& dataDir)
{
    // The history's own command tells its outcome as one box, the confirmation or the failure.
    RecordingMessageBoxes told;
    const bool cleared = vantor::clearHistory(dataDir, told);
    Outcome outcome = cleared ? Outcome::done() : Outcome::failed("The history could not be cleared.");
    if (!told.shown.empty()) {
        outcome.caption = told.shown.back().caption;
        outcome.text = told.shown.back().text;
        outcome.icon = told.shown.back().icon;
    }
    return outcome;
}

Outcome makeReport(const std::filesystem::path& dataDir, const std::string& reportPath, int64_t now, std::string& where,
                   const ReportTaken& thenHeld)
{
    const std::filesystem::path file = reportFilePath(dataDir, reportPath);
    where = file.string();
    std::string why;
    // Under the gate, before another report can take its name: the page is moved onto its name
    // whole, so what `thenHeld` opens stays this report whatever comes later.
    const bool written = HistoryStore::instance().withLoaded(dataDir, [&](const HistoryPtr& history) {
        if (!generateReport(*history, dataDir, reportPath, now, &why))
            return false;
        return !thenHeld || thenHeld(file, why);
    });
    return written ? Outcome::done() : Outcome::failed(commandText::reportNotWritten(where, why));
}

TestMailResult sendTestMail(const MailRelay& relay, const std::string& address)
{
    TestMailResult result;
    result.outcome =
        SendTestMail(relay, address, [&result](TestMailOutcome, const std::string& reason) { result.reason = reason; });
    return result;
}

}  // namespace vantor
