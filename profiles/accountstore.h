#pragma once

#include "profiles/registryset.h"

#include <QString>
#include <QStringList>

class QComboBox;

// The folder holding "Accounts.dat" when the caller names none: the
// application folder.
QString AccountFolder();

// The account store in `folder` (empty: AccountFolder()), showing its
// notices through Prompts().
TRegistrySet AccountStore(const QString& folder = QString());

// Saves a profile. With a desktop keyring the password goes there and the
// file keeps an empty "PassWord"; the plain passwords of the other profiles
// move there too. Without one the file keeps it, as always. Throws like
// TRegistrySet::SaveProfile.
void SaveAccount(const TRegistrySet& store, const QString& name, bool proxy, const QString& proxyName,
                 const QString& host, const QString& user, const QString& password, const QString& port, bool anonymous,
                 bool passive, bool passiveMode, const TSiteChoices& choices = {});
// Removes a profile from the file and its password from the keyring.
void DeleteAccount(const TRegistrySet& store, const QString& name);
// The password of a stored profile: the file's, or the keyring's when the
// file keeps none.
QString AccountPassword(const TRegistrySet& store, const QString& name, const QString& filePassword);
// The quick-connect load, with the password from the keyring when the file
// keeps none.
void LoadQuickConnectFields(const TRegistrySet& store, const QString& name, TSiteFields& fields);
// Where passwords are kept, for the profile manager to say.
QString PasswordStorageText();

// The stored profile names in file order.
QStringList ProfileNames(const QString& folder = QString());

// Puts the stored profile names into the quick-connect list in file order
// and selects the first (none when there are no profiles).
void FillQuickConnectList(QComboBox& combo, const QString& folder = QString());
