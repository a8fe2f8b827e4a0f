#include "bus/MonitorBusImpl.h"

#include "bus/BusRows.h"
#include "engine/Commands.h"
#include "base/AccessList.h"

// What the tables show: the sessions, their files, the shares, the options and the lists. Only
// looking: every method asks polkit for the view action.

namespace vantor {

using namespace busimpl;

int MonitorBusService::Impl::getSessions(sd_bus_message* m, void* userdata, sd_bus_error*)
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
int MonitorBusService::Impl::getSessionsJson(sd_bus_message* m, void* userdata, sd_bus_error*)
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
int MonitorBusService::Impl::getSessionsChanges(sd_bus_message* m, void* userdata, sd_bus_error*)
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

int MonitorBusService::Impl::getCaption(sd_bus_message* m, void* userdata, sd_bus_error*)
{
    Impl& impl = self(userdata);
    return impl.authorize(m, bus::viewAction, [&impl](Done done) {
        SessionMonitor& monitor = impl.engine.monitor();
        done(success(
            [caption = monitor.captionText(), server = monitor.settings.serverName.get()](sd_bus_message* reply) {
                return sd_bus_message_append(reply, "ss", caption.c_str(), server.c_str());
            }));
    });
}

// How the polls stand: "pollError" (empty while they work) and "pollRoute" (empty on the
// server's usual listing, else the short name of the one the poll fell back to).
int MonitorBusService::Impl::getStatus(sd_bus_message* m, void* userdata, sd_bus_error*)
{
    Impl& impl = self(userdata);
    return impl.authorize(m, bus::viewAction, [&impl](Done done) {
        const PollState state = impl.engine.pollState();
        const bus::OptionValues values{{"pollError", state.error}, {"pollRoute", state.route}};
        done(success([values](sd_bus_message* reply) { return bus::writeOptionValues(reply, values); }));
    });
}

int MonitorBusService::Impl::getOpenFiles(sd_bus_message* m, void* userdata, sd_bus_error*)
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
                return done(failure(bus::failedError, commandText::serverNotConvertible));
            if (!fetch.status.ok())
                return done(failure(bus::failedError, commandText::statusText(fetch.status)));
            done(success([rows = monitor.openFileRowsOf(fetch.files)](sd_bus_message* reply) {
                return bus::writeFileRows(reply, rows);
            }));
        });
    });
}

int MonitorBusService::Impl::getAllOpenFiles(sd_bus_message* m, void* userdata, sd_bus_error*)
{
    Impl& impl = self(userdata);
    return impl.authorize(m, bus::viewAction, [&impl](Done done) {
        SessionMonitor& monitor = impl.engine.monitor();
        const auto server = SessionMonitor::serverArgument(monitor.settings.serverName.get());
        if (!server)
            return done(failure(bus::failedError, commandText::serverNotConvertible));
        // The files of the sessions the table shows, as the engine's own listing keeps them.
        impl.actions->run([&monitor, server = *server, rows = monitor.snapshot()->rows, done] {
            std::vector<NetFileInfo> files;
            const NetStatus status = monitor.net().enumAllFiles(server, files);
            if (!status.ok())
                return done(failure(bus::failedError, commandText::statusText(status)));
            done(success([kept = filesOfSessions(rows, files)](sd_bus_message* reply) {
                return bus::writeListedFiles(reply, kept);
            }));
        });
    });
}

// The shares and their folders as the service's configuration names them. A service that cannot
// tell answers with none: the desktop then works the folders out from the open files.
int MonitorBusService::Impl::getShares(sd_bus_message* m, void* userdata, sd_bus_error*)
{
    Impl& impl = self(userdata);
    return impl.authorize(m, bus::viewAction, [&impl](Done done) {
        SessionMonitor& monitor = impl.engine.monitor();
        const auto server = SessionMonitor::serverArgument(monitor.settings.serverName.get());
        impl.actions->run([&monitor, server, done] {
            std::vector<NetShareInfo> shares;
            if (!server || !monitor.net().enumShares(*server, shares).ok())
                shares.clear();
            done(success(
                [shares = std::move(shares)](sd_bus_message* reply) { return bus::writeShares(reply, shares); }));
        });
    });
}

int MonitorBusService::Impl::getOptions(sd_bus_message* m, void* userdata, sd_bus_error*)
{
    Impl& impl = self(userdata);
    return impl.authorize(m, bus::viewAction, [&impl](Done done) {
        const bus::OptionValues values = optionTexts(impl.engine.monitor().settings);
        done(success([values](sd_bus_message* reply) { return bus::writeOptionValues(reply, values); }));
    });
}

int MonitorBusService::Impl::getList(sd_bus_message* m, void* userdata, sd_bus_error*)
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

}  // namespace vantor
