#include "app/ui/ScreenshotStrip.h"

#include <QBuffer>
#include <QDateTime>
#include <QHBoxLayout>
#include <QImageReader>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>
#include <QWindow>
#include <memory>

#include "archive/MissionArchive.h"
#include "archive/ZipArchiver.h"
#include "game/GameContext.h"
#include "game/GameDir.h"
#include "game/Games.h"
#include "game/InstallState.h"
#include "game/Mission.h"
#include "game/MissionFolders.h"
#include "install/FolderInstall.h"
#include "install/Uninstall.h"
#include "platform/FileSystem.h"
#include "platform/TextUtil.h"
#include "state/LanguageTable.h"

namespace {

constexpr int kTitleSlot = libraryslot::kScreenshots;
constexpr int kPreviousSlot = 261;
constexpr int kNextSlot = 262;
constexpr int kShippedSlot = 263;
constexpr int kTakenSlot = 264;
constexpr int kCloseSlot = 265;

constexpr int kSpacing = 4;
constexpr int kViewWidth = 800;
constexpr int kViewHeight = 600;

// The picture in `bytes`, decoded; scaled on the way to fit `fit` (device pixels) when
// given, which spares a JPEG decoder most of its work. Null when it does not decode.
QImage decoded(const std::string& bytes, QSize fit = {}) {
    QByteArray data = QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    if (!fit.isEmpty() && size.isValid() &&
        (size.width() > fit.width() || size.height() > fit.height()))
        reader.setScaledSize(size.scaled(fit, Qt::KeepAspectRatio));
    return reader.read();
}

// `image` scaled to fit `size` (device-independent pixels) at `ratio` device pixels each.
QPixmap fitted(const QImage& image, QSize size, qreal ratio) {
    const QSize pixels = (QSizeF(size) * ratio).toSize();
    if (image.isNull() || pixels.isEmpty()) return {};
    QPixmap pixmap =
        QPixmap::fromImage(image.scaled(pixels, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

// The thumbnail of a picture: scaled to fit, centred on a transparent icon of the strip's
// size, so that every item has the same shape. Null when it does not decode.
QPixmap thumbnail(const std::string& bytes, qreal ratio) {
    const QSize size(ScreenshotStrip::kThumbWidth, ScreenshotStrip::kThumbHeight);
    const QImage image = decoded(bytes, (QSizeF(size) * ratio).toSize());
    if (image.isNull()) return {};
    const QPixmap picture = fitted(image, size, ratio);
    QPixmap icon((QSizeF(size) * ratio).toSize());
    icon.setDevicePixelRatio(ratio);
    icon.fill(Qt::transparent);
    QPainter painter(&icon);
    const QSizeF shown = picture.deviceIndependentSize();
    painter.drawPixmap(
        QPointF((size.width() - shown.width()) / 2, (size.height() - shown.height()) / 2), picture);
    return icon;
}

// "dump003.png · Taken by you · 10.12.26 18:04" as the caption and tooltip say it.
QString describe(const MissionPicture& picture) {
    QString text = text::display(picture.name);
    const std::string& origin = slot(takenByPlayer(picture) ? kTakenSlot : kShippedSlot);
    if (!origin.empty()) text += QStringLiteral(" \u00b7 ") + text::display(origin);
    if (takenByPlayer(picture) && picture.dosTime != 0) {
        const QDateTime when = QDateTime::fromSecsSinceEpoch(fsx::dosToUnix(picture.dosTime));
        text += QStringLiteral(" \u00b7 ") + QLocale().toString(when, QLocale::ShortFormat);
    }
    return text;
}

// A text of the language table as a label shows it.
QString languageText(int slotNumber) {
    return text::display(slot(slotNumber));
}

}  // namespace

// ---- The strip ----

ScreenshotStrip::ScreenshotStrip(QWidget* parent) : QWidget(parent) {
    setObjectName("ScreenshotStrip");
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    list = new QListWidget(this);
    list->setObjectName("screenshotlist");
    list->setViewMode(QListView::IconMode);
    list->setFlow(QListView::LeftToRight);
    list->setWrapping(false);
    list->setMovement(QListView::Static);
    list->setResizeMode(QListView::Adjust);
    list->setSpacing(kSpacing);
    list->setIconSize(QSize(kThumbWidth, kThumbHeight));
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    const int scrollBar = list->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    list->setFixedHeight(kThumbHeight + 4 * kSpacing + scrollBar + 2 * list->frameWidth());
    layout->addWidget(list);
    // Double click, or Enter on the current thumbnail.
    connect(list, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) { openView(list->row(item)); });
}

void ScreenshotStrip::showPictures(std::vector<MissionPicture> pictures) {
    list->clear();
    shown_.clear();
    thumbRatio_ = devicePixelRatioF();
    for (MissionPicture& picture : pictures) {
        const QPixmap icon = thumbnail(picture.bytes, thumbRatio_);
        if (icon.isNull()) continue;
        addThumbnail(icon, picture);
        shown_.push_back(std::move(picture));
    }
}

void ScreenshotStrip::clear() {
    shown_.clear();
    list->clear();
}

void ScreenshotStrip::addThumbnail(const QPixmap& icon, const MissionPicture& picture) {
    auto* item = new QListWidgetItem(QIcon(icon), QString());
    item->setToolTip(describe(picture));
    item->setSizeHint(QSize(kThumbWidth + kSpacing, kThumbHeight + kSpacing));
    list->addItem(item);
}

void ScreenshotStrip::makeThumbnails() {
    list->clear();
    thumbRatio_ = devicePixelRatioF();
    for (const MissionPicture& picture : shown_)
        addThumbnail(thumbnail(picture.bytes, thumbRatio_), picture);
}

void ScreenshotStrip::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    followScreen();
    if (devicePixelRatioF() != thumbRatio_ && !shown_.empty()) makeThumbnails();
}

void ScreenshotStrip::followScreen() {
    QWindow* handle = window()->windowHandle();
    if (followsScreen_ || !handle) return;
    followsScreen_ = true;
    connect(handle, &QWindow::screenChanged, this, [this] {
        if (devicePixelRatioF() != thumbRatio_ && !shown_.empty()) makeThumbnails();
    });
}

void ScreenshotStrip::openView(int index) {
    if (index < 0 || static_cast<size_t>(index) >= shown_.size()) return;
    ScreenshotView view(shown_, index, window());
    prompter().runModal(view);
}

// ---- The larger view ----

ScreenshotView::ScreenshotView(std::vector<MissionPicture> pictures, int index, QWidget* parent)
    : QDialog(parent), pictures_(std::move(pictures)) {
    setObjectName("ScreenshotView");
    setModal(true);
    setWindowTitle(languageText(kTitleSlot));
    auto* layout = new QVBoxLayout(this);
    picture = new QLabel(this);
    picture->setObjectName("picture");
    picture->setAlignment(Qt::AlignCenter);
    picture->setMinimumSize(1, 1);
    picture->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    layout->addWidget(picture, 1);
    caption = new QLabel(this);
    caption->setObjectName("caption");
    caption->setAlignment(Qt::AlignCenter);
    caption->setTextFormat(Qt::PlainText);
    layout->addWidget(caption);
    auto* buttons = new QHBoxLayout;
    previous = new QPushButton(style()->standardIcon(QStyle::SP_ArrowLeft),
                               languageText(kPreviousSlot), this);
    previous->setObjectName("previous");
    next = new QPushButton(style()->standardIcon(QStyle::SP_ArrowRight), languageText(kNextSlot),
                           this);
    next->setObjectName("next");
    auto* close = new QPushButton(languageText(kCloseSlot), this);
    close->setObjectName("close");
    if (close->text().isEmpty())
        close->setIcon(style()->standardIcon(QStyle::SP_DialogCloseButton));
    buttons->addWidget(previous);
    buttons->addWidget(next);
    buttons->addStretch(1);
    buttons->addWidget(close);
    layout->addLayout(buttons);
    connect(previous, &QPushButton::clicked, this, [this] { showPicture(index_ - 1); });
    connect(next, &QPushButton::clicked, this, [this] { showPicture(index_ + 1); });
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    resize(kViewWidth, kViewHeight);
    showPicture(index);
}

void ScreenshotView::showPicture(int index) {
    if (index < 0 || static_cast<size_t>(index) >= pictures_.size()) return;
    index_ = index;
    const MissionPicture& shown = pictures_[static_cast<size_t>(index)];
    image_ = decoded(shown.bytes);
    caption->setText(
        QStringLiteral("%1 / %2   ").arg(index + 1).arg(static_cast<qsizetype>(pictures_.size())) +
        describe(shown));
    previous->setEnabled(index > 0);
    next->setEnabled(static_cast<size_t>(index) + 1 < pictures_.size());
    scalePicture();
}

void ScreenshotView::scalePicture() {
    picture->setPixmap(fitted(image_, picture->size(), picture->devicePixelRatioF()));
}

void ScreenshotView::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    scalePicture();
}

void ScreenshotView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Left) {
        showPicture(index_ - 1);
    } else if (event->key() == Qt::Key_Right) {
        showPicture(index_ + 1);
    } else {
        QDialog::keyPressEvent(event);
    }
}

// ---- Reading a mission's pictures ----

namespace {

// The main window's component reads quietly while the pictures are read: no message, no
// password question (an encrypted member is left out unless its password was given), and
// what it reported and was asked before stays as it was.
class QuietComponent {
  public:
    explicit QuietComponent(TZipArchiver& zip)
        : zip_(zip),
          unattended_(zip.Unattended),
          onMessage_(zip.OnMessage),
          onPasswordError_(zip.OnPasswordError),
          fspecArgs_(zip.FSpecArgs),
          errCode_(zip.ErrCode),
          fullErrCode_(zip.FullErrCode),
          message_(zip.Message) {
        zip.Unattended = true;
        zip.OnMessage = nullptr;
        zip.OnPasswordError = [](TZipArchiver*, std::string& password, const std::string&,
                                 uint32_t& repeat) {
            password.clear();
            repeat = 0;
        };
    }
    ~QuietComponent() {
        zip_.Unattended = unattended_;
        zip_.OnMessage = onMessage_;
        zip_.OnPasswordError = onPasswordError_;
        zip_.FSpecArgs = fspecArgs_;
        zip_.ErrCode = errCode_;
        zip_.FullErrCode = fullErrCode_;
        zip_.Message = message_;
    }
    QuietComponent(const QuietComponent&) = delete;
    QuietComponent& operator=(const QuietComponent&) = delete;

  private:
    TZipArchiver& zip_;
    bool unattended_;
    TMessageEvent onMessage_;
    TPasswordErrorEvent onPasswordError_;
    std::vector<std::string> fspecArgs_;
    int errCode_, fullErrCode_;
    std::string message_;
};

// The mission's own folder of game `game` while it holds the mission; empty when none.
std::string missionFolderOf(const GameContext& context, const Mission& mission, int game) {
    InstallRequest request;
    request.mission.currentGame = static_cast<uint8_t>(game);
    request.mission.archivePath = mission.archivePath;
    request.recordKey = mission.recordKey;
    const MissionFolder folder = RecordedMissionFolder(context, request);
    if (folder.name.empty()) return {};
    const std::string path = folder.path();
    const missionfolders::FolderMission recorded =
        missionfolders::recordedMission(context.settings, mission.recordKey);
    return missionfolders::holdsRecordedMission(path, recorded) ? path : std::string();
}

// The mission's saves archive in `gameDir` (the name earlier versions gave it while it has
// none of the current name), opened through a component set up like `zip`; null when none.
std::unique_ptr<MissionArchive> openSaves(const TZipArchiver& zip, const std::string& gameDir,
                                          const std::string& archivePath) {
    std::string path = SavesArchivePath(gameDir, archivePath);
    const std::string earlier = EarlierSavesArchivePath(gameDir, archivePath);
    if (!fsx::fileExists(path) && !earlier.empty()) path = earlier;
    if (!fsx::fileExists(path)) return nullptr;
    return openMissionArchive(fsx::resolve(path), zip, "");
}

}  // namespace

void showMissionPictures(ScreenshotStrip& strip, TZipArchiver& zip, const Mission& mission,
                         const GameContext& context) {
    if (mission.gameRow || mission.archivePath.empty()) {
        strip.clear();
        return;
    }
    PictureSources sources;
    std::unique_ptr<MissionArchive> archive, saves;
    // The engines take one call at a time: while one runs, only files on disk are read.
    const bool engineFree = !TZipArchiver::EngineBusy();
    const QuietComponent quiet(zip);
    if (engineFree && readsAsZip(mission.archivePath) && zip.ZipFileName() == mission.archivePath) {
        archive = zipMission(zip);
        sources.archive = archive.get();
    }
    const int game = mission.markedGame();
    const auto record = context.games.find(game);
    if (games::known(game) && record != context.games.end() && !record->second.gameDir.empty()) {
        const std::string& gameDir = record->second.gameDir;
        sources.missionFolder = missionFolderOf(context, mission, game);
        if (engineFree) {
            saves = openSaves(zip, gameDir, mission.archivePath);
            sources.saves = saves.get();
        }
        if (IsAlreadyInstalled(mission.archivePath, record->second)) {
            sources.gameDir = gameDir;
            const int32_t installedAt = fsx::fileAgeDos(gamedir::path(gameDir, gamedir::kMarker));
            sources.gameDirSince = installedAt == -1 ? 0 : static_cast<uint32_t>(installedAt);
        }
    }
    strip.showPictures(findMissionPictures(sources));
}
