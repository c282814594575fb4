#pragma once

// The folders of the local tree, with a hook that tells the window when the
// user starts dragging a folder out of it.

#include <QFileSystemModel>

#include <functional>

class TFolderTreeModel final : public QFileSystemModel {
public:
    using QFileSystemModel::QFileSystemModel;

    std::function<void()> OnStartDrag;

    QMimeData* mimeData(const QModelIndexList& indexes) const override
    {
        if (OnStartDrag && !indexes.isEmpty())
            OnStartDrag();
        return QFileSystemModel::mimeData(indexes);
    }
};
