#include "catalogue/ui/StringGridEx.h"

#include <QAbstractTableModel>
#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QFontMetrics>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QToolTip>
#include <algorithm>

#include "platform/Prompter.h"
#include "platform/TextUtil.h"

namespace {

constexpr int kDefaultRowHeight = 19;
constexpr int kDefaultColWidth = 64;
constexpr int kMinColWidth = 8;  // no narrower by a drag
// What a column gives the stretch column leaves it: a short content (a size, a date, a
// mark; up to kShortContent wide) whole, at least kLeastGivenWidth; a long one (names,
// paths) kLongContentLeast.
constexpr int kShortContent = 96;
constexpr int kLeastGivenWidth = 40;
constexpr int kLongContentLeast = 64;
constexpr uint8_t kMarked = 1;
constexpr uint8_t kBold = 2;
constexpr int kCellTextInset = 2;  // a cell's text from its left and top edges
constexpr int kTagFactor = 10000;  // menu entry tag = width + column * 10000
constexpr int kMaxTagWidth = kTagFactor - 1;

int clampTagWidth(int w) {
    return std::clamp(w, 0, kMaxTagWidth);
}

const std::string& emptyText() {
    static const std::string empty;
    return empty;
}

}  // namespace

// All cells as 8-bit texts; row 0 is the title row (the header), view row r is grid row r + 1.
class StringGridModel : public QAbstractTableModel {
  public:
    explicit StringGridModel(QObject* parent) : QAbstractTableModel(parent) {}

    std::vector<std::vector<std::string>> rows{std::vector<std::string>()};
    std::vector<uint8_t> marks{0};  // one per row, as rows: kMarked, kBold
    std::vector<size_t> tags{0};    // one per row, as rows
    int cols = 0;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : static_cast<int>(rows.size()) - 1;
    }
    int columnCount(const QModelIndex& parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : cols;
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !index.isValid()) return {};
        return text::display(
            rows[static_cast<size_t>(index.row()) + 1][static_cast<size_t>(index.column())]);
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 ||
            section >= cols)
            return {};
        return text::display(rows[0][static_cast<size_t>(section)]);
    }
    Qt::ItemFlags flags(const QModelIndex& index) const override {
        return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
    }

    void setRowCount(int n) {
        const int cur = static_cast<int>(rows.size());
        if (n > cur) {
            beginInsertRows(QModelIndex(), cur - 1, n - 2);
            rows.resize(static_cast<size_t>(n),
                        std::vector<std::string>(static_cast<size_t>(cols)));
            marks.resize(static_cast<size_t>(n), 0);
            tags.resize(static_cast<size_t>(n), 0);
            endInsertRows();
        } else if (n < cur) {
            beginRemoveRows(QModelIndex(), n - 1, cur - 2);
            rows.resize(static_cast<size_t>(n));
            marks.resize(static_cast<size_t>(n));
            tags.resize(static_cast<size_t>(n));
            endRemoveRows();
        }
    }
    void setColCount(int n) {
        if (n > cols) {
            beginInsertColumns(QModelIndex(), cols, n - 1);
            for (auto& r : rows) r.resize(static_cast<size_t>(n));
            cols = n;
            endInsertColumns();
        } else if (n < cols) {
            beginRemoveColumns(QModelIndex(), n, cols - 1);
            for (auto& r : rows) r.resize(static_cast<size_t>(n));
            cols = n;
            endRemoveColumns();
        }
    }
    void cellChanged(int col, int row) {
        if (row == 0) {
            emit headerDataChanged(Qt::Horizontal, col, col);
        } else {
            const QModelIndex i = index(row - 1, col);
            emit dataChanged(i, i);
        }
    }
    void rowChanged(int row) {
        if (cols == 0) return;
        if (row == 0) {
            emit headerDataChanged(Qt::Horizontal, 0, cols - 1);
        } else {
            emit dataChanged(index(row - 1, 0), index(row - 1, cols - 1));
        }
    }
    // Sorts the data rows; persistent indexes (current cell, selection) follow their rows.
    void sortRows(int col, SortDirType dir, const SortTextKey& textKey) {
        const int last = static_cast<int>(rows.size()) - 1;
        if (last < 1) return;
        emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
        const std::vector<int> newRow = SortRowRange(rows, 1, last, col, dir, textKey);
        const std::vector<uint8_t> before = marks;
        const std::vector<size_t> tagsBefore = tags;
        for (size_t i = 0; i < newRow.size(); ++i) {
            marks[static_cast<size_t>(newRow[i])] = before[i + 1];
            tags[static_cast<size_t>(newRow[i])] = tagsBefore[i + 1];
        }
        const QModelIndexList from = persistentIndexList();
        QModelIndexList to;
        to.reserve(from.size());
        for (const QModelIndex& i : from) {
            const int r = newRow.empty() ? i.row() + 1 : newRow[static_cast<size_t>(i.row())];
            to.append(index(r - 1, i.column()));
        }
        changePersistentIndexList(from, to);
        emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    }
};

// The title row: grid row 0, drawn by the grid and handing its mouse presses to it.
class StringGridTitleBar : public QHeaderView {
  public:
    explicit StringGridTitleBar(TStringGridEx* grid)
        : QHeaderView(Qt::Horizontal, grid), grid_(grid) {
        setSectionsClickable(false);
        setSectionsMovable(false);
        setHighlightSections(false);
        setStretchLastSection(false);
        setMinimumSectionSize(kMinColWidth);
        setSectionResizeMode(QHeaderView::Interactive);
        setFixedHeight(kDefaultRowHeight);
        setMouseTracking(true);  // the resize cursor over an edge
        connect(this, &QHeaderView::sectionResized, this, [this](int col, int, int width) {
            if (resizing_) grid_->titleResized(col, width);
        });
    }

    // The column whose right edge is at `pos` (within the style's grip margin), -1 when
    // none: at the left edge of a section, the visible section before it.
    int edgeAt(const QPoint& pos) const {
        int visual = visualIndexAt(pos.x());
        if (visual < 0) return -1;
        const int col = logicalIndex(visual);
        const int left = sectionViewportPosition(col);
        const int grip = style()->pixelMetric(QStyle::PM_HeaderGripMargin, nullptr, this);
        if (pos.x() < left + grip) {
            while (--visual >= 0) {
                const int before = logicalIndex(visual);
                if (!isSectionHidden(before)) return before;
            }
            return -1;
        }
        return left + sectionSize(col) - grip < pos.x() ? col : -1;
    }

  protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override {
        if (!rect.isValid()) return;
        painter->save();
        // The cell proper, then its grid lines at the right and bottom edge.
        grid_->DrawCell(*painter, rect.adjusted(0, 0, -1, -1), logicalIndex, 0, false);
        painter->setPen(palette().color(QPalette::Dark));
        painter->drawLine(rect.topRight(), rect.bottomRight());
        painter->drawLine(rect.bottomLeft(), rect.bottomRight());
        painter->restore();
    }
    // A left press on an edge starts a resize (the header's own); any other press is the
    // grid's, and its release a click when the mouse has not moved away meanwhile.
    void mousePressEvent(QMouseEvent* e) override {
        const QPoint pos = e->position().toPoint();
        pressed_ = false;
        if (e->button() == Qt::LeftButton && edgeAt(pos) >= 0) {
            resizing_ = true;
            QHeaderView::mousePressEvent(e);
            return;
        }
        if (e->button() == Qt::LeftButton) {
            pressed_ = true;
            pressAt_ = pos;
        }
        grid_->TitlePress(e->button(), pos, e->globalPosition().toPoint());
        e->accept();
    }
    // A double click on an edge fits the column to what it shows again.
    void mouseDoubleClickEvent(QMouseEvent* e) override {
        const int col = e->button() == Qt::LeftButton ? edgeAt(e->position().toPoint()) : -1;
        if (col < 0) {
            mousePressEvent(e);
            return;
        }
        grid_->fitColumn(col);
        e->accept();
    }
    void mouseMoveEvent(QMouseEvent* e) override {
        const QPoint pos = e->position().toPoint();
        if (pressed_ && moved(pos)) pressed_ = false;  // a drag, no click
        if (resizing_ || e->buttons() == Qt::NoButton) {
            QHeaderView::mouseMoveEvent(e);  // the resize, or the cursor over an edge
            return;
        }
        e->accept();
    }
    void mouseReleaseEvent(QMouseEvent* e) override {
        if (resizing_) {
            QHeaderView::mouseReleaseEvent(e);
            resizing_ = false;
            grid_->fillRoom();
            return;
        }
        const bool click =
            pressed_ && e->button() == Qt::LeftButton && !moved(e->position().toPoint());
        pressed_ = false;
        if (click) grid_->TitleRelease(e->button(), e->position().toPoint());
        e->accept();
    }

  private:
    bool moved(const QPoint& pos) const {
        return (pos - pressAt_).manhattanLength() >= QApplication::startDragDistance();
    }

    TStringGridEx* grid_;
    bool resizing_ = false;  // a drag on an edge is under way
    bool pressed_ = false;   // a left press that may yet be a click
    QPoint pressAt_;
};

namespace {

class GridCellDelegate : public QStyledItemDelegate {
  public:
    explicit GridCellDelegate(TStringGridEx* grid) : QStyledItemDelegate(grid), grid_(grid) {}
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        painter->save();
        grid_->DrawCell(*painter, option.rect, index.column(), index.row() + 1,
                        option.state.testFlag(QStyle::State_Selected));
        painter->restore();
    }

  private:
    TStringGridEx* grid_;
};

}  // namespace

TStringGridEx::TStringGridEx(QWidget* parent)
    : QTableView(parent),
      model_(new StringGridModel(this)),
      titleBar_(new StringGridTitleBar(this)),
      menu_(new QMenu(this)) {
    setHorizontalHeader(titleBar_);
    setModel(model_);
    setItemDelegate(new GridCellDelegate(this));
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setDragEnabled(false);
    setTabKeyNavigation(false);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setShowGrid(true);
    setGridStyle(Qt::SolidLine);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    QHeaderView* vh = verticalHeader();
    vh->hide();
    vh->setMinimumSectionSize(1);
    vh->setSectionResizeMode(QHeaderView::Fixed);
    vh->setDefaultSectionSize(kDefaultRowHeight);
    titleBar_->setDefaultSectionSize(kDefaultColWidth);
}

TStringGridEx::~TStringGridEx() = default;

int TStringGridEx::ColCount() const {
    return model_->cols;
}

void TStringGridEx::SetColCount(int n) {
    n = std::max(n, 0);
    const int old = model_->cols;
    model_->setColCount(n);
    widths_.resize(static_cast<size_t>(n), kDefaultColWidth);
    lastWidths_.resize(static_cast<size_t>(n), kDefaultColWidth);
    userWidths_.resize(static_cast<size_t>(n), 0);
    natural_.resize(static_cast<size_t>(n), 0);
    unmeasured_.resize(static_cast<size_t>(n), 0);
    least_.resize(static_cast<size_t>(n), 0);
    for (int c = old; c < n; ++c) SetColWidth(c, kDefaultColWidth);
}

int TStringGridEx::RowCount() const {
    return static_cast<int>(model_->rows.size());
}

void TStringGridEx::SetRowCount(int n) {
    model_->setRowCount(std::max(n, 1));
}

const std::string& TStringGridEx::Cell(int col, int row) const {
    if (col < 0 || col >= model_->cols || row < 0 || row >= RowCount()) return emptyText();
    return model_->rows[static_cast<size_t>(row)][static_cast<size_t>(col)];
}

void TStringGridEx::SetCell(int col, int row, const std::string& value) {
    if (col < 0 || col >= model_->cols || row < 0 || row >= RowCount()) return;
    model_->rows[static_cast<size_t>(row)][static_cast<size_t>(col)] = value;
    model_->cellChanged(col, row);
}

const std::vector<std::vector<std::string>>& TStringGridEx::Rows() const {
    return model_->rows;
}

std::vector<std::string> TStringGridEx::RowCells(int row) const {
    if (row < 0 || row >= RowCount()) return {};
    return model_->rows[static_cast<size_t>(row)];
}

void TStringGridEx::SetRowCells(int row, std::vector<std::string> cells) {
    if (row < 0 || row >= RowCount()) return;
    cells.resize(static_cast<size_t>(model_->cols));
    model_->rows[static_cast<size_t>(row)] = std::move(cells);
    model_->rowChanged(row);
}

bool TStringGridEx::RowMarked(int row) const {
    return row >= 0 && row < RowCount() && (model_->marks[static_cast<size_t>(row)] & kMarked);
}

void TStringGridEx::SetRowMarked(int row, bool marked) {
    if (row < 0 || row >= RowCount() || RowMarked(row) == marked) return;
    model_->marks[static_cast<size_t>(row)] ^= kMarked;
    model_->rowChanged(row);
}

bool TStringGridEx::RowBold(int row) const {
    return row >= 0 && row < RowCount() && (model_->marks[static_cast<size_t>(row)] & kBold);
}

void TStringGridEx::SetRowBold(int row, bool bold) {
    if (row < 0 || row >= RowCount() || RowBold(row) == bold) return;
    model_->marks[static_cast<size_t>(row)] ^= kBold;
    model_->rowChanged(row);
}

size_t TStringGridEx::RowTag(int row) const {
    return row >= 0 && row < RowCount() ? model_->tags[static_cast<size_t>(row)] : 0;
}

void TStringGridEx::SetRowTag(int row, size_t tag) {
    if (row >= 0 && row < RowCount()) model_->tags[static_cast<size_t>(row)] = tag;
}

int TStringGridEx::Row() const {
    const QModelIndex i = currentIndex();
    return i.isValid() ? i.row() + 1 : 0;
}

std::vector<int> TStringGridEx::SelectedRows() const {
    std::vector<int> rows;
    for (const QModelIndex& i : selectionModel()->selectedRows()) rows.push_back(i.row() + 1);
    if (rows.empty() && Row() > 0) rows.push_back(Row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void TStringGridEx::SetCurrentRowInSelection(int row) {
    if (row < 1 || row >= RowCount()) return;
    const QModelIndex cur = currentIndex();
    selectionModel()->setCurrentIndex(
        model_->index(row - 1, cur.isValid() ? cur.column() : firstVisibleColumn()),
        QItemSelectionModel::NoUpdate);
}

int TStringGridEx::firstVisibleColumn() const {
    for (int c = 0; c < model_->cols; ++c)
        if (widths_[static_cast<size_t>(c)] >= 0) return c;
    return 0;
}

void TStringGridEx::SetRow(int row) {
    if (row < 1 || row >= RowCount() || model_->cols == 0) {
        selectionModel()->clear();
        return;
    }
    const QModelIndex cur = currentIndex();
    const int col = cur.isValid() ? cur.column() : firstVisibleColumn();
    const QModelIndex target = model_->index(row - 1, col);
    selectionModel()->setCurrentIndex(
        target, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

int TStringGridEx::ColWidth(int col) const {
    if (col < 0 || col >= model_->cols) return 0;
    return widths_[static_cast<size_t>(col)];
}

void TStringGridEx::SetColWidth(int col, int width) {
    if (col < 0 || col >= model_->cols) return;
    const auto c = static_cast<size_t>(col);
    if (width < 0) {
        widths_[c] = -1;
        setColumnHidden(col, true);
        fillRoom();
        return;
    }
    widths_[c] = width;
    lastWidths_[c] = width;
    setColumnHidden(col, false);
    setColumnWidth(col, width);
    fillRoom();
}

int TStringGridEx::UserColWidth(int col) const {
    if (col < 0 || col >= model_->cols) return 0;
    return userWidths_[static_cast<size_t>(col)];
}

void TStringGridEx::SetUserColWidth(int col, int width) {
    if (col < 0 || col >= model_->cols) return;
    const auto c = static_cast<size_t>(col);
    userWidths_[c] = std::max(width, 0);
    if (width <= 0) {
        fillRoom();
    } else if (widths_[c] < 0) {
        lastWidths_[c] = width;  // shown at this width again
        if (!entries_.empty()) entries_[c]->setData(clampTagWidth(width) + col * kTagFactor);
    } else {
        SetColWidth(col, width);
    }
}

void TStringGridEx::SetStretchColumn(int col) {
    stretch_ = col;
    fillRoom();
}

int TStringGridEx::titleFit(int col) const {
    return QFontMetrics(font()).horizontalAdvance(text::display(Cell(col, 0))) + 20;
}

// The stretch column takes the room the others leave. When the room is short (a narrow
// window, a large scale), the columns fitted to their contents give up room to it, the
// widest first, a caption cut rather than a short content (a size, a date), until it shows its own
// fitted width or almost half the room; with more room they return to their fitted widths.
void TStringGridEx::fillRoom() {
    if (filling_ || stretch_ < 0 || stretch_ >= model_->cols) return;
    const auto s = static_cast<size_t>(stretch_);
    if (widths_[s] < 0 || userWidths_[s] > 0) return;
    const int room = viewport()->width();
    std::vector<int> shown(widths_.size(), -1), least(widths_.size(), 0);
    int others = 0;
    for (int c = 0; c < model_->cols; ++c) {
        const auto i = static_cast<size_t>(c);
        if (c == stretch_ || widths_[i] < 0) continue;
        const bool fitted = userWidths_[i] <= 0 && natural_[i] > 0;
        shown[i] = fitted ? natural_[i] : widths_[i];
        least[i] = fitted ? least_[i] : shown[i];
        others += shown[i];
    }
    const int own = natural_[s] > 0 ? natural_[s] : titleFit(stretch_);
    const int wanted = std::max(titleFit(stretch_), std::min(own, room * 45 / 100));
    // What the columns give at a cap: each wider than it keeps the cap or its least width.
    auto givenAt = [&](int cap) {
        int given = 0;
        for (size_t i = 0; i < shown.size(); ++i)
            if (shown[i] > cap) given += shown[i] - std::max(cap, least[i]);
        return given;
    };
    int given = 0;
    if (others + wanted > room) {
        // The highest cap that gives enough (or the most there is, at cap 0).
        int low = 0, high = *std::max_element(shown.begin(), shown.end());
        while (low < high) {
            const int cap = (low + high + 1) / 2;
            if (givenAt(cap) >= others + wanted - room)
                low = cap;
            else
                high = cap - 1;
        }
        given = givenAt(low);
        for (size_t i = 0; i < shown.size(); ++i)
            if (shown[i] > low) shown[i] = std::max(low, least[i]);
    }
    filling_ = true;
    for (int c = 0; c < model_->cols; ++c) {
        const auto i = static_cast<size_t>(c);
        if (c == stretch_ || shown[i] < 0 || shown[i] == widths_[i]) continue;
        widths_[i] = shown[i];
        setColumnWidth(c, shown[i]);
    }
    const int width = std::max(titleFit(stretch_), room - (others - given));
    if (width != widths_[s]) {
        widths_[s] = width;
        lastWidths_[s] = width;
        setColumnWidth(stretch_, width);
    }
    filling_ = false;
}

// A drag on the edge of column `col`: its width is the player's. Left of the stretch column,
// the stretch column gives or takes the room at once, so that the edge follows the mouse and
// the columns after the stretch column stay in place; right of it, once the drag ends.
void TStringGridEx::titleResized(int col, int width) {
    if (filling_ || col < 0 || col >= model_->cols) return;
    const auto c = static_cast<size_t>(col);
    widths_[c] = width;
    lastWidths_[c] = width;
    userWidths_[c] = width;
    if (col < stretch_) fillRoom();
}

int TStringGridEx::contentWidth(int col) const {
    QFont bold = font();
    bold.setBold(true);
    const QFontMetrics boldMetrics(bold);
    const auto c = static_cast<size_t>(col);
    const auto& rows = model_->rows;
    int width = 0;
    for (size_t r = 1; r < rows.size(); ++r) {
        const std::string& s = rows[r][c];
        if (s.empty()) continue;
        const QString t = shown_ ? shown_(col, s) : text::display(s);
        width = std::max(width, boldMetrics.horizontalAdvance(t) + 5);
    }
    return width;
}

int TStringGridEx::fittedWidth(int col) const {
    return std::max(titleFit(col), contentWidth(col));
}

void TStringGridEx::fitNatural(int col) {
    const auto c = static_cast<size_t>(col);
    unmeasured_[c] = 0;
    const int content = contentWidth(col);
    natural_[c] = std::max(titleFit(col), content);
    least_[c] = std::min(natural_[c], content <= kShortContent ? std::max(content, kLeastGivenWidth)
                                                               : kLongContentLeast);
}

void TStringGridEx::AutoSizeColumns(const ShownText& shown, const std::string& hidden) {
    shown_ = shown;
    for (int c = 0; c < model_->cols; ++c) {
        const auto i = static_cast<size_t>(c);
        unmeasured_[i] = i < hidden.size() && hidden[i] == '0';
        if (unmeasured_[i])
            natural_[i] = least_[i] = titleFit(c);
        else
            fitNatural(c);
    }
    for (int c = 0; c < model_->cols; ++c) {
        const auto i = static_cast<size_t>(c);
        SetColWidth(c, userWidths_[i] > 0 ? userWidths_[i] : natural_[i]);
    }
}

void TStringGridEx::fitColumn(int col) {
    if (col < 0 || col >= model_->cols) return;
    const auto c = static_cast<size_t>(col);
    userWidths_[c] = 0;
    fitNatural(col);
    if (widths_[c] >= 0) SetColWidth(col, natural_[c]);
}

void TStringGridEx::ApplyColumnFlags(const std::string& flags) {
    menu_->clear();
    entries_.clear();
    if (sortMenu_ != nullptr) sortMenu_->deleteLater();
    sortMenu_ = nullptr;
    for (int i = 0; i < model_->cols; ++i) {
        const auto ci = static_cast<size_t>(i);
        // Every entry starts checked, so its column must be visible to match it.
        if (widths_[ci] < 0) SetColWidth(i, lastWidths_[ci]);
        // "&" in a title is a letter, not a mnemonic mark.
        QAction* entry =
            menu_->addAction(text::display(Cell(i, 0)).replace(QLatin1Char('&'), "&&"));
        entry->setCheckable(true);
        entry->setChecked(true);
        entry->setData(clampTagWidth(widths_[ci]) + i * kTagFactor);
        connect(entry, &QAction::triggered, this, [this, entry](bool nowChecked) {
            // The menu has already flipped the check; the toggle decides by the old state.
            entry->setChecked(!nowChecked);
            ToggleColumn(entry);
        });
        entries_.push_back(entry);
    }
    if (model_->cols > 0) {
        menu_->addSeparator();
        sortMenu_ = menu_->addMenu(SortMenuTitle);
        sortMenu_->setObjectName("SortMenu");
        for (int i = 0; i < model_->cols; ++i) {
            QAction* by = sortMenu_->addAction(text::display(Cell(i, 0)).replace('&', "&&"));
            by->setCheckable(true);
            connect(by, &QAction::triggered, this, [this, i] { SortByColumn(i); });
        }
        // The entry of the column the rows are sorted by is checked.
        connect(sortMenu_, &QMenu::aboutToShow, this, [this] {
            const QList<QAction*> by = sortMenu_->actions();
            for (int i = 0; i < by.size(); ++i) by[i]->setChecked(i == SortIndex);
        });
    }
    // Hide only once every entry exists: otherwise column 0 would always count as the last
    // visible column and could never stay hidden.
    for (size_t i = 0; i < entries_.size(); ++i)
        if (flags.size() > i && flags[i] == '0') ToggleColumn(entries_[i]);
}

std::string TStringGridEx::ColumnFlags() const {
    std::string flags;
    for (const QAction* a : entries_) flags += a->isChecked() ? '1' : '0';
    return flags;
}

void TStringGridEx::ToggleColumn(QAction* entry) {
    if (entry == nullptr) return;
    int checkedCount = 0;
    for (const QAction* a : entries_)
        if (a->isChecked()) ++checkedCount;
    if (entry->isChecked() && checkedCount < 2) return;  // the last visible column stays
    entry->setChecked(!entry->isChecked());
    const int tag = entry->data().toInt();
    const int col = tag / kTagFactor;
    if (col < 0 || col >= model_->cols) return;
    if (entry->isChecked()) {
        const auto c = static_cast<size_t>(col);
        if (unmeasured_[c]) {
            fitNatural(col);
            SetColWidth(col, userWidths_[c] > 0 ? userWidths_[c] : natural_[c]);
            return;
        }
        SetColWidth(col, tag % kTagFactor);
    } else {
        const int w = widths_[static_cast<size_t>(col)];
        const int remembered = w >= 0 ? w : lastWidths_[static_cast<size_t>(col)];
        entry->setData(clampTagWidth(remembered) + col * kTagFactor);
        SetColWidth(col, -1);
    }
}

void TStringGridEx::SortByColumn(int col) {
    if (col < 0 || col >= model_->cols) return;
    if (col == SortIndex) {
        SortDirection = SortDirection == SortDirType::Ascending ? SortDirType::Descending
                                                                : SortDirType::Ascending;
    } else {
        SortIndex = col;
        SortDirection = SortDirType::Ascending;
    }
    SortRows();
}

void TStringGridEx::SortRows() {
    if (SortIndex < 0 || SortIndex >= model_->cols || RowCount() < 2) return;
    BusyCursor busy;
    const int before = Row();
    const int beforeCol = before > 0 ? currentIndex().column() : -1;
    const bool several = selectionModel()->selectedRows().size() > 1;
    SortTextKey textKey;
    if (SortText)
        textKey = [this, col = SortIndex](const std::string& cell) { return SortText(col, cell); };
    model_->sortRows(SortIndex, SortDirection, textKey);
    // The current index and the selection followed their rows; a single selected row is
    // selected as a whole again, several stay as they are.
    if (before > 0) {
        const int now = Row();
        if (now > 0) {
            selectionModel()->setCurrentIndex(
                model_->index(now - 1, std::max(beforeCol, 0)),
                several ? QItemSelectionModel::NoUpdate
                        : QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        }
    }
    viewport()->update();
    titleBar_->viewport()->update();
}

void TStringGridEx::DrawCell(QPainter& painter, const QRect& rect, int col, int row,
                             bool selected) {
    if (col < 0 || col >= model_->cols || widths_[static_cast<size_t>(col)] < 0) return;
    const bool title = row == 0;
    const QPalette& pal = palette();
    const QColor back = title      ? pal.color(QPalette::Button)
                        : selected ? pal.color(QPalette::Highlight)
                                   : pal.color(QPalette::Base);
    const QColor fore = title      ? pal.color(QPalette::ButtonText)
                        : selected ? pal.color(QPalette::HighlightedText)
                                   : pal.color(QPalette::Text);

    painter.save();
    painter.setClipRect(rect, Qt::IntersectClip);
    painter.setFont(title ? font() : rowFont(row));
    painter.fillRect(rect, back);
    painter.setBrush(back);
    painter.setPen(fore);
    DrawCellText(painter, rect, text::display(Cell(col, row)));
    if (OnDrawCell) {
        painter.save();
        OnDrawCell(this, col, row, rect, painter, selected);
        painter.restore();
    }

    // R and B are the first pixels outside the cell.
    const int R = rect.left() + rect.width();
    const int T = rect.top();
    const int B = rect.top() + rect.height();
    if (col + 1 < model_->cols && widths_[static_cast<size_t>(col) + 1] < 0) {
        painter.setPen(title ? QColor(0, 0, 0) : QColor(192, 192, 192));
        painter.drawLine(R - 2, T, R - 2, B - 1);
    }
    if (title && col == SortIndex) {
        const QColor shadow = pal.color(QPalette::Dark);
        if (SortDirection == SortDirType::Ascending) {
            painter.setPen(Qt::white);
            painter.drawLine(R - 13, B - 6, R - 10, T + 6);
            painter.setPen(shadow);
            painter.drawLine(R - 10, T + 6, R - 6, B - 6);
            painter.drawLine(R - 6, B - 6, R - 13, B - 6);
        } else {
            painter.setPen(Qt::white);
            painter.drawLine(R - 6, T + 6, R - 13, T + 6);
            painter.drawLine(R - 13, T + 6, R - 10, B - 6);
            painter.setPen(shadow);
            painter.drawLine(R - 10, B - 6, R - 6, T + 6);
        }
    }
    painter.restore();
}

void TStringGridEx::TitlePress(Qt::MouseButton button, const QPoint& /*pos*/,
                               const QPoint& globalPos) {
    if (button == Qt::RightButton) menu_->popup(globalPos);
}

void TStringGridEx::TitleRelease(Qt::MouseButton button, const QPoint& pos) {
    if (button != Qt::LeftButton) return;
    // The title bar keeps the mouse from its press on: a release dragged off the title row
    // (into the data rows, say) is no title click.
    if (pos.y() < 0 || pos.y() >= titleBar_->viewport()->height()) return;
    const int col = titleBar_->logicalIndexAt(pos);
    if (col < 0 || col >= model_->cols) return;  // beyond the last column
    SortByColumn(col);
}

bool TStringGridEx::askSelect(const QModelIndex& index) {
    if (!index.isValid()) return true;
    const QModelIndex cur = currentIndex();
    if (cur.isValid() && cur.row() == index.row()) return true;
    bool canSelect = true;
    if (OnSelectCell) OnSelectCell(this, index.column(), index.row() + 1, canSelect);
    return canSelect;
}

void TStringGridEx::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) {
        e->accept();  // only the left button selects
        return;
    }
    if (!askSelect(indexAt(e->position().toPoint()))) {
        e->accept();
        return;
    }
    QTableView::mousePressEvent(e);
}

void TStringGridEx::mouseMoveEvent(QMouseEvent* e) {
    if (e->buttons() & Qt::LeftButton) {
        if (!askSelect(indexAt(e->position().toPoint()))) {
            e->accept();
            return;
        }
    }
    QTableView::mouseMoveEvent(e);
}

void TStringGridEx::mouseReleaseEvent(QMouseEvent* e) {
    QTableView::mouseReleaseEvent(e);
}

QModelIndex TStringGridEx::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) {
    const QModelIndex next = QTableView::moveCursor(cursorAction, modifiers);
    if (next.isValid() && !askSelect(next)) return currentIndex();
    return next;
}

// Typing is the grid's own type-ahead (typeAhead), never the view's search of one column.
void TStringGridEx::keyboardSearch(const QString& /*search*/) {}

void TStringGridEx::selectByUser(int viewRow) {
    if (viewRow < 0 || viewRow >= model_->rowCount()) return;
    const QModelIndex cur = currentIndex();
    const QModelIndex target =
        model_->index(viewRow, cur.isValid() ? cur.column() : firstVisibleColumn());
    if (!askSelect(target)) return;
    selectionModel()->setCurrentIndex(
        target, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    scrollTo(target);
}

// Keys typed within the keyboard input interval make one text; the next shown row (from the
// current one on while the text grows, after it for a new text) whose text begins with it,
// without regard to case, is selected.
void TStringGridEx::typeAhead(const QString& typed) {
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const bool goesOn = !typed_.isEmpty() && now - typedAt_ < QApplication::keyboardInputInterval();
    typed_ = goesOn ? typed_ + typed : typed;
    typedAt_ = now;
    const int rows = model_->rowCount();
    if (rows == 0) return;
    const int current = currentIndex().isValid() ? currentIndex().row() : -1;
    const int start = goesOn && current >= 0 ? current : current + 1;
    for (int i = 0; i < rows; ++i) {
        const int viewRow = (start + i) % rows;
        if (isRowHidden(viewRow)) continue;
        QString text;
        for (int col : TypeAheadColumns) {
            text = text::display(Cell(col, viewRow + 1)).trimmed();
            if (!text.isEmpty()) break;
        }
        if (!text.startsWith(typed_, Qt::CaseInsensitive)) continue;
        if (viewRow != current) selectByUser(viewRow);
        return;
    }
}

void TStringGridEx::PopupColumnMenu() {
    const QModelIndex cur = currentIndex();
    QPoint at = titleBar_->mapToGlobal(QPoint(0, titleBar_->height()));
    if (cur.isValid()) {
        const QRect cell = visualRect(cur);
        if (viewport()->rect().contains(cell.center()))
            at = viewport()->mapToGlobal(QPoint(std::max(cell.left(), 0), cell.bottom() + 1));
    }
    menu_->popup(at);
}

void TStringGridEx::DrawCellText(QPainter& painter, const QRect& rect, const QString& text) {
    const QRect room(rect.left() + kCellTextInset, rect.top() + kCellTextInset,
                     std::max(rect.width() - kCellTextInset, 0),
                     std::max(rect.height() - kCellTextInset, 0));
    painter.drawText(
        room, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
        painter.fontMetrics().elidedText(text, Qt::ElideRight, room.width() - kCellTextInset));
}

QFont TStringGridEx::rowFont(int row) const {
    QFont f = font();
    if (RowBold(row)) f.setBold(true);
    return f;
}

bool TStringGridEx::viewportEvent(QEvent* e) {
    // A cell whose text is cut shows the whole of it as a tooltip.
    if (e->type() != QEvent::ToolTip) return QTableView::viewportEvent(e);
    const auto* help = static_cast<QHelpEvent*>(e);
    const QModelIndex at = indexAt(help->pos());
    QString tip;
    if (at.isValid()) {
        const int row = at.row() + 1;
        const QString whole = text::display(Cell(at.column(), row));
        if (QFontMetrics(rowFont(row)).horizontalAdvance(whole) >
            columnWidth(at.column()) - 2 * kCellTextInset)
            tip = whole;
    }
    if (tip.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(help->globalPos(), tip, viewport(), visualRect(at));
    return true;
}

bool TStringGridEx::event(QEvent* e) {
    // The context menu key (where the platform turns it into a menu event): the column menu.
    if (e->type() == QEvent::ContextMenu &&
        static_cast<QContextMenuEvent*>(e)->reason() == QContextMenuEvent::Keyboard) {
        PopupColumnMenu();
        e->accept();
        return true;
    }
    return QTableView::event(e);
}

void TStringGridEx::keyPressEvent(QKeyEvent* e) {
    const Qt::KeyboardModifiers mods = e->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier |
                                                         Qt::AltModifier | Qt::MetaModifier);
    if (e->key() == Qt::Key_Menu || (e->key() == Qt::Key_F10 && mods == Qt::ShiftModifier)) {
        PopupColumnMenu();
        e->accept();
        return;
    }
    if (mods == Qt::ControlModifier && e->key() >= Qt::Key_1 && e->key() <= Qt::Key_9) {
        SortByColumn(e->key() - Qt::Key_1);
        e->accept();
        return;
    }
    // Printable text (a blank only once a text is under way) is type-ahead.
    const QString text = e->text();
    if ((mods & ~Qt::ShiftModifier) == 0 && !text.isEmpty() && text.at(0).isPrint() &&
        (!text.at(0).isSpace() || !typed_.isEmpty())) {
        typeAhead(text);
        e->accept();
        return;
    }
    QTableView::keyPressEvent(e);
}

// The focus frame: a dotted line around the current row while the grid has the focus.
void TStringGridEx::paintEvent(QPaintEvent* e) {
    QTableView::paintEvent(e);
    const QModelIndex cur = currentIndex();
    if (!hasFocus() || !cur.isValid() || isRowHidden(cur.row())) return;
    const int top = rowViewportPosition(cur.row());
    const int height = rowHeight(cur.row());
    int right = 0;
    for (int c = 0; c < model_->cols; ++c)
        if (!isColumnHidden(c)) right = std::max(right, columnViewportPosition(c) + columnWidth(c));
    const int left = -horizontalOffset();
    QPainter painter(viewport());
    const bool selected = selectionModel()->isRowSelected(cur.row(), QModelIndex());
    QPen pen(palette().color(selected ? QPalette::HighlightedText : QPalette::Text));
    pen.setStyle(Qt::DotLine);
    painter.setPen(pen);
    painter.drawRect(QRect(left, top, right - left - 1, height - 2));
}

void TStringGridEx::resizeEvent(QResizeEvent* e) {
    QTableView::resizeEvent(e);
    // The room is the width; a scroll bar across the bottom changes none.
    if (viewport()->width() == room_) return;
    // A width dragged for the stretch column held for that room; in another it fills again.
    if (room_ >= 0 && stretch_ >= 0 && stretch_ < model_->cols)
        userWidths_[static_cast<size_t>(stretch_)] = 0;
    room_ = viewport()->width();
    fillRoom();
}

void TStringGridEx::focusInEvent(QFocusEvent* e) {
    QTableView::focusInEvent(e);
    viewport()->update();
}

void TStringGridEx::focusOutEvent(QFocusEvent* e) {
    QTableView::focusOutEvent(e);
    viewport()->update();
}

void TStringGridEx::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTableView::currentChanged(current, previous);
    viewport()->update();  // the focus frame goes with the current row
}
