#pragma once

// The transfer queue's settings: how many sessions the queue opens to a
// site at once and how often a failed transfer is tried again. Kept in the
// user's settings store; a queue run takes them as they are when it starts.
//
//     TFormQueueSettings form(this);
//     if (form.exec() == QDialog::Accepted)
//         ... the new values are stored; StoredQueueSettings() reads them
//
// A value out of range is named with its range below the boxes and OK is
// disabled until it is mended; Cancel, Escape and the close button store
// nothing.

#include "transfers/transfertypes.h"

#include <QDialog>

class QLabel;
class QPushButton;
class QSpinBox;

// The stored settings, clamped to the ranges the form offers (defaults
// when nothing is stored).
TTransferSettings StoredQueueSettings();
void StoreQueueSettings(const TTransferSettings& settings);

class TFormQueueSettings : public QDialog {
    Q_OBJECT
public:
    explicit TFormQueueSettings(QWidget* parent = nullptr);

    QSpinBox* Connections1 = nullptr;
    QSpinBox* Retries1 = nullptr;
    QLabel* Problem1 = nullptr; // what is wrong with the values, empty when nothing is
    QPushButton* OKBtn = nullptr;
    QPushButton* CancelBtn = nullptr;

    void accept() override;

private:
    // Says what is wrong (and disables OK) or clears the note; the first
    // box with a value out of range, or null.
    QSpinBox* ShowProblem();
};
