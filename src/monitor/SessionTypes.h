#pragma once
#include "platform/NetManagement.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vantor {

// One kept session of a poll, and equally one row of the sessions table.
struct SessionEntry {
    std::string user;
    std::string computer;
    uint32_t openFiles = 0;
    // Shown beside the three columns; the console and the history know only those three.
    SessionDetails details;
    bool operator==(const SessionEntry&) const = default;
};

// What other threads (the console agent) may read of the sessions table: the rows as shown after a
// rebuild, top row first, and the counts of the poll that made them. Immutable once published.
struct SessionsSnapshot {
    std::vector<SessionEntry> rows;
    uint32_t currentSessionsCount = 0;
    uint32_t openFilesTotal = 0;
    // Every open file of the shown sessions, in the service's order, when the poll was asked to
    // list them (SessionMonitor::setListAllFiles); `openFilesError` says why not when it failed.
    bool openFilesListed = false;
    std::vector<NetFileInfo> openFiles;
    std::string openFilesError;
    // The server's shares and their folders, listed with the open files when the service tells.
    std::vector<NetShareInfo> shares;
};
using SessionsSnapshotPtr = std::shared_ptr<const SessionsSnapshot>;

enum class FileIconKind {
    Folder,  // a directory, or a path that cannot be inspected on this computer
    FileType,  // the icon of the file's type; the window falls back to the default file icon
};

// One row of the open-files table.
struct OpenFileRow {
    std::string path;
    uint32_t id = 0;  // the resource's identifier from the enumeration
    FileIconKind icon = FileIconKind::FileType;
    int imageIndex = 0;  // position of the file in the enumeration
    FileDetails details;
    bool operator==(const OpenFileRow&) const = default;
};

}  // namespace vantor
