#pragma once
// What the main window has of the monitor: its tables, their selection, the caption, and the
// commands. Two faces implement it: the engine in this process, and the service over the system
// bus; the window never knows which it has.
//
// Every member is called on the window's thread and returns at once: what waits (a poll, a close,
// an authorization) runs elsewhere, and its outcome (new rows, an error box) comes back on the
// window's thread through the listener and the face's boxes.

#include "history/HistorySource.h"
#include "monitor/SessionMonitor.h"
#include "options/OptionsModel.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vantor {

// What the window hears. Every call comes on the window's thread.
class FaceListener : public MonitorView {
public:
    // The poll timer fired: the window polls (MonitorFace::poll) with what goes with a tick.
    virtual void pollTimerTick() { }
    // A poll's rows (and the selected row's files) are on the face's tables.
    virtual void pollApplied() { }
    // A click's files are on the face's table.
    virtual void filesApplied() { }
    // A new user came: the desktop's part of the event besides the flash (startFlash), as the
    // options "Beep" and "Popup main dialog" ask.
    virtual void newUserArrived(bool /*beep*/, bool /*popup*/) { }
};

class MonitorFace {
public:
    virtual ~MonitorFace() = default;

    virtual void setListener(FaceListener* listener) = 0;
    // The monitor begins: the first poll and the poll timer, or the first read of the service.
    virtual void start() = 0;
    // "Exit": the timer stops, and nothing more reaches the window.
    virtual void stop() = 0;
    virtual bool pollTimerActive() const = 0;
    virtual bool pollBusy() const = 0;
    // A tick or a command: false when it was dropped because one is under way.
    virtual bool poll() = 0;
    // Returns when the work under way has ended (the window is going away).
    virtual void waitForWorker() = 0;

    // --- the tables -----------------------------------------------------------------------------
    virtual const std::vector<SessionEntry>& sessionRows() const = 0;
    virtual std::optional<int> selectedSessionRow() const = 0;
    virtual void selectSessionRow(std::optional<int> row) = 0;
    // A click: the selected row's files fetched again.
    virtual void refreshOpenFiles() = 0;
    virtual const std::vector<OpenFileRow>& openFileRows() const = 0;
    virtual std::optional<int> selectedFileRow() const = 0;
    virtual void selectFileRow(std::optional<int> row) = 0;
    virtual std::string captionText() const = 0;
    // The published state: counts, and every user's open files while they are listed.
    virtual SessionsSnapshotPtr snapshot() const = 0;
    // The time the rows' times are measured against (connected and idle times).
    virtual int64_t now() const = 0;
    // Whether every user's files are listed with each poll (only while a window shows them).
    virtual bool listAllFiles() const = 0;
    virtual void setListAllFiles(bool on) = 0;
    // The selection as a context menu opened now takes it.
    virtual MenuTarget menuTarget() const = 0;
    // Whether the window is meant to be on screen (the tray flashes only while it is not).
    virtual bool mainVisible() const = 0;
    virtual void setMainVisible(bool visible) = 0;

    // --- the commands, on the selection or on what a menu was opened on -------------------------
    virtual void closeSession(const MenuTarget* menu) = 0;
    virtual void closeAllSessions() = 0;
    virtual void closeResource(const MenuTarget* menu) = 0;
    // "Close resource" in the list of every user's files.
    virtual void closeListedFile(const NetFileInfo& file) = 0;
    virtual std::optional<OpenTarget> connectToUserTarget(const MenuTarget* menu) = 0;
    virtual std::optional<OpenTarget> openFolderTarget(const MenuTarget* menu) = 0;
    virtual void addToList(ListKind list, ListTarget target, const MenuTarget* menu) = 0;
    // The "Input" dialog's text: becomes the monitored server and a poll follows, or a box says why not.
    virtual void setRemoteServer(const std::string& text) = 0;
    virtual void clearHistory() = 0;

    // "Options...": `runWindow` shows the Options window over the value it is given and hands back
    // how it closed. The face gets the value from where the options live and stores what came
    // back there: locally the monitor's settings and list files; over the bus, the service's,
    // where a box tells when that was refused.
    using OptionsWindow = std::function<OptionsResult(const OptionsValue& value)>;
    virtual void editOptions(OptionsWindow runWindow) = 0;

    virtual MessageBoxes& boxes() = 0;
    // Where the help page may be written when it is not beside the program.
    virtual std::filesystem::path helpDir() const = 0;
    // What the history window reads and writes its report through, for as long as it is open.
    virtual std::unique_ptr<HistorySource> historySource() = 0;
    // The E-mail page's "Send test mail" (its argument: the page) when the face sends it itself:
    // the service, with the options it has, and a box tells the outcome. Empty: the window's own
    // mail sends it as typed.
    virtual std::function<void(void* owner)> testMail() = 0;
};

}  // namespace vantor
