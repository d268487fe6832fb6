#include "app/ui/LibraryPanel.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QCompleter>
#include <QFormLayout>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QStringListModel>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <numbers>

#include "app/ui/ScreenshotStrip.h"
#include "catalogue/LibraryFilter.h"
#include "game/MissionRecords.h"
#include "inspect/MissionFacts.h"
#include "platform/TextUtil.h"
#include "state/LanguageTable.h"

namespace {

constexpr int kStarSize = 18;
constexpr int kStarGap = 2;

QPainterPath starPath(const QRectF& r) {
    QPainterPath path;
    const QPointF c = r.center();
    const double outer = r.width() / 2.0;
    const double inner = outer * 0.45;
    for (int i = 0; i < 10; ++i) {
        const double angle = -std::numbers::pi / 2 + i * std::numbers::pi / 5;
        const double radius = i % 2 == 0 ? outer : inner;
        const QPointF p(c.x() + radius * std::cos(angle), c.y() + radius * std::sin(angle));
        if (i == 0)
            path.moveTo(p);
        else
            path.lineTo(p);
    }
    path.closeSubpath();
    return path;
}

// Completes the item being typed in a comma-separated list, keeping those before it.
class ListCompleter : public QCompleter {
  public:
    using QCompleter::QCompleter;
    QStringList splitPath(const QString& path) const override {
        return {path.section(',', -1).trimmed()};
    }
    QString pathFromIndex(const QModelIndex& index) const override {
        const QString typed = widget() ? static_cast<QLineEdit*>(widget())->text() : QString();
        const qsizetype comma = typed.lastIndexOf(',');
        const QString before = comma < 0 ? QString() : typed.left(comma + 1) + ' ';
        return before + QCompleter::pathFromIndex(index);
    }
};

QString shown(const std::string& s) {
    return text::display(s);
}

}  // namespace

StarRating::StarRating(QWidget* parent) : QWidget(parent) {
    setObjectName("RatingStars");
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
}

void StarRating::setRating(int rating) {
    rating_ = std::clamp(rating, -1, 10);
    update();
}

QSize StarRating::sizeHint() const {
    return {5 * (kStarSize + kStarGap), kStarSize + 2};
}

void StarRating::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor gold(224, 168, 0);
    const QColor outline =
        hasFocus() ? palette().color(QPalette::Highlight) : palette().color(QPalette::Mid);
    for (int star = 0; star < 5; ++star) {
        const QRectF r(star * (kStarSize + kStarGap) + 1, 1, kStarSize, kStarSize);
        const QPainterPath path = starPath(r);
        const int left = rating_ - 2 * star;
        if (left >= 2) {
            p.fillPath(path, gold);
        } else if (left == 1) {
            p.save();
            p.setClipRect(QRectF(r.left(), r.top(), r.width() / 2, r.height()));
            p.fillPath(path, gold);
            p.restore();
        }
        p.setPen(QPen(outline, 1));
        p.drawPath(path);
    }
}

void StarRating::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return;
    const double x = e->position().x();
    const int star = static_cast<int>(x) / (kStarSize + kStarGap);
    if (star < 0 || star > 4) return;
    const bool leftHalf = x - star * (kStarSize + kStarGap) < kStarSize / 2.0;
    const int rating = 2 * star + (leftHalf ? 1 : 2);
    choose(rating == rating_ ? -1 : rating);
}

void StarRating::keyPressEvent(QKeyEvent* e) {
    switch (e->key()) {
        case Qt::Key_Left:
        case Qt::Key_Minus:
            choose(rating_ <= 0 ? -1 : rating_ - 1);
            break;
        case Qt::Key_Right:
        case Qt::Key_Plus:
            choose(std::min(10, rating_ + 1));
            break;
        case Qt::Key_Delete:
        case Qt::Key_Backspace:
            choose(-1);
            break;
        default:
            QWidget::keyPressEvent(e);
    }
}

void StarRating::choose(int rating) {
    if (rating == rating_) return;
    setRating(rating);
    if (onChanged) onChanged(rating_);
}

LibraryPanel::LibraryPanel(QWidget* parent) : QScrollArea(parent) {
    setObjectName("LibraryPanel");
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* inner = new QWidget(this);
    inner->setObjectName("LibraryFields");
    form_ = new QFormLayout(inner);
    form_->setContentsMargins(8, 4, 8, 4);
    form_->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);

    FinishedOnBoxes = new QWidget(inner);
    FinishedOnBoxes->setObjectName("FinishedOnBoxes");
    auto* boxes = new QGridLayout(FinishedOnBoxes);
    boxes->setContentsMargins(0, 0, 0, 0);
    unknown_ = new QLabel(FinishedOnBoxes);
    unknown_->setObjectName("FinishedOnUnknown");
    boxes->addWidget(unknown_, 0, 0);
    Rating = new StarRating(inner);
    Rating->onChanged = [this](int rating) {
        edit([rating](MissionStore& store, Mission& m) { store.setRating(m, rating); });
    };
    TagsEdit = new QLineEdit(inner);
    TagsEdit->setObjectName("TagsEdit");
    TagsEdit->setCompleter(new ListCompleter(new QStringListModel(this), this));
    TagsEdit->completer()->setCaseSensitivity(Qt::CaseInsensitive);
    TagsEdit->completer()->setFilterMode(Qt::MatchContains);
    AuthorEdit = new QLineEdit(inner);
    AuthorEdit->setObjectName("AuthorEdit");
    ReleaseDateEdit = new QLineEdit(inner);
    ReleaseDateEdit->setObjectName("ReleaseDateEdit");
    ReleaseDateEdit->setPlaceholderText("YYYY-MM-DD");
    CommentEdit = new QPlainTextEdit(inner);
    CommentEdit->setObjectName("CommentEdit");
    CommentEdit->setTabChangesFocus(true);
    CommentEdit->setMinimumHeight(60);
    CommentEdit->installEventFilter(this);
    for (QWidget* field : std::initializer_list<QWidget*>{FinishedOnBoxes, Rating, TagsEdit,
                                                          AuthorEdit, ReleaseDateEdit, CommentEdit})
        form_->addRow(new QLabel(inner), field);
    Screenshots = new ScreenshotStrip(inner);
    form_->addRow(new QLabel(inner), Screenshots);
    setWidget(inner);

    connect(TagsEdit, &QLineEdit::editingFinished, this, [this] {
        const std::vector<std::string> tags = parseTags(TagsEdit->text().toStdString());
        if (tags != shown_.tags)
            edit([tags](MissionStore& store, Mission& m) { store.setTags(m, tags); });
    });
    connect(AuthorEdit, &QLineEdit::editingFinished, this, [this] {
        const std::string author = text::trim(AuthorEdit->text().toStdString());
        if (author != shown_.author)
            edit([author](MissionStore& store, Mission& m) { store.setAuthor(m, author); });
    });
    connect(ReleaseDateEdit, &QLineEdit::editingFinished, this, [this] {
        const std::string typed = text::trim(ReleaseDateEdit->text().toStdString());
        // A date in any of the forms read-mes write it is kept as the others are.
        const std::string found = dateFromText(typed);
        const std::string date = found.empty() ? typed : found;
        if (date != shown_.releaseDate)
            edit([date](MissionStore& store, Mission& m) { store.setReleaseDate(m, date); });
    });
    applyLanguage();
}

void LibraryPanel::applyLanguage() {
    // The fields' captions: the titles of their columns.
    const int titles[] = {libraryslot::kFinishedOn, 218, 219, 220, 221, libraryslot::kNotes,
                          libraryslot::kScreenshots};
    for (int i = 0; i < form_->rowCount() && i < static_cast<int>(std::size(titles)); ++i) {
        const QLayoutItem* item = form_->itemAt(i, QFormLayout::LabelRole);
        if (auto* label = item ? qobject_cast<QLabel*>(item->widget()) : nullptr)
            label->setText(shown(text::withoutKeyMark(slot(titles[i]))));
    }
    unknown_->setText(QStringLiteral("(%1)").arg(shown(slot(libraryslot::kUnknown))));
    placeFinishedBoxes();
}

void LibraryPanel::resizeEvent(QResizeEvent* e) {
    QScrollArea::resizeEvent(e);
    placeFinishedBoxes();
}

// The difficulty boxes stand in one row when the panel is wide enough, else in as many
// columns as fit, so that a narrow window hides none of them ("Impossible" is long).
void LibraryPanel::placeFinishedBoxes() {
    auto* grid = static_cast<QGridLayout*>(FinishedOnBoxes->layout());
    const QLayoutItem* label = form_->itemAt(0, QFormLayout::LabelRole);
    const QMargins margins = form_->contentsMargins();
    const int room = viewport()->width() - margins.left() - margins.right() - form_->spacing() -
                     (label ? label->sizeHint().width() : 0);
    int widest = 1;
    for (const QCheckBox* box : finishedBoxes_) widest = std::max(widest, box->sizeHint().width());
    const int gap = std::max(0, grid->horizontalSpacing());
    const int count = static_cast<int>(finishedBoxes_.size());
    const int columns = std::clamp((room + gap) / (widest + gap), 1, std::max(1, count));
    for (int column = 0; column < grid->columnCount(); ++column) grid->setColumnStretch(column, 0);
    for (int i = 0; i < count; ++i) {
        grid->removeWidget(finishedBoxes_[i]);
        grid->addWidget(finishedBoxes_[i], i / columns, i % columns);
    }
    grid->removeWidget(unknown_);
    grid->addWidget(unknown_, 0, count == 0 ? 0 : columns);
    grid->setColumnStretch(count == 0 ? 0 : columns, 1);
}

void LibraryPanel::edit(const Edit& change) {
    if (!showing_ || !onEdit) return;
    onEdit(shown_.recordKey, shown_.place(), [this, &change](MissionStore& store, Mission& m) {
        change(store, m);
        shown_ = m;
    });
}

void LibraryPanel::commitTyped() {
    if (!showing_) return;
    const std::string comment = CommentEdit->toPlainText().toStdString();
    if (comment != shown_.comment)
        edit([comment](MissionStore& store, Mission& m) { store.setComment(m, comment); });
    for (QLineEdit* field : {TagsEdit, AuthorEdit, ReleaseDateEdit})
        if (field->isModified()) {
            field->setModified(false);
            emit field->editingFinished();
        }
}

void LibraryPanel::showFinishedOn(const std::vector<std::string>& difficulties) {
    // The boxes are made again only for another game's difficulties.
    std::vector<std::string> now;
    for (const QCheckBox* box : finishedBoxes_)
        now.push_back(box->property("difficulty").toString().toStdString());
    if (now != difficulties) {
        for (QCheckBox* box : finishedBoxes_) delete box;
        finishedBoxes_.clear();
        for (const std::string& name : difficulties) {
            auto* box = new QCheckBox(shown(name), FinishedOnBoxes);
            box->setObjectName(QString::fromStdString("FinishedOn" + name));
            box->setProperty("difficulty", QString::fromStdString(name));
            finishedBoxes_.push_back(box);
            connect(box, &QCheckBox::clicked, this, [this, name](bool checked) {
                std::vector<std::string> on = shown_.finishedOn;
                std::erase(on, name);
                if (checked) on.push_back(name);
                const bool finished = shown_.finished;
                edit([on, finished](MissionStore& store, Mission& m) {
                    store.setFinishedOn(m, on);
                    // The last difficulty taken away leaves the mission unfinished only
                    // when it was finished by naming them.
                    if (on.empty() && finished) store.setFinished(m, false);
                });
            });
        }
        placeFinishedBoxes();
    }
    // Finished, but on no difficulty named.
    unknown_->setVisible(shown_.finished && shown_.finishedOn.empty());
    for (QCheckBox* box : finishedBoxes_) {
        const std::string name = box->property("difficulty").toString().toStdString();
        QSignalBlocker block(box);
        box->setChecked(std::find(shown_.finishedOn.begin(), shown_.finishedOn.end(), name) !=
                        shown_.finishedOn.end());
    }
}

void LibraryPanel::showMission(const Mission* mission, const std::vector<std::string>& difficulties,
                               const std::vector<std::string>& tagsInUse) {
    const bool same = showing_ && mission && mission->recordKey == shown_.recordKey &&
                      mission->place() == shown_.place();
    if (showing_ && !same) commitTyped();
    showing_ = mission != nullptr && !mission->gameRow;
    setEnabled(showing_);
    shown_ = showing_ ? *mission : Mission();
    showFinishedOn(showing_ ? difficulties : std::vector<std::string>());
    Rating->setRating(shown_.rating);
    static_cast<QStringListModel*>(TagsEdit->completer()->model())->setStringList([&] {
        QStringList list;
        for (const std::string& tag : tagsInUse) list << QString::fromStdString(tag);
        return list;
    }());
    const std::pair<QLineEdit*, std::string> fields[] = {{TagsEdit, tagsText(shown_.tags)},
                                                         {AuthorEdit, shown_.author},
                                                         {ReleaseDateEdit, shown_.releaseDate}};
    for (const auto& [field, value] : fields) {
        // Text being typed into the field of the mission shown stays as typed.
        if (same && field->hasFocus() && field->isModified()) continue;
        field->setText(shown(value));
        field->setModified(false);
    }
    if (!(same && CommentEdit->hasFocus())) CommentEdit->setPlainText(shown(shown_.comment));
}

bool LibraryPanel::eventFilter(QObject* watched, QEvent* e) {
    // The notes are written when the player leaves them.
    if (watched == CommentEdit && e->type() == QEvent::FocusOut) commitTyped();
    return QScrollArea::eventFilter(watched, e);
}
