#pragma once
// One running Vantor per data folder. Two engines on the same folder would each close the
// black-listed sessions, send each mail and write each history line: every close, mail and line
// twice. Whoever starts the engine (the desktop program, the service) takes this lock first and
// holds it for as long as it runs; the system releases it when the process ends, however it ends.

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vantor {

class InstanceLock {
public:
    // The lock file inside the data folder; it holds the pid of the process that has the lock.
    static constexpr const char* fileName = ".vantor.lock";

    struct Attempt {
        std::unique_ptr<InstanceLock> lock;  // set when this process now holds the folder
        std::optional<long> holder;  // another process holds it (its pid, 0 when unknown)
        std::string error;  // neither: the lock could not be tried (text for the user)
    };
    // Tries once, without waiting. The folder must exist.
    static Attempt acquire(const std::filesystem::path& dataDir);

    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    struct Impl;

private:
    explicit InstanceLock(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

// "Vantor is already running with this data folder (pid N)".
std::string alreadyRunningText(long pid);

// Throw-away folders that must not outlive their maker even when it is killed (the demo's data
// and its private server). Each is made new under the system's temporary folder as
// "<prefix>-XXXXXX" and locked (as above) by the process that uses it.
struct LockedTempFolder {
    std::filesystem::path path;
    std::unique_ptr<InstanceLock> lock;
};
// Empty path (and `error` set) when it cannot be made.
LockedTempFolder makeLockedTempFolder(const std::string& prefix, std::string& error);
// Every "<prefix>-*" folder under the system's temporary folder whose lock nobody holds any more:
// `undo` is called with it (to stop and remove what its maker left elsewhere), then it is removed.
// Returns the folders removed.
std::vector<std::filesystem::path>
removeAbandonedTempFolders(const std::string& prefix,
                           const std::function<void(const std::filesystem::path&)>& undo = {});

}  // namespace vantor
