#include "app/imagelist.h"

#include <QApplication>
#include <QFileInfo>
#include <QStyle>

QIcon TDesktopIconProvider::icon(IconType type) const
{
    QIcon result = QFileIconProvider::icon(type);
    if (!result.isNull())
        return result;
    const bool folder = type == Folder || type == Drive || type == Computer || type == Network;
    return QApplication::style()->standardIcon(folder ? QStyle::SP_DirIcon : QStyle::SP_FileIcon);
}

QIcon TDesktopIconProvider::icon(const QFileInfo& info) const
{
    QIcon result = QFileIconProvider::icon(info);
    if (!result.isNull())
        return result;
    return QApplication::style()->standardIcon(info.isDir() ? QStyle::SP_DirIcon : QStyle::SP_FileIcon);
}

int TImageList::Add(const QIcon& icon)
{
    icons_.push_back(icon);
    return Count() - 1;
}

QIcon TImageList::Icon(int index) const
{
    if (index < 0 || index >= Count())
        return {};
    return icons_[static_cast<size_t>(index)];
}

TSystemImageList& TSystemImageList::Instance()
{
    static TSystemImageList list;
    return list;
}

int TSystemImageList::IconIndex(const QString& path, const QString& name, bool executable)
{
    // Files without a suffix are told apart only by whether they can be run:
    // the desktop shows programs and plain data differently.
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    QString key;
    if (dot >= 0 && dot + 1 < name.size())
        key = name.mid(dot + 1);
    else
        key = executable ? QStringLiteral("\x01x") : QStringLiteral("\x01-");
    const auto found = byType_.constFind(key);
    if (found != byType_.constEnd())
        return found.value();
    QIcon icon = provider_.icon(QFileInfo(path));
    if (icon.isNull())
        icon = provider_.icon(QAbstractFileIconProvider::File);
    const int index = images_.Add(icon);
    byType_.insert(key, index);
    return index;
}

const TImageList& RemoteImages()
{
    static const TImageList images = [] {
        TImageList list;
        const QStyle* style = QApplication::style();
        list.Add(style->standardIcon(QStyle::SP_FileIcon));
        list.Add(QIcon::fromTheme(QStringLiteral("text-html"), style->standardIcon(QStyle::SP_FileDialogContentsView)));
        list.Add(style->standardIcon(QStyle::SP_DirIcon));
        list.Add(
            QIcon::fromTheme(QStringLiteral("emblem-symbolic-link"), style->standardIcon(QStyle::SP_FileLinkIcon)));
        return list;
    }();
    return images;
}
