#pragma once

#include <QIcon>
#include <QString>

#include <functional>

// What the profile dialogs need from the main window.
struct TProfileHooks {
    // The folder holding "Accounts.dat"; empty means the application folder.
    QString Folder;
    // Refills the main window's quick-connect list from the store; called
    // whenever the stored profiles change.
    std::function<void()> FillQuickConnectList;
    // Shown beside each profile name; a network-drive icon when null.
    QIcon ProfileIcon;
};
