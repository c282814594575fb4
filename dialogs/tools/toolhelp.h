#pragma once

// The tool windows open their help topics ("IDH_ping", "IDH_dns",
// "IDH_dirinfo") through the main window, which knows where the help file
// lives and how to show it.

#include <QString>

#include <functional>

using TToolHelpHandler = std::function<void(const QString& topic)>;

// Installs the handler the Help buttons use; an empty one removes it.
void SetToolHelpHandler(TToolHelpHandler handler);

// Opens `topic` through the installed handler; without one, tells the user
// that help is unavailable.
void ShowToolHelp(const QString& topic);
