#pragma once

#include <QIcon>
#include <QPixmap>

// The program's icon (the same artwork the desktop entry installs).
QIcon TarvikIcon();
QPixmap TarvikPixmap(int size);
