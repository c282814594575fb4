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

// The stored profile names in file order.
QStringList ProfileNames(const QString& folder = QString());

// Puts the stored profile names into the quick-connect list in file order
// and selects the first (none when there are no profiles).
void FillQuickConnectList(QComboBox& combo, const QString& folder = QString());
