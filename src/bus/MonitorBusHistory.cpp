#include "bus/MonitorBusImpl.h"

#include "bus/BusRows.h"
#include "engine/Commands.h"
#include "history/HistoryLog.h"
#include "history/HistoryReader.h"
#include "history/HistoryReport.h"

#include <fcntl.h>

#include <fstream>

// The history and its report: the logs handed over, pages of them for a web page, and the report
// made by the engine's command and handed over as a file or as text.

namespace vantor {

using namespace busimpl;

namespace {

// A file descriptor handed to a reply, closed once the reply has its own copy (or never got made).
struct OwnedFd {
    int fd = -1;
    explicit OwnedFd(int f)
        : fd(f)
    {
    }
    ~OwnedFd()
    {
        if (fd >= 0)
            ::close(fd);
    }
    OwnedFd(const OwnedFd&) = delete;
    OwnedFd& operator=(const OwnedFd&) = delete;
};

// A log that is not there yet is an empty history, not a failure.
std::shared_ptr<OwnedFd> openLog(const std::filesystem::path& file)
{
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT)
        fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    return std::make_shared<OwnedFd>(fd);
}

}  // namespace

// The two logs as they are, for the caller to read as the history window reads them: the
// data folder is root's, and a reply of a million file lines would not fit a bus message.
int MonitorBusService::Impl::getHistory(sd_bus_message* m, void* userdata, sd_bus_error*)
{
    Impl& impl = self(userdata);
    return impl.authorize(m, bus::viewAction, [&impl](Done done) {
        impl.history->run([dataDir = impl.engine.monitor().dataDir(), done] {
            const auto files = openLog(logFilePath(dataDir, filesLogName));
            const auto users = openLog(logFilePath(dataDir, usersLogName));
            if (files->fd < 0 || users->fd < 0)
                return done(
                    failure(bus::failedError, "The history cannot be read: " + std::string(std::strerror(errno))));
            done(success([files, users](sd_bus_message* reply) {
                return sd_bus_message_append(reply, "hh", files->fd, users->fd);
            }));
        });
    });
}

// Writes the report where the service's settings say, as the history window does, and hands the
// page over: the caller cannot open the service's data folder.
int MonitorBusService::Impl::makeReport(sd_bus_message* m, void* userdata, sd_bus_error*)
{
    Impl& impl = self(userdata);
    return impl.authorize(m, bus::viewAction, [&impl](Done done) {
        SessionMonitor& monitor = impl.engine.monitor();
        impl.history->run(
            [dataDir = monitor.dataDir(), path = monitor.settings.reportPath.get(), now = monitor.clock().now(), done] {
                std::shared_ptr<OwnedFd> page;
                std::string where;
                const Outcome outcome =
                    vantor::makeReport(dataDir, path, now, where, [&page](const auto& file, std::string& why) {
                        page = std::make_shared<OwnedFd>(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
                        if (page->fd < 0)
                            why = std::strerror(errno);
                        return page->fd >= 0;
                    });
                if (!outcome.ok())
                    return done(replyOf(outcome));
                done(success([page, where](sd_bus_message* reply) {
                    return sd_bus_message_append(reply, "sh", where.c_str(), page->fd);
                }));
            });
    });
}

// The history for a caller that cannot take file descriptors (a web page): one page of the
// sessions the filters keep, newest first unless sorted, with how many they keep in all.
int MonitorBusService::Impl::getHistoryPage(sd_bus_message* m, void* userdata, sd_bus_error*)
{
    Impl& impl = self(userdata);
    bus::OptionValues values;
    uint32_t offset = 0, count = 0;
    int r = bus::readOptionValues(m, values);
    if (r < 0 || (r = sd_bus_message_read(m, "uu", &offset, &count)) < 0)
        return r;
    bus::HistoryQuery query;
    if (auto problem = bus::readHistoryQuery(values, query))
        return sd_bus_reply_method_errorf(m, bus::refusedError, "%s.", problem->c_str());
    return impl.authorize(m, bus::viewAction, [&impl, query, offset, count](Done done) {
        impl.history->run([&impl, dataDir = impl.engine.monitor().dataDir(), query, offset, count, done] {
            const HistoryPtr data = impl.historyCache.get(dataDir);
            const std::vector<std::size_t> kept = bus::historySessions(*data, query);
            done(success([data, kept, offset, count](sd_bus_message* reply) {
                int w = sd_bus_message_append(reply, "u", static_cast<uint32_t>(kept.size()));
                if (w >= 0)
                    w = sd_bus_message_open_container(reply, 'a', "(ssxuu)");
                const std::size_t end = std::min<std::size_t>(kept.size(), std::size_t{offset} + count);
                for (std::size_t i = offset; w >= 0 && i < end; ++i) {
                    const SessionRecord& s = data->sessions()[kept[i]];
                    w = sd_bus_message_append(reply, "(ssxuu)", bus::validUtf8(s.user).c_str(),
                                              bus::validUtf8(s.computer).c_str(), int64_t{s.start}, s.duration,
                                              s.fileCount);
                }
                return w < 0 ? w : sd_bus_message_close_container(reply);
            }));
        });
    });
}

// The files of one session of the history (its user, computer, start and duration), a page at a time.
int MonitorBusService::Impl::getHistoryFiles(sd_bus_message* m, void* userdata, sd_bus_error*)
{
    Impl& impl = self(userdata);
    const char* user = nullptr;
    const char* computer = nullptr;
    int64_t start = 0;
    uint32_t duration = 0, offset = 0, count = 0;
    if (int r = sd_bus_message_read(m, "ssxuuu", &user, &computer, &start, &duration, &offset, &count); r < 0)
        return r;
    return impl.authorize(
        m, bus::viewAction,
        [&impl, user = std::string(user), computer = std::string(computer), start, duration, offset, count](Done done) {
            impl.history->run([&impl, dataDir = impl.engine.monitor().dataDir(), user, computer, start, duration,
                               offset, count, done] {
                const HistoryPtr data = impl.historyCache.get(dataDir);
                const auto files = bus::historySessionFiles(*data, user, computer, start, duration);
                done(success([data, files, offset, count](sd_bus_message* reply) {
                    int r = sd_bus_message_append(reply, "u", static_cast<uint32_t>(files.size()));
                    if (r >= 0)
                        r = sd_bus_message_open_container(reply, 'a', "(xs)");
                    const std::size_t end = std::min<std::size_t>(files.size(), std::size_t{offset} + count);
                    for (std::size_t i = offset; r >= 0 && i < end; ++i) {
                        const FileRecord& f = data->files()[files[i]];
                        r = sd_bus_message_append(reply, "(xs)", int64_t{f.time}, bus::validUtf8(f.path).c_str());
                    }
                    return r < 0 ? r : sd_bus_message_close_container(reply);
                }));
            });
        });
}

// The report as MakeReport writes it, handed over as text for a caller that cannot take a
// file descriptor. A page beyond what one bus message may carry is refused, not cut.
int MonitorBusService::Impl::getReportText(sd_bus_message* m, void* userdata, sd_bus_error*)
{
    Impl& impl = self(userdata);
    return impl.authorize(m, bus::viewAction, [&impl](Done done) {
        SessionMonitor& monitor = impl.engine.monitor();
        impl.history->run(
            [dataDir = monitor.dataDir(), path = monitor.settings.reportPath.get(), now = monitor.clock().now(), done] {
                std::string page;
                std::string where;
                const Outcome outcome =
                    vantor::makeReport(dataDir, path, now, where, [&page](const auto& file, std::string& why) {
                        constexpr std::uintmax_t largest = 24u << 20;
                        std::error_code ec;
                        const auto size = std::filesystem::file_size(file, ec);
                        if (ec || size > largest) {
                            why = ec ? ec.message() : "the report is larger than 24 MiB; open it on the server";
                            return false;
                        }
                        std::ifstream in(file, std::ios::binary);
                        page.assign(std::istreambuf_iterator<char>(in), {});
                        return static_cast<bool>(in) || in.eof();
                    });
                if (!outcome.ok())
                    return done(replyOf(outcome));
                done(success([where, page = bus::validUtf8(page)](sd_bus_message* reply) {
                    return sd_bus_message_append(reply, "ss", where.c_str(), page.c_str());
                }));
            });
    });
}

}  // namespace vantor
