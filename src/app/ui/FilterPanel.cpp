#include "app/ui/FilterPanel.h"

#include <QComboBox>
#include <QFormLayout>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <algorithm>
#include <tuple>
#include <utility>

#include "catalogue/FilterWords.h"
#include "catalogue/RowFilter.h"
#include "game/Games.h"
#include "platform/TextUtil.h"
#include "state/LanguageTable.h"

namespace {

enum TextSlot {
    kIncludeSlot = 271,
    kExcludeSlot,
    kRatingSlot,
    kToSlot,
    kAnySlot,
    kFinishedSlot,
    kUnfinishedSlot,
    kOnAnySlot,
    kGameSlot,
    kReleasedSlot,
    kDateFormSlot,
    kClearSlot,
    kCloseSlot,
    kNoTagsSlot
};

QString shown(int n) {
    return text::display(slot(n));
}

class FilterPanel : public QFrame {
  public:
    FilterPanel(QLineEdit& edit, const std::vector<std::string>& tags)
        : QFrame(&edit, Qt::Popup), edit_(edit) {
        setObjectName("FilterPanel");
        setAttribute(Qt::WA_DeleteOnClose);
        setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
        const PanelChoice choice = panelChoiceOf(text::fromDisplay(edit.text()));
        auto* layout = new QGridLayout(this);
        layout->addWidget(new QLabel(shown(kIncludeSlot), this), 0, 0);
        layout->addWidget(new QLabel(shown(kExcludeSlot), this), 0, 1);
        include_ = tagList("IncludeTags", tags, choice.includeTags);
        exclude_ = tagList("ExcludeTags", tags, choice.excludeTags);
        layout->addWidget(include_, 1, 0);
        layout->addWidget(exclude_, 1, 1);
        auto* form = new QFormLayout;
        form->addRow(shown(kRatingSlot),
                     range(ratingCombo(ratingFrom_, "RatingFrom", choice.ratingFrom),
                           ratingCombo(ratingTo_, "RatingTo", choice.ratingTo)));
        form->addRow(shown(kFinishedSlot), finishedCombo(choice));
        form->addRow(shown(kGameSlot), gameCombo(choice.game));
        form->addRow(shown(kReleasedSlot),
                     range(dateEdit(releasedFrom_, "ReleasedFrom", choice.releasedFrom),
                           dateEdit(releasedTo_, "ReleasedTo", choice.releasedTo)));
        layout->addLayout(form, 2, 0, 1, 2);
        layout->addLayout(buttons(), 3, 0, 1, 2);
    }

    // Below the field, at its right edge, within the screen.
    void place() {
        adjustSize();
        const QPoint corner = edit_.mapToGlobal(QPoint(edit_.width(), edit_.height()));
        QPoint at(corner.x() - width(), corner.y());
        if (const QScreen* screen = edit_.screen()) {
            const QRect room = screen->availableGeometry();
            at.setX(std::clamp(at.x(), room.left(), std::max(room.left(), room.right() - width())));
            at.setY(std::clamp(at.y(), room.top(), std::max(room.top(), room.bottom() - height())));
        }
        move(at);
    }

  private:
    // The tags offered and those chosen, the chosen ones checked (a chosen one no mission
    // carries is offered as well).
    QListWidget* tagList(const char* name, const std::vector<std::string>& tags,
                         const std::vector<std::string>& chosen) {
        auto* list = new QListWidget(this);
        list->setObjectName(name);
        std::vector<std::string> offered = tags;
        for (const std::string& tag : chosen) {
            if (std::none_of(offered.begin(), offered.end(), [&](const std::string& t) {
                    return foldForSearch(t) == foldForSearch(tag);
                }))
                offered.push_back(tag);
        }
        for (const std::string& tag : offered) {
            auto* item = new QListWidgetItem(text::display(tag), list);
            const bool checked = std::any_of(chosen.begin(), chosen.end(), [&](const auto& c) {
                return foldForSearch(c) == foldForSearch(tag);
            });
            item->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
        }
        if (offered.empty()) {
            auto* none = new QListWidgetItem(shown(kNoTagsSlot), list);
            none->setFlags(Qt::NoItemFlags);
        }
        connect(list, &QListWidget::itemChanged, this, &FilterPanel::write);
        return list;
    }

    QComboBox* ratingCombo(QComboBox*& combo, const char* name, int rating) {
        combo = new QComboBox(this);
        combo->setObjectName(name);
        combo->addItem(shown(kAnySlot), -1);
        // Ratings are half stars: 7 is three and a half.
        for (int half = 0; half <= 10; ++half) {
            QString stars = half > 1 || half % 2 == 0 ? QString::number(half / 2) : QString();
            if (half % 2 != 0) stars += QChar(0x00bd);
            combo->addItem(stars + QChar(u' ') + QChar(0x2605), half);
        }
        combo->setCurrentIndex(std::max(0, combo->findData(rating)));
        connect(combo, &QComboBox::currentIndexChanged, this, &FilterPanel::write);
        return combo;
    }

    QComboBox* finishedCombo(const PanelChoice& choice) {
        using Finished = PanelChoice::Finished;
        finished_ = new QComboBox(this);
        finished_->setObjectName("Finished");
        finishedItems_ = {{Finished::Any, ""}, {Finished::Unfinished, ""}, {Finished::OnAny, ""}};
        finished_->addItem(shown(kAnySlot));
        finished_->addItem(shown(kUnfinishedSlot));
        finished_->addItem(shown(kOnAnySlot));
        const auto offer = [&](const std::string& difficulty) {
            for (const auto& [kind, name] : finishedItems_)
                if (kind == Finished::On && foldForSearch(name) == foldForSearch(difficulty))
                    return;
            finishedItems_.emplace_back(Finished::On, difficulty);
            finished_->addItem(text::display(difficulty));
        };
        for (const games::Game& game : games::all())
            for (const std::string& difficulty : game.difficulties) offer(difficulty);
        if (choice.finished == Finished::On) offer(choice.difficulty);
        for (size_t i = 0; i < finishedItems_.size(); ++i) {
            const auto& [kind, name] = finishedItems_[i];
            if (kind == choice.finished &&
                (kind != Finished::On || foldForSearch(name) == foldForSearch(choice.difficulty)))
                finished_->setCurrentIndex(static_cast<int>(i));
        }
        connect(finished_, &QComboBox::currentIndexChanged, this, &FilterPanel::write);
        return finished_;
    }

    QComboBox* gameCombo(int chosen) {
        game_ = new QComboBox(this);
        game_->setObjectName("Game");
        game_->addItem(shown(kAnySlot), 0);
        for (const games::Game& game : games::all())
            game_->addItem(text::display(game.name), game.number);
        game_->setCurrentIndex(std::max(0, game_->findData(chosen)));
        connect(game_, &QComboBox::currentIndexChanged, this, &FilterPanel::write);
        return game_;
    }

    // A year or a year and month; written once it reads as one.
    QLineEdit* dateEdit(QLineEdit*& edit, const char* name, const std::string& date) {
        edit = new QLineEdit(text::display(date), this);
        edit->setObjectName(name);
        edit->setPlaceholderText(shown(kDateFormSlot));
        edit->setValidator(new QRegularExpressionValidator(
            QRegularExpression(QStringLiteral("[0-9]{0,4}(-[0-9]{0,2})?")), edit));
        connect(edit, &QLineEdit::textChanged, this, &FilterPanel::write);
        return edit;
    }

    QHBoxLayout* range(QWidget* from, QWidget* to) {
        auto* row = new QHBoxLayout;
        row->addWidget(from, 1);
        row->addWidget(new QLabel(shown(kToSlot), this));
        row->addWidget(to, 1);
        return row;
    }

    QHBoxLayout* buttons() {
        auto* row = new QHBoxLayout;
        auto* clear = new QPushButton(shown(kClearSlot), this);
        clear->setObjectName("ClearButton");
        auto* close = new QPushButton(shown(kCloseSlot), this);
        close->setObjectName("CloseButton");
        connect(clear, &QPushButton::clicked, this, &FilterPanel::clear);
        connect(close, &QPushButton::clicked, this, &QWidget::close);
        row->addStretch(1);
        row->addWidget(clear);
        row->addWidget(close);
        return row;
    }

    void clear() {
        {
            const QSignalBlocker blocks[] = {
                QSignalBlocker(include_),      QSignalBlocker(exclude_),
                QSignalBlocker(ratingFrom_),   QSignalBlocker(ratingTo_),
                QSignalBlocker(finished_),     QSignalBlocker(game_),
                QSignalBlocker(releasedFrom_), QSignalBlocker(releasedTo_)};
            for (QListWidget* list : {include_, exclude_})
                for (int i = 0; i < list->count(); ++i)
                    if (list->item(i)->flags() != Qt::NoItemFlags)
                        list->item(i)->setCheckState(Qt::Unchecked);
            for (QComboBox* combo : {ratingFrom_, ratingTo_, finished_, game_})
                combo->setCurrentIndex(0);
            releasedFrom_->clear();
            releasedTo_->clear();
        }
        write();
    }

    static std::vector<std::string> checked(const QListWidget& list) {
        std::vector<std::string> tags;
        for (int i = 0; i < list.count(); ++i)
            if (list.item(i)->checkState() == Qt::Checked)
                tags.push_back(text::fromDisplay(list.item(i)->text()));
        return tags;
    }

    PanelChoice choice() const {
        PanelChoice c;
        c.includeTags = checked(*include_);
        c.excludeTags = checked(*exclude_);
        c.ratingFrom = ratingFrom_->currentData().toInt();
        c.ratingTo = ratingTo_->currentData().toInt();
        const size_t finished = static_cast<size_t>(std::max(0, finished_->currentIndex()));
        std::tie(c.finished, c.difficulty) = finishedItems_.at(finished);
        c.game = game_->currentData().toInt();
        c.releasedFrom = text::fromDisplay(releasedFrom_->text());
        c.releasedTo = text::fromDisplay(releasedTo_->text());
        return c;
    }

    // The field's words with the panel's in place of its own kinds; the field filters.
    void write() {
        const std::string typed = text::fromDisplay(edit_.text());
        const std::string words = withPanelWords(typed, choice());
        if (words != typed) edit_.setText(text::display(words));
    }

    QLineEdit& edit_;
    QListWidget* include_ = nullptr;
    QListWidget* exclude_ = nullptr;
    QComboBox* ratingFrom_ = nullptr;
    QComboBox* ratingTo_ = nullptr;
    QComboBox* finished_ = nullptr;
    std::vector<std::pair<PanelChoice::Finished, std::string>> finishedItems_;
    QComboBox* game_ = nullptr;
    QLineEdit* releasedFrom_ = nullptr;
    QLineEdit* releasedTo_ = nullptr;
};

}  // namespace

QWidget* openFilterPanel(QLineEdit& edit, const std::vector<std::string>& tags) {
    for (QWidget* open : edit.findChildren<QWidget*>("FilterPanel", Qt::FindDirectChildrenOnly))
        if (open->isVisible()) return open;
    auto* panel = new FilterPanel(edit, tags);
    panel->place();
    panel->show();
    return panel;
}
