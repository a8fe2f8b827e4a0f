#pragma once
// Disk faults on demand, for the tests of what the program does when a read or a write fails
// halfway (a bad sector, a full disk). Linked only into the test programs that use it: it puts
// its own read() and write() in front of the C library's, which pass every call through unless a
// fault is armed for the file that the descriptor names.

#include <cstddef>
#include <filesystem>

namespace vantor::test {

// While alive, reads of `file` deliver `goodBytes` in all and then fail with EIO.
class ReadFault {
public:
    ReadFault(const std::filesystem::path& file, std::size_t goodBytes);
    ~ReadFault();
    ReadFault(const ReadFault&) = delete;
    ReadFault& operator=(const ReadFault&) = delete;
};

// While alive, writes to any file in `folder` take `goodBytes` in all and then fail with ENOSPC,
// as on a full disk.
class DiskFull {
public:
    DiskFull(const std::filesystem::path& folder, std::size_t goodBytes = 0);
    ~DiskFull();
    DiskFull(const DiskFull&) = delete;
    DiskFull& operator=(const DiskFull&) = delete;
};

}  // namespace vantor::test
