#pragma once
// The filter panel: the library's filter chosen by mouse. A popup below the filter field
// with tags to include and to exclude, a rating range, finished (on a difficulty), the game
// and a release date range. It keeps no state of its own: it opens with its controls set
// from the field's words, and each change writes its words into the field
// (catalogue/FilterWords.h), so the field shows what filters and filters as if typed.

#include <string>
#include <vector>

class QLineEdit;
class QWidget;

// Opens the panel for `edit`, offering `tags` (those in use) to include and exclude; an
// open one stays as it is. Returns the panel.
QWidget* openFilterPanel(QLineEdit& edit, const std::vector<std::string>& tags);
