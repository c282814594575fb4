#pragma once

// Image lists for the list views: an item refers to its picture by index,
// so one list of pictures serves any number of items.

#include <QFileIconProvider>
#include <QHash>
#include <QIcon>
#include <QString>

#include <vector>

// The desktop's file icons, with the style's own pictures where the desktop
// has no icon theme (a bare X session, a minimal install).
class TDesktopIconProvider final : public QFileIconProvider {
public:
    QIcon icon(IconType type) const override;
    QIcon icon(const QFileInfo& info) const override;
};

class TImageList {
public:
    int Add(const QIcon& icon);
    QIcon Icon(int index) const; // a null icon for an index out of range
    int Count() const { return static_cast<int>(icons_.size()); }

private:
    std::vector<QIcon> icons_;
};

// The desktop's icons for local files, one picture per file type, shared by
// every list that shows local files. Looking an icon up costs a MIME lookup,
// so it is done once per type and remembered.
class TSystemImageList {
public:
    static TSystemImageList& Instance();

    const TImageList& Images() const { return images_; }
    // `name` is the bare file name, `path` its full path (read only the
    // first time a type is met).
    int IconIndex(const QString& path, const QString& name, bool executable);

private:
    TSystemImageList() = default;
    TDesktopIconProvider provider_;
    QHash<QString, int> byType_;
    TImageList images_;
};

// The pictures of the remote lists: 0 plain file, 1 web or text file,
// 2 folder (the same order in both sizes).
const TImageList& RemoteImages();
// The remote lists' picture of a symbolic link, after the plain file (0),
// the web or text file (1) and the folder (2).
constexpr int kRemoteLinkImage = 3;
