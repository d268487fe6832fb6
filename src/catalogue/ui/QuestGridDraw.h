#pragma once
// Cell drawing of the mission grid: game marks (column 0), sizes in megabytes (column 4),
// finished marks (column 5) and dates (column 6), on the grid's own background colours;
// a marked row (a mission installed in its mission folder) on a tint of the selection
// colour; a bold row (what the game directory holds) with a small triangle before its
// title. Data rows only; the title row keeps the grid's default drawing.

#include <QLocale>
#include <QPixmap>
#include <QString>
#include <array>
#include <cstdint>
#include <map>
#include <string>

class QPainter;
class QRect;
class TStringGridEx;

// The 16 x 16 images of the list: each game's mark, by its number, and the finished mark.
struct QuestGridImages {
    std::map<int, QPixmap> games;
    QPixmap finished;
};

// A size in bytes as megabytes: bytes / 1024 / 1024 rounded (half away from zero) to at most
// five significant digits, written with exactly two decimals and `decimalPoint`, no thousands
// separator, followed by " MB" (0 -> "0.00 MB", 1,572,864 -> "1.50 MB").
QString SizeInMBText(int64_t bytes, const QString& decimalPoint);
// The date of a day number (days since 30 December 1899) in the locale's short date format;
// empty when the day number gives no valid date.
QString DayNumberText(int64_t dayNumber, const QLocale& locale);
// Strict decimal integer of a cell (optional "-", digits only); false otherwise.
bool CellToInt64(const std::string& cell, int64_t& out);

// What column 4 or 6 of a cell shows: the formatted value, or the raw text when the cell
// is not an integer (or its day number gives no date); by default in the locale of the
// interface's language (QLocale::setDefault).
QString SizeCellText(const std::string& cell, const QLocale& locale = QLocale());
QString DateCellText(const std::string& cell, const QLocale& locale = QLocale());

// The text a data cell of column `col` shows (sizes and dates formatted as above).
QString QuestGridCellText(int col, const std::string& cell);

// The game mark column 0 shows for its code: 1 (Thief 1) for "10" and "11", 2 for "20" and
// "21"; 0 (no mark) for a game not yet decided ("01") or never decided because the archive
// could not be read (no stored type: "1"), and for anything else.
int GameMarkOf(const std::string& cell);

// The mission grid's cell-drawing event (call after the grid's default drawing).
void QuestGridDrawCell(TStringGridEx* grid, int col, int row, const QRect& rect, QPainter& painter,
                       bool selected, const QuestGridImages& images);
