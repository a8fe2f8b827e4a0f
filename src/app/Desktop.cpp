#include "app/Desktop.h"

#include "platform/Paths.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>

void vantorInitResources()
{
    Q_INIT_RESOURCE(vantor);
}

namespace vantor {

void initResources()
{
    static const bool done = [] {
        vantorInitResources();
        return true;
    }();
    (void)done;
}

QIcon programIcon(const QString& name)
{
    initResources();
    return QIcon(QStringLiteral(":/vantor/icons/") + name + QStringLiteral(".svg"));
}

QIcon fileRowIcon(const OpenFileRow& row)
{
    if (row.icon == FileIconKind::Folder)
        return programIcon(QStringLiteral("folder"));
    static const QMimeDatabase db;
    const QString path = QString::fromStdString(row.path);
    const QMimeType type = db.mimeTypeForFile(path);
    if (type.isValid() && !type.isDefault()) {
        if (QIcon::hasThemeIcon(type.iconName()))
            return QIcon::fromTheme(type.iconName());
        if (QIcon::hasThemeIcon(type.genericIconName()))
            return QIcon::fromTheme(type.genericIconName());
    }
    return programIcon(QStringLiteral("file"));
}

QUrl computerUrl(const std::string& computer)
{
    QUrl url;
    url.setScheme(QStringLiteral("smb"));
    // QUrl adds the brackets of an IPv6 address itself.
    url.setHost(QString::fromStdString(computer));
    url.setPath(QStringLiteral("/"));
    return url;
}

QUrl folderUrl(const std::string& folder)
{
    return QUrl::fromLocalFile(QString::fromStdString(folder));
}

QString helpPagePath(const std::filesystem::path& dataDir)
{
    static const QString name = QStringLiteral("vantor_help.html");
    const QString exeDir = QCoreApplication::applicationDirPath();
    for (const QString& candidate :
         {exeDir + QLatin1Char('/') + name, exeDir + QStringLiteral("/../share/vantor/") + name}) {
        if (QFileInfo::exists(candidate))
            return QFileInfo(candidate).canonicalFilePath();
    }
    initResources();
    if (!ensureDirectory(dataDir))
        return {};
    const QString copy = QString::fromStdString((dataDir / name.toStdString()).string());
    QFile source(QStringLiteral(":/vantor/help/") + name);
    if (!source.open(QIODevice::ReadOnly))
        return {};
    const QByteArray page = source.readAll();
    QFile target(copy);
    if (target.open(QIODevice::ReadOnly) && target.readAll() == page)
        return copy;
    target.close();
    if (!target.open(QIODevice::WriteOnly | QIODevice::Truncate) || target.write(page) != page.size())
        return {};
    return copy;
}

}  // namespace vantor
