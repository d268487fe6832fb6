#pragma once
// Cell drawing of the mission grid (MissionColumn): game marks, sizes in megabytes, finished
// marks and dates of the last start, on the grid's own background colours;
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
class TMissionGrid;

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

// What a Size or LastStart cell shows: the formatted value, or the raw text when the cell
// is not an integer (or its day number gives no date); by default in the locale of the
// interface's language (QLocale::setDefault).
QString SizeCellText(const std::string& cell, const QLocale& locale = QLocale());
QString DateCellText(const std::string& cell, const QLocale& locale = QLocale());

// A rating 0..10 as five stars with halves ("★★★½☆" for 7); empty for a text that is no
// rating.
QString RatingStarsText(const std::string& cell);
// Seconds as hours and minutes, "h:mm" ("1:05", "0:01" for anything under two minutes).
QString PlayTimeText(const std::string& cell);

// The text a data cell of column `col` shows (sizes and dates formatted as above, ratings in
// stars, play time in hours and minutes, a finished box without a difficulty as "Unknown").
QString QuestGridCellText(int col, const std::string& cell);

// The mission grid's cell-drawing event (call after the grid's default drawing).
void QuestGridDrawCell(TMissionGrid* grid, int col, int row, const QRect& rect, QPainter& painter,
                       bool selected, const QuestGridImages& images);
