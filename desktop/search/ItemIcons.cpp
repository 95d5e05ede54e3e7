#include "ItemIcons.h"

#include <QApplication>
#include <QHash>
#include <QMimeDatabase>
#include <QStyle>

// A program started without a desktop session has no icon theme; the one the system
// installs by default gives the types their usual pictures.
static void ProbeIconTheme()
{
    static bool probed = false;
    if (probed)
        return;
    probed = true;
    if (QIcon::themeName().isEmpty() || QIcon::themeName() == QLatin1String("hicolor"))
        QIcon::setThemeName(QStringLiteral("Adwaita"));
}

static QIcon FolderIcon()
{
    static const QIcon icon = []
    {
        ProbeIconTheme();
        return QIcon::fromTheme(QStringLiteral("folder"),
                                QApplication::style()->standardIcon(QStyle::SP_DirIcon));
    }();
    return icon;
}

static QIcon FileIcon(const QString& fullPath)
{
    static QHash<QString, QIcon> iconsByType;
    static const QMimeDatabase mimeDatabase;
    const QString name = fullPath.section(u'\\', -1);
    const QMimeType type = mimeDatabase.mimeTypeForFile(name, QMimeDatabase::MatchExtension);
    const auto cached = iconsByType.constFind(type.name());
    if (cached != iconsByType.constEnd())
        return *cached;
    ProbeIconTheme();
    QIcon icon = QIcon::fromTheme(type.iconName());
    if (icon.isNull())
        icon = QIcon::fromTheme(type.genericIconName());
    if (icon.isNull())
        icon = QApplication::style()->standardIcon(QStyle::SP_FileIcon);
    iconsByType.insert(type.name(), icon);
    return icon;
}

QIcon GetItemIcon(const QString& fullPath, bool isFolder)
{
    return isFolder ? FolderIcon() : FileIcon(fullPath);
}
