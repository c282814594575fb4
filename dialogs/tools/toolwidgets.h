#pragma once

// Small pieces the three tool windows share.

#include <QString>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QWidget;

namespace toolwidgets {

// The read-only report areas and result fields: silver background, black
// text, out of the tab order (they can still be clicked to select text).
void PaintSilver(QWidget& field);
QPlainTextEdit* MakeReport(QWidget* parent, const char* name);

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption);
QLabel* MakeLabel(QWidget* parent, const QString& text, QWidget* buddy = nullptr);

// The windows open centred on the desktop that shows them.
void CentreOnScreen(QWidget& window);

} // namespace toolwidgets
