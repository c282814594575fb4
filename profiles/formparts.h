#pragma once

#include "profiles/registryset.h"

#include <QString>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QWidget;

// Controls as both profile dialogs build them; each carries its name as
// its object name, so that tests and tools can find it.
QLineEdit* MakeEdit(QWidget* parent, const char* name);
QCheckBox* MakeCheck(QWidget* parent, const char* name, const QString& caption);
// A button that is never the default one: Enter in a field presses nothing.
QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption);
// The port field: "21", narrow, white, digits only.
QLineEdit* MakePortEdit(QWidget* parent);

// The proxy field takes input exactly when the proxy box is checked: white
// and focused then, silver otherwise.
void ShowProxyState(QLineEdit& proxy, bool enabled);

// The fields a stored profile fills in either dialog.
struct TProfileFields {
    QLineEdit* Name;
    QCheckBox* Proxy;
    QLineEdit* ProxyName;
    QLineEdit* Host;
    QLineEdit* User;
    QLineEdit* Password;
    QLineEdit* Port;
    QCheckBox* Anonymous;
    QCheckBox* Passive;
    QComboBox* Encryption;
    QComboBox* Encoding;
};

// The "Encryption" choice ("EncryptionBox"): None first. Choosing implicit
// TLS while `port` still reads 21 puts 990 there (and back).
QComboBox* MakeEncryptionChoice(QWidget* parent, QLineEdit* port);
// The "Server encoding" choice ("EncodingBox"): Auto first.
QComboBox* MakeEncodingChoice(QWidget* parent);
// What the two choices show, and showing a stored profile's.
TSiteChoices ChosenSiteChoices(const QComboBox& encryption, const QComboBox& encoding);
void ShowSiteChoices(QComboBox& encryption, QComboBox& encoding, const TSiteChoices& choices);

// The "Passive mode" box: on unless a profile says otherwise.
QCheckBox* MakePassiveCheck(QWidget* parent);
// Masks a password field's text.
void MaskPassword(QLineEdit& field);

// Loads the named profile from the store in `folder` into the fields; an
// empty name or an incomplete profile leaves them as they are.
void LoadProfileFields(const QString& folder, const QString& name, const TProfileFields& fields);
