#include "app/ui/MainFormFilter.h"

#include <QAbstractItemModel>
#include <QAction>
#include <QEvent>
#include <QIcon>
#include <QLineEdit>
#include <QScopedValueRollback>
#include <QShortcut>
#include <QTimer>
#include <functional>
#include <utility>

#include "app/AppState.h"
#include "app/ui/FilterPanel.h"
#include "catalogue/FilterWords.h"
#include "catalogue/LibraryFilter.h"
#include "catalogue/ui/MissionGrid.h"
#include "install/InstallLaunch.h"
#include "platform/TextUtil.h"

namespace {

class MissionFilter : public QObject {
  public:
    MissionFilter(QWidget& window, QLineEdit& edit, TMissionGrid& grid,
                  std::function<void()> disableCommands)
        : QObject(&window),
          window_(window),
          edit_(edit),
          grid_(grid),
          disableCommands_(std::move(disableCommands)) {
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
        // Down from the field goes on to the rows it leaves, at the selected one.
        for (const QKeySequence& key :
             {QKeySequence(Qt::Key_Down), QKeySequence(Qt::Key_PageDown)}) {
            auto* down = new QShortcut(key, &edit, nullptr, nullptr, Qt::WidgetShortcut);
            connect(down, &QShortcut::activated, this,
                    [this] { grid_.setFocus(Qt::ShortcutFocusReason); });
        }
        addPanelButton();
        // A rescan or a sort rebuilds the rows: the filter applies to the new ones.
        QAbstractItemModel* model = grid.model();
        connect(model, &QAbstractItemModel::modelReset, this, &MissionFilter::applyLater);
        connect(model, &QAbstractItemModel::layoutChanged, this, &MissionFilter::applyLater);
        connect(model, &QAbstractItemModel::rowsInserted, this, &MissionFilter::applyLater);
        connect(model, &QAbstractItemModel::rowsRemoved, this, &MissionFilter::applyLater);
    }

  private:
    // The button inside the field that opens the filter panel with the tags of the listed
    // missions. Its tooltip is read when it shows, so it follows the language.
    void addPanelButton() {
        panelButton_ = edit_.addAction(QIcon(QStringLiteral(":/mainform/icons/filter.svg")),
                                       QLineEdit::TrailingPosition);
        panelButton_->setObjectName("FilterPanelButton");
        for (QObject* button : panelButton_->associatedObjects())
            if (button != &edit_) button->installEventFilter(this);
        connect(panelButton_, &QAction::triggered, this, [this] {
            std::vector<const Mission*> missions;
            for (int row = 1; row < grid_.RowCount(); ++row)
                if (const Mission* m = grid_.MissionAt(row); m && !m->gameRow)
                    missions.push_back(m);
            openFilterPanel(edit_, tagsInUse(missions));
        });
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::ToolTip)
            panelButton_->setToolTip(text::display(slot(kPanelButtonSlot)));
        return QObject::eventFilter(watched, event);
    }

    void applyLater() {
        if (pending_) return;
        pending_ = true;
        QTimer::singleShot(0, this, [this] {
            pending_ = false;
            if (filter_.active() || hidden_) apply();
        });
    }

    void apply() {
        // A selection under way lets events run: typing then is applied once it is done.
        if (selecting_) {
            reapply_ = true;
            return;
        }
        const int rows = grid_.RowCount();
        int shown = 0, missions = 0, missionsShown = 0;
        grid_.setUpdatesEnabled(false);
        // Grid row n (1 on) is the view's row n - 1: row 0 is the title bar.
        static const Mission none;
        const int32_t today = TodayDayNumber();
        for (int row = 1; row < rows; ++row) {
            const Mission* listed = grid_.MissionAt(row);
            const Mission& mission = listed ? *listed : none;
            const bool keep = !filter_.active() || filter_.matches(mission, today);
            if (grid_.isRowHidden(row - 1) == keep) grid_.setRowHidden(row - 1, !keep);
            shown += keep ? 1 : 0;
            // The counts in the caption are of missions: a game's own row is none.
            if (!mission.gameRow) {
                ++missions;
                missionsShown += keep ? 1 : 0;
            }
        }
        grid_.setUpdatesEnabled(true);
        hidden_ = shown < rows - 1;
        showCount(missionsShown, missions);
        keepSelectionShown();
        if (!filter_.active() && grid_.Row() > 0)
            grid_.scrollTo(grid_.model()->index(grid_.Row() - 1, 0),
                           QAbstractItemView::PositionAtCenter);
    }

    // The selected row is always one the window shows, so that the commands act on what the
    // user sees: when the filter hides it, the first row shown is selected as a click
    // selects it; when no row is shown, nothing is selected and the commands are disabled.
    void keepSelectionShown() {
        const int current = grid_.Row();
        if (current > 0 && !grid_.isRowHidden(current - 1)) return;
        int first = 1;
        while (first < grid_.RowCount() && grid_.isRowHidden(first - 1)) ++first;
        if (first >= grid_.RowCount()) {
            grid_.SetRow(0);
            if (disableCommands_) disableCommands_();
            return;
        }
        bool canSelect = true;
        {
            const QScopedValueRollback<bool> selecting(selecting_, true);
            if (grid_.OnSelectCell) grid_.OnSelectCell(&grid_, 0, first, canSelect);
        }
        // A refusal comes with a rescan that selects a row of its own, and filters again.
        if (canSelect) grid_.SetRow(first);
        if (std::exchange(reapply_, false)) apply();
    }

    void showCount(int shown, int total) {
        std::string caption = app().applicationTitle + "  -  ";
        if (filter_.active()) caption += std::to_string(shown) + " " + slot(105) + " ";
        caption += std::to_string(total) + " " + slot(15);
        window_.setWindowTitle(text::display(caption));
    }

    static constexpr int kPanelButtonSlot = 270;

    QWidget& window_;
    QLineEdit& edit_;
    TMissionGrid& grid_;
    QAction* panelButton_ = nullptr;
    LibraryFilter filter_;
    std::function<void()> disableCommands_;
    bool pending_ = false;
    bool hidden_ = false;
    bool selecting_ = false;
    bool reapply_ = false;
};

}  // namespace

void installMissionFilter(QWidget& window, QLineEdit& edit, TMissionGrid& grid,
                          std::function<void()> disableCommands) {
    new MissionFilter(window, edit, grid, std::move(disableCommands));
}
