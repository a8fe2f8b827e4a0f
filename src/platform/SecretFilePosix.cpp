#include "platform/SecretFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantor {

namespace {

constexpr std::size_t maxSecretBytes = 64 * 1024;

}  // namespace

SecretFileStatus readSecretFile(const std::filesystem::path& path, std::string& content)
{
    content.clear();
    // The checks look at the file that was opened, not at a name that may be swapped meanwhile.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return SecretFileStatus::Unreadable;
    struct stat st { };
    SecretFileStatus status = SecretFileStatus::Read;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<std::size_t>(st.st_size) > maxSecretBytes)
        status = SecretFileStatus::Unreadable;
    else if ((st.st_mode & (S_IRWXG | S_IRWXO)) != 0)
        status = SecretFileStatus::OpenToOthers;
    while (status == SecretFileStatus::Read) {
        char buffer[4096];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0)
            break;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || content.size() + static_cast<std::size_t>(n) > maxSecretBytes)
            status = SecretFileStatus::Unreadable;
        else
            content.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (status != SecretFileStatus::Read)
        content.clear();
    return status;
}

}  // namespace vantor
