#include "app/ui/TitleReading.h"

#include <QTimer>
#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "app/AppState.h"
#include "app/ui/MainForm.h"
#include "archive/MissionArchive.h"
#include "catalogue/ui/MissionGrid.h"
#include "game/MissionRecords.h"
#include "inspect/MissionCache.h"
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
