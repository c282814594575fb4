#pragma once

class QLineEdit;

// The profile dialogs mark fields that take no input with a silver
// background and the others with a white one, whatever the desktop theme.
void PaintFieldWhite(QLineEdit& field);
void PaintFieldSilver(QLineEdit& field);
