#pragma once

// The folder that holds the files the program keeps "beside the executable"
// ("Accounts.dat", "FTPDIR.TXT"). An installed program usually cannot write
// beside its executable, so the folder moves to the user's data folder then.

#include <QString>

namespace appfolder {

// $TARVIK_HOME when set, else the executable's folder when it is writable,
// else $XDG_DATA_HOME/tarvik (~/.local/share/tarvik by default). The folder
// is created when it does not exist yet. No trailing separator.
QString ApplicationFolder();

// The rule above on given values, without creating anything: the folder
// that ApplicationFolder() picks for them.
QString ResolveApplicationFolder(const QString& tarvikHome, const QString& executableFolder, const QString& xdgDataHome,
                                 const QString& homeFolder);

// ApplicationFolder() + "/" + name.
QString ApplicationFile(const QString& name);

} // namespace appfolder
