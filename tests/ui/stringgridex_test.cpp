#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDate>
#include <QFontMetrics>
#include <QHeaderView>
#include <QImage>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

#include "catalogue/ui/MissionGrid.h"
#include "catalogue/ui/QuestGridDraw.h"
#include "platform/TextUtil.h"
#include "support/TestSupport.h"

namespace {

// A grid of seven columns with titles "c0".."c6" and the given data rows.
void fill(TStringGridEx& g, const std::vector<std::vector<std::string>>& data) {
    g.SetColCount(7);
    g.SetRowCount(1);
    for (int c = 0; c < 7; ++c) g.SetCell(c, 0, "c" + std::to_string(c));
    for (const auto& row : data) {
        g.SetRowCount(g.RowCount() + 1);
        for (size_t c = 0; c < row.size(); ++c)
            g.SetCell(static_cast<int>(c), g.RowCount() - 1, row[c]);
    }
}

std::vector<std::string> column(const TStringGridEx& g, int col) {
    std::vector<std::string> out;
    for (int r = 1; r < g.RowCount(); ++r) out.push_back(g.Cell(col, r));
    return out;
}

void sendMouse(QWidget* target, QEvent::Type type, Qt::MouseButton button, QPoint pos) {
    const Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : button;
    QMouseEvent e(type, QPointF(pos), QPointF(target->mapToGlobal(pos)), button, buttons,
                  Qt::NoModifier);
    QApplication::sendEvent(target, &e);
}

// Clicks (press + release) the title of column `col`.
void clickTitle(TStringGridEx& g, int col) {
    QHeaderView* h = g.horizontalHeader();
    const QPoint p(h->sectionViewportPosition(col) + 5, 5);
    sendMouse(h->viewport(), QEvent::MouseButtonPress, Qt::LeftButton, p);
    sendMouse(h->viewport(), QEvent::MouseButtonRelease, Qt::LeftButton, p);
}

QColor pixelAt(const QImage& img, QPoint p) {
    return img.pixelColor(p);
}

}  // namespace

TEST(StringGridEx, CellsRowsAndColumns) {
    TStringGridEx g;
    g.SetColCount(7);
    g.SetRowCount(2);
    EXPECT_EQ(g.ColCount(), 7);
    EXPECT_EQ(g.RowCount(), 2);
    EXPECT_EQ(g.model()->rowCount(), 1);  // row 0 is the title bar
    g.SetCell(1, 0, "Title");
    g.SetCell(1, 1, "x");
    EXPECT_EQ(g.model()->headerData(1, Qt::Horizontal).toString(), "Title");
    EXPECT_EQ(g.Cell(1, 1), "x");
    EXPECT_EQ(g.Cell(7, 1), "");  // out of range reads empty
    EXPECT_EQ(g.Cell(0, 5), "");
    g.SetCell(9, 9, "lost");  // out of range writes are ignored
    g.SetRowCount(0);         // the title row always stays
    EXPECT_EQ(g.RowCount(), 1);
    EXPECT_EQ(g.Cell(1, 0), "Title");
    for (int i = 0; i < 500; ++i) g.SetRowCount(g.RowCount() + 1);
    EXPECT_EQ(g.RowCount(), 501);
    EXPECT_EQ(g.Cell(1, 1), "");  // rows re-grown are empty
    EXPECT_EQ(g.Rows()[500].size(), 7u);

    g.SetRow(3);
    EXPECT_EQ(g.Row(), 3);
    EXPECT_TRUE(g.selectionModel()->isRowSelected(2, QModelIndex()));
    g.SetRow(501);  // out of range: nothing selected
    EXPECT_FALSE(g.selectionModel()->hasSelection());

    g.SetRowCells(2, {"a", "b"});
    EXPECT_EQ(g.Cell(1, 2), "b");
    EXPECT_EQ(g.RowCells(2).size(), 7u);
    EXPECT_EQ(g.verticalHeader()->defaultSectionSize(), 19);
    EXPECT_EQ(g.editTriggers(), QAbstractItemView::NoEditTriggers);
}

TEST(StringGridEx, HiddenColumnsAndAutoSize) {
    TStringGridEx g;
    fill(g, {{"1", "a much longer text than the title"}, {"2", ""}});
    g.SetColWidth(2, -1);
    EXPECT_EQ(g.ColWidth(2), -1);
    EXPECT_TRUE(g.isColumnHidden(2));
    g.SetColWidth(2, 40);
    EXPECT_FALSE(g.isColumnHidden(2));
    EXPECT_EQ(g.columnWidth(2), 40);

    g.SetColWidth(3, -1);
    g.AutoSizeColumns();
    EXPECT_FALSE(g.isColumnHidden(3));  // shown again
    const QFontMetrics fm(g.font());
    QFont bold = g.font();
    bold.setBold(true);  // cells are measured as a bold row shows them
    EXPECT_EQ(g.ColWidth(0), fm.horizontalAdvance("c0") + 20);
    EXPECT_EQ(g.ColWidth(1),
              QFontMetrics(bold).horizontalAdvance("a much longer text than the title") + 5);
    EXPECT_EQ(g.columnWidth(1), g.ColWidth(1));
}

TEST(StringGridEx, ColumnMenuFlags) {
    TStringGridEx g;
    fill(g, {{"1", "2"}});
    EXPECT_EQ(g.ColumnFlags(), "");  // no menu yet
    g.AutoSizeColumns();
    const int width1 = g.ColWidth(1);

    g.ApplyColumnFlags("0100");  // shorter than the column count: the rest stays visible
    EXPECT_EQ(g.ColumnFlags(), "0100111");
    EXPECT_EQ(g.ColWidth(0), -1);
    EXPECT_EQ(g.ColWidth(2), -1);
    EXPECT_EQ(g.ColWidth(1), width1);
    // An entry a column, a separator and the sort submenu.
    ASSERT_EQ(g.ColumnMenu()->actions().size(), 9);
    EXPECT_EQ(g.ColumnMenu()->actions()[3]->text(), "c3");
    EXPECT_EQ(g.ColumnMenu()->actions()[8]->menu(), g.SortMenu());
    g.SetCell(3, 0, "Size & date");
    g.ApplyColumnFlags("0100");
    EXPECT_EQ(g.ColumnMenu()->actions()[3]->iconText(), "Size & date");

    g.AutoSizeColumns();
    g.ApplyColumnFlags("11111110000");  // longer: ignored past the last column
    EXPECT_EQ(g.ColumnFlags(), "1111111");

    // A click on an entry (the menu flips the check before the handler runs).
    QAction* e1 = g.ColumnMenu()->actions()[1];
    e1->trigger();
    EXPECT_EQ(g.ColWidth(1), -1);
    EXPECT_FALSE(e1->isChecked());
    e1->trigger();
    EXPECT_EQ(g.ColWidth(1), width1);  // the remembered width comes back
    EXPECT_TRUE(e1->isChecked());
}

TEST(StringGridEx, LastVisibleColumnCannotBeHidden) {
    TStringGridEx g;
    fill(g, {{"1"}});
    g.AutoSizeColumns();
    g.ApplyColumnFlags("0000001");
    EXPECT_EQ(g.ColumnFlags(), "0000001");
    QAction* last = g.ColumnMenu()->actions()[6];
    last->trigger();
    EXPECT_TRUE(last->isChecked());
    EXPECT_GE(g.ColWidth(6), 0);
    EXPECT_EQ(g.ColumnFlags(), "0000001");
    // A text of all "0" leaves the last column visible as well.
    g.AutoSizeColumns();
    g.ApplyColumnFlags("0000000");
    EXPECT_EQ(g.ColumnFlags(), "0000001");
}

TEST(StringGridEx, ColumnMenuKeepsColumnsAlreadyHidden) {
    TStringGridEx g;
    fill(g, {{"1", "x"}});
    g.SetColWidth(1, 77);
    g.SetColWidth(1, -1);
    g.ApplyColumnFlags("");  // entries start checked, so the column is shown to match
    EXPECT_EQ(g.ColWidth(1), 77);
    g.ColumnMenu()->actions()[1]->trigger();
    g.ColumnMenu()->actions()[1]->trigger();
    EXPECT_EQ(g.ColWidth(1), 77);
}

TEST(StringGridEx, TitleClickSortsAndReverses) {
    TStringGridEx g;
    // Column 4 holds sizes; the two game rows have none.
    fill(g, {{"11", "b", "B", "d", "300"},
             {"10", "g1", "G1", "", ""},
             {"21", "a", "A", "d", "20"},
             {"20", "g2", "G2", "", ""},
             {"01", "c", "C", "d", "1000"}});
    g.resize(700, 300);
    g.show();
    g.SetRow(1);  // "b"
    // Its mark goes with it too.
    g.SetRowMarked(1, true);
    const auto markedTitles = [&g] {
        std::vector<std::string> titles;
        for (int r = 0; r < g.RowCount(); ++r)
            if (g.RowMarked(r)) titles.push_back(g.Cell(1, r));
        return titles;
    };
    clickTitle(g, 4);
    EXPECT_EQ(g.SortIndex, 4);
    EXPECT_EQ(g.SortDirection, SortDirType::Ascending);
    auto sizes = column(g, 4);
    EXPECT_EQ(sizes[2], "20");
    EXPECT_EQ(sizes[3], "300");
    EXPECT_EQ(sizes[4], "1000");
    EXPECT_EQ(sizes[0], "");
    EXPECT_EQ(sizes[1], "");
    EXPECT_EQ(g.Cell(1, g.Row()), "b");  // the selection follows its row
    EXPECT_EQ(markedTitles(), std::vector<std::string>{"b"});
    EXPECT_EQ(g.selectionModel()->selectedRows().size(), 1);

    const auto ascending = column(g, 1);
    clickTitle(g, 4);
    EXPECT_EQ(g.SortDirection, SortDirType::Descending);
    auto descending = column(g, 1);
    std::reverse(descending.begin(), descending.end());
    EXPECT_EQ(descending, ascending);  // exact reverse, the two game rows included
    EXPECT_EQ(g.Cell(1, g.Row()), "b");
    EXPECT_EQ(markedTitles(), std::vector<std::string>{"b"});

    clickTitle(g, 0);  // another column: ascending by its codes
    EXPECT_EQ(g.SortIndex, 0);
    EXPECT_EQ(g.SortDirection, SortDirType::Ascending);
    EXPECT_EQ(column(g, 0), (std::vector<std::string>{"01", "10", "11", "20", "21"}));

    // A click right of the last column is ignored.
    QHeaderView* h = g.horizontalHeader();
    const int beyond = h->sectionViewportPosition(6) + h->sectionSize(6) + 10;
    ASSERT_LT(beyond, h->viewport()->width());
    sendMouse(h->viewport(), QEvent::MouseButtonRelease, Qt::LeftButton, QPoint(beyond, 5));
    EXPECT_EQ(g.SortIndex, 0);
    EXPECT_EQ(g.SortDirection, SortDirType::Ascending);

    // A press on a title released over the data rows (dragged off the title row) is no click.
    const QPoint onTitle(h->sectionViewportPosition(1) + 5, 5);
    const QPoint below(onTitle.x(), h->viewport()->height() + 30);
    sendMouse(h->viewport(), QEvent::MouseButtonPress, Qt::LeftButton, onTitle);
    sendMouse(h->viewport(), QEvent::MouseButtonRelease, Qt::LeftButton, below);
    EXPECT_EQ(g.SortIndex, 0);
    EXPECT_EQ(column(g, 0), (std::vector<std::string>{"01", "10", "11", "20", "21"}));
}

// A press and release on a title sorts; a drag on the edge between two titles resizes the
// column left of it (the player's width from then on) and sorts nothing, and a drag that
// starts inside a title does neither; a double click on the edge fits the column again. The
// stretch column gives or takes the room: the last column still ends at the grid's right
// edge.
TEST(StringGridEx, DragOnATitleEdgeResizesAndAClickSorts) {
    struct Case {
        const char* what;
        int col;      // the title pressed
        int offset;   // from its left edge; negative: from its right edge
        int drag;     // pixels moved to the right before the release
        int sorted;   // SortIndex afterwards
        int resized;  // the column whose width changed by `drag`, -1: none
    };
    const Case cases[] = {
        {"click inside a title", 3, 10, 0, 3, -1},
        {"drag on the right edge", 3, -1, 30, 0, 3},
        {"drag on the left edge of the next title", 4, 1, -12, 0, 3},
        {"drag left of the stretch column", 0, -1, 25, 0, 0},
        {"drag starting inside a title", 5, 10, 40, 0, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TStringGridEx g;
        fill(g, {{"1", "b"}, {"2", "a"}});
        g.resize(700, 200);
        g.show();
        for (int col = 0; col < 7; ++col) g.SetColWidth(col, 60);
        g.SetStretchColumn(1);
        QHeaderView* h = g.horizontalHeader();
        std::vector<int> before;
        for (int col = 0; col < 7; ++col) before.push_back(g.ColWidth(col));
        ASSERT_EQ(g.ColWidth(1), g.viewport()->width() - 6 * 60);  // the room left

        const int left = h->sectionViewportPosition(c.col);
        const QPoint press(
            c.offset >= 0 ? left + c.offset : left + h->sectionSize(c.col) + c.offset, 5);
        const QPoint release = press + QPoint(c.drag, 0);
        sendMouse(h->viewport(), QEvent::MouseButtonPress, Qt::LeftButton, press);
        QMouseEvent move(QEvent::MouseMove, QPointF(release), QPointF(h->mapToGlobal(release)),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(h->viewport(), &move);
        sendMouse(h->viewport(), QEvent::MouseButtonRelease, Qt::LeftButton, release);

        EXPECT_EQ(g.SortIndex, c.sorted);
        for (int col = 0; col < 7; ++col) {
            if (col == 1) continue;
            const int want = before[static_cast<size_t>(col)] + (col == c.resized ? c.drag : 0);
            EXPECT_EQ(g.ColWidth(col), want) << col;
            EXPECT_EQ(h->sectionSize(col), want) << col;
            EXPECT_EQ(g.UserColWidth(col), col == c.resized ? want : 0) << col;
        }
        EXPECT_EQ(g.ColWidth(1), before[1] - (c.resized >= 0 ? c.drag : 0));
        EXPECT_EQ(h->sectionViewportPosition(6) + h->sectionSize(6), g.viewport()->width());
        if (c.resized < 0) continue;
        // A double click on the edge fits the column again: the player's width is gone.
        const QPoint edge(h->sectionViewportPosition(c.resized) + h->sectionSize(c.resized) - 1, 5);
        sendMouse(h->viewport(), QEvent::MouseButtonDblClick, Qt::LeftButton, edge);
        sendMouse(h->viewport(), QEvent::MouseButtonRelease, Qt::LeftButton, edge);
        const QString title = QString::fromStdString(g.Cell(c.resized, 0));
        EXPECT_EQ(g.ColWidth(c.resized), QFontMetrics(g.font()).horizontalAdvance(title) + 20);
        EXPECT_EQ(g.UserColWidth(c.resized), 0);
        EXPECT_EQ(h->sectionViewportPosition(6) + h->sectionSize(6), g.viewport()->width());
        EXPECT_EQ(g.SortIndex, c.sorted);
    }
}

TEST(StringGridEx, SortShowsBusyCursor) {
    struct Recorder : ScriptedPrompter {
        int maxDepth = 0;
        void setBusyCursor(bool busy) override {
            ScriptedPrompter::setBusyCursor(busy);
            maxDepth = std::max(maxDepth, busyDepth);
        }
    } sp;
    TStringGridEx g;
    fill(g, {{"b"}, {"a"}});
    g.SortIndex = 7;  // no such column: nothing happens
    g.SortRows();
    EXPECT_EQ(g.Cell(0, 1), "b");
    g.SortIndex = 0;
    g.SortRows();
    EXPECT_EQ(sp.maxDepth, 1);
    EXPECT_EQ(sp.busyDepth, 0);  // shown and taken away again
    EXPECT_EQ(g.Cell(0, 1), "a");
}

TEST(StringGridEx, RightPressOnTitleOpensMenu) {
    TStringGridEx g;
    fill(g, {{"1"}});
    g.resize(600, 200);
    g.show();
    g.AutoSizeColumns();
    g.ApplyColumnFlags("");
    QHeaderView* h = g.horizontalHeader();
    sendMouse(h->viewport(), QEvent::MouseButtonPress, Qt::RightButton, QPoint(5, 5));
    EXPECT_TRUE(g.ColumnMenu()->isVisible());
    g.ColumnMenu()->hide();
    EXPECT_EQ(g.SortIndex, 0);  // a right click does not sort
}

TEST(StringGridEx, SelectCellAskedBeforeUserSelection) {
    TStringGridEx g;
    fill(g, {{"a"}, {"b"}, {"c"}});
    g.resize(600, 200);
    g.show();
    g.SetRow(1);
    std::vector<std::pair<int, int>> asked;
    std::vector<int> rowWhenAsked;
    bool allow = false;
    g.OnSelectCell = [&](TStringGridEx* sender, int col, int row, bool& can) {
        EXPECT_EQ(sender, &g);
        asked.emplace_back(col, row);
        rowWhenAsked.push_back(g.Row());
        can = allow;
    };
    const QRect r3 = g.visualRect(g.model()->index(2, 0));
    sendMouse(g.viewport(), QEvent::MouseButtonPress, Qt::LeftButton, r3.center());
    sendMouse(g.viewport(), QEvent::MouseButtonRelease, Qt::LeftButton, r3.center());
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], std::make_pair(0, 3));
    EXPECT_EQ(rowWhenAsked[0], 1);  // asked before the selection moves
    EXPECT_EQ(g.Row(), 1);          // refused

    allow = true;
    sendMouse(g.viewport(), QEvent::MouseButtonPress, Qt::LeftButton, r3.center());
    sendMouse(g.viewport(), QEvent::MouseButtonRelease, Qt::LeftButton, r3.center());
    EXPECT_EQ(g.Row(), 3);

    QKeyEvent up(QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier);
    QApplication::sendEvent(&g, &up);
    EXPECT_EQ(asked.back(), std::make_pair(0, 2));
    EXPECT_EQ(rowWhenAsked.back(), 3);
    EXPECT_EQ(g.Row(), 2);

    const size_t before = asked.size();
    g.SetRow(1);  // selection by the program is not asked
    EXPECT_EQ(asked.size(), before);
}

TEST(StringGridEx, DrawsHiddenColumnLineAndSortArrow) {
    TStringGridEx g;
    fill(g, {{"a", "b", "c"}, {"d", "e", "f"}});
    g.resize(600, 200);
    g.show();
    for (int c = 0; c < 7; ++c) g.SetColWidth(c, 60);
    g.SetColWidth(2, -1);
    g.SortIndex = 3;
    g.SortDirection = SortDirType::Ascending;
    int drawn = 0;
    g.OnDrawCell = [&](TStringGridEx*, int, int, const QRect&, QPainter&, bool) { ++drawn; };
    g.SetRow(0);
    const QImage img = g.grab().toImage();
    EXPECT_GT(drawn, 0);

    // Data rows: silver line 2 px left of the right edge of column 1 (the next is hidden).
    const QPoint vp = g.viewport()->mapTo(&g, QPoint(0, 0));
    const int right1 = g.columnViewportPosition(1) + g.columnWidth(1) - 1;  // cell R
    const int y = g.rowViewportPosition(0) + 8;
    EXPECT_EQ(pixelAt(img, vp + QPoint(right1 - 2, y)), QColor(192, 192, 192));
    // No line where the next column is visible.
    const int right0 = g.columnViewportPosition(0) + g.columnWidth(0) - 1;
    EXPECT_NE(pixelAt(img, vp + QPoint(right0 - 2, y)), QColor(192, 192, 192));

    // Title row: black line, and the arrow in column 3 (pointing up).
    QHeaderView* h = g.horizontalHeader();
    const QPoint hp = h->viewport()->mapTo(&g, QPoint(0, 0));
    const int hr1 = h->sectionViewportPosition(1) + h->sectionSize(1) - 1;
    EXPECT_EQ(pixelAt(img, hp + QPoint(hr1 - 2, 9)), QColor(0, 0, 0));
    const int R = h->sectionViewportPosition(3) + h->sectionSize(3) - 1;
    const int B = h->height() - 1;
    const QRgb shadow = g.palette().color(QPalette::Dark).rgb();
    const QRgb white = QColor(Qt::white).rgb();
    auto whiteInRow = [&](const QImage& im, int yy) {
        for (int x = R - 13; x <= R - 6; ++x)
            if (im.pixel(hp + QPoint(x, yy)) == white) return true;
        return false;
    };
    EXPECT_EQ(img.pixel(hp + QPoint(R - 9, B - 6)), shadow);  // base line in the shadow colour
    EXPECT_TRUE(whiteInRow(img, 9));                          // left side in white
    EXPECT_NE(img.pixel(hp + QPoint(R - 9, 6)), white);

    g.SortDirection = SortDirType::Descending;
    const QImage down = g.grab().toImage();
    EXPECT_EQ(down.pixel(hp + QPoint(R - 9, 6)), white);  // top line in white
    EXPECT_NE(down.pixel(hp + QPoint(R - 9, B - 6)), shadow);
    // No arrow in the other titles.
    EXPECT_NE(down.pixel(hp + QPoint(hr1 - 9, 6)), white);
}

TEST(QuestGridDraw, SizeText) {
    const QString dot = ".";
    EXPECT_EQ(SizeInMBText(0, dot), "0.00 MB");
    EXPECT_EQ(SizeInMBText(1572864, dot), "1.50 MB");
    EXPECT_EQ(SizeInMBText(1048576, dot), "1.00 MB");
    EXPECT_EQ(SizeInMBText(131072, dot), "0.13 MB");  // 0.125: half away from zero
    EXPECT_EQ(SizeInMBText(5242, dot), "0.00 MB");
    EXPECT_EQ(SizeInMBText(5243, dot), "0.01 MB");
    // Five significant digits at most, still two decimals, no thousands separator.
    EXPECT_EQ(SizeInMBText(1234LL * 1048576 + 595000, dot), "1234.60 MB");
    EXPECT_EQ(SizeInMBText(12345LL * 1048576 + 700000, dot), "12346.00 MB");
    EXPECT_EQ(SizeInMBText(123456LL * 1048576 + 700000, dot), "123460.00 MB");
    EXPECT_EQ(SizeInMBText(4294967295LL, dot), "4096.00 MB");
    EXPECT_EQ(SizeInMBText(1048576LL * 999 + 1048570, dot), "1000.00 MB");
    EXPECT_EQ(SizeInMBText(-1572864, dot), "-1.50 MB");
    EXPECT_EQ(SizeInMBText(1572864, ","), "1,50 MB");
    EXPECT_EQ(SizeCellText("1572864", QLocale::c()), "1.50 MB");
    EXPECT_EQ(SizeCellText("1.5e6", QLocale::c()), "1.5e6");  // not an integer: raw text
    EXPECT_EQ(SizeCellText("12 ", QLocale::c()), "12 ");
}

TEST(QuestGridDraw, DateText) {
    const QLocale en(QLocale::English, QLocale::UnitedStates);
    EXPECT_EQ(DayNumberText(2, en), en.toString(QDate(1900, 1, 1), QLocale::ShortFormat));
    EXPECT_EQ(DayNumberText(45000, en), en.toString(QDate(2023, 3, 15), QLocale::ShortFormat));
    EXPECT_EQ(DateCellText("45000", en), DayNumberText(45000, en));
    EXPECT_EQ(DateCellText("tomorrow", en), "tomorrow");
    EXPECT_EQ(DateCellText("45000.5", en), "45000.5");
    int64_t v = 0;
    EXPECT_FALSE(CellToInt64("", v));
    EXPECT_FALSE(CellToInt64("0x10", v));
    EXPECT_TRUE(CellToInt64("-7", v));
    EXPECT_EQ(v, -7);
}

TEST(QuestGridDraw, DrawsMarksSizesAndSelection) {
    TMissionGrid g;
    g.SetColumnTitles({"", "", "", "", "", "", ""});
    const struct {
        const char *type, *title, *size;
        bool finished;
        const char* lastStart;
    } rows[] = {{"1", "a", "1572864", true, "45000"},
                {"0", "b", "", false, ""},
                {"2", "c", "0", false, ""}};
    for (const auto& row : rows) {
        Mission m;
        m.type = row.type;
        m.title = row.title;
        m.name = std::string(1, static_cast<char>(std::toupper(row.title[0])));
        m.dir = "/d/";
        m.sizeText = row.size;
        m.finished = row.finished;
        m.lastStart = row.lastStart;
        g.AppendMission(m);
    }
    g.EndMissions();
    // A dark colour scheme: cells are filled with the grid's own background.
    QPalette dark = g.palette();
    dark.setColor(QPalette::Base, QColor(30, 30, 30));
    dark.setColor(QPalette::Text, QColor(230, 230, 230));
    g.setPalette(dark);
    g.resize(800, 200);
    g.show();
    for (int c = 0; c < 7; ++c) g.SetColWidth(c, 90);
    QuestGridImages images;
    for (int i = 0; i < 3; ++i) {
        QImage im(16, 16, QImage::Format_RGB32);
        im.fill(Qt::white);  // a white border, transparent when drawn
        const QColor colours[3] = {QColor(255, 0, 0), QColor(0, 255, 0), QColor(0, 0, 255)};
        for (int y = 2; y < 14; ++y)
            for (int x = 2; x < 14; ++x) im.setPixelColor(x, y, colours[i]);
        (i < 2 ? images.games[i + 1] : images.finished) = QPixmap::fromImage(im);
    }
    g.OnDrawCell = [&](TStringGridEx*, int c, int r, const QRect& rect, QPainter& p, bool sel) {
        QuestGridDrawCell(&g, c, r, rect, p, sel, images);
    };
    g.SetRow(1);
    const QImage img = g.grab().toImage();
    const QPoint vp = g.viewport()->mapTo(&g, QPoint(0, 0));
    auto cellRect = [&](int col, int row) {
        const QRect r = g.visualRect(g.model()->index(row - 1, col));
        return QRect(r.topLeft() + vp, QSize(r.width() - 1, r.height() - 1));
    };
    const QRgb highlight = g.palette().color(QPalette::Highlight).rgb();
    const QRgb base = dark.color(QPalette::Base).rgb();

    // Row 1 is selected: Thief 1 mark centred, 2 px below the top, on the highlight colour.
    QRect c0 = cellRect(0, 1);
    const int imgLeft = c0.left() + (c0.width() - 16) / 2;
    EXPECT_EQ(img.pixel(imgLeft + 8, c0.top() + 2 + 8), qRgb(255, 0, 0));
    EXPECT_EQ(img.pixel(imgLeft + 1, c0.top() + 2 + 1), highlight);  // white is transparent
    EXPECT_EQ(img.pixel(c0.left() + 1, c0.bottom() - 1), highlight);
    // Finished mark in column 5.
    const QRect c5 = cellRect(5, 1);
    EXPECT_EQ(img.pixel(c5.left() + (c5.width() - 16) / 2 + 8, c5.top() + 10), qRgb(0, 0, 255));
    // Row 2 ("01", no size, not finished): empty game-mark cell, no finished mark.
    c0 = cellRect(0, 2);
    for (int x = c0.left(); x <= c0.right(); ++x) ASSERT_EQ(img.pixel(x, c0.top() + 10), base);
    const QRect c5b = cellRect(5, 2);
    EXPECT_EQ(img.pixel(c5b.center()), base);
    // Row 3: Thief 2 mark; its size "0" is drawn right-aligned (ink near the right edge only).
    c0 = cellRect(0, 3);
    EXPECT_EQ(img.pixel(c0.left() + (c0.width() - 16) / 2 + 8, c0.top() + 10), qRgb(0, 255, 0));
    const QRect c4 = cellRect(4, 3);
    int inkRightmost = -1;
    bool inkLeft = false;
    for (int y = c4.top(); y <= c4.bottom(); ++y) {
        for (int x = c4.left(); x <= c4.right(); ++x) {
            if (img.pixel(x, y) == base) continue;
            inkRightmost = std::max(inkRightmost, x);
            if (x < c4.left() + 10) inkLeft = true;
        }
    }
    // The text ends 2 px left of the right edge (a glyph's edge may touch that gap).
    EXPECT_GE(inkRightmost, c4.right() - 5);
    EXPECT_LT(inkRightmost, c4.right());
    EXPECT_FALSE(inkLeft);
    // The title row keeps the default drawing: no mark images there.
    QHeaderView* h = g.horizontalHeader();
    const QPoint hp = h->viewport()->mapTo(&g, QPoint(0, 0));
    EXPECT_NE(img.pixel(hp + QPoint(h->sectionViewportPosition(0) + 45, 10)), qRgb(255, 0, 0));
}
