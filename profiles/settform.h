#pragma once

#include "profiles/profilehooks.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

// The profile manager: creates, edits and deletes the stored site profiles.
// Open it modally and destroy it afterwards:
//     TSettForm form(hooks, this);
//     form.exec();
// Every change of the stored profiles calls hooks.FillQuickConnectList.
class TSettForm : public QDialog {
    Q_OBJECT
public:
    explicit TSettForm(TProfileHooks hooks, QWidget* parent = nullptr);

    void ButNewClick();
    void ButSaveClick();
    void ButDelClick();
    void ButHelpClick();
    void ButCancelClick();
    void List_ProfClick();

    void ClearEntries();
    void SetProxy();
    void RefreshList();

private:
    void BuildControls();
    void AnonBoxToggled(bool checked);

    TProfileHooks hooks_;

    QLineEdit* Edit_Name = nullptr;
    QLineEdit* Edit_User = nullptr;
    QLineEdit* Edit_Pass = nullptr;
    QLineEdit* Edit_Host = nullptr;
    QCheckBox* AnonBox = nullptr;
    QCheckBox* CheckProxy = nullptr;
    QCheckBox* PassiveBox = nullptr;
    QLineEdit* Proxy_Edit = nullptr;
    QLineEdit* Port_Edit = nullptr;
    QComboBox* EncryptionBox = nullptr;
    QComboBox* EncodingBox = nullptr;
    QListWidget* List_Prof = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* ButSave = nullptr;
    QPushButton* ButDel = nullptr;
    QPushButton* ButHelp = nullptr;
    QPushButton* ButCancel = nullptr;
    QLabel* StorageLabel = nullptr;
};
