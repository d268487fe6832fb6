#include "app/ui/MainFormFilter.h"

#include <QAbstractItemModel>
#include <QLineEdit>
#include <QShortcut>
#include <QTimer>

#include "catalogue/RowFilter.h"
#include "catalogue/ui/StringGridEx.h"
#include "platform/TextUtil.h"
#include "state/AppState.h"

namespace {

class MissionFilter : public QObject {
  public:
    MissionFilter(QWidget& window, QLineEdit& edit, TStringGridEx& grid)
        : QObject(&window), window_(window), edit_(edit), grid_(grid) {
        connect(&edit, &QLineEdit::textChanged, this, [this](const QString& typed) {
            filter_.setText(typed);
            apply();
        });
        auto* find =
            new QShortcut(QKeySequence::Find, &window, nullptr, nullptr, Qt::WindowShortcut);
        connect(find, &QShortcut::activated, this, [this] {
            edit_.setFocus(Qt::ShortcutFocusReason);
            edit_.selectAll();
        });
        auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), &edit, nullptr, nullptr,
                                     Qt::WidgetShortcut);
        connect(escape, &QShortcut::activated, this, [this] {
            edit_.clear();
            grid_.setFocus(Qt::ShortcutFocusReason);
        });
        // A rescan or a sort rebuilds the rows: the filter applies to the new ones.
        QAbstractItemModel* model = grid.model();
        connect(model, &QAbstractItemModel::modelReset, this, &MissionFilter::applyLater);
        connect(model, &QAbstractItemModel::layoutChanged, this, &MissionFilter::applyLater);
        connect(model, &QAbstractItemModel::rowsInserted, this, &MissionFilter::applyLater);
        connect(model, &QAbstractItemModel::rowsRemoved, this, &MissionFilter::applyLater);
    }

  private:
    void applyLater() {
        if (pending_) return;
        pending_ = true;
        QTimer::singleShot(0, this, [this] {
            pending_ = false;
            if (filter_.active() || hidden_) apply();
        });
    }

    void apply() {
        const int rows = grid_.RowCount();
        int shown = 0;
        grid_.setUpdatesEnabled(false);
        // Grid row n (1 on) is the view's row n - 1: row 0 is the title bar.
        for (int row = 1; row < rows; ++row) {
            const bool keep = filter_.matches(grid_.Cell(1, row), grid_.Cell(2, row));
            if (grid_.isRowHidden(row - 1) == keep) grid_.setRowHidden(row - 1, !keep);
            shown += keep ? 1 : 0;
        }
        grid_.setUpdatesEnabled(true);
        hidden_ = shown < rows - 1;
        showCount(shown, rows - 1);
        if (!filter_.active() && grid_.Row() > 0)
            grid_.scrollTo(grid_.model()->index(grid_.Row(), 0),
                           QAbstractItemView::PositionAtCenter);
    }

    void showCount(int shown, int total) {
        std::string caption = app().applicationTitle + "  -  ";
        if (filter_.active()) caption += std::to_string(shown) + " " + slot(105) + " ";
        caption += std::to_string(total) + " " + slot(15);
        window_.setWindowTitle(text::display(caption));
    }

    QWidget& window_;
    QLineEdit& edit_;
    TStringGridEx& grid_;
    RowFilter filter_;
    bool pending_ = false;
    bool hidden_ = false;
};

}  // namespace

void installMissionFilter(QWidget& window, QLineEdit& edit, TStringGridEx& grid) {
    new MissionFilter(window, edit, grid);
}
