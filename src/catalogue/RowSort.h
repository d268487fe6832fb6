#pragma once
// Sorting of grid rows by one column: numeric when every cell of the column converts to a
// number (an empty cell counting as -999999999), text otherwise.

#include <string>
#include <vector>

enum class SortDirType { Ascending, Descending };
