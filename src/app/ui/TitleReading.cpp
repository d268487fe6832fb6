#include "app/ui/TitleReading.h"

#include <QApplication>
#include <QDateTime>
#include <QTimer>
#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "app/AppState.h"
#include "app/ui/MainForm.h"
#include "archive/MissionArchive.h"
#include "archive/ZipArchiver.h"
#include "catalogue/ui/MissionGrid.h"
#include "game/MissionRecords.h"
#include "inspect/MissionCache.h"
#include "inspect/MissionFacts.h"
#include "inspect/MissionTitle.h"
#include "platform/IniFile.h"
#include "platform/TextUtil.h"

namespace {

// How often titles read in the background reach the window.
constexpr int kDeliveryMs = 150;

// Stores `title` as the record's title and shows it in the row.
void storeTitle(IniFile& settings, TMissionGrid& grid, int row, const std::string& title) {
    const Mission* listed = grid.MissionAt(row);
    if (listed == nullptr) return;
    Mission mission = *listed;
    MissionStore(settings).setTitle(mission, title);
    grid.SetMission(row, std::move(mission));
}

// What the archives seen for the first time say of themselves, read in the background and
// kept in their records (never over what the player wrote) a few times a second. ZIP
// archives go through the engines, which serve the main thread alone: they are read there,
// a few milliseconds at a time, once the scan has settled and while no engine call runs
// and the window is free; the others on a thread of their own.
class FactsReading {
  public:
    explicit FactsReading(TMissionGrid& grid) : grid_(grid) {
        timer_.setInterval(kDeliveryMs);
        QObject::connect(&timer_, &QTimer::timeout, [this] { deliver(); });
        zipTimer_.setInterval(kZipSliceEveryMs);
        QObject::connect(&zipTimer_, &QTimer::timeout, [this] { readZipSlice(); });
    }
    ~FactsReading() { stop(); }
    FactsReading(const FactsReading&) = delete;
    FactsReading& operator=(const FactsReading&) = delete;

    void start(std::vector<TitleRead> reads) {
        stop();
        std::vector<TitleRead> others;
        for (TitleRead& r : reads) (readsAsZip(r.path) ? zips_ : others).push_back(std::move(r));
        worker_ = std::thread([this, reads = std::move(others)] {
            for (const TitleRead& r : reads) {
                if (stopping_) break;
                readOne(r);
            }
            finished_ = true;
        });
        settled_ = QDateTime::currentMSecsSinceEpoch() + kSettleMs;
        timer_.start();
        if (!zips_.empty()) zipTimer_.start();
    }

  private:
    static constexpr int kSettleMs = 2000;       // after the scan, before the first ZIP
    static constexpr int kZipSliceEveryMs = 25;  // a slice of ZIP reading this often
    static constexpr int kZipSliceMs = 8;        // and this long at most

    void stop() {
        stopping_ = true;
        if (worker_.joinable()) worker_.join();
        stopping_ = false;
        finished_ = false;
        timer_.stop();
        zipTimer_.stop();
        zips_.clear();
        done_.clear();
    }

    // The window is free for reading: no install under way (the window is disabled then),
    // no dialog open, no engine call running.
    static bool windowFree() {
        return !(mainform && !mainform->isEnabled()) && !QApplication::activeModalWidget() &&
               !TZipArchiver::EngineBusy();
    }

    // What the archive of `r` says of itself, handed to the next delivery.
    void readOne(const TitleRead& r) {
        std::unique_ptr<MissionArchive> archive = openMissionArchive(r.path);
        MissionFacts facts = findMissionFacts(*archive);
        const std::lock_guard<std::mutex> hold(lock_);
        done_[r.recordKey] = std::move(facts);
    }

    void readZipSlice() {
        if (QDateTime::currentMSecsSinceEpoch() < settled_ || !windowFree()) return;
        const qint64 until = QDateTime::currentMSecsSinceEpoch() + kZipSliceMs;
        while (!zips_.empty() && QDateTime::currentMSecsSinceEpoch() < until) {
            readOne(zips_.back());
            zips_.pop_back();
        }
        if (zips_.empty()) zipTimer_.stop();
    }

    void deliver() {
        if (!windowFree() || !app().settings) return;
        const bool last = finished_ && zips_.empty();
        std::map<std::string, MissionFacts> facts;
        {
            const std::lock_guard<std::mutex> hold(lock_);
            facts.swap(done_);
        }
        if (!facts.empty()) {
            IniBatch batch(*app().settings);
            MissionStore store(*app().settings);
            for (int row = 1; row < grid_.RowCount(); ++row) {
                const Mission* listed = grid_.MissionAt(row);
                const auto found = listed ? facts.find(listed->recordKey) : facts.end();
                if (found == facts.end()) continue;
                Mission mission = *listed;
                const MissionFacts& said = found->second;
                store.fillFound(mission, said.author, said.releaseDate);
                if (mission.tags.empty() && !said.tags.empty()) store.setTags(mission, said.tags);
                grid_.SetMission(row, std::move(mission));
            }
            batch.Commit();
        }
        if (last) {
            timer_.stop();
            if (worker_.joinable()) worker_.join();
            finished_ = false;
        }
    }

    TMissionGrid& grid_;
    QTimer timer_, zipTimer_;
    std::vector<TitleRead> zips_;  // read from the back
    qint64 settled_ = 0;
    std::thread worker_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> finished_{false};
    std::mutex lock_;
    std::map<std::string, MissionFacts> done_;  // by record key
};

}  // namespace

struct TitleReading::Impl {
    TMissionGrid& grid;
    TStatusLine& status;
    QTimer timer;
    std::thread worker;
    std::atomic<bool> stopping{false};
    std::mutex lock;
    std::map<std::string, std::optional<std::string>> done;  // by record key
    size_t left = 0;                                         // under `lock`
    std::string note;                                        // the status text shown

    FactsReading facts{grid};

    Impl(TMissionGrid& g, TStatusLine& s) : grid(g), status(s) {
        timer.setInterval(kDeliveryMs);
        QObject::connect(&timer, &QTimer::timeout, [this] { deliver(); });
    }

    void stop() {
        stopping = true;
        if (worker.joinable()) worker.join();
        stopping = false;
        timer.stop();
        done.clear();
        left = 0;
        showNote("");
    }

    void start(std::vector<TitleRead> reads) {
        left = reads.size();
        worker = std::thread([this, reads = std::move(reads), language = titleLanguage()] {
            for (const TitleRead& r : reads) {
                if (stopping) return;
                std::unique_ptr<MissionArchive> archive = openMissionArchive(r.path);
                std::optional<std::string> title = readMissionTitle(*archive, language);
                const std::lock_guard<std::mutex> hold(lock);
                done[r.recordKey] = std::move(title);
                --left;
            }
        });
        timer.start();
        showNote(text::withArgument(slot(185), std::to_string(reads.size())));
    }

    // Takes what the thread has read into the records and the rows. An install under way
    // (the window is disabled then) writes the settings itself: the titles wait for it.
    void deliver() {
        if (mainform && !mainform->isEnabled()) return;
        std::map<std::string, std::optional<std::string>> titles;
        size_t remaining = 0;
        {
            const std::lock_guard<std::mutex> hold(lock);
            titles.swap(done);
            remaining = left;
        }
        if (!titles.empty() && app().settings) {
            IniFile& settings = *app().settings;
            IniBatch batch(settings);
            for (int row = 1; row < grid.RowCount(); ++row) {
                const Mission* mission = grid.MissionAt(row);
                const auto found = mission ? titles.find(mission->recordKey) : titles.end();
                if (found != titles.end() && found->second)
                    storeTitle(settings, grid, row, *found->second);
            }
            batch.Commit();
            // Rows sorted by title take their places as their titles arrive.
            if (grid.SortIndex == columnOf(MissionColumn::Title)) grid.SortRows();
        }
        if (remaining == 0) {
            timer.stop();
            if (worker.joinable()) worker.join();
            showNote("");
            return;
        }
        showNote(text::withArgument(slot(185), std::to_string(remaining)));
    }

    // The note replaces only an empty status line or its own earlier text.
    void showNote(const std::string& text) {
        if (status.SimpleText() != note && !status.SimpleText().empty()) {
            note.clear();
            return;
        }
        status.SetSimpleText(text);
        note = text;
    }
};

TitleReading::TitleReading(TMissionGrid& grid, TStatusLine& status)
    : impl_(std::make_unique<Impl>(grid, status)) {}

TitleReading::~TitleReading() {
    impl_->stopping = true;
    if (impl_->worker.joinable()) impl_->worker.join();
}

void TitleReading::readFacts(std::vector<TitleRead> reads) {
    impl_->facts.start(std::move(reads));
}

bool TitleReading::busy() const {
    return impl_->timer.isActive();
}

void TitleReading::read(std::vector<TitleRead> reads) {
    impl_->stop();
    std::vector<TitleRead> later;
    if (app().settings) {
        IniFile& settings = *app().settings;
        const std::string cacheDir = missionCacheDir(settings.fileName(), app().exeDir);
        for (TitleRead& r : reads) {
            if (!missionTitleReadsQuickly(cacheDir, r.path, r.recordKey)) {
                later.push_back(std::move(r));
                continue;
            }
            if (std::optional<std::string> title = readMissionTitle(cacheDir, r.path, r.recordKey))
                storeTitle(settings, impl_->grid, r.row, *title);
        }
    }
    if (!later.empty()) impl_->start(std::move(later));
}
