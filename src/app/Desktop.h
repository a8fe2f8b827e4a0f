#pragma once
// What the windows take from the desktop: the program's own pictures, the icon theme's file-type
// icons, the places that "Connect to user" and "Open folder" open, and the help page.

#include "monitor/SessionTypes.h"

#include <QIcon>
#include <QString>
#include <QUrl>

#include <filesystem>

namespace vantor {

// Makes the program's resources (pictures, help page) available; safe to call more than once.
void initResources();

// One of the program's own pictures, by its file name without ".svg" (e.g. "user", "tray-user").
QIcon programIcon(const QString& name);

// The icon of a file row: the folder picture for folders and paths that cannot be inspected, the
// theme's icon of the file's MIME type (its icon name, then its generic icon name), else the
// program's default file picture.
QIcon fileRowIcon(const OpenFileRow& row);

// "smb://computer/" for a session's client; an IPv6 address gets its brackets.
QUrl computerUrl(const std::string& computer);
QUrl folderUrl(const std::string& folder);

// The help page: beside the program (as installed, or in the build tree) or, failing that, the
// copy that the program writes from its resources into `dataDir`. Empty when neither can be had.
QString helpPagePath(const std::filesystem::path& dataDir);

}  // namespace vantor
