#include "platform/AtomicFileOs.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantor::atomicfile {

int createExclusive(const std::filesystem::path& path, OsFile& file)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    file.handle = fd;
    return 0;
}

int openForAppend(const std::filesystem::path& path, OsFile& file)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    file.handle = fd;
    return 0;
}

bool isExistsError(int code)
{
    return code == EEXIST;
}

int writeAll(OsFile file, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(static_cast<int>(file.handle), data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}

int appendAll(OsFile file, const char* data, std::size_t size)
{
    const int fd = static_cast<int>(file.handle);
    struct stat before { };
    if (::fstat(fd, &before) != 0)
        return errno;
    const int failure = writeAll(file, data, size);
    if (failure != 0) {
        while (::ftruncate(fd, before.st_size) != 0 && errno == EINTR) { }
    }
    return failure;
}

void keepAttributesOf(const std::filesystem::path& target, OsFile file)
{
    struct stat st { };
    if (::lstat(target.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid())
        return;
    const int fd = static_cast<int>(file.handle);
    if (st.st_gid != ::getegid())
        (void)!::fchown(fd, static_cast<uid_t>(-1), st.st_gid);
    // Never a set-id bit on a file whose content came from elsewhere.
    (void)!::fchmod(fd, st.st_mode & 0777);
}

int syncAndClose(OsFile& file)
{
    const int fd = static_cast<int>(file.handle);
    file.handle = -1;
    int failure = ::fsync(fd) == 0 ? 0 : errno;
    // A network file system may report a failed write only here.
    if (::close(fd) != 0 && failure == 0)
        failure = errno;
    return failure;
}

void closeQuietly(OsFile& file)
{
    if (file.isOpen())
        ::close(static_cast<int>(file.handle));
    file.handle = -1;
}

int replace(const std::filesystem::path& from, const std::filesystem::path& to)
{
    if (::rename(from.c_str(), to.c_str()) != 0)
        return errno;
    // The new name is only durable once the folder is: a crash right after must not bring the
    // old file back beside a log that was trimmed since.
    const auto folder = to.has_parent_path() ? to.parent_path() : std::filesystem::path(".");
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return 0;
}

}  // namespace vantor::atomicfile
