#pragma once
// Makes the file-type icons come from an icon theme. Qt picks the desktop's theme on a full desktop,
// but under a bare X server, a window manager without settings or the offscreen platform it may
// have none, and every file would show the same icon.

#include <QString>
#include <QStringList>

namespace vantor {

// Keeps the current theme when it has a folder icon; otherwise picks the first installed theme of
// `preferred` that exists in Qt's theme search paths, else any installed theme but "hicolor".
// Returns the theme in use (empty when none was found).
QString ensureIconTheme(const QStringList& preferred = {QStringLiteral("Adwaita"), QStringLiteral("breeze"),
                                                        QStringLiteral("gnome"), QStringLiteral("oxygen"),
                                                        QStringLiteral("Tango")});

}  // namespace vantor
