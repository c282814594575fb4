#pragma once

#include "profiles/profilehooks.h"

#include <QString>

class QListWidget;
class QWidget;

// The list of stored profiles both profile dialogs show beside their
// fields: one read-only item per profile, one selected at a time.
QListWidget* MakeProfileList(QWidget* parent, const QString& objectName);

// Replaces the items with the stored profile names in file order.
void FillProfileList(QListWidget& list, const TProfileHooks& hooks);

// The name of the selected profile; empty when nothing is selected.
QString SelectedProfileName(const QListWidget& list);
