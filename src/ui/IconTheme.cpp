#include "ui/IconTheme.h"

#include <QDir>
#include <QFileInfo>
#include <QIcon>

namespace vantor {

namespace {

bool themeInstalled(const QString& name)
{
    for (const QString& base : QIcon::themeSearchPaths())
        if (QFileInfo::exists(base + QLatin1Char('/') + name + QStringLiteral("/index.theme")))
            return true;
    return false;
}

}  // namespace

// Without a platform theme Qt searches only its own resources; the freedesktop places are these.
static void addStandardSearchPaths()
{
    QStringList paths = QIcon::themeSearchPaths();
    QStringList wanted{QDir::homePath() + QStringLiteral("/.icons")};
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (dataHome.isEmpty())
        dataHome = QDir::homePath() + QStringLiteral("/.local/share");
    wanted << dataHome + QStringLiteral("/icons");
    QString dataDirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dataDirs.isEmpty())
        dataDirs = QStringLiteral("/usr/local/share:/usr/share");
    for (const QString& d : dataDirs.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        wanted << d + QStringLiteral("/icons");
    wanted << QStringLiteral("/usr/share/pixmaps");
    for (const QString& w : wanted)
        if (!paths.contains(w) && QFileInfo(w).isDir())
            paths << w;
    QIcon::setThemeSearchPaths(paths);
}

QString ensureIconTheme(const QStringList& preferred)
{
    if (!QIcon::themeName().isEmpty() && QIcon::themeName() != QLatin1String("hicolor")
        && QIcon::hasThemeIcon(QStringLiteral("folder")))
        return QIcon::themeName();

    addStandardSearchPaths();
    QStringList candidates = preferred;
    for (const QString& base : QIcon::themeSearchPaths()) {
        const QStringList dirs = QDir(base).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
        for (const QString& d : dirs)
            if (!candidates.contains(d) && d != QLatin1String("hicolor") && d != QLatin1String("default"))
                candidates.push_back(d);
    }
    for (const QString& name : candidates) {
        if (!themeInstalled(name))
            continue;
        QIcon::setThemeName(name);
        if (QIcon::hasThemeIcon(QStringLiteral("folder")))
            return name;
    }
    return QIcon::hasThemeIcon(QStringLiteral("folder")) ? QIcon::themeName() : QString();
}

}  // namespace vantor
