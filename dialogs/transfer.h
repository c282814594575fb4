#pragma once

// The small window shown while one file is uploaded or downloaded: the
// remote and local names, the bytes moved, the rate, the time left, the
// percentage, a progress bar and Cancel.
//
// The main window should not hold a TSendForm* of its own: the dialog is
// destroyed when its file is done, while progress events may still arrive
// (after a resumed, failed or aborted transfer). Hold a TTransferProgress
// (dialogs/transferprogress.h) instead; it opens, feeds and closes the
// dialog and ignores progress when no dialog is open.
//
// Progress is cheap to report: SetProgress stores the count and redraws at
// most every RefreshIntervalMs (the last count is drawn once the interval
// has passed, and a completed transfer is drawn at once).

#include "dialogs/transferthrottle.h"

#include <QDialog>
#include <QString>
#include <QTimer>

class QLabel;
class QProgressBar;
class QPushButton;

// Which way the file of the progress dialog moves (the caption says so).
enum class TProgressDirection {
    Sending,
    Receiving
};

class TSendForm : public QDialog {
    Q_OBJECT
public:
    static constexpr qint64 RefreshIntervalMs = 250;

    // Cancel raises `cancelTransfer` (the main window's CancelTransfer flag,
    // which must outlive the dialog); the main window's progress handler
    // reads it and aborts the transfer.
    explicit TSendForm(bool& cancelTransfer, QWidget* parent = nullptr, TRefreshThrottle::TClock clock = {});
    ~TSendForm() override;

    // Fills the fixed texts before the dialog is shown. The caption is
    // "Sending File: " or "Receiving File: " followed by `name`. `total` is
    // the transfer size (0 when unknown), `start` the position the transfer
    // starts from (the partial size of a resumed download, else 0).
    void Prepare(TProgressDirection direction, const QString& name, const QString& remotePath, const QString& localPath,
                 qint64 total, qint64 start = 0);
    void SetTotal(qint64 total, qint64 start = 0);

    // A progress event: `byteCount` is the position reached in the whole
    // file. Moves the bar and the labels, throttled.
    void SetProgress(qint64 byteCount);

    // Redraws all value labels from the fields now, unthrottled.
    void SetLabels();
    // Cancel (also Escape and any close request: the dialog is ended only
    // by destroying it).
    void Button1Click();
    // One tick of the one-second timer.
    void Timer1Timer();

    qint64 BytesDone() const { return bytesDone_; }
    int Seconds() const { return seconds_; }
    qint64 BytesPerSecond() const { return bytesPerSecond_; }
    qint64 BytesTotal() const { return bytesTotal_; }
    bool CancelPressed() const { return cancelPressed_; }
    // How often the labels were drawn (diagnostics and tests).
    int LabelRefreshes() const { return labelRefreshes_; }

    // The texts of the value labels.
    static QString StatusText(qint64 bytesDone, qint64 bytesTotal);
    static QString RateText(qint64 bytesPerSecond);
    static QString PercentText(qint64 bytesDone, qint64 bytesTotal);
    static QString TimeText(qint64 seconds);
    static QString AbortingText();

protected:
    void reject() override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void BuildControls();
    void Redraw();
    void MoveBar();
    void SetPathLabel(QLabel* label, const QString& path);

    bool& cancelTransfer_;
    TRefreshThrottle throttle_;
    QTimer Timer1;
    QTimer pendingRedraw_;

    qint64 bytesDone_ = 0;
    int seconds_ = 1;
    qint64 bytesPerSecond_ = 0;
    qint64 bytesTotal_ = 1;
    qint64 start_ = 0;
    int barShift_ = 0;
    bool cancelPressed_ = false;
    bool centred_ = false;
    int labelRefreshes_ = 0;

    QLabel* RemLabel = nullptr;
    QLabel* LocLabel = nullptr;
    QLabel* ProgLb = nullptr;
    QLabel* TranLabel = nullptr;
    QLabel* TimeLabel = nullptr;
    QLabel* Label1 = nullptr;
    QProgressBar* ProgBar1 = nullptr;
    QPushButton* Button1 = nullptr;
};
