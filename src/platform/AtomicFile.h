#pragma once
// Files that are replaced whole: the report, the trimmed history logs, the list files, the
// settings. The new content goes to a temporary file beside the target and is moved onto it only
// when every byte is on disk, so a reader meets the old file or the new one, never half of one,
// and a failed write (a full disk) leaves the old file as it was.
//
// The program may run as root in a folder that others can write to. So the temporary file is
// always created new (it never opens what stands at its name: no planted symbolic link is
// followed), under a name nobody can guess beforehand. Temporary files that a crash left behind
// are removed (unlinked, never opened) the next time the same target is written.
//
// A new file is readable by its owner alone (state files hold who was connected; the list files
// and settings are root's); a rewrite keeps the permissions and group of the file it replaces.

#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace vantor {

class AtomicFile {
public:
    // Creates the temporary file beside `target`; see error() when that failed.
    explicit AtomicFile(std::filesystem::path target);
    // Removes the temporary file unless commit() moved it onto the target.
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    bool isOpen() const;
    // Buffered writes to the temporary file; a failure shows in error() and in commit().
    std::ostream& stream();
    // Flushes, syncs and closes the temporary file and moves it onto the target. The error text
    // (naming the target) when any step failed, and then the target is untouched.
    std::optional<std::string> commit();
    // Empty while nothing failed.
    const std::string& error() const;

    const std::filesystem::path& target() const;
    // Where the bytes go until commit(); empty when it could not be created.
    const std::filesystem::path& temporaryPath() const;

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

// Writes `content` to `path` through an AtomicFile. nullopt when done, else the error text, which
// names the file.
std::optional<std::string> writeFileAtomically(const std::filesystem::path& path, std::string_view content);

// Appends `content` to `path` (created when missing) in one write, never through a symbolic link
// planted at the name; a write that fails part way is taken back, so the file never ends in a
// broken line. nullopt when done, else the error text naming the file.
std::optional<std::string> appendToFile(const std::filesystem::path& path, std::string_view content);

// True when `name` is the name the temporary files of `target` take (tests and the clean-up use it).
bool isAtomicTemporaryName(const std::filesystem::path& target, const std::string& name);

}  // namespace vantor
