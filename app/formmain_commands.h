#pragma once

// The main window's command table: one row per command with the handler it
// runs, the rule that enables it and the actions (menu items, popup items,
// toolbar buttons) that show it. Action creation, signal wiring and
// SetControls all read this one table, so adding a command is one row.

#include <QAction>

#include <vector>

class TFormMain;

// When a command can be used, from the connection state and the number of
// items selected in the local files, remote files and remote directories.
enum class TEnableRule {
    Always,
    Disconnected,
    Connected,
    LocalAny,
    LocalOne,
    ConnectedLocalAny,
    ConnectedRemoteFilesAny,
    ConnectedRemoteAny,
    ConnectedRemoteFilesOne,
    ConnectedRemoteDirsAny,
    ConnectedRemoteDirsOne,
};

struct TSelectionState {
    bool Connected = false;
    int Local = 0;
    int RemoteFiles = 0;
    int RemoteDirs = 0;
};

bool RuleHolds(TEnableRule rule, const TSelectionState& state);

struct TCommandAction {
    QAction* TFormMain::*Slot;
    const char* Name; // the object name the code and the tests know it by
    const char* Caption;
};

struct TCommandRow {
    void (TFormMain::*Handler)(); // null: a drop-down button that only opens its menu
    TEnableRule Rule;
    std::vector<TCommandAction> Actions;
};

const std::vector<TCommandRow>& CommandTable();
