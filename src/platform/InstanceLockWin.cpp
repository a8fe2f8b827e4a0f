#include "platform/InstanceLock.h"

#include "platform/SystemError.h"

#include <cstdlib>
#include <random>
#include <string>
#include <windows.h>

namespace vantor {

namespace {
// The lock covers bytes far past the pid, so that a second start can still read the pid.
constexpr DWORD lockOffset = 0x40000000;

std::string utf8(const std::filesystem::path& path)
{
    const auto text = path.u8string();
    return std::string(text.begin(), text.end());
}
}  // namespace

struct InstanceLock::Impl {
    HANDLE handle = INVALID_HANDLE_VALUE;
};

InstanceLock::InstanceLock(std::unique_ptr<Impl> impl)
    : m_impl(std::move(impl))
{
}

InstanceLock::~InstanceLock()
{
    ::CloseHandle(m_impl->handle);
}

InstanceLock::Attempt InstanceLock::acquire(const std::filesystem::path& dataDir)
{
    Attempt attempt;
    const auto path = dataDir / fileName;
    const HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        attempt.error =
            "cannot lock the data folder (" + utf8(path) + "): " + systemErrorText(static_cast<int>(::GetLastError()));
        return attempt;
    }
    OVERLAPPED at{};
    at.Offset = lockOffset;
    if (!::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
        const DWORD code = ::GetLastError();
        if (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING) {
            char text[32] = {};
            DWORD got = 0;
            long pid = 0;
            if (::ReadFile(h, text, sizeof text - 1, &got, nullptr) && got > 0)
                pid = std::strtol(text, nullptr, 10);
            attempt.holder = pid > 0 ? pid : 0;
        } else {
            attempt.error =
                "cannot lock the data folder (" + utf8(path) + "): " + systemErrorText(static_cast<int>(code));
        }
        ::CloseHandle(h);
        return attempt;
    }
    const std::string pid = std::to_string(::GetCurrentProcessId()) + "\r\n";
    DWORD written = 0;
    ::SetFilePointer(h, 0, nullptr, FILE_BEGIN);
    ::SetEndOfFile(h);
    ::WriteFile(h, pid.data(), static_cast<DWORD>(pid.size()), &written, nullptr);
    auto impl = std::make_unique<Impl>();
    impl->handle = h;
    attempt.lock.reset(new InstanceLock(std::move(impl)));
    return attempt;
}

std::string alreadyRunningText(long pid)
{
    return "Vantor is already running with this data folder (pid " + std::to_string(pid) + ")";
}

LockedTempFolder makeLockedTempFolder(const std::string& prefix, std::string& error)
{
    LockedTempFolder folder;
    std::error_code ec;
    const auto base = std::filesystem::temp_directory_path(ec);
    std::random_device random;
    for (int attempt = 0; attempt < 16 && folder.path.empty(); ++attempt) {
        std::string name = prefix + "-";
        for (int i = 0; i < 6; ++i)
            name += "abcdefghijklmnopqrstuvwxyz0123456789"[random() % 36];
        const auto path = base / name;
        if (!std::filesystem::create_directory(path, ec))
            continue;
        auto lock = InstanceLock::acquire(path);
        if (!lock.lock) {
            std::filesystem::remove_all(path, ec);
            error = lock.error;
            return folder;
        }
        folder.path = path;
        folder.lock = std::move(lock.lock);
    }
    if (folder.path.empty())
        error = "cannot make a temporary folder in " + utf8(base);
    return folder;
}

std::vector<std::filesystem::path> removeAbandonedTempFolders(const std::string&,
                                                              const std::function<void(const std::filesystem::path&)>&)
{
    return {};
}

}  // namespace vantor
