#pragma once

// The main window's handle on the progress dialog of the transfer in
// progress. It owns at most one TSendForm at a time and is the only way the
// main window should reach it, because the FTP client's progress events may
// arrive while no dialog exists (after a resumed, failed or aborted
// transfer the main window's ProgressActive flag stays raised after the
// dialog is gone). Every call is safe with no dialog open, and a dialog
// destroyed behind its back (its parent closing, say) is noticed too.
//
// Keep one for the main window's whole life:
//
//     TTransferProgress ProgressDialog{CancelTransfer, this};   // a member
//
// One file (SendAFile; ReceiveAFile and ResumeAFile alike with
// TProgressDirection::Receiving, the remote name and, for a resume, the
// partial size as the start):
//
//     auto dialog = ProgressDialog.Open(TProgressDirection::Sending, fileNamePart,
//                                       RemoteDir + "/" + remoteName, localPath,
//                                       TransferSize, 0);
//     ...
//     ProgressActive = true;
//     FTPC1->Put();
//     dialog.Close();        // also done when `dialog` goes out of scope
//
// FTPC1Progress, after the CancelTransfer test:
//
//     if (ProgressActive)
//         ProgressDialog.Update(count);   // bar, byte count, labels; throttled
//
// Open is [[nodiscard]]: the returned scope closes the dialog when the
// transfer's block is left by any path, an exception included.

#include "dialogs/transfer.h"

#include <QPointer>
#include <QString>

class QWidget;

class TTransferProgress {
public:
    // Closes the dialog it was returned for when it goes out of scope.
    class TScope {
    public:
        TScope(TScope&& other) noexcept;
        TScope& operator=(TScope&& other) noexcept;
        TScope(const TScope&) = delete;
        TScope& operator=(const TScope&) = delete;
        ~TScope();

        // Closes and destroys the dialog now (a later dialog of the same
        // owner is left alone).
        void Close();
        // The dialog while it is open, else null.
        TSendForm* Form() const;

    private:
        friend class TTransferProgress;
        TScope(TTransferProgress* owner, TSendForm* form);
        TTransferProgress* owner_ = nullptr;
        QPointer<TSendForm> form_;
    };

    // `cancelTransfer` is the flag Cancel raises; it and `parent` must
    // outlive this object.
    explicit TTransferProgress(bool& cancelTransfer, QWidget* parent = nullptr);
    ~TTransferProgress();
    TTransferProgress(const TTransferProgress&) = delete;
    TTransferProgress& operator=(const TTransferProgress&) = delete;

    // Creates, fills and shows (modeless, on top) the dialog for one file.
    // A dialog still open from an earlier file is closed first.
    [[nodiscard]] TScope Open(TProgressDirection direction, const QString& name, const QString& remotePath,
                              const QString& localPath, qint64 total, qint64 start = 0);

    // A progress event's byte count (the position in the whole file).
    // Does nothing when no dialog is open.
    void Update(qint64 byteCount);

    // Closes and destroys the open dialog, if any.
    void Close();

    bool IsOpen() const { return !form_.isNull(); }
    // The open dialog, else null. Do not keep the pointer.
    TSendForm* Form() const { return form_.data(); }

private:
    void CloseForm(TSendForm* form);

    bool& cancelTransfer_;
    QPointer<QWidget> parent_;
    QPointer<TSendForm> form_;
};
