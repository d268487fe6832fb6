// Runs missions of a stand-in NewDark game in their mission folders the way the window runs
// the play key (without a window), for bench/folder_bench.sh:
//   folder_bench BIN_DIR WORK_DIR GAME_DIR install ARCHIVE
//       the first install of the mission into its folder, then the game's start; prints the
//       phases ("phase NAME SECONDS"), "total SECONDS" (the call to the game's start),
//       "syncs COUNT SECONDS" (the flushes of the folder, their times added up over the
//       threads that do them) and "peak KB"
//   folder_bench BIN_DIR WORK_DIR GAME_DIR play COUNT ARCHIVE [ARCHIVE...]
//       COUNT plays of missions installed already, taking the archives in turn; prints
//       "play NAME MS_TO_START MS_TO_RETURN OPENS" for each (OPENS: how often any process
//       opened any of the archives meanwhile, which must be 0)
// BIN_DIR holds the engines and the sound plug-in; WORK_DIR gets the settings file, which
// keeps the missions' folders from one run to the next. The game's start is the return of
// the real start of its program (the stand-in script of the game directory), timed by a
// link wrap of launcher::startProgram (see bench/CMakeLists.txt); the stand-in writes its
// arguments to GAME_DIR/started, which is checked. When the operation fails: "error
// MESSAGE" and exit status 3.

#include <sys/inotify.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/AppState.h"
#include "app/Operations.h"
#include "archive/ZipArchiver.h"
#include "game/MissionRecords.h"
#include "install/FolderInstall.h"
#include "install/InstallLaunch.h"
#include "platform/FileSystem.h"
#include "platform/Launcher.h"
#include "platform/Progress.h"
#include "platform/RunningPrograms.h"
#include "platform/TextFile.h"
#include "platform/TextUtil.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

// What the wrapped functions saw. Flushes may run on several threads.
struct Seen {
    int starts = 0;
    Clock::time_point started;  // when the last start returned
    std::mutex syncing;
    std::vector<std::pair<Clock::time_point, Clock::time_point>> syncs;
} seen;

}  // namespace

// The link wraps: --wrap=SYMBOL sends the program's calls of SYMBOL to __wrap_SYMBOL and
// names the original __real_SYMBOL.
launcher::StartResult
realStartProgram(const std::string& program, const std::string& workingDir, const std::string& windowsCommand, const std::vector<std::string>& arguments) __asm__(
    "__real__ZN8launcher12startProgramERKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEES7_"
    "S7_RKSt6vectorIS5_SaIS5_EE");
launcher::StartResult
wrappedStartProgram(const std::string& program, const std::string& workingDir, const std::string& windowsCommand, const std::vector<std::string>& arguments) __asm__(
    "__wrap__ZN8launcher12startProgramERKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEES7_"
    "S7_RKSt6vectorIS5_SaIS5_EE");
bool realSyncPath(const std::string& path) __asm__(
    "__real__ZN3fsx8syncPathERKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE");
bool wrappedSyncPath(const std::string& path) __asm__(
    "__wrap__ZN3fsx8syncPathERKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE");

launcher::StartResult wrappedStartProgram(const std::string& program, const std::string& workingDir,
                                          const std::string& windowsCommand,
                                          const std::vector<std::string>& arguments) {
    const launcher::StartResult result =
        realStartProgram(program, workingDir, windowsCommand, arguments);
    seen.started = Clock::now();
    ++seen.starts;
    return result;
}

bool wrappedSyncPath(const std::string& path) {
    const Clock::time_point from = Clock::now();
    const bool ok = realSyncPath(path);
    const Clock::time_point to = Clock::now();
    const std::lock_guard<std::mutex> lock(seen.syncing);
    seen.syncs.emplace_back(from, to);
    return ok;
}

namespace {

// Language slots whose texts mark where a phase begins.
enum PhaseSlot { kExtracting = 1, kFileWord = 18, kConverts = 74 };

// The extraction told apart by the texts the operation shows; tracks are converted while it
// runs.
class PhaseProgress final : public ProgressSink {
  public:
    std::optional<Clock::time_point> extraction, firstTrack;
    Clock::time_point lastExtracted;

    void status(const std::string& text) override {
        if (startsWith(text, extracting_)) {
            lastExtracted = Clock::now();
            if (!extraction) extraction = lastExtracted;
        }
        if (startsWith(text, converting_) && !firstTrack) firstTrack = Clock::now();
    }
    void barPosition(int64_t bytes) override { position_ = bytes; }
    int64_t currentBarPosition() override { return position_; }

  private:
    static bool startsWith(const std::string& text, const std::string& start) {
        return text.compare(0, start.size(), start) == 0;
    }
    const std::string extracting_ = slot(kExtracting) + " " + slot(kFileWord) + " ";
    const std::string converting_ = slot(kExtracting) + " " + slot(kConverts) + " ";
    int64_t position_ = 0;
};

// Counts the opens of files by any process, through inotify.
class OpenCounter {
  public:
    explicit OpenCounter(const std::vector<std::string>& files)
        : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        for (const std::string& f : files)
            if (fd_ < 0 || ::inotify_add_watch(fd_, f.c_str(), IN_OPEN) < 0)
                throw std::runtime_error("cannot watch " + f);
    }
    ~OpenCounter() {
        if (fd_ >= 0) ::close(fd_);
    }
    OpenCounter(const OpenCounter&) = delete;
    OpenCounter& operator=(const OpenCounter&) = delete;

    // The opens since the last call.
    int take() {
        int opens = 0;
        alignas(inotify_event) char buffer[4096];
        for (ssize_t n; (n = ::read(fd_, buffer, sizeof buffer)) > 0;)
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if (event->mask & IN_OPEN) ++opens;
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        return opens;
    }

  private:
    int fd_;
};

InstallRequest requestFor(const std::string& archive) {
    const std::string name = text::extractFileName(archive);
    const std::vector<std::string> row = {
        "", "", name.substr(0, name.size() - 4), "", std::to_string(fsx::fileSize(archive)),
        "", ""};
    InstallRequest request;
    request.mission.currentGame = 2;
    request.mission.archivePath = archive;
    request.mission.missionFileMember = "miss20.mis";
    request.mission.missionNumber = 20;
    request.recordKey = RecordKey(row);
    request.selectionName = row[2];
    return request;
}

// The arguments the stand-in game recorded, once it has, and once it has ended (so that the
// next play does not find it running); empty after five seconds without them.
std::string awaitStandIn(const std::string& gameDir) {
    const std::string started = gameDir + "started";
    for (int i = 0; i < 500; ++i) {
        if (fsx::fileExists(started) && running::programsFrom(gameDir).empty()) {
            const std::vector<std::string> lines = textfile::readLines(started);
            std::remove(started.c_str());
            return lines.empty() ? "" : lines[0];
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return {};
}

// Runs the operation; false (having said why) when it failed or started nothing.
bool run(const InstallRequest& request, TZipArchiver& work, ProgressSink& progress) {
    const int starts = seen.starts;
    try {
        operations::install(request, work, progress);
    } catch (const std::exception& e) {
        std::string text = e.what();
        std::replace(text.begin(), text.end(), '\n', ' ');
        std::printf("error %s\n", text.c_str());
        return false;
    }
    if (seen.starts != starts + 1) {
        std::printf("error the game was not started\n");
        return false;
    }
    return true;
}

bool checkStart(const std::string& gameDir, const InstallRequest& request) {
    const std::string expected = "-fm=" + RecordedMissionFolder(programContext(), request).name;
    const std::string got = awaitStandIn(gameDir);
    if (got == expected) return true;
    std::printf("error the game was started with \"%s\", not \"%s\"\n", got.c_str(),
                expected.c_str());
    return false;
}

int install(const std::string& gameDir, const std::string& archive, TZipArchiver& work) {
    const InstallRequest request = requestFor(archive);
    PhaseProgress progress;
    const Clock::time_point start = Clock::now();
    if (!run(request, work, progress)) return 3;
    const Clock::time_point returned = Clock::now();
    if (!progress.extraction) {
        std::printf("error nothing was extracted\n");
        return 3;
    }
    // The folder's flushes: those after the extraction.
    Clock::time_point syncFrom = seen.started, syncTo = seen.started;
    double syncSeconds = 0;
    int syncs = 0;
    for (const auto& [from, to] : seen.syncs) {
        if (from < progress.lastExtracted) continue;
        syncFrom = syncs++ == 0 ? from : std::min(syncFrom, from);
        syncTo = syncs == 1 ? to : std::max(syncTo, to);
        syncSeconds += seconds(from, to);
    }
    const std::pair<const char*, Clock::time_point> phases[] = {
        {"before", start},
        {"extraction", *progress.extraction},
        {"conversion", progress.lastExtracted},
        {"sync", syncFrom},
        {"start", syncTo},
        {nullptr, seen.started}};
    for (size_t i = 0; phases[i].first; ++i)
        std::printf("phase %s %.3f\n", phases[i].first,
                    seconds(phases[i].second, phases[i + 1].second));
    if (progress.firstTrack)
        std::printf("phase first-track %.3f\n",
                    seconds(*progress.extraction, *progress.firstTrack));
    std::printf("syncs %d %.3f\n", syncs, syncSeconds);
    std::printf("total %.3f\nreturned %.3f\n", seconds(start, seen.started),
                seconds(start, returned));
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak %ld\n", usage.ru_maxrss);
    return checkStart(gameDir, request) ? 0 : 3;
}

int play(const std::string& gameDir, int count, const std::vector<std::string>& archives,
         TZipArchiver& work) {
    OpenCounter opens(archives);
    ProgressSink progress;
    for (int i = 0; i < count; ++i) {
        const std::string& archive = archives[static_cast<size_t>(i) % archives.size()];
        const InstallRequest request = requestFor(archive);
        if (!RecordedMissionFolder(programContext(), request).installed) {
            std::printf("error %s is not installed in its folder\n", archive.c_str());
            return 3;
        }
        opens.take();
        const Clock::time_point start = Clock::now();
        if (!run(request, work, progress)) return 3;
        const Clock::time_point returned = Clock::now();
        const int opened = opens.take();
        std::printf("play %s %.2f %.2f %d\n", text::extractFileName(archive).c_str(),
                    1000 * seconds(start, seen.started), 1000 * seconds(start, returned), opened);
        std::fflush(stdout);
        if (!checkStart(gameDir, request)) return 3;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string what = argc > 4 ? argv[4] : "";
    if (!(what == "install" && argc == 6) && !(what == "play" && argc >= 7)) {
        std::fprintf(stderr,
                     "usage: %s BIN_DIR WORK_DIR GAME_DIR install ARCHIVE\n"
                     "       %s BIN_DIR WORK_DIR GAME_DIR play COUNT ARCHIVE [ARCHIVE...]\n",
                     argv[0], argv[0]);
        return 2;
    }
    const std::string binDir = text::withTrailingDelim(argv[1]);
    const std::string gameDir = text::withTrailingDelim(argv[3]);
    openAppFiles(text::withTrailingDelim(argv[2]));
    app().exeDir = binDir;
    for (int n = 1; n <= kLanguageSlotCount; ++n) {
        std::string& text = app().languageSlots[static_cast<size_t>(n)];
        text = std::to_string(n);
        text.insert(text.begin(), '<');
        text.push_back('>');
    }
    app().thiefdata[2] = GameRecord{};
    app().thiefdata[2].gameDir = gameDir;
    app().thiefdata[2].language = 1;

    TZipArchiver work;
    work.AddCompLevel = 5;
    work.ExtrOptions = {ExtrOptsEnum::ExtrDirNames, ExtrOptsEnum::ExtrOverWrite};
    work.Unattended = true;
    work.SetDLLDirectory(binDir);
    if (!UsesMissionFolders(programContext(), 2)) {
        std::printf("error %s does not use mission folders\n", gameDir.c_str());
        return 3;
    }
    const int status = what == "install"
                           ? install(gameDir, argv[5], work)
                           : play(gameDir, std::atoi(argv[5]),
                                  std::vector<std::string>(argv + 6, argv + argc), work);
    closeAppFiles();
    return status;
}
