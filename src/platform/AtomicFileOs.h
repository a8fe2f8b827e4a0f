#pragma once
// The few system calls under AtomicFile, one file per platform. Each returns 0 or the system's
// error code (errno, or GetLastError on Windows), which systemErrorText turns into words.

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace vantor::atomicfile {

struct OsFile {
    std::intptr_t handle = -1;
    bool isOpen() const { return handle != -1; }
};

// Creates `path` new: fails (with the "exists" code, see isExistsError) when anything, a symbolic
// link included, already stands at that name.
int createExclusive(const std::filesystem::path& path, OsFile& file);
bool isExistsError(int code);
// Opens `path` for appending, creating it when missing; a symbolic link at the name is not
// followed (the open fails).
int openForAppend(const std::filesystem::path& path, OsFile& file);
int writeAll(OsFile file, const char* data, std::size_t size);
// Appends all of `data` or, where the platform can, nothing: what a failing write (a full disk) put
// down is cut off again, so the file never ends in half a line.
int appendAll(OsFile file, const char* data, std::size_t size);
// Gives the new file `file` the permissions (and group) of the file it will replace, when that is
// a regular file of the same owner: an administrator's chmod of a list outlives its next rewrite.
// A file of anybody else keeps the new file's own, narrow permissions.
void keepAttributesOf(const std::filesystem::path& target, OsFile file);
// Puts the bytes on disk and closes the file (closed even when the sync fails).
int syncAndClose(OsFile& file);
void closeQuietly(OsFile& file);
// Moves `from` onto `to`, replacing it in one step, and makes the move itself durable.
int replace(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace vantor::atomicfile
