#include "catalogue/ui/QuestGridDraw.h"

#include <QBitmap>
#include <QDate>
#include <QFontMetrics>
#include <QPainter>
#include <charconv>

#include "catalogue/ui/MissionGrid.h"
#include "platform/TextUtil.h"
#include "state/LanguageTable.h"

namespace {

constexpr int64_t kMB = 1024 * 1024;
constexpr int kMegabyteSlot = 216;  // the unit's abbreviation
constexpr int kMarkHeight = 9;      // the installed mark's height, its width half of it

int64_t pow10(int n) {
    int64_t v = 1;
    while (n-- > 0) v *= 10;
    return v;
}

int digitCount(uint64_t v) {
    int d = 0;
    while (v > 0) {
        ++d;
        v /= 10;
    }
    return d;
}

// Draws `text` with its right edge 2 pixels left of the cell's right edge, 2 pixels below
// the top, in the painter's current pen.
void drawRightAligned(QPainter& painter, const QRect& rect, const QString& text) {
    const QFontMetrics fm(painter.font());
    const int w = fm.horizontalAdvance(text);
    const int left = rect.left() + rect.width() - w - 2;
    painter.drawText(QRect(left, rect.top() + 2, w + 2, std::max(rect.height() - 2, 0)),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
}

// The background of a marked row: a quarter of the selection colour on the grid's own.
QColor markedBackground(const QPalette& palette) {
    const QColor base = palette.color(QPalette::Base);
    const QColor highlight = palette.color(QPalette::Highlight);
    return QColor((3 * base.red() + highlight.red()) / 4,
                  (3 * base.green() + highlight.green()) / 4,
                  (3 * base.blue() + highlight.blue()) / 4);
}

// The installed mark: a small triangle pointing right, at the left of the cell, in `colour`.
// Returns the room it takes.
int drawInstalledMark(QPainter& painter, const QRect& rect, const QColor& colour) {
    const int top = rect.top() + (rect.height() - kMarkHeight) / 2;
    const int left = rect.left() + 3;
    const QPoint corners[3] = {QPoint(left, top), QPoint(left, top + kMarkHeight - 1),
                               QPoint(left + kMarkHeight / 2, top + kMarkHeight / 2)};
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(colour);
    painter.setBrush(colour);
    painter.drawPolygon(corners, 3);
    painter.restore();
    return kMarkHeight / 2 + 5;
}

// Centred across the cell, 2 pixels below its top; white is transparent in an image that
// has no transparency of its own.
void drawImage(QPainter& painter, const QRect& rect, const QPixmap& image) {
    if (image.isNull()) return;
    QPixmap pm = image;
    if (!pm.hasAlphaChannel()) pm.setMask(pm.createMaskFromColor(Qt::white));
    const int left = rect.left() + (rect.width() - qRound(pm.deviceIndependentSize().width())) / 2;
    painter.drawPixmap(left, rect.top() + 2, pm);
}

}  // namespace

QString SizeInMBText(int64_t bytes, const QString& decimalPoint) {
    const bool negative = bytes < 0;
    // Work on the magnitude in unsigned arithmetic (covers INT64_MIN as well).
    const uint64_t b = negative ? 0 - static_cast<uint64_t>(bytes) : static_cast<uint64_t>(bytes);
    const uint64_t whole = b / kMB;
    const uint64_t rest = b % kMB;
    const int intDigits = digitCount(whole);
    // Decimals kept by the rounding: two, fewer when five significant digits are reached.
    const int decimals = std::clamp(5 - intDigits, 0, 2);
    const auto scale = static_cast<uint64_t>(pow10(decimals));
    uint64_t scaled = 0;
    if (intDigits > 5) {
        // Whole megabytes rounded to a multiple of `unit`, in one rounding step.
        const auto unit = static_cast<uint64_t>(pow10(intDigits - 5)) * kMB;
        scaled = (b + unit / 2) / unit * (unit / kMB);
    } else {
        scaled = whole * scale + (rest * scale + kMB / 2) / kMB;  // half away from zero
    }
    const uint64_t intPart = scaled / scale;
    uint64_t frac = (scaled % scale) * static_cast<uint64_t>(pow10(2 - decimals));
    QString s = negative && scaled != 0 ? QStringLiteral("-") : QString();
    s += QString::number(intPart);
    s += decimalPoint;
    s += QStringLiteral("%1").arg(frac, 2, 10, QLatin1Char('0'));
    // The unit as the interface's language writes it ("Mo" in French).
    const std::string& unit = slot(kMegabyteSlot);
    s += QLatin1Char(' ') + (unit.empty() ? QStringLiteral("MB") : text::display(unit));
    return s;
}

QString DayNumberText(int64_t dayNumber, const QLocale& locale) {
    const QDate d = QDate(1899, 12, 30).addDays(dayNumber);
    if (!d.isValid()) return QString();
    return locale.toString(d, QLocale::ShortFormat);
}

bool CellToInt64(const std::string& cell, int64_t& out) {
    if (cell.empty()) return false;
    const char* b = cell.data();
    const char* e = b + cell.size();
    int64_t v = 0;
    const auto r = std::from_chars(b, e, v, 10);
    if (r.ec != std::errc() || r.ptr != e) return false;
    out = v;
    return true;
}

QString SizeCellText(const std::string& cell, const QLocale& locale) {
    int64_t v = 0;
    if (!CellToInt64(cell, v)) return text::display(cell);
    return SizeInMBText(v, locale.decimalPoint());
}

QString DateCellText(const std::string& cell, const QLocale& locale) {
    int64_t v = 0;
    if (!CellToInt64(cell, v)) return text::display(cell);
    const QString s = DayNumberText(v, locale);
    return s.isEmpty() ? text::display(cell) : s;
}

QString RatingStarsText(const std::string& cell) {
    int64_t rating = 0;
    if (!CellToInt64(cell, rating) || rating < 0 || rating > 10) return QString();
    QString stars;
    for (int64_t star = 0; star < 5; ++star) {
        const int64_t left = rating - 2 * star;
        stars += left >= 2 ? QChar(0x2605) : left == 1 ? QChar(0x00BD) : QChar(0x2606);
    }
    return stars;
}

QString PlayTimeText(const std::string& cell) {
    int64_t seconds = 0;
    if (!CellToInt64(cell, seconds) || seconds < 0) return text::display(cell);
    const int64_t minutes = std::max<int64_t>(1, (seconds + 30) / 60);
    return QStringLiteral("%1:%2").arg(minutes / 60).arg(minutes % 60, 2, 10, QChar('0'));
}

QString QuestGridCellText(int col, const std::string& cell) {
    switch (static_cast<MissionColumn>(col)) {
        case MissionColumn::Size:
            return SizeCellText(cell);
        case MissionColumn::LastStart:
        case MissionColumn::DateAdded:
            return DateCellText(cell);
        case MissionColumn::Rating:
            return RatingStarsText(cell);
        case MissionColumn::PlayTime:
            return cell.empty() ? QString() : PlayTimeText(cell);
        case MissionColumn::FinishedOn:
            return cell == "?" ? text::display(slot(libraryslot::kUnknown)) : text::display(cell);
        default:
            return text::display(cell);
    }
}

void QuestGridDrawCell(TMissionGrid* grid, int col, int row, const QRect& rect, QPainter& painter,
                       bool selected, const QuestGridImages& images) {
    const Mission* mission = grid != nullptr ? grid->MissionAt(row) : nullptr;
    if (mission == nullptr) return;
    const auto column = static_cast<MissionColumn>(col);
    const std::string cell = missionCellText(*mission, column);
    const bool marked = mission->inFolder && !selected;
    const bool installed = mission->held;
    const QColor fill = selected ? grid->palette().color(QPalette::Highlight)
                        : marked ? markedBackground(grid->palette())
                                 : grid->palette().color(QPalette::Base);
    const bool title = column == MissionColumn::Title;
    if (marked || (installed && title)) {
        // Over the grid's own drawing: the background, the installed mark before the title,
        // and the text of the plain columns.
        painter.fillRect(rect, fill);
        QRect textRect = rect;
        if (installed && title)
            textRect.setLeft(rect.left() + drawInstalledMark(painter, rect, painter.pen().color()));
        if (title || column == MissionColumn::Name || column == MissionColumn::Folder)
            TStringGridEx::DrawCellText(painter, textRect, QuestGridCellText(col, cell));
    }
    switch (column) {
        case MissionColumn::Game:
            painter.fillRect(rect, fill);
            if (const auto mark = images.games.find(mission->markedGame());
                mark != images.games.end())
                drawImage(painter, rect, mark->second);
            break;
        case MissionColumn::Size:
            if (cell.empty()) break;
            painter.fillRect(rect, fill);
            drawRightAligned(painter, rect, SizeCellText(cell));
            break;
        case MissionColumn::Finished:
            if (cell.empty()) break;
            painter.fillRect(rect, fill);
            drawImage(painter, rect, images.finished);
            break;
        case MissionColumn::LastStart:
        case MissionColumn::DateAdded:
        case MissionColumn::PlayTime:
            if (cell.empty()) break;
            painter.fillRect(rect, fill);
            drawRightAligned(painter, rect, QuestGridCellText(col, cell));
            break;
        default:
            break;
    }
}
