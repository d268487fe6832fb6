#include "install/InstallLaunch.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <unordered_map>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include "archive/MissionArchive.h"
#include "archive/ZipArchiver.h"
#include "game/ComponentProgress.h"
#include "game/GameDir.h"
#include "game/GameState.h"
#include "game/InstallState.h"
#include "game/SelectedMission.h"
#include "install/GameStart.h"
#include "install/InstallPlan.h"
#include "install/MissionFlags.h"
#include "install/Mp3Conversion.h"
#include "install/SoundPlayer.h"
#include "install/Uninstall.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/Progress.h"
#include "platform/Prompter.h"
#include "platform/RunningPrograms.h"
#include "platform/TextFile.h"
#include "platform/TextUtil.h"
#include "state/AppState.h"

namespace {

const std::string kOriginal = " Original";

std::string lowerExt(const std::string& name) {
    return text::lowerAscii(text::extractFileExt(name));
}

// Makes a folder the process's current directory for the life of the object.
class CurrentDirectory {
  public:
    explicit CurrentDirectory(const std::string& dir) : saved_(fsx::currentDirectory()) {
        fsx::setCurrentDirectory(dir);
    }
    ~CurrentDirectory() { fsx::setCurrentDirectory(saved_); }
    CurrentDirectory(const CurrentDirectory&) = delete;
    CurrentDirectory& operator=(const CurrentDirectory&) = delete;

  private:
    std::string saved_;
};

// A name for a saved game that is free in SAVES: the first unused "game" + four digits.
std::string freeSaveName(const std::string& savesDir) {
    for (int n = 0;; ++n) {
        std::string digits = std::to_string(n);
        const std::string name =
            "game" + std::string(4 - std::min<size_t>(4, digits.size()), '0') + digits + ".sav";
        if (!fsx::pathExists(text::withTrailingDelim(savesDir) + name)) return name;
    }
}

int64_t modificationTime(const std::string& path) {
    const int32_t dos = fsx::fileAgeDos(path);
    return dos == -1 ? -1 : fsx::dosToUnix(static_cast<uint32_t>(dos));
}

// Moves one entry of the legacy folder into SAVES. Two saved games of the same name are
// both kept: the newer one under the name, the older one under a free slot name.
bool moveLegacyEntry(const std::string& from, const std::string& saves, const std::string& name,
                     std::string& renamed) {
    const std::string to = text::withTrailingDelim(saves) + name;
    if (!fsx::pathExists(to)) return fsx::moveFile(from, to);
    if (!fsx::fileExists(to) || !fsx::fileExists(from) || lowerExt(name) != ".sav") return false;
    const std::string free = text::withTrailingDelim(saves) + freeSaveName(saves);
    if (modificationTime(from) > modificationTime(to)) {
        if (!fsx::moveFile(to, free)) return false;
        renamed += "\n" + name + " -> " + text::extractFileName(free);
        return fsx::moveFile(from, to);
    }
    renamed += "\n" + name + " -> " + text::extractFileName(free);
    return fsx::moveFile(from, free);
}

void moveLegacySaves(const std::string& archive, const std::string& gameDir,
                     ProgressSink& progress) {
    const std::string legacy = archive + "SAVES";
    if (archive == kOriginal || !fsx::directoryExists(legacy)) return;
    progress.status(slot(23) + "...");
    progress.processEvents();
    const std::string saves = gamedir::path(gameDir, gamedir::kSavesDir);
    if (!fsx::directoryExists(saves)) fsx::createDirectory(saves);
    const std::string from = text::withTrailingDelim(fsx::resolve(legacy));
    std::string renamed, stayed;
    for (const fsx::DirEntry& e : fsx::listDirectory(legacy, "*"))
        if (!moveLegacyEntry(from + e.name, saves, e.name, renamed)) stayed += "\n" + e.name;
    if (!renamed.empty())
        prompter().message(slot(84) + renamed, PromptButtons::Ok, PromptIcon::Information);
    if (!stayed.empty()) {
        prompter().message(slot(86) + " " + legacy + stayed, PromptButtons::Ok,
                           PromptIcon::Warning);
        return;
    }
    fsx::syncPath(saves);
    if (!fsx::removeDirectory(legacy)) throw EInOutError(slot(86) + " " + legacy);
}

// Brings back the mission's saved games from its saves archive into SAVES, which holds no
// saved game at this point, and pushes them to the disk before the archive can be
// rewritten.
void restoreSavedGames(TZipArchiver& work, const std::string& archive, const std::string& gameDir,
                       ProgressSink& progress) {
    std::string savesZip = SavesArchivePath(gameDir, archive);
    const std::string earlier = EarlierSavesArchivePath(gameDir, archive);
    if (!fsx::fileExists(savesZip) && !earlier.empty() && fsx::fileExists(earlier))
        savesZip = earlier;
    if (!fsx::fileExists(savesZip)) return;
    const ComponentProgress shown(work, progress, slot(23) + ":", kExtractWordSlot);
    work.SetZipFileName(savesZip);
    progress.barPosition(0);
    progress.showBar(true);
    progress.processEvents();
    const std::string savesDir = gamedir::path(gameDir, gamedir::kSavesDir);
    work.FSpecArgs = {"*.*"};
    work.ExtrBaseDir = savesDir;
    fsx::crashPoint();
    work.Extract();
    fsx::crashPoint();
    work.ExtrBaseDir = gameDir;
    for (const ZipDirEntry& e : work.Entries())
        fsx::syncPath(text::withTrailingDelim(savesDir) + e.FileName);
    fsx::syncPath(savesDir);
    progress.showBar(false);
    progress.status("");
    progress.processEvents();
}

// The language file's words for why an archive cannot be read.
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

bool isZip(const std::string& archive) {
    return missionArchiveExtension(archive) == ".zip";
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
        stopIncomplete(archive.path(), slot(107));
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
        if (fsx::fileExists(to)) fsx::deleteFile(to);
        fsx::moveFile(from, to);
        const size_t cut = from.find_last_of(fsx::kPathDelim);
        if (cut != std::string::npos) fsx::removeDirectory(from.substr(0, cut));
    }
}

// Steps 6 to 8: extracts the planned members and converts the MP3 files to WAV. A file that
// stays where it is extracted is converted as soon as it is in place, the others once step
// 7 has moved them; one bar covers both. Throws when not everything was extracted and
// converted, or when the player cancelled.
void extractAndConvert(MissionArchive& archive, ProgressSink& progress, const std::string& gameDir,
                       const std::vector<PlannedMember>& plan) {
    progress.barPosition(0);
    ExtractionPlan extraction = extractionPlan(gameDir, plan);
    const CancellableScope cancellable(progress);
    Mp3Converter converter(progress);
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
    if (progress.cancelled()) stopIncomplete(archive.path(), slot(107));
}

// One run of the operation: the request, what it works with, and the game it concerns.
struct Operation {
    const InstallRequest& request;
    TZipArchiver& work;
    ProgressSink& progress;
    uint8_t game = 0;
    std::string gameDir;
};

// Step 1: the language whose files the mission's language folders give: the one chosen
// when the mission offers languages, else the game's own; empty when there is none.
std::string effectiveLanguage(const InstallRequest& request, const GameRecord& record) {
    unsigned language = record.language;
    if (!request.languageItems.empty())
        for (unsigned i = 1; i <= 4; ++i)
            if (request.selectedLanguage == languageNames[i]) language = i;
    return language >= 1 && language <= 4 ? languageNames[language] : "";
}

// Step 4: the mission number and the flags file the game needs when the mission brings no
// flags file. Neither file is ever written through a link: what lies behind it is not the
// game directory's, and the uninstall would not take it out again.
struct FlagsPlan {
    bool write = false;                   // the mission brings no flags file
    bool linked = false;                  // the flags file's name leads through a link
    std::optional<std::string> replaced;  // the game's flags file the new one replaces
    unsigned number = 0;                  // the mission number the flags file names
    bool numberedCopy = false;            // the mission file is copied to its number
};

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

// Step 5: backs up the game files the mission replaces. A game file still in place was not
// stored in the backup archive: the member that would overwrite it is left out, and the
// marker does not list it (the uninstall would delete the game's own file). Returns the
// names not stored.
std::set<std::string> backUpReplacedFiles(Operation& op, std::vector<PlannedMember>& plan,
                                          const FlagsPlan& flags) {
    TZipArchiver& work = op.work;
    work.SetZipFileName(gamedir::path(op.gameDir, gamedir::kBackupZip));
    work.FSpecArgs.clear();
    work.AddOptions = {AddOptsEnum::AddDirNames, AddOptsEnum::AddMove};
    work.AddCompLevel = app().settings->ReadInteger("options", "compression level", 5);
    std::vector<std::string> backup;
    std::set<std::string> seen;
    auto addBackup = [&](const std::string& name) {
        if (seen.insert(text::lowerAscii(name)).second) backup.push_back(name);
    };
    for (const PlannedMember& p : plan)
        for (const std::string& replaced : p.replaces) addBackup(replaced);
    if (flags.replaced) addBackup(*flags.replaced);
    if (!backup.empty()) {
        const ComponentProgress shown(work, op.progress, slot(28), kAddWordSlot);
        CurrentDirectory inGame(op.gameDir);
        work.FSpecArgs = backup;
        fsx::crashPoint();
        work.Add();
        fsx::crashPoint();
    }
    std::set<std::string> notStored;
    for (const std::string& name : backup)
        if (fsx::fileExists(fsx::joinMember(op.gameDir, name))) notStored.insert(name);
    std::erase_if(plan, [&](const PlannedMember& p) {
        for (const std::string& replaced : p.replaces)
            if (notStored.count(replaced)) return true;
        return false;
    });
    return notStored;
}

// The marker names every file before any of them is put there: also the extracted name of
// a file moved out of its language folder and the .mp3 of a .wav, which stay when the
// install is interrupted between the steps. Saved games are the saves archive's.
void listPlannedFiles(Marker& marker, const std::string& gameDir,
                      const std::vector<PlannedMember>& plan, bool flagsFile,
                      const FlagsPlan& flags) {
    for (const PlannedMember& p : plan) {
        if (p.savedGame) continue;
        if (!p.moveTarget.empty()) marker.add(fsx::joinMember(gameDir, p.member));
        if (!p.mp3.empty()) marker.add(fsx::joinMember(gameDir, p.mp3));
        marker.add(fsx::joinMember(gameDir, p.target));
    }
    if (flagsFile) marker.add(fsx::joinMember(gameDir, gamedir::kMissFlagStr));
    if (flags.write && flags.numberedCopy)
        marker.add(
            fsx::joinMember(gameDir, gamedir::missionFileName(static_cast<int>(flags.number))));
    marker.save();
}

// Step 9: the flags file and the numbered copy of the mission file.
void writeMissionFlags(const Operation& op, const std::vector<PlannedMember>& plan, bool flagsFile,
                       const FlagsPlan& flags) {
    const std::string& gameDir = op.gameDir;
    const std::string& missionFile = op.request.mission.missionFileMember;
    if (flagsFile) {
        const std::string file = gamedir::path(gameDir, gamedir::kMissFlagStr);
        fsx::forceDirectories(file.substr(0, file.find_last_of(fsx::kPathDelim)));
        WriteMissionFlags(file, static_cast<uint8_t>(flags.number), op.game);
    }
    const bool missionFilePlanned = std::any_of(
        plan.begin(), plan.end(), [&](const PlannedMember& p) { return p.member == missionFile; });
    if (flags.write && flags.numberedCopy && missionFilePlanned && StaysInside(missionFile))
        fsx::copyFile(
            gamedir::path(gameDir, missionFile),
            gamedir::path(gameDir, gamedir::missionFileName(static_cast<int>(flags.number))),
            false);
}

// Steps 1 to 10 for a mission archive: puts its members into the game directory.
void installMission(Operation& op, Marker& marker, MissionArchive& archive) {
    const std::string& gameDir = op.gameDir;
    ProgressSink& progress = op.progress;
    const std::string language = effectiveLanguage(op.request, app().thiefdata[op.game]);

    // 2.-3. What each member becomes. Every name is checked here, once, before anything is
    // planned; the members left out are reported together.
    progress.barPosition(0);
    progress.showBar(true);
    std::vector<PlannedMember> plan =
        planMembers(archive.members(), gameDir, language, !op.request.languageItems.empty());

    // 4.-5.
    const FlagsPlan flags = flagsPlan(op.request.mission, gameDir);
    const std::set<std::string> notStored = backUpReplacedFiles(op, plan, flags);
    const bool flagsFile =
        flags.write && !flags.linked && !(flags.replaced && notStored.count(*flags.replaced));
    listPlannedFiles(marker, gameDir, plan, flagsFile, flags);

    // 6.-8.
    extractAndConvert(archive, progress, gameDir, plan);

    // 9.-10.
    writeMissionFlags(op, plan, flagsFile, flags);
    progress.showBar(false);
    progress.status("");
    progress.processEvents();
}

void appendLines(const std::string& path, const std::string& text) {
    std::FILE* file = std::fopen(fsx::resolve(path).c_str(), "ab");
    if (!file) throw EInOutError("Cannot write " + path);
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    if (std::fclose(file) != 0 || !written) throw EInOutError("Cannot write " + path);
}

void startEditor(const std::string& gameDir, const SelectedMission& mission) {
    const std::string cfg = gamedir::path(gameDir, gamedir::kDromedCfg);
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
        script.push_back("load_file " + mission.missionFileMember);
    // A line break in the name would add a line of its own to the script.
    for (const std::string& l : script)
        if (l.find_first_of("\r\n") != std::string::npos)
            throw EInOutError(slot(110) + " " + shownName(l));
    textfile::writeLines(gamedir::path(gameDir, gamedir::kEditorScript), script);
    const launcher::StartResult started = startFromGameDir(gameDir, gamedir::kDromedStartExe);
    if (!started) prompter().message(startFailureMessage(slot(20), started));
}

void startGame(const std::string& gameDir, const std::string& recordKey) {
    const bool thief1 = fsx::fileExists(gamedir::path(gameDir, gamedir::kThiefExe));
    const launcher::StartResult started =
        startFromGameDir(gameDir, thief1 ? gamedir::kThiefExe : gamedir::kThief2Exe);
    if (started)
        app().settings->WriteInteger(recordKey, "date", TodayDayNumber());
    else
        prompter().message(startFailureMessage(slot(thief1 ? 21 : 22), started));
}

// Makes the requested archive the installed one: the mission installed before and
// anything an interrupted operation left goes first. False when the game's own files could
// not all be brought back: nothing more is done then.
bool installSelected(Operation& op, std::optional<Marker>& marker) {
    const std::string& archive = op.request.mission.archivePath;
    // The marker could not name such a file: nothing is changed.
    if (HasControlCharacter(archive)) {
        prompter().message(slot(106) + " " + shownName(archive) + "\n" + slot(112),
                           PromptButtons::Ok, PromptIcon::Warning);
        return false;
    }
    // A .7z or .rar mission whose member list cannot be read changes nothing.
    const std::unique_ptr<MissionArchive> opened = openSelected(archive, op.request, op.work);
    if (!UninstallMission(op.game, op.work, op.progress)) return false;
    // 5. Until it is finished, the marker says that the install is not complete.
    marker.emplace(app().thiefdata[op.game]);
    marker->begin(archive);
    // 6.-8. The saves archive first, then the legacy folder, so that a clash of names is
    // settled by keeping both copies.
    const std::string saves = gamedir::path(op.gameDir, gamedir::kSavesDir);
    if (!fsx::directoryExists(saves)) fsx::createDirectory(saves);
    restoreSavedGames(op.work, archive, op.gameDir, op.progress);
    moveLegacySaves(archive, op.gameDir, op.progress);
    // 9.-10.
    if (opened) installMission(op, *marker, *opened);
    // 11.
    marker->finish(std::to_string(fsx::fileSize(archive)));
    return true;
}

// Steps 2 to 13.
void runOperation(Operation& op, std::optional<Marker>& marker, InstallOutcome& outcome) {
    if (op.game < 1 || op.game > 2) return;
    GameRecord& record = app().thiefdata[op.game];
    op.gameDir = record.gameDir;

    // 2. Remember the selection.
    app().settings->WriteString("options", "last selection", op.request.selectionName);
    if (op.gameDir.empty()) return;

    // 3. Already installed: only what the marker says, and only when no operation in the
    // game directory was left unfinished.
    ReadInstalledState(record);
    const std::string& archive = op.request.mission.archivePath;
    outcome.refreshed = true;
    if (InterruptedOperation(op.gameDir) || !IsAlreadyInstalled(archive, record))
        if (!installSelected(op, marker)) return;

    // 12. Start.
    if (op.request.action == InstallAction::Editor)
        startEditor(op.gameDir, op.request.mission);
    else if (op.request.action == InstallAction::Play)
        startGame(op.gameDir, op.request.recordKey);
}

// The busy state for the life of the object; the bar goes when it ends, however it ends.
class BusyScope {
  public:
    explicit BusyScope(ProgressSink& progress) : progress_(progress) { progress_.busy(true); }
    ~BusyScope() {
        progress_.showBar(false);
        progress_.busy(false);
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

  private:
    ProgressSink& progress_;
};

}  // namespace

int32_t DayNumber(int year, unsigned month, unsigned day) {
    using namespace std::chrono;
    const sys_days d{std::chrono::year{year} / std::chrono::month{month} / std::chrono::day{day}};
    const sys_days epoch{std::chrono::year{1899} / December / 30};
    return static_cast<int32_t>((d - epoch).count());
}

int32_t TodayDayNumber() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    return DayNumber(local.tm_year + 1900, static_cast<unsigned>(local.tm_mon + 1),
                     static_cast<unsigned>(local.tm_mday));
}

InstallOutcome InstallAndLaunch(const InstallRequest& request, TZipArchiver& work,
                                ProgressSink& progress) {
    InstallOutcome outcome;
    // Nothing goes in or out while a program started from the game directory may still be
    // writing a saved game.
    const uint8_t game = request.mission.currentGame;
    const auto busy = running::stillRunningFrom(game <= 2 ? app().thiefdata[game].gameDir : "");
    if (busy) {
        prompter().message(running::describe(slot(124), *busy), PromptButtons::Ok,
                           PromptIcon::Warning);
        return outcome;
    }
    // 1. Busy state, ended however the operation ends.
    const BusyScope busyScope(progress);
    outcome.ran = true;
    Operation op{request, work, progress, game, {}};
    std::optional<Marker> marker;
    try {
        runOperation(op, marker, outcome);
    } catch (...) {
        // What the marker has gathered so far is kept, so that the uninstall finds it.
        try {
            if (marker && marker->pending()) marker->save();
        } catch (...) {
        }
        throw;
    }
    return outcome;
}

bool RecoverInterruptedOperations(TZipArchiver& work, ProgressSink& progress) {
    bool recovered = false;
    for (uint8_t game = 1; game <= 2; ++game) {
        GameRecord& record = app().thiefdata[game];
        // A marker or archive being rewritten when the program was killed leaves its
        // temporary file also when the operation had not begun to change anything.
        RemoveTemporaryFiles(record.gameDir, {});
        if (!InterruptedOperation(record.gameDir)) continue;
        // Left for later while a program of the game directory runs.
        if (const auto busy = running::stillRunningFrom(record.gameDir)) {
            prompter().message(running::describe(slot(124), *busy) + "\n\n" + slot(125),
                               PromptButtons::Ok, PromptIcon::Warning);
            continue;
        }
        progress.status(slot(87));
        progress.processEvents();
        InstallRequest request;
        request.mission.currentGame = game;
        request.mission.archivePath = kOriginal;
        Operation op{request, work, progress, game, record.gameDir};
        std::optional<Marker> marker;
        installSelected(op, marker);
        recovered = true;
    }
    progress.status("");
    return recovered;
}
