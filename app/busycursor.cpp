#include "app/busycursor.h"

#include <QCursor>
#include <QGuiApplication>

TBusyCursor::TBusyCursor() { QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }

// An error display may already have taken every hourglass away; restoring
// an empty stack does nothing.
TBusyCursor::~TBusyCursor() { QGuiApplication::restoreOverrideCursor(); }
