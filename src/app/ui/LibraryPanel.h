#pragma once
// The library's part of the information panel: what the player keeps of the selected
// mission (the difficulties finished on, the rating in stars, tags, author, release date and
// notes), each written into its record as soon as it is changed, and the mission's pictures.

#include <QScrollArea>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "game/Mission.h"

class QCheckBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class MissionStore;
class ScreenshotStrip;

// Five stars, each in halves: a click on a star's left half gives the half, on its right
// half the whole star; a click on the rating shown takes it away. Keys: Left/Minus and
// Right/Plus a half star less or more, Delete none.
class StarRating : public QWidget {
    Q_OBJECT
  public:
    explicit StarRating(QWidget* parent = nullptr);
    // 0..10 half stars, -1 none.
    int rating() const { return rating_; }
    void setRating(int rating);
    QSize sizeHint() const override;
    // The player changed the rating.
    std::function<void(int rating)> onChanged;

  protected:
    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

  private:
    void choose(int rating);
    int rating_ = -1;
};

class LibraryPanel : public QScrollArea {
    Q_OBJECT
  public:
    explicit LibraryPanel(QWidget* parent = nullptr);

    // A change the player made: applied to the record of the mission it was made to (its
    // record key and place) through the store, and to that mission's row.
    using Edit = std::function<void(MissionStore& store, Mission& mission)>;
    std::function<void(const std::string& recordKey, const std::string& place, const Edit&)> onEdit;

    // Shows `mission` (nullptr or a game row: nothing); `difficulties` are its game's,
    // `tagsInUse` complete the tags typed. A change typed and not yet written for the
    // mission shown before is written first.
    void showMission(const Mission* mission, const std::vector<std::string>& difficulties,
                     const std::vector<std::string>& tagsInUse);
    // Writes what is typed and not yet written (the notes, a field being edited).
    void commitTyped();
    // Captions in the interface's language.
    void applyLanguage();

    StarRating* Rating;
    QWidget* FinishedOnBoxes;
    QLineEdit* TagsEdit;
    QLineEdit* AuthorEdit;
    QLineEdit* ReleaseDateEdit;
    QPlainTextEdit* CommentEdit;
    // The pictures the mission ships and the screenshots taken in it (the selection fills it).
    ScreenshotStrip* Screenshots;

  protected:
    bool eventFilter(QObject* watched, QEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

  private:
    void edit(const Edit& change);
    void showFinishedOn(const std::vector<std::string>& difficulties);
    void placeFinishedBoxes();

    QFormLayout* form_ = nullptr;
    std::vector<QCheckBox*> finishedBoxes_;
    QLabel* unknown_ = nullptr;
    Mission shown_;
    bool showing_ = false;
};
