#include "install/MissionFiles.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "archive/ZipArchiver.h"
#include "game/ComponentProgress.h"
#include "game/GameDir.h"
#include "game/Games.h"
#include "game/MissionRecords.h"
#include "install/GameStart.h"
#include "install/MissionFlags.h"
#include "install/Mp3Conversion.h"
#include "install/SoundPlayer.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/Progress.h"
#include "platform/RunningPrograms.h"
#include "platform/TextFile.h"
#include "platform/TextUtil.h"
#include "state/LanguageTable.h"

namespace {

// The game whose program the operation's game directory holds; without one, the
// operation's game, whose start then fails with its own message.
const games::Game& gameIn(const Operation& op) {
    const games::Game* game = games::withProgramIn(op.gameDir);
    if (!game) game = games::find(op.game);
    return game ? *game : games::all().front();
}

const std::string kOriginal = kOriginalArchive;

bool isZip(const std::string& archive) {
    return readsAsZip(archive);
}

// Shows the extraction of the mission's members and hands each MP3 file to the converter
// as soon as it is in place, so decoding runs alongside the extraction. Members are
// announced one after the other and each is complete (or skipped) when the next is
// announced or the extraction ends.
class MissionExtraction final : public ExtractSink {
  public:
    // `mp3s`: member name as announced -> full path of its .mp3 file.
    MissionExtraction(ProgressSink& progress, Mp3Converter& converter,
                      std::map<std::string, std::string> mp3s)
        : progress_(progress), converter_(converter), waiting_(std::move(mp3s)) {}

    void member(const std::string& name, uint64_t /*size*/) override {
        complete(last_);
        last_ = name;
        progress_.status(fileStatus(slot(1), kExtractWordSlot, name));
        polled();
    }
    void progress(uint64_t done, uint64_t /*total*/) override {
        progress_.barPosition(static_cast<int64_t>(done));
        polled();
    }
    bool cancelled() override { return cancelled_; }

    // After the extraction: hands over every file not yet handed over.
    void finish() {
        complete(last_);
        for (const auto& entry : waiting_) converter_.add(entry.second);
        waiting_.clear();
    }
    // Whether the player cancelled during the extraction.
    bool wasCancelled() const { return cancelled_; }

    static std::string key(std::string name) {
        std::replace(name.begin(), name.end(), '/', '\\');
        return text::lowerAscii(name);
    }

  private:
    void polled() {
        converter_.poll();
        if (progress_.cancelled()) cancelled_ = true;
        progress_.processEvents();
    }
    void complete(const std::string& name) {
        const auto it = waiting_.find(key(name));
        if (it == waiting_.end() || !fsx::fileExists(it->second)) return;
        converter_.add(it->second);
        waiting_.erase(it);
    }

    ProgressSink& progress_;
    Mp3Converter& converter_;
    std::map<std::string, std::string> waiting_;
    std::string last_;
    bool cancelled_ = false;
};

// Whatever ends the extraction, the player cannot cancel any more.
class CancellableScope {
  public:
    explicit CancellableScope(ProgressSink& progress) : progress_(progress) {
        progress_.cancellable(true);
    }
    ~CancellableScope() { progress_.cancellable(false); }
    CancellableScope(const CancellableScope&) = delete;
    CancellableScope& operator=(const CancellableScope&) = delete;

  private:
    ProgressSink& progress_;
};

// The members a planned extraction takes, the bytes it and the conversion move on the bar,
// and the MP3 files converted where they are extracted (the others once moved).
struct ExtractionPlan {
    std::vector<std::string> members;
    int64_t extractionBytes = 0;
    int64_t mp3Bytes = 0;
    std::map<std::string, std::string> convertEarly;
    std::vector<std::string> convertLate;
};

ExtractionPlan extractionPlan(const std::string& gameDir, const std::vector<PlannedMember>& plan) {
    ExtractionPlan extraction;
    for (const PlannedMember& p : plan) {
        extraction.members.push_back(p.member);
        extraction.extractionBytes += static_cast<int64_t>(p.size);
        if (p.mp3.empty()) continue;
        extraction.mp3Bytes += static_cast<int64_t>(p.size);
        if (p.moveTarget.empty())
            extraction.convertEarly[MissionExtraction::key(p.member)] =
                gamedir::path(gameDir, p.mp3);
        else
            extraction.convertLate.push_back(gamedir::path(gameDir, p.mp3));
    }
    return extraction;
}

// Step 6: the planned members into the game directory. Throws when not all of them could be
// written or the player cancelled.
void extractMembers(MissionArchive& archive, const ExtractionPlan& extraction,
                    const std::string& gameDir, MissionExtraction& shown, ProgressSink& progress) {
    if (extraction.members.empty()) return;
    progress.barMaximum(extraction.extractionBytes + extraction.mp3Bytes);
    fsx::crashPoint();
    const ExtractResult result = archive.extract(extraction.members, gameDir, shown);
    fsx::crashPoint();
    const size_t wanted = extraction.members.size();
    if (result.status == ArchiveStatus::Cancelled || shown.wasCancelled())
        stopCancelled(archive.path());
    if (isZip(archive.path())) {
        // The component's count tells: its own message, if any, was shown already.
        if (result.extracted < static_cast<int>(wanted))
            stopIncomplete(archive.path(),
                           std::to_string(result.extracted) + " / " + std::to_string(wanted));
    } else if (result.status != ArchiveStatus::Ok) {
        stopIncomplete(archive.path(), (result.member.empty() ? "" : result.member + ": ") +
                                           unreadableText(result.status));
    }
}

void moveLanguageFiles(const std::string& gameDir, const std::vector<PlannedMember>& plan) {
    for (const PlannedMember& p : plan) {
        if (p.moveTarget.empty()) continue;
        const std::string from = fsx::resolve(fsx::joinMember(gameDir, p.member));
        const std::string to = fsx::joinMember(gameDir, p.moveTarget);
        // The install goes on only with every file where the game looks for it.
        if (!fsx::forceDirectories(to.substr(0, to.find_last_of(fsx::kPathDelim))) ||
            (fsx::fileExists(to) && !fsx::deleteFile(to)) || !fsx::moveFile(from, to))
            throw EInOutError(slot(108) + " " + to);
        // The folders it leaves empty go too, up to the game directory.
        const std::string top = text::withTrailingDelim(fsx::resolve(gameDir));
        std::string folder = from.substr(0, from.find_last_of(fsx::kPathDelim));
        while (folder.size() > top.size() && folder.compare(0, top.size(), top) == 0 &&
               fsx::removeDirectory(folder))
            folder = folder.substr(0, folder.find_last_of(fsx::kPathDelim));
    }
}

void appendLines(const std::string& path, const std::string& text) {
    std::FILE* file = std::fopen(fsx::resolve(path).c_str(), "ab");
    if (!file) throw EInOutError("Cannot write " + path);
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    if (std::fclose(file) != 0 || !written) throw EInOutError("Cannot write " + path);
}

}  // namespace

void refuseWhileRunning(const std::string& gameDir) {
    if (const auto busy = running::stillRunningFrom(gameDir))
        throw OperationFailed(running::describe(slot(124), *busy));
}

std::string unreadableText(const ArchiveStatus status) {
    switch (status) {
        case ArchiveStatus::Encrypted:
            return slot(101);
        case ArchiveStatus::Unsupported:
            return slot(102);
        case ArchiveStatus::NotArchive:
            return slot(103);
        case ArchiveStatus::WriteFailed:
            return slot(108);
        case ArchiveStatus::NotFound:
            return slot(36);
        default:
            return slot(100);
    }
}

// The mission's archive opened with its member list, a ZIP archive through a component of
// its own set up as `work` is; nothing for the original game. Throws when the list of a
// .7z or .rar archive cannot be read.
std::unique_ptr<MissionArchive> openSelected(const std::string& archive,
                                             const InstallRequest& request,
                                             const TZipArchiver& work) {
    if (archive == kOriginal) return nullptr;
    std::unique_ptr<MissionArchive> opened = openMissionArchive(archive, work, request.password);
    if (!isZip(archive) && opened->status() != ArchiveStatus::Ok)
        throw TmError(slot(106) + " " + archive + "\n" + unreadableText(opened->status()) +
                      (opened->detail().empty() ? "" : "\n" + opened->detail()));
    return opened;
}

// Stops an install whose extraction or conversion did not complete; the marker, already
// saved, names every planned file, so the next operation removes what came so far.
[[noreturn]] void stopIncomplete(const std::string& archive, const std::string& why) {
    throw TmError(slot(106) + " " + archive + "\n" + why + "\n" + slot(109));
}

[[noreturn]] void stopCancelled(const std::string& archive) {
    throw InstallCancelled(slot(106) + " " + archive + "\n" + slot(107) + "\n" + slot(109));
}

// Steps 6 to 8: extracts the planned members and converts the MP3 files to WAV. A file that
// stays where it is extracted is converted as soon as it is in place, the others once step
// 7 has moved them; one bar covers both. Throws when not everything was extracted and
// converted, or when the player cancelled.
void extractAndConvert(MissionArchive& archive, ProgressSink& progress, const std::string& gameDir,
                       const std::vector<PlannedMember>& plan, const std::string& exeDir) {
    progress.barPosition(0);
    ExtractionPlan extraction = extractionPlan(gameDir, plan);
    const CancellableScope cancellable(progress);
    Mp3Converter converter(progress, exeDir);
    converter.cancelled = [&progress] { return progress.cancelled(); };
    {
        MissionExtraction shown(progress, converter, std::move(extraction.convertEarly));
        extractMembers(archive, extraction, gameDir, shown, progress);
        shown.finish();
    }

    // 7.
    moveLanguageFiles(gameDir, plan);

    // 8. The rest of the MP3 files.
    for (const std::string& mp3 : extraction.convertLate) converter.add(mp3);
    try {
        converter.finish();
    } catch (const ESoundPlayer& e) {
        // The sound player's own text, said of the install it stopped.
        stopIncomplete(archive.path(), e.what());
    }
    if (progress.cancelled()) stopCancelled(archive.path());
}

FlagsPlan flagsPlan(const SelectedMission& mission, const std::string& gameDir) {
    FlagsPlan flags;
    flags.write = !mission.missionFlagsPresent;
    flags.number = mission.missionNumber;
    if (!flags.write) return flags;
    flags.linked = throughLink(gameDir, gamedir::kMissFlagStr);
    if (!flags.linked) flags.replaced = existingRelative(gameDir, gamedir::kMissFlagStr);
    flags.numberedCopy = mission.missionNumber == 0;
    if (!flags.numberedCopy) return flags;
    auto taken = [&](unsigned number) {
        const std::string name = gamedir::missionFileName(static_cast<int>(number));
        return fsx::fileExists(gamedir::path(gameDir, name)) || throughLink(gameDir, name);
    };
    flags.number = 20;
    while (taken(flags.number))
        if (++flags.number > 255) throw TmError(slot(83) + " " + gameDir);
    return flags;
}

// Step 9: the flags file and the numbered copy of the mission file.
void writeMissionFlags(const std::string& gameDir, const std::string& missionFile, uint8_t game,
                       const std::vector<PlannedMember>& plan, bool flagsFile,
                       const FlagsPlan& flags) {
    if (flagsFile) {
        const std::string file = gamedir::path(gameDir, gamedir::kMissFlagStr);
        fsx::forceDirectories(file.substr(0, file.find_last_of(fsx::kPathDelim)));
        WriteMissionFlags(file, static_cast<uint8_t>(flags.number), game);
    }
    const auto planned = std::find_if(
        plan.begin(), plan.end(), [&](const PlannedMember& p) { return p.member == missionFile; });
    if (!flags.write || !flags.numberedCopy || planned == plan.end() ||
        !StaysInside(planned->target))
        return;
    const std::string copy =
        gamedir::path(gameDir, gamedir::missionFileName(static_cast<int>(flags.number)));
    if (!fsx::copyFile(gamedir::path(gameDir, planned->target), copy, false))
        throw EInOutError(slot(108) + " " + copy);
}

void startEditor(const Operation& op, const std::vector<std::string>& arguments) {
    const std::string& gameDir = op.gameDir;
    const SelectedMission& mission = op.request.mission;
    const std::string cfg = gamedir::path(gameDir, gameIn(op).editorConfig);
    const std::string line = gamedir::kEditorScriptLine;
    if (fsx::fileExists(cfg)) {
        bool present = false;
        for (const std::string& l : textfile::readLines(cfg)) present = present || l == line;
        if (!present) appendLines(cfg, std::string(gamedir::kLineEnd) + line + gamedir::kLineEnd);
    } else {
        textfile::writeLines(cfg, {line});
    }
    // A game row has no mission to load: its script stays empty rather than naming the
    // file of a mission analysed earlier.
    std::vector<std::string> script;
    if (mission.archivePath != kOriginal)
        script.push_back("load_file " + installedMissionFile(mission));
    // A line break in the name would add a line of its own to the script.
    for (const std::string& l : script)
        if (l.find_first_of("\r\n") != std::string::npos)
            throw EInOutError(slot(110) + " " + shownName(l));
    textfile::writeLines(gamedir::path(gameDir, gamedir::kEditorScript), script);
    const launcher::StartResult started =
        startFromGameDir(&op.context.settings, op.game, gameDir, gameIn(op).editorStart, arguments);
    if (!started) throw OperationFailed(startFailureMessage(slot(20), started), PromptIcon::None);
}

void startGame(const Operation& op, const std::vector<std::string>& arguments) {
    const games::Game& game = gameIn(op);
    const launcher::StartResult started =
        startFromGameDir(&op.context.settings, op.game, op.gameDir, game.program, arguments);
    if (!started)
        throw OperationFailed(startFailureMessage(slot(game.startFailureSlot), started),
                              PromptIcon::None);
    MissionStore(op.context.settings).setLastStart(op.request.recordKey, TodayDayNumber());
}
