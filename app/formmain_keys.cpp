// The keys of the panes: F5 refreshes the pane that has the focus,
// Backspace goes up a folder, Enter opens a folder or transfers the
// selected files, Delete deletes with the usual question.

#include "app/formmain.h"

#include "app/listview.h"

#include <QKeyEvent>
#include <QListView>
#include <QTreeView>

void TFormMain::InstallPaneKeys()
{
    Dir1->installEventFilter(this);
    for (TListView* list : {List1, RemoteDirs, RemoteFiles}) {
        list->ReportView()->installEventFilter(this);
        list->IconView()->installEventFilter(this);
    }
}

bool TFormMain::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->modifiers() == Qt::NoModifier || key->modifiers() == Qt::KeypadModifier) {
            if (PaneKey(watched, key->key()))
                return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

bool TFormMain::PaneKey(QObject* pane, int key)
{
    const auto isViewOf = [pane](const TListView* list) {
        return pane == list->ReportView() || pane == list->IconView();
    };
    const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
    if (pane == Dir1) {
        switch (key) {
        case Qt::Key_F5:
            RefreshLocalListing1Click();
            return true;
        case Qt::Key_Backspace:
            LocalFolderUp();
            return true;
        case Qt::Key_Delete:
            LocalDirectory1Click();
            return true;
        default:
            return false;
        }
    }
    if (isViewOf(List1)) {
        if (key == Qt::Key_F5) {
            RefreshLocalListing1Click();
            return true;
        }
        if (key == Qt::Key_Backspace) {
            LocalFolderUp();
            return true;
        }
        if (enter) {
            // Uploading needs a session; without one Enter does nothing.
            if (IsConnected() && List1->SelCount() > 0)
                UploadFile1Click();
            return true;
        }
        if (key == Qt::Key_Delete) {
            if (List1->SelCount() > 0)
                LocalFile1Click();
            return true;
        }
        return false;
    }
    const bool remoteDirs = isViewOf(RemoteDirs);
    const bool remoteFiles = isViewOf(RemoteFiles);
    if (!remoteDirs && !remoteFiles)
        return false;
    if (!IsConnected())
        return false;
    switch (key) {
    case Qt::Key_F5:
        RefreshRemoteListing1Click();
        return true;
    case Qt::Key_Backspace:
        UpDirectory1Click();
        return true;
    case Qt::Key_Delete:
        if (remoteDirs && RemoteDirs->SelCount() > 0)
            RemoteDirectory1Click();
        else if (remoteFiles && RemoteFiles->SelCount() > 0)
            RemoteFile1Click();
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (remoteDirs && RemoteDirs->SelCount() == 1)
            RemoteDirsDblClick();
        else if (remoteFiles && RemoteFiles->SelCount() > 0)
            RemoteFilesDblClick();
        return true;
    default:
        return false;
    }
}
