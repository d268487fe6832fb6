#pragma once
// Sorting of grid rows by one column: numeric when every cell of the column converts to a
// number (an empty cell counting as -999999999), text otherwise.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

enum class SortDirType { Ascending, Descending };

// The value an empty cell has in a numeric sort.
inline constexpr double kEmptySortValue = -999999999.0;

// Converts a cell text to a number as the numeric sort does: optional blanks, an optional
// sign, digits with at most one decimal separator ("." or the user's locale decimal point),
// an optional exponent, optional blanks. No thousands separators, no "inf"/"nan". Returns
// false when the text does not convert (or overflows).
bool CellToNumber(std::string_view text, double& out);

// True when every cell of column `col` in rows first..last is empty or converts to a number.
// A row shorter than the column counts as an empty cell.
bool IsNumericColumn(const std::vector<std::vector<std::string>>& rows, int first, int last,
                     int col);

// The order of rows first..last after sorting by column `col`: element i is the former row
// number of the row that goes to row first + i. Numeric or text keys as `numeric` says;
// text keys are compared upper-cased (a-z only), byte by byte as unsigned bytes. Rows with
// equal keys are ordered by their cells in column order (byte-wise), so the result does not
// depend on the rows' former order; Descending is the exact reverse of Ascending. A text
// key is `textKey` of the cell when given.
using SortTextKey = std::function<std::string(const std::string& cell)>;
std::vector<int> SortOrder(const std::vector<std::vector<std::string>>& rows, int first, int last,
                           int col, bool numeric, SortDirType dir, const SortTextKey& textKey = {});

// Sorts rows first..last of `rows` in place by column `col` (numeric when IsNumericColumn),
// moving every row once. Returns, for each former row number first..last, its new row
// number (index = former row - first). Does nothing (and returns an empty list) when the
// range is empty or out of bounds.
std::vector<int> SortRowRange(std::vector<std::vector<std::string>>& rows, int first, int last,
                              int col, SortDirType dir, const SortTextKey& textKey = {});
