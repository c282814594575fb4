#pragma once

// The toolbar pictures, indices 0 to 12 in toolbar order: connect,
// disconnect, quick connect, upload, download, delete, create directory,
// rename, directory information, large icons, list, small icons, details.
// Taken from the desktop's icon theme where it has one, else drawn.

#include <QIcon>

QIcon ToolbarGlyph(int index);
