#pragma once

// Profile passwords in the desktop keyring (a Secret Service on the session
// bus), reached through QtKeychain. Each password is filed under the
// program's name and a key made of the account file's path and the profile
// name, so two account files never share an entry. Every call waits for
// the keyring in the event loop and gives up after a few seconds.

#include <QString>

#include <optional>

namespace passwordvault {

// True when a Secret Service answers on the session bus. Setting
// TARVIK_NO_KEYRING in the environment keeps passwords out of it.
bool Available();

// False when the keyring refused or did not answer.
bool Store(const QString& accountFile, const QString& profile, const QString& password);
// The stored password; nothing when there is none or no keyring.
std::optional<QString> Read(const QString& accountFile, const QString& profile);
void Remove(const QString& accountFile, const QString& profile);

} // namespace passwordvault
