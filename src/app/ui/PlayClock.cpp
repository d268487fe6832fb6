#include "app/ui/PlayClock.h"

#include <QDateTime>
#include <QEvent>
#include <QObject>
#include <QProcess>
#include <QTimer>
#include <chrono>
#include <optional>

#include "app/AppState.h"
#include "app/PlayWatch.h"
#include "game/MissionRecords.h"
#include "platform/RunningPrograms.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kLookMs = 500;                        // how often the processes are looked at
constexpr std::chrono::seconds kAppearWithin{120};  // a launcher may take its time

class PlayClock : public QObject {
  public:
    PlayClock(QObject& owner, std::string gameDir, std::string recordKey,
              std::function<void()> counted)
        : QObject(&owner),
          gameDir_(std::move(gameDir)),
          recordKey_(std::move(recordKey)),
          counted_(std::move(counted)),
          started_(Clock::now()) {
        timer_.setInterval(kLookMs);
        connect(&timer_, &QTimer::timeout, this, [this] { look(); });
        timer_.start();
        owner.installEventFilter(this);
    }

  private:
    void look() {
        const auto now = Clock::now();
        const bool running = !running::programsFrom(gameDir_).empty();
        if (running) {
            if (!firstSeen_) {
                firstSeen_ = now;
                firstSeenWall_ = QDateTime::currentSecsSinceEpoch();
            }
            lastSeen_ = now;
            return;
        }
        if (!firstSeen_) {
            if (now - started_ > kAppearWithin) deleteLater();
            return;
        }
        // Gone: it ran from its first sighting to half way between the last two looks.
        count(*lastSeen_ + std::chrono::milliseconds(kLookMs / 2));
    }

    // The window closing while the game runs: a watcher of its own counts the whole run
    // once the game has ended; without one, what it ran so far is counted now.
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (watched != parent() || e->type() != QEvent::Close || !firstSeen_ || !timer_.isActive())
            return false;
        const std::string& watcher = playWatcherProgram();
        if (!watcher.empty() && app().settings &&
            QProcess::startDetached(
                QString::fromStdString(watcher),
                {playwatch::kOption, QString::fromStdString(gameDir_),
                 QString::fromStdString(recordKey_), QString::number(firstSeenWall_),
                 QString::fromStdString(playwatch::pendingDir(app().settings->fileName()))})) {
            timer_.stop();
            deleteLater();
        } else {
            count(Clock::now());
        }
        return false;
    }

    void count(Clock::time_point until) {
        const auto seconds = std::chrono::round<std::chrono::seconds>(until - *firstSeen_).count();
        timer_.stop();
        if (app().settings && seconds > 0) {
            MissionStore(*app().settings).addPlayTime(recordKey_, seconds);
            if (counted_) counted_();
        }
        deleteLater();
    }

    std::string gameDir_;
    std::string recordKey_;
    std::function<void()> counted_;
    Clock::time_point started_;
    std::optional<Clock::time_point> firstSeen_, lastSeen_;
    qint64 firstSeenWall_ = 0;  // Unix time of the first sighting
    QTimer timer_;
};

}  // namespace

std::string& playWatcherProgram() {
    static std::string program;
    return program;
}

void watchPlayTime(QObject& owner, const std::string& gameDir, const std::string& recordKey,
                   std::function<void()> counted) {
    if (gameDir.empty() || recordKey.empty()) return;
    new PlayClock(owner, gameDir, recordKey, std::move(counted));
}
