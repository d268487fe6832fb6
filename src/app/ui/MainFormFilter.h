#pragma once
// The filter field above the mission grid: typing narrows the rows (each typed word found in
// the title, author, archive name or tags without regard to case and accents, or a word with
// a key such as tag:heist or rating>=8: catalogue/LibraryFilter.h) and the window caption
// counts them; Ctrl+F goes to
// the field, Down goes on from it to the grid, Escape clears it, and clearing brings back
// every row with the selection. The selection stays on a row that is shown: a hidden
// selected row gives way to the first row shown, or to no selection at all when no row is
// shown. A button in the field opens the filter panel (FilterPanel.h), which writes the same
// words into the field.

#include <functional>

class QLineEdit;
class QWidget;
class TMissionGrid;

// Wires `edit` to `grid` for the life of `window`; `disableCommands` disables the commands
// that act on the selected row when the filter leaves none selected.
void installMissionFilter(QWidget& window, QLineEdit& edit, TMissionGrid& grid,
                          std::function<void()> disableCommands);
