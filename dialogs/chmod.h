#pragma once

// The permission dialog: nine check boxes for the Unix permission bits and
// the resulting numeric mode for "SITE chmod", shown as the boxes change.
//
// Open it modally and destroy it afterwards:
//
//     TFormMod form(this);
//     form.SetMode(0755); // the item's mode when the listing gave it
//     form.exec();
//     if (!form.Cancelled && !form.ModeText.isEmpty())
//         ... "SITE chmod " + form.ModeText + " " + name for each item
//
// Closing it any other way than OK (Cancel, Escape, the close button)
// leaves Cancelled raised, even after boxes were changed.

#include <QDialog>
#include <QString>

#include <array>

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;

class TFormMod : public QDialog {
    Q_OBJECT
public:
    explicit TFormMod(QWidget* parent = nullptr);

    // Results, read after the modal call returns.
    QString ModeText;
    bool Cancelled = true;

    // Checks the boxes of the permission bits in `mode` (0777 are used);
    // without a call the dialog starts at 644.
    void SetMode(int mode);

    // The mode of the current boxes: owner, group and other digits with the
    // leading zero digits left out ("644", "44", "4"), empty with no box
    // checked.
    QString CurrentMode() const;
    // The same from the three digits (each 0 to 7).
    static QString FormatMode(int owner, int group, int other);

    // The boxes in order: owner Readable, Writable, Executable, then group,
    // then other (CheckBox1 to CheckBox9).
    QCheckBox* Box(int index) const { return boxes_.at(std::size_t(index)); }
    QString ShownMode() const; // the text of Label3

    void Button1Click(); // OK
    void Button2Click(); // Cancel
    void ButHelpClick();

    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void BuildControls();
    QGroupBox* MakeGroup(const QString& caption, int first);
    int Digit(int group) const;
    void ShowMode();

    std::array<QCheckBox*, 9> boxes_{};
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* ButHelp = nullptr;
    bool centred_ = false;
};
