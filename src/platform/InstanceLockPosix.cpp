#include "platform/InstanceLock.h"

#include "platform/SystemError.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantor {

struct InstanceLock::Impl {
    int fd = -1;
};

InstanceLock::InstanceLock(std::unique_ptr<Impl> impl)
    : m_impl(std::move(impl))
{
}

InstanceLock::~InstanceLock()
{
    // Closing releases the lock. The file stays: removing it would let a third process lock a new
    // file while a second still waits on the old one.
    ::close(m_impl->fd);
}

InstanceLock::Attempt InstanceLock::acquire(const std::filesystem::path& dataDir)
{
    Attempt attempt;
    const auto path = dataDir / fileName;
    // Never through a link: the lock file is written to, possibly as root.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        attempt.error = "cannot lock the data folder (" + path.string() + "): " + systemErrorText(errno);
        return attempt;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int code = errno;
        if (code == EWOULDBLOCK) {
            char text[32] = {};
            const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
            long pid = 0;
            if (n > 0)
                pid = std::strtol(text, nullptr, 10);
            attempt.holder = pid > 0 ? pid : 0;
        } else {
            attempt.error = "cannot lock the data folder (" + path.string() + "): " + systemErrorText(code);
        }
        ::close(fd);
        return attempt;
    }
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
        // The lock holds all the same; only the pid shown to a second start is missing.
    }
    auto impl = std::make_unique<Impl>();
    impl->fd = fd;
    attempt.lock.reset(new InstanceLock(std::move(impl)));
    return attempt;
}

std::string alreadyRunningText(long pid)
{
    return "Vantor is already running with this data folder (pid " + std::to_string(pid) + ")";
}

namespace {

std::filesystem::path temporaryBase()
{
    // /tmp rather than a TMPDIR under a home folder: the demo's accounts must be able to walk
    // down to its shares, and the next start must look in the same place.
    std::error_code ec;
    return std::filesystem::is_directory("/tmp", ec) ? std::filesystem::path("/tmp")
                                                     : std::filesystem::temp_directory_path(ec);
}

}  // namespace

LockedTempFolder makeLockedTempFolder(const std::string& prefix, std::string& error)
{
    LockedTempFolder folder;
    std::string pattern = (temporaryBase() / (prefix + "-XXXXXX")).string();
    if (!::mkdtemp(pattern.data())) {
        error = "cannot make a temporary folder: " + systemErrorText(errno);
        return folder;
    }
    auto attempt = InstanceLock::acquire(pattern);
    if (!attempt.lock) {
        error = attempt.error.empty() ? "cannot lock " + pattern : attempt.error;
        std::error_code ec;
        std::filesystem::remove_all(pattern, ec);
        return folder;
    }
    folder.path = pattern;
    folder.lock = std::move(attempt.lock);
    return folder;
}

std::vector<std::filesystem::path>
removeAbandonedTempFolders(const std::string& prefix, const std::function<void(const std::filesystem::path&)>& undo)
{
    std::vector<std::filesystem::path> removed;
    std::error_code ec;
    std::vector<std::filesystem::path> candidates;
    for (std::filesystem::directory_iterator it(temporaryBase(), ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        // Only real folders of this prefix: a link of that name could point anywhere.
        if (name.size() == prefix.size() + 7 && name.compare(0, prefix.size() + 1, prefix + "-") == 0
            && it->symlink_status(ec).type() == std::filesystem::file_type::directory)
            candidates.push_back(it->path());
    }
    for (const auto& folder : candidates) {
        struct stat st { };
        // Only what this account made: another user's folder of that name is none of ours.
        if (::lstat(folder.c_str(), &st) != 0 || st.st_uid != ::geteuid())
            continue;
        auto attempt = InstanceLock::acquire(folder);
        if (!attempt.lock)
            continue;
        if (undo)
            undo(folder);
        attempt.lock.reset();
        std::filesystem::remove_all(folder, ec);
        removed.push_back(folder);
    }
    return removed;
}

}  // namespace vantor
