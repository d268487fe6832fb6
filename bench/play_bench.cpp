// Runs the install-and-launch operation once, the way the window runs it (without a
// window), for bench/play_bench.sh:
//   play_bench BIN_DIR WORK_DIR GAME_DIR ARCHIVE|original
//   play_bench BIN_DIR WORK_DIR convert FILE.mp3     (only the MP3 conversion of one file;
//                                                     prints "convert SECONDS")
// BIN_DIR holds the engines and the sound plug-in; WORK_DIR gets the settings file; the game
// record is read back from GAME_DIR's installation marker, as the catalogue scan does.
// Prints one line per phase ("phase NAME SECONDS"), the total and the peak memory of the
// process ("peak KB"); when the operation fails, "error MESSAGE" and exit status 3.

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app/AppState.h"
#include "app/Operations.h"
#include "archive/ZipArchiver.h"
#include "game/MissionRecords.h"
#include "install/InstallLaunch.h"
#include "install/Mp3Conversion.h"
#include "platform/FileSystem.h"
#include "platform/Progress.h"
#include "platform/TextFile.h"
#include "platform/TextUtil.h"

namespace {

using Clock = std::chrono::steady_clock;

// Language slots whose texts mark where a phase begins.
enum PhaseSlot { kExtracting = 1, kFileWord = 18, kSaves = 23, kBackup = 28, kConverts = 74 };

// The phases in the order the operation runs them, each begun by a text it shows.
class Timeline {
  public:
    Timeline() { mark("uninstall"); }
    void mark(const std::string& phase) {
        if (!phases_.empty() && phases_.back().first == phase) return;
        phases_.emplace_back(phase, Clock::now());
    }
    // A phase whose beginning is known only afterwards: put in its place by time.
    void markAt(const std::string& phase, Clock::time_point when) {
        auto at = std::find_if(phases_.begin(), phases_.end(),
                               [&](const auto& p) { return p.second > when; });
        phases_.insert(at, {phase, when});
    }
    bool reached(const std::string& phase) const {
        for (const auto& p : phases_)
            if (p.first == phase) return true;
        return false;
    }
    Clock::time_point at(const std::string& phase) const {
        for (const auto& p : phases_)
            if (p.first == phase) return p.second;
        return Clock::time_point{};
    }
    void print(Clock::time_point end) const {
        for (size_t i = 0; i < phases_.size(); ++i) {
            const Clock::time_point until = i + 1 < phases_.size() ? phases_[i + 1].second : end;
            std::printf("phase %s %.3f\n", phases_[i].first.c_str(),
                        std::chrono::duration<double>(until - phases_[i].second).count());
        }
        std::printf("total %.3f\n",
                    std::chrono::duration<double>(end - phases_.front().second).count());
    }

  private:
    std::vector<std::pair<std::string, Clock::time_point>> phases_;
};

void setUpArchiver(TZipArchiver& zip, const std::string& binDir) {
    zip.AddCompLevel = 5;
    zip.ExtrOptions = {ExtrOptsEnum::ExtrDirNames, ExtrOptsEnum::ExtrOverWrite};
    zip.Unattended = true;
    zip.SetDLLDirectory(binDir);
}

// What the catalogue scan reads from the marker into the game record.
void readGameRecord(GameRecord& rec, const std::string& gameDir) {
    rec = GameRecord{};
    rec.gameDir = gameDir;
    rec.language = 1;
    const std::string marker = gameDir + "Tallowmere.Current";
    if (!fsx::fileExists(marker)) return;
    const std::vector<std::string> lines = textfile::readLines(marker);
    if (lines.size() >= 2) {
        rec.installed = lines[0];
        rec.installedCheck = lines[1];
    }
}

// The phases told apart by the texts the operation shows: each step names itself with the
// first file it works on. Tracks are converted while the extraction runs: "conversion" is
// what remains of it after the last file extracted; "first-track" says how far into the
// extraction it began.
class PhaseProgress final : public ProgressSink {
  public:
    Timeline timeline;
    std::optional<Clock::time_point> firstTrack;

    void status(const std::string& text) override {
        if (startsWith(text, slot(kSaves) + ": ")) timeline.mark("saves");
        if (startsWith(text, slot(kBackup) + " ")) timeline.mark("backup");
        if (startsWith(text, extracting_)) {
            timeline.mark("extraction");
            lastExtracted_ = Clock::now();
        }
        if (startsWith(text, converting_) && !firstTrack) firstTrack = Clock::now();
    }
    void showBar(bool shown) override {
        if (shown || !timeline.reached("extraction") || timeline.reached("finish")) return;
        timeline.markAt("conversion", lastExtracted_);
        timeline.mark("finish");
    }
    void barPosition(int64_t bytes) override { position_ = bytes; }
    int64_t currentBarPosition() override { return position_; }

  private:
    static bool startsWith(const std::string& text, const std::string& start) {
        return text.compare(0, start.size(), start) == 0;
    }
    const std::string extracting_ = slot(kExtracting) + " " + slot(kFileWord) + " ";
    const std::string converting_ = slot(kExtracting) + " " + slot(kConverts) + " ";
    Clock::time_point lastExtracted_;
    int64_t position_ = 0;
};

std::vector<std::string> gridRow(const std::string& archive) {
    if (archive == " Original") return {"", "", " Original (Thief 2)", "", "", "", ""};
    const std::string name = text::extractFileName(archive);
    return {"", "", name.substr(0, name.size() - 4), "", std::to_string(fsx::fileSize(archive)),
            "", ""};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s BIN_DIR WORK_DIR GAME_DIR ARCHIVE|original\n", argv[0]);
        return 2;
    }
    const std::string binDir = text::withTrailingDelim(argv[1]);
    const std::string gameDir = text::withTrailingDelim(argv[3]);
    const std::string archive = std::string(argv[4]) == "original" ? " Original" : argv[4];
    openAppFiles(text::withTrailingDelim(argv[2]));
    app().exeDir = binDir;
    for (int n = 1; n <= kLanguageSlotCount; ++n) {
        std::string& text = app().languageSlots[static_cast<size_t>(n)];
        text = std::to_string(n);
        text.insert(text.begin(), '<');
        text.push_back('>');
    }
    if (std::string(argv[3]) == "convert") {
        const Clock::time_point start = Clock::now();
        ProgressSink progress;
        ConvertMp3Files({argv[4]}, progress, app().exeDir);
        std::printf("convert %.3f\n", std::chrono::duration<double>(Clock::now() - start).count());
        return 0;
    }
    readGameRecord(app().thiefdata[2], gameDir);
    InstallRequest request;
    request.mission.currentGame = 2;
    request.mission.archivePath = archive;
    request.mission.missionFileMember = "miss20.mis";
    request.mission.missionNumber = 20;
    const std::vector<std::string> row = gridRow(archive);
    request.recordKey = RecordKey(row);
    request.selectionName = row[2];

    TZipArchiver zip2;
    setUpArchiver(zip2, binDir);
    PhaseProgress progress;
    try {
        if (operations::install(request, zip2, progress).refreshed)
            readGameRecord(app().thiefdata[2], gameDir);
    } catch (const std::exception& e) {
        // What the window would show; the operation has left the marker as it stands.
        std::string text = e.what();
        std::replace(text.begin(), text.end(), '\n', ' ');
        std::printf("error %s\n", text.c_str());
        closeAppFiles();
        return 3;
    }
    Timeline& timeline = progress.timeline;
    timeline.print(Clock::now());
    if (progress.firstTrack)
        std::printf("phase first-track %.3f\n",
                    std::chrono::duration<double>(*progress.firstTrack - timeline.at("extraction"))
                        .count());

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak %ld\n", usage.ru_maxrss);
    closeAppFiles();
    return 0;
}
