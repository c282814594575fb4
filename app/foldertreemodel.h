#pragma once

// The folders of the local tree, with a hook that tells the window when the
// user starts dragging a folder out of it.

#include <QFileSystemModel>
#include <QMimeData>

#include <functional>

// The drag format that marks a folder dragged out of this window's own tree
// (other programs' folders come as plain file addresses).
inline QString FolderMimeType() { return QStringLiteral("application/x-tarvik-folder"); }

class TFolderTreeModel final : public QFileSystemModel {
public:
    using QFileSystemModel::QFileSystemModel;

    std::function<void()> OnStartDrag;

    QMimeData* mimeData(const QModelIndexList& indexes) const override
    {
        if (OnStartDrag && !indexes.isEmpty())
            OnStartDrag();
        QMimeData* data = QFileSystemModel::mimeData(indexes);
        if (data && !indexes.isEmpty())
            data->setData(FolderMimeType(), filePath(indexes.first()).toUtf8());
        return data;
    }
};
