#pragma once
// A mission's pictures as a strip of thumbnails, each opening a larger view: those shipped
// with the mission first, then the screenshots the player took in it, newest first.

#include <QDialog>
#include <QImage>
#include <QWidget>
#include <vector>

#include "inspect/MissionPictures.h"
#include "platform/Prompter.h"

class QLabel;
class QListWidget;
class QPushButton;
struct GameContext;
struct Mission;
class TZipArchiver;

class ScreenshotStrip : public QWidget {
    Q_OBJECT
  public:
    // The thumbnails' size in device-independent pixels.
    static constexpr int kThumbWidth = 96;
    static constexpr int kThumbHeight = 72;

    explicit ScreenshotStrip(QWidget* parent = nullptr);

    // Shows `pictures` in their order; one that does not decode is left out. Only the
    // files and the thumbnails are kept: a picture is decoded whole when it is viewed.
    void showPictures(std::vector<MissionPicture> pictures);
    void clear();
    // The pictures shown, in the strip's order.
    const std::vector<MissionPicture>& pictures() const { return shown_; }
    // Opens the larger view at picture `index` (modal, through the prompter).
    void openView(int index);

    QListWidget* list = nullptr;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    // The thumbnails again, at the device pixel ratio of the screen the strip is on.
    void makeThumbnails();
    void addThumbnail(const QPixmap& icon, const MissionPicture& picture);
    void followScreen();

    std::vector<MissionPicture> shown_;
    qreal thumbRatio_ = 0;
    bool followsScreen_ = false;
};

// The larger view: one picture scaled to fit, its name and where it came from, previous
// and next (also the arrow keys).
class ScreenshotView : public QDialog, public ModalDialog {
    Q_OBJECT
  public:
    ScreenshotView(std::vector<MissionPicture> pictures, int index, QWidget* parent = nullptr);

    std::string dialogName() const override { return "ScreenshotView"; }
    int execModal() override { return exec(); }

    int current() const { return index_; }
    void showPicture(int index);

    QLabel* picture = nullptr;
    QLabel* caption = nullptr;
    QPushButton* previous = nullptr;
    QPushButton* next = nullptr;

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void scalePicture();

    std::vector<MissionPicture> pictures_;
    int index_ = 0;
    QImage image_;  // the current picture, decoded
};

// Shows the pictures of `mission` in `strip`, for the selection to call on every change
// of row: the pictures of its archive (ZIP archives only, read through `zip`, which the
// selection pointed at the mission's archive; a .7z or .rar archive would be decoded each
// time), and the screenshots the player took in it in the game marked for it: in its
// mission folder, in its saves archive and in the game directory while it is installed
// there. A mission of no known game shows its shipped pictures only, a game row nothing.
// Nothing is written; no message is shown.
void showMissionPictures(ScreenshotStrip& strip, TZipArchiver& zip, const Mission& mission,
                         const GameContext& context);
