#include "FaultInjection.h"

#include <atomic>
#include <cerrno>
#include <dlfcn.h>
#include <mutex>
#include <string>
#include <sys/uio.h>
#include <unistd.h>

namespace vantor::test {

namespace {

struct Fault {
    std::atomic<bool> armed{false};
    std::mutex mutex;
    std::string path;  // a file (reads) or a folder with its trailing '/' (writes)
    std::size_t budget = 0;
};
Fault readFault;
Fault writeFault;

using IoFunction = ssize_t (*)(int, void*, size_t);
using WriteFunction = ssize_t (*)(int, const void*, size_t);

std::string pathOf(int fd)
{
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[4096];
    const ssize_t n = ::readlink(link, target, sizeof target - 1);
    return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}

// How many of `wanted` bytes the call may move; -1 when it must fail.
ssize_t allowance(Fault& fault, int fd, size_t wanted, bool prefix)
{
    if (!fault.armed.load())
        return static_cast<ssize_t>(wanted);
    const int saved = errno;
    const std::string path = pathOf(fd);
    errno = saved;
    std::lock_guard lock(fault.mutex);
    const bool hit = prefix ? path.compare(0, fault.path.size(), fault.path) == 0 : path == fault.path;
    if (!hit || path.empty())
        return static_cast<ssize_t>(wanted);
    if (fault.budget == 0)
        return -1;
    const std::size_t granted = std::min(fault.budget, wanted);
    fault.budget -= granted;
    return static_cast<ssize_t>(granted);
}

void arm(Fault& fault, std::string path, std::size_t budget)
{
    std::lock_guard lock(fault.mutex);
    fault.path = std::move(path);
    fault.budget = budget;
    fault.armed = true;
}

}  // namespace

bool faultsCanBeInjected()
{
    return true;
}

ReadFault::ReadFault(const std::filesystem::path& file, std::size_t goodBytes)
{
    arm(readFault, std::filesystem::weakly_canonical(file).string(), goodBytes);
}
ReadFault::~ReadFault()
{
    readFault.armed = false;
}

DiskFull::DiskFull(const std::filesystem::path& folder, std::size_t goodBytes)
{
    arm(writeFault, std::filesystem::weakly_canonical(folder).string() + "/", goodBytes);
}
DiskFull::~DiskFull()
{
    writeFault.armed = false;
}

}  // namespace vantor::test

using vantor::test::allowance;

extern "C" ssize_t read(int fd, void* buf, size_t count)
{
    static const auto real = reinterpret_cast<vantor::test::IoFunction>(::dlsym(RTLD_NEXT, "read"));
    const ssize_t allowed = allowance(vantor::test::readFault, fd, count, false);
    if (allowed < 0) {
        errno = EIO;
        return -1;
    }
    return real(fd, buf, static_cast<size_t>(allowed));
}

extern "C" ssize_t write(int fd, const void* buf, size_t count)
{
    static const auto real = reinterpret_cast<vantor::test::WriteFunction>(::dlsym(RTLD_NEXT, "write"));
    const ssize_t allowed = allowance(vantor::test::writeFault, fd, count, true);
    if (allowed < 0) {
        errno = ENOSPC;
        return -1;
    }
    return real(fd, buf, static_cast<size_t>(allowed));
}

extern "C" ssize_t writev(int fd, const struct iovec* iov, int count)
{
    using WritevFunction = ssize_t (*)(int, const struct iovec*, int);
    static const auto real = reinterpret_cast<WritevFunction>(::dlsym(RTLD_NEXT, "writev"));
    std::size_t total = 0;
    for (int i = 0; i < count; ++i)
        total += iov[i].iov_len;
    // Whole or nothing: the stream library writes its buffer and the caller's bytes in one call.
    if (allowance(vantor::test::writeFault, fd, total, true) != static_cast<ssize_t>(total)) {
        errno = ENOSPC;
        return -1;
    }
    return real(fd, iov, count);
}
