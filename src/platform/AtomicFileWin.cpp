#include "platform/AtomicFileOs.h"

#include <windows.h>

namespace vantor::atomicfile {

namespace {
HANDLE handleOf(OsFile file)
{
    return reinterpret_cast<HANDLE>(file.handle);
}
}  // namespace

int createExclusive(const std::filesystem::path& path, OsFile& file)
{
    // CREATE_NEW fails on anything standing at the name, a symbolic link or junction included.
    const HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return static_cast<int>(::GetLastError());
    file.handle = reinterpret_cast<std::intptr_t>(h);
    return 0;
}

int openForAppend(const std::filesystem::path& path, OsFile& file)
{
    const HANDLE h = ::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return static_cast<int>(::GetLastError());
    file.handle = reinterpret_cast<std::intptr_t>(h);
    return 0;
}

bool isExistsError(int code)
{
    return code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS;
}

int writeAll(OsFile file, const char* data, std::size_t size)
{
    while (size > 0) {
        const DWORD piece = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!::WriteFile(handleOf(file), data, piece, &written, nullptr))
            return static_cast<int>(::GetLastError());
        data += written;
        size -= written;
    }
    return 0;
}

int appendAll(OsFile file, const char* data, std::size_t size)
{
    // An append-only handle cannot cut the file back; the log's reader skips a broken last line.
    return writeAll(file, data, size);
}

void keepAttributesOf(const std::filesystem::path&, OsFile)
{
    // A new file takes the folder's inherited access list, as the one it replaces did.
}

int syncAndClose(OsFile& file)
{
    const HANDLE h = handleOf(file);
    file.handle = -1;
    int failure = ::FlushFileBuffers(h) ? 0 : static_cast<int>(::GetLastError());
    if (!::CloseHandle(h) && failure == 0)
        failure = static_cast<int>(::GetLastError());
    return failure;
}

void closeQuietly(OsFile& file)
{
    if (file.isOpen())
        ::CloseHandle(handleOf(file));
    file.handle = -1;
}

int replace(const std::filesystem::path& from, const std::filesystem::path& to)
{
    if (!::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return static_cast<int>(::GetLastError());
    return 0;
}

}  // namespace vantor::atomicfile
