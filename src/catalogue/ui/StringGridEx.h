#pragma once
// TStringGridEx: a text grid whose row 0 holds the column titles (shown as the fixed title
// row). A title click sorts the rows (with a sort arrow in that title), a drag on the edge
// of a title resizes its column, a right click on the title row opens a menu that hides
// and shows columns and sorts. A hidden column has width -1.
//
// Keyboard: typing the first letters of a row's text selects the next row that begins so,
// Ctrl+1..Ctrl+9 sort by column 1..9 (again: the other way round, as a title click), the
// Menu key and Shift+F10 open the column menu. The current row has a focus frame while the
// grid has the focus.

#include <QString>
#include <QTableView>
#include <functional>
#include <string>
#include <vector>

#include "catalogue/RowSort.h"

class QMenu;
class QAction;
class QPainter;
class StringGridModel;
class StringGridTitleBar;

class TStringGridEx : public QTableView {
    Q_OBJECT
  public:
    explicit TStringGridEx(QWidget* parent = nullptr);
    ~TStringGridEx() override;

    // Cells: columns 0..ColCount-1, rows 0..RowCount-1; row 0 is the title row. Reads out
    // of range give an empty text, writes out of range are ignored.
    int ColCount() const;
    void SetColCount(int n);
    int RowCount() const;
    void SetRowCount(int n);  // at least 1 (the title row); new rows are empty
    const std::string& Cell(int col, int row) const;
    void SetCell(int col, int row, const std::string& value);
    // The whole grid as rows of cells (row 0 included); every row has ColCount cells.
    const std::vector<std::vector<std::string>>& Rows() const;
    // One row's cells (empty list when out of range) / replaces them (resized to ColCount).
    std::vector<std::string> RowCells(int row) const;
    void SetRowCells(int row, std::vector<std::string> cells);
    // A mark of each data row, kept with its row when the rows are sorted; a new row is
    // unmarked. Out of range: false, and a write is ignored.
    bool RowMarked(int row) const;
    void SetRowMarked(int row, bool marked);
    // Rows drawn in a bold font, kept with their rows as the marks are.
    bool RowBold(int row) const;
    void SetRowBold(int row, bool bold);
    // A number of the owner's for each row (0 for a new row), kept with its row as well.
    size_t RowTag(int row) const;
    void SetRowTag(int row, size_t tag);

    // Selected row (a data row 1..RowCount-1, or 0 when none). Setting it does not call
    // OnSelectCell; a row out of range clears the selection.
    int Row() const;
    void SetRow(int row);
    // The selected data rows in ascending order: those Ctrl and Shift added to the current
    // row as well (the current row alone when nothing else is selected); empty when none.
    std::vector<int> SelectedRows() const;
    // Makes `row` the current row and keeps the other selected rows selected.
    void SetCurrentRowInSelection(int row);

    int ColWidth(int col) const;           // -1 = hidden
    void SetColWidth(int col, int width);  // below 0 hides

    // Every column as wide as its title + 20 or its widest cell + 5 (grid font, cells in bold
    // so that a bold row fits as well), or as wide as the player made it (UserColWidth); shows
    // hidden columns again. With `shown`, a data cell is measured by the text it gives for
    // the cell, so that a column fits what the cell drawing shows.
    // A column whose character in `hidden` is "0" is fitted to its title only, and to its
    // cells once it is shown (a column the player keeps hidden costs no measuring).
    using ShownText = std::function<QString(int col, const std::string& cell)>;
    void AutoSizeColumns(const ShownText& shown = {}, const std::string& hidden = {});
    // The width the player gave a column by dragging its title's edge, 0 when none: it wins
    // over fitting (a double click on the edge fits the column again and forgets it). Setting
    // one (a remembered width) sizes the column at once; 0 forgets it.
    int UserColWidth(int col) const;
    void SetUserColWidth(int col, int width);
    // The column that takes the room the other columns leave in the grid (-1: none), never
    // narrower than its title + 20. A width the player gave it holds instead.
    int StretchColumn() const { return stretch_; }
    void SetStretchColumn(int col);
    // Rebuilds the column menu from the current titles; hides each column whose character
    // in `flags` is "0".
    void ApplyColumnFlags(const std::string& flags);
    // "1"/"0" per menu entry (visible/hidden); empty before the first ApplyColumnFlags.
    std::string ColumnFlags() const;
    // Sorts the data rows by SortIndex and SortDirection; the selected row stays selected.
    void SortRows();
    // Sorts by `col` as a click on its title does: ascending, or the other way round when the
    // rows are sorted by it already.
    void SortByColumn(int col);

    int SortIndex = 0;
    SortDirType SortDirection = SortDirType::Ascending;
    // The text a column's cell sorts by when the column sorts as text; the cell itself when
    // not set.
    std::function<std::string(int col, const std::string& cell)> SortText;

    // The column menu (created with the grid, filled by ApplyColumnFlags): one entry a
    // column, then the sort submenu (titled SortMenuTitle when the menu is filled) with one
    // entry a column.
    QMenu* ColumnMenu() const { return menu_; }
    QMenu* SortMenu() const { return sortMenu_; }
    QString SortMenuTitle = QStringLiteral("Sort by");
    // Opens the column menu below the current row (or the title row), as the keyboard does.
    void PopupColumnMenu();
    // The columns whose text type-ahead matches: a row's first non-empty cell of them.
    std::vector<int> TypeAheadColumns{0};
    // The column toggle of a menu entry, as a click on it.
    void ToggleColumn(QAction* entry);

    // Cell drawing event, called after the default drawing of a cell (also for row 0).
    std::function<void(TStringGridEx* sender, int col, int row, const QRect& rect,
                       QPainter& painter, bool selected)>
        OnDrawCell;
    // Selection event: the user is about to select cell (col, row); canSelect false refuses.
    std::function<void(TStringGridEx* sender, int col, int row, bool& canSelect)> OnSelectCell;

    // Draws one cell (row 0 = title row) into `rect`; used by the view and the title bar.
    void DrawCell(QPainter& painter, const QRect& rect, int col, int row, bool selected);
    // Draws `text` as a cell's text into the cell `rect`, in the painter's font and pen: 2
    // pixels in from the left and the top, cut with an ellipsis where it does not fit.
    static void DrawCellText(QPainter& painter, const QRect& rect, const QString& text);

    // Title-row mouse handling (the title row is the horizontal header): a press, and the
    // release of a left press that did not move (a click). A drag on a title's edge resizes.
    void TitlePress(Qt::MouseButton button, const QPoint& pos, const QPoint& globalPos);
    void TitleRelease(Qt::MouseButton button, const QPoint& pos);

  protected:
    bool event(QEvent* e) override;
    bool viewportEvent(QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    void keyboardSearch(const QString& search) override;

  private:
    // Asks OnSelectCell whether the user may move to `index`; true when it is the current
    // row already or there is no handler.
    bool askSelect(const QModelIndex& index);
    int firstVisibleColumn() const;
    // The grid's font, bold for a bold row.
    QFont rowFont(int row) const;
    // Selects view row `viewRow` as the user would (OnSelectCell asked first).
    void selectByUser(int viewRow);
    void typeAhead(const QString& typed);
    // The stretch column takes the room left; called whenever the widths or the room change.
    void fillRoom();
    void titleResized(int col, int width);
    int titleFit(int col) const;
    int fittedWidth(int col) const;
    int contentWidth(int col) const;  // of the cells alone
    // Fits natural_ and least_ of `col` to its contents.
    void fitNatural(int col);
    // Forgets the player's width of `col` and fits it (a double click on its edge).
    void fitColumn(int col);

    friend class StringGridTitleBar;

    StringGridModel* model_;
    StringGridTitleBar* titleBar_;
    QMenu* menu_;
    std::vector<int> widths_;          // -1 = hidden
    std::vector<int> lastWidths_;      // last visible width of each column
    std::vector<int> userWidths_;      // 0 = none
    std::vector<int> natural_;         // fitted to the contents by AutoSizeColumns; 0 = not yet
    std::vector<uint8_t> unmeasured_;  // fitted to the title only, the cells not yet measured
    std::vector<int> least_;           // the least it keeps when it gives room to the stretch
    ShownText shown_;                  // of the last AutoSizeColumns
    std::vector<QAction*> entries_;    // the column menu's entry of each column
    QMenu* sortMenu_ = nullptr;
    int stretch_ = -1;
    bool filling_ = false;       // fillRoom is resizing the stretch column
    int room_ = -1;              // the viewport width fillRoom last saw on a resize
    QString typed_;              // type-ahead so far
    qint64 typedAt_ = 0;         // when its last key came (ms)
    bool pressRefused_ = false;  // OnSelectCell refused the current left press
    int refusedRow_ = -1;        // view row refused during the current drag
};
