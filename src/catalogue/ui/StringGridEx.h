#pragma once
// TStringGridEx: a text grid whose row 0 holds the column titles (shown as the fixed title
// row). A title click sorts the rows (with a sort arrow in that title), a right click on
// the title row opens a menu that hides and shows columns. A hidden column has width -1.

#include <QTableView>
#include <functional>
#include <string>
#include <vector>

#include "catalogue/RowSort.h"

class QMenu;
class QAction;
class StringGridModel;

class TStringGridEx : public QTableView {
    Q_OBJECT
public:
    explicit TStringGridEx(QWidget* parent = nullptr);
    ~TStringGridEx() override;

    // Cells: columns 0..ColCount-1, rows 0..RowCount-1; row 0 is the title row.
    int ColCount() const;
    void SetColCount(int n);
    int RowCount() const;
    void SetRowCount(int n);
    const std::string& Cell(int col, int row) const;
    void SetCell(int col, int row, const std::string& value);
    // The whole grid as rows of cells (row 0 included).
    const std::vector<std::vector<std::string>>& Rows() const;

    // Selected row (a data row 1..RowCount-1, or 0 when none).
    int Row() const;
    void SetRow(int row);

    int ColWidth(int col) const;           // -1 = hidden
    void SetColWidth(int col, int width);  // -1 hides

    void AutoSizeColumns();
    void ApplyColumnFlags(const std::string& flags);
    std::string ColumnFlags() const;
    void SortRows();

    int SortIndex = 0;
    SortDirType SortDirection = SortDirType::Ascending;

    // The column menu (created with the grid, filled by ApplyColumnFlags).
    QMenu* ColumnMenu() const { return menu_; }
    // The column toggle of a menu entry, as a click on it.
    void ToggleColumn(QAction* entry);

    // Cell drawing event, called after the default drawing of a cell.
    std::function<void(TStringGridEx* sender, int col, int row, const QRect& rect,
                       QPainter& painter, bool selected)>
        OnDrawCell;
    // Selection event: a cell (col, row) is about to be selected.
    std::function<void(TStringGridEx* sender, int col, int row, bool& canSelect)> OnSelectCell;

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    StringGridModel* model_;
    QMenu* menu_;
};
