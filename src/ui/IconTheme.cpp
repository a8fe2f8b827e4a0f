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

QString ensureIconTheme(const QStringList& preferred)
{
    if (!QIcon::themeName().isEmpty() && QIcon::themeName() != QLatin1String("hicolor")
        && QIcon::hasThemeIcon(QStringLiteral("folder")))
        return QIcon::themeName();

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
