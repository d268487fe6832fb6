#pragma once
// The filter field above the mission grid: typing narrows the rows (title and archive name,
// without regard to case and accents) and the window caption counts them; Ctrl+F goes to
// the field, Escape clears it, and clearing brings back every row with the selection.

class QLineEdit;
class QWidget;
class TStringGridEx;

// Wires `edit` to `grid` for the life of `window`.
void installMissionFilter(QWidget& window, QLineEdit& edit, TStringGridEx& grid);
