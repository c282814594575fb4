#pragma once

#include "profiles/profilehooks.h"
#include "profiles/sitefields.h"

#include <QDialog>

#include <functional>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;

// The login dialog: the user types a server or picks a stored profile.
// The main window opens it modally and destroys it afterwards:
//     TLogForm form(hooks, this);
//     form.OnAbort = [this] { FTPC1->Abort(); };
//     form.OnOpenSession = [this](const TSiteFields& f) { /* copy f to the Site fields */ OpenSession(); };
//     form.exec();  // Accepted exactly when the user connected
// OnOpenSession runs while the dialog closes (still on the screen) after a
// Connect that passed validation, and only then; SiteFields() holds the same
// fields afterwards. Cancel and Escape call OnAbort; the close box calls
// nothing. An exception from either reaches Application::HandleException.
class TLogForm : public QDialog {
    Q_OBJECT
public:
    explicit TLogForm(TProfileHooks hooks, QWidget* parent = nullptr);

    // Cancel: stop whatever request the FTP client is running.
    std::function<void()> OnAbort;
    // A validated Connect: copy the fields and connect.
    std::function<void(const TSiteFields& fields)> OnOpenSession;

    bool ConnectChosen() const { return !NoConnect; }
    const TSiteFields& SiteFields() const { return fields_; }

    void Button1Click(); // Connect
    void Button2Click(); // Cancel
    void Button3Click(); // Profiles
    void ButHelpClick();
    void List_ProfClick();
    void List_ProfDblClick();

    void FillList();
    void SetProxy();

    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildControls();
    void AnonBoxToggled(bool checked);

    TProfileHooks hooks_;
    TSiteFields fields_;
    bool NoConnect = true;

    QLineEdit* Edit_Name = nullptr;
    QLineEdit* Host_Edit = nullptr;
    QLineEdit* User_Edit = nullptr;
    QLineEdit* Pass_Edit = nullptr;
    QCheckBox* AnonBox = nullptr;
    QCheckBox* CheckProxy = nullptr;
    QCheckBox* PassiveBox = nullptr;
    QLineEdit* Proxy_Edit = nullptr;
    QLineEdit* Port_Edit = nullptr;
    QComboBox* EncryptionBox = nullptr;
    QComboBox* EncodingBox = nullptr;
    QListWidget* List_Prof = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button3 = nullptr;
    QPushButton* ButHelp = nullptr;
    QPushButton* Button2 = nullptr;
};
