#include "app/BusMonitorFace.h"

#include "engine/Commands.h"
#include "history/HistoryLog.h"
#include "platform/AtomicFile.h"
#include "platform/Clock.h"

#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>

namespace vantor {

namespace {
// How often the rows are asked for again while the service refuses them.
constexpr int refusedRetryMs = 3000;
}  // namespace

std::string BusMonitorFace::notRunningText()
{
    // Nothing on the bus starts it for the window: an administrator does, once.
    return "The Vantor service is not running, so there are no sessions to show. An administrator starts "
           "it with \"systemctl enable --now vantord\"; this window shows them then.";
}

std::string BusMonitorFace::lostText()
{
    return "The Vantor service has stopped. Start the service again (systemctl start vantord); this window "
           "goes on as soon as it is back.";
}

std::unique_ptr<BusMonitorFace> BusMonitorFace::connect(const std::string& address, MessageBoxes& boxes,
                                                        std::string& error)
{
    std::unique_ptr<BusMonitorFace> face(new BusMonitorFace(boxes));
    face->m_calls = MonitorBusClient::connect(address, error);
    if (face->m_calls)
        face->m_signals = MonitorBusClient::connect(address, error);
    if (!face->m_calls || !face->m_signals)
        return nullptr;
    // A password dialogue of polkit's agent may come up for the user.
    face->m_calls->setInteractive(true);
    face->m_context = std::make_unique<QObject>();
    face->m_worker = std::make_unique<Worker>();
    BusMonitorFace* self = face.get();
    face->m_signals->onSessionsChanged = [self] { self->poll(); };
    face->m_signals->onNewUser = [self](bool beep, bool popup) {
        if (!self->m_listener || self->m_stopped)
            return;
        if (!self->m_desk.mainVisible)
            self->m_listener->startFlash();
        self->m_listener->newUserArrived(beep, popup);
    };
    face->m_signals->onServiceChanged = [self](bool running) {
        if (self->m_stopped)
            return;
        if (running) {
            self->m_serviceGone = false;
            self->m_problemTold = false;
            self->poll();
        } else {
            self->m_serviceGone = true;
            if (!self->m_problemTold) {
                self->m_problemTold = true;
                self->m_boxes.show({"Vantor", lostText(), BoxIcon::Warning, BoxButtons::Ok, nullptr});
            }
        }
    };
    face->m_notifier = new QSocketNotifier(face->m_signals->fd(), QSocketNotifier::Read, face->m_context.get());
    QObject::connect(face->m_notifier, &QSocketNotifier::activated, face->m_context.get(),
                     [self] { self->m_signals->process(); });
    return face;
}

BusMonitorFace::~BusMonitorFace()
{
    m_stopped = true;
    // The worker first: what it still runs posts to the context, which drops it when it goes.
    m_worker.reset();
    m_context.reset();
}

void BusMonitorFace::call(std::function<void(MonitorBusClient&)> work, std::function<void()> then)
{
    m_worker->run([this, work = std::move(work), then = std::move(then)] {
        work(*m_calls);
        QMetaObject::invokeMethod(
            m_context.get(),
            [this, then] {
                if (!m_stopped && then)
                    then();
            },
            Qt::QueuedConnection);
    });
}

void BusMonitorFace::start()
{
    m_stopped = false;
    m_desk.mainVisible = true;
    // Signals that came before (there is no call under way yet) are read now.
    m_signals->process();
    poll();
}

void BusMonitorFace::stop()
{
    m_stopped = true;
}

bool BusMonitorFace::poll()
{
    if (m_stopped || m_serviceGone)
        return false;
    if (m_fetching) {
        // A change told while a fetch is under way may have come after its answer was made.
        m_fetchAgain = true;
        return false;
    }
    fetchSessions();
    return true;
}

void BusMonitorFace::tell(const BusError& error, bool command)
{
    if (!command && m_problemTold)
        return;
    m_problemTold = true;
    m_boxes.show(
        {"Vantor", errorText(error), error.refused() ? BoxIcon::Warning : BoxIcon::Error, BoxButtons::Ok, nullptr});
}

std::string BusMonitorFace::errorText(const BusError& error)
{
    if (error.serviceGone())
        return notRunningText();
    if (error.refused())
        return error.text;
    return "The Vantor service could not do it: " + error.text;
}

void BusMonitorFace::retryRefused()
{
    if (m_retryPending)
        return;
    m_retryPending = true;
    QTimer::singleShot(refusedRetryMs, m_context.get(), [this] {
        m_retryPending = false;
        if (!m_stopped && !m_serviceGone && !m_fetching)
            fetchSessions(false);
    });
}

void BusMonitorFace::fetchSessions(bool asking)
{
    m_fetching = true;
    auto sessions = std::make_shared<std::optional<BusSessions>>();
    auto caption = std::make_shared<std::optional<std::pair<std::string, std::string>>>();
    auto error = std::make_shared<BusError>();
    auto files = std::make_shared<AllFiles>();
    call(
        [sessions, caption, error, files, listFiles = m_listAllFiles, asking](MonitorBusClient& c) {
            c.setInteractive(asking);
            *sessions = c.getSessions(*error);
            c.setInteractive(true);
            if (*sessions)
                *caption = c.getCaption(*error);
            // The files after the rows, so that they are at least as new as the sessions shown.
            if (*caption && listFiles) {
                files->asked = true;
                BusError filesError;
                files->rows = c.getAllOpenFiles(filesError);
                if (files->rows) {
                    // Without them the Shares window still has the folders of the open files.
                    BusError sharesError;
                    files->shares = c.getShares(sharesError).value_or(std::vector<NetShareInfo>{});
                }
                if (filesError)
                    files->error =
                        filesError.serviceGone() || filesError.text.empty() ? notRunningText() : filesError.text;
            }
        },
        [this, sessions, caption, error, files] {
            m_fetching = false;
            if (!*sessions || !*caption) {
                if (!m_serviceGone)
                    tell(*error, false);
                if (error->refused())
                    retryRefused();
            } else {
                if (!m_serviceGone)
                    m_problemTold = false;
                m_rows = std::move((*sessions)->rows);
                // A listing asked before the windows that wanted it closed is not shown.
                if (files->asked && m_listAllFiles)
                    m_allFiles = std::move(*files);
                publishSnapshot((*sessions)->currentSessions, (*sessions)->openFilesTotal);
                // The selection follows the row index, as the engine's table does.
                m_desk.keepRowIn(m_rows.size());
                const bool captionChanged = m_caption != (*caption)->first;
                m_caption = (*caption)->first;
                if (m_listener) {
                    m_listener->sessionsTableChanged();
                    if (captionChanged)
                        m_listener->captionChanged();
                }
                if (m_desk.selectedRow) {
                    fetchFiles(true);
                    return;
                }
                if (!m_desk.fileRows.empty()) {
                    m_desk.clearFiles();
                    if (m_listener)
                        m_listener->openFilesTableChanged();
                }
            }
            if (m_listener)
                m_listener->pollApplied();
            if (m_fetchAgain) {
                m_fetchAgain = false;
                poll();
            }
        });
}

void BusMonitorFace::fetchFiles(bool forPoll)
{
    if (!m_desk.selectedRow) {
        if (!forPoll && m_listener)
            m_listener->filesApplied();
        return;
    }
    const std::string user = m_rows[static_cast<std::size_t>(*m_desk.selectedRow)].user;
    auto rows = std::make_shared<std::optional<std::vector<OpenFileRow>>>();
    auto error = std::make_shared<BusError>();
    call([user, rows, error](MonitorBusClient& c) { *rows = c.getOpenFiles(user, *error); },
         [this, rows, error, forPoll] {
             if (!*rows) {
                 tell(*error, !forPoll);
             } else {
                 m_desk.fileRows = std::move(**rows);
                 m_desk.selectedFileRow.reset();
                 if (m_listener)
                     m_listener->openFilesTableChanged();
             }
             if (m_listener)
                 forPoll ? m_listener->pollApplied() : m_listener->filesApplied();
             if (forPoll && m_fetchAgain) {
                 m_fetchAgain = false;
                 poll();
             }
         });
}

void BusMonitorFace::selectSessionRow(std::optional<int> row)
{
    m_desk.selectRow(row, m_rows.size());
}

void BusMonitorFace::refreshOpenFiles()
{
    fetchFiles(false);
}

void BusMonitorFace::selectFileRow(std::optional<int> row)
{
    m_desk.selectFileRow(row);
}

MenuTarget BusMonitorFace::menuTarget() const
{
    return m_desk.menuTarget(m_rows);
}

std::optional<SessionEntry> BusMonitorFace::commandSession(const MenuTarget* menu, bool& gone) const
{
    return m_desk.commandSession(m_rows, menu, gone);
}

std::optional<OpenFileRow> BusMonitorFace::commandFile(const MenuTarget* menu, bool& gone) const
{
    return m_desk.commandFile(menu, gone);
}

void BusMonitorFace::selectError(const char* text)
{
    Outcome::noTarget(text).showOn(m_boxes);
}

void BusMonitorFace::closeSession(const MenuTarget* menu)
{
    bool gone = false;
    const auto row = commandSession(menu, gone);
    if (!row) {
        if (gone)
            selectError(commandText::selectUser);
        return;
    }
    auto error = std::make_shared<BusError>();
    call([row = *row, error](MonitorBusClient& c) { c.closeSession(row.user, row.computer, *error); },
         [this, error] {
             if (*error) {
                 tell(*error, true);
                 return;
             }
             m_desk.clearFiles();
             if (m_listener)
                 m_listener->openFilesTableChanged();
         });
}

void BusMonitorFace::closeAllSessions()
{
    auto error = std::make_shared<BusError>();
    call([error](MonitorBusClient& c) { c.closeAllSessions(*error); },
         [this, error] {
             if (*error)
                 tell(*error, true);
         });
}

void BusMonitorFace::closeResource(const MenuTarget* menu)
{
    bool gone = false;
    const auto file = commandFile(menu, gone);
    if (!file) {
        selectError(commandText::selectFile);
        return;
    }
    auto error = std::make_shared<BusError>();
    call([id = file->id, error](MonitorBusClient& c) { c.closeFile(id, *error); },
         [this, error] {
             if (*error)
                 tell(*error, true);
             else
                 refreshOpenFiles();
         });
}

void BusMonitorFace::closeListedFile(const NetFileInfo& file)
{
    auto error = std::make_shared<BusError>();
    call([id = file.id, error](MonitorBusClient& c) { c.closeFile(id, *error); },
         [this, error] {
             if (*error)
                 tell(*error, true);
             else
                 poll();
         });
}

int64_t BusMonitorFace::now() const
{
    return SystemClock::instance().now();
}

void BusMonitorFace::setListAllFiles(bool on)
{
    m_listAllFiles = on;
    // Until the next fetch lists them afresh the windows wait for it rather than show old files.
    m_allFiles = {};
    publishSnapshot(m_snapshot->currentSessionsCount, m_snapshot->openFilesTotal);
}

void BusMonitorFace::publishSnapshot(uint32_t sessions, uint32_t openFiles)
{
    auto snap = std::make_shared<SessionsSnapshot>();
    snap->rows = m_rows;
    snap->currentSessionsCount = sessions;
    snap->openFilesTotal = openFiles;
    if (m_listAllFiles && m_allFiles.asked) {
        snap->openFilesListed = m_allFiles.rows.has_value();
        if (m_allFiles.rows)
            snap->openFiles = *m_allFiles.rows;
        snap->shares = m_allFiles.shares;
        snap->openFilesError = m_allFiles.error;
    }
    m_snapshot = std::move(snap);
}

std::optional<OpenTarget> BusMonitorFace::connectToUserTarget(const MenuTarget* menu)
{
    bool gone = false;
    const auto row = commandSession(menu, gone);
    if (!row) {
        selectError(commandText::selectUser);
        return std::nullopt;
    }
    return OpenTarget{OpenTarget::Kind::Computer, row->computer};
}

std::optional<OpenTarget> BusMonitorFace::openFolderTarget(const MenuTarget* menu)
{
    bool gone = false;
    const auto file = commandFile(menu, gone);
    if (!file) {
        selectError(commandText::selectFile);
        return std::nullopt;
    }
    return folderOf(*file);
}

void BusMonitorFace::addToList(ListKind list, ListTarget target, const MenuTarget* menu)
{
    bool gone = false;
    const auto row = commandSession(menu, gone);
    if (!row) {
        selectError(commandText::selectUser);
        return;
    }
    const auto entry = listEntryOf(*row, target);
    const std::string user = entry.first;
    const std::string computer = entry.second;
    const std::string kind = listName(list);
    auto error = std::make_shared<BusError>();
    call([kind, user, computer, error](MonitorBusClient& c) { c.addToList(kind, user, computer, *error); },
         [this, list, user, computer, error] {
             if (*error) {
                 tell(*error, true);
                 return;
             }
             Outcome::done(user, commandText::addedToList(user, computer, list)).showOn(m_boxes);
         });
}

void BusMonitorFace::setRemoteServer(const std::string& text)
{
    auto error = std::make_shared<BusError>();
    call([text, error](MonitorBusClient& c) { c.setRemoteServer(text, *error); },
         [this, error] {
             if (*error)
                 tell(*error, true);
         });
}

void BusMonitorFace::clearHistory()
{
    auto error = std::make_shared<BusError>();
    call([error](MonitorBusClient& c) { c.clearHistory(*error); },
         [this, error] {
             if (*error)
                 tell(*error, true);
             else
                 m_boxes.show(
                     {historyClearedCaption, historyClearedText, BoxIcon::Information, BoxButtons::Ok, nullptr});
         });
}

void BusMonitorFace::editOptions(OptionsWindow runWindow)
{
    auto value = std::make_shared<std::optional<OptionsValue>>();
    auto error = std::make_shared<BusError>();
    call([value, error](MonitorBusClient& c) { *value = c.getOptionsValue(*error); },
         [this, runWindow, value, error] {
             if (!*value) {
                 tell(*error, true);
                 return;
             }
             auto result = std::make_shared<const OptionsResult>(runWindow(**value));
             if (result->closed == OptionsClosed::Cancelled)
                 return;
             auto failed = std::make_shared<BusError>();
             call([result, failed](MonitorBusClient& c) { c.storeOptions(*result, *failed); },
                  [this, failed] {
                      if (*failed)
                          tell(*failed, true);
                  });
         });
}

// The service's history: its logs handed over and read here, beside the GUI thread, its report
// written by the service and kept where the user can open it.
class BusMonitorFace::History final : public HistorySource {
public:
    explicit History(BusMonitorFace& face)
        : m_face(face)
    {
    }

    void load(Loaded done) override
    {
        auto history = std::make_shared<std::optional<HistoryData>>();
        auto error = std::make_shared<BusError>();
        m_face.call([history, error](MonitorBusClient& c) { *history = c.getHistory(*error); },
                    [history, error, done] {
                        if (*history)
                            done(std::make_shared<const HistoryData>(std::move(**history)), {});
                        else
                            done(nullptr, errorText(*error));
                    });
    }

    void writeReport(const HistoryPtr&, const std::string&, std::function<void(Report)> done) override
    {
        auto report = std::make_shared<Report>();
        auto error = std::make_shared<BusError>();
        m_face.call(
            [report, error](MonitorBusClient& c) {
                const auto made = c.makeReport(*error);
                if (!made) {
                    report->failure = errorText(*error);
                    return;
                }
                // The service's file name, in a folder of the user's own.
                const std::filesystem::path name = std::filesystem::path(made->serviceFile).filename();
                const std::filesystem::path file = reportFolder() / (name.empty() ? "report.html" : name);
                std::error_code ec;
                std::filesystem::create_directories(file.parent_path(), ec);
                report->where = file.string();
                if (auto why = writeFileAtomically(file, made->page))
                    report->failure = commandText::reportNotWritten(report->where, *why);
                else
                    report->written = true;
            },
            [report, done] { done(*report); });
    }

    // The service writes its report where its own settings say.
    std::string reportPath() const override { return {}; }

private:
    BusMonitorFace& m_face;
};

std::unique_ptr<HistorySource> BusMonitorFace::historySource()
{
    return std::make_unique<History>(*this);
}

std::filesystem::path BusMonitorFace::reportFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation).toStdString();
}

std::function<void(void*)> BusMonitorFace::testMail()
{
    return [this](void*) {
        auto mail = std::make_shared<std::optional<BusTestMail>>();
        auto error = std::make_shared<BusError>();
        call([mail, error](MonitorBusClient& c) { *mail = c.sendTestMail(*error); },
             [this, mail, error] {
                 // Owned by nobody: the Options window may be gone by the time the mail server answered.
                 if (!*mail)
                     tell(*error, true);
                 else
                     m_boxes.show(testMailBox((*mail)->outcome, nullptr, (*mail)->reason));
             });
    };
}

std::filesystem::path BusMonitorFace::helpDir() const
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation).toStdString();
}

}  // namespace vantor
