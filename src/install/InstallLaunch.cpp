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
#include "game/GameContext.h"
#include "game/GameDir.h"
#include "game/GameState.h"
#include "game/Games.h"
#include "game/InstallState.h"
#include "game/SelectedMission.h"
#include "install/FolderInstall.h"
#include "install/GameStart.h"
#include "install/InstallPlan.h"
#include "install/MissionFiles.h"
#include "install/MissionFlags.h"
#include "install/Mp3Conversion.h"
#include "install/SoundPlayer.h"
#include "install/Uninstall.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/Progress.h"
#include "platform/RunningPrograms.h"
#include "platform/Settings.h"
#include "platform/TextFile.h"
#include "platform/TextUtil.h"
#include "state/LanguageTable.h"

namespace {

const std::string kOriginal = kOriginalArchive;

std::string lowerExt(const std::string& name) {
    return text::lowerAscii(text::extractFileExt(name));
}

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
    if (!renamed.empty()) progress.notice(slot(84) + renamed, PromptIcon::Information);
    if (!stayed.empty()) {
        progress.notice(slot(86) + " " + legacy + stayed, PromptIcon::Warning);
        return;
    }
    if (!fsx::syncPath(saves) || !fsx::removeDirectory(legacy))
        throw EInOutError(slot(86) + " " + legacy);
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
    // The saved games go back to SAVES; what the archive keeps besides (the older versions,
    // a mission folder's screenshots) stays in it.
    std::vector<std::string> bare;
    for (const ZipDirEntry& e : work.Entries())
        if (e.FileName.find_first_of("\\/") == std::string::npos) bare.push_back(e.FileName);
    if (bare.empty()) return;
    progress.barPosition(0);
    progress.showBar(true);
    progress.processEvents();
    const std::string savesDir = gamedir::path(gameDir, gamedir::kSavesDir);
    work.FSpecArgs = bare;
    work.ExtrBaseDir = savesDir;
    fsx::crashPoint();
    {
        const fsx::KeepCurrentDirectory kept;
        work.Extract();
    }
    fsx::crashPoint();
    work.ExtrBaseDir = gameDir;
    // The mission is not played without all of them: they stay in the archive meanwhile.
    if (work.SuccessCount < static_cast<int>(bare.size()))
        throw EInOutError(slot(106) + " " + archive + "\n" + slot(23) + ": " + savesZip + "\n" +
                          std::to_string(work.SuccessCount) + " / " + std::to_string(bare.size()));
    std::vector<std::string> restored;
    for (const std::string& name : bare)
        restored.push_back(text::withTrailingDelim(savesDir) + name);
    if (!fsx::syncBelow(savesDir, restored)) throw EInOutError(slot(81) + " " + savesZip);
    progress.showBar(false);
    progress.status("");
    progress.processEvents();
}

// Step 1: the language whose files the mission's language folders give: the one chosen
// when the mission offers languages, else the game's own; empty when there is none.
std::string effectiveLanguage(const InstallRequest& request, const GameRecord& record) {
    unsigned language = record.language;
    if (!request.languageItems.empty())
        for (unsigned i = 1; i <= 4; ++i)
            if (request.selectedLanguage == languageNames[i]) language = i;
    return language >= 1 && language <= 4 ? languageNames[language] : "";
}

// Step 5: backs up the game files the mission replaces. A game file still in place was not
// stored in the backup archive (a full disk, a file that cannot be read): the install stops
// there, before anything is extracted, rather than overwrite it or go on without the
// mission's file.
void backUpReplacedFiles(Operation& op, const std::vector<PlannedMember>& plan,
                         const FlagsPlan& flags) {
    TZipArchiver& work = op.work;
    const std::string backupZip = gamedir::path(op.gameDir, gamedir::kBackupZip);
    work.SetZipFileName(backupZip);
    work.FSpecArgs.clear();
    work.AddOptions = {AddOptsEnum::AddDirNames, AddOptsEnum::AddMove};
    work.AddCompLevel = settings::get(&op.context.settings, settings::compressionLevel);
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
        work.RootDir = op.gameDir;
        work.FSpecArgs = backup;
        fsx::crashPoint();
        work.Add();
        fsx::crashPoint();
        work.RootDir.clear();
    }
    std::string notStored;
    for (const std::string& name : backup)
        if (fsx::fileExists(fsx::joinMember(op.gameDir, name))) notStored += "\n" + name;
    if (!notStored.empty())
        throw EInOutError(slot(106) + " " + op.request.mission.archivePath + "\n" + slot(108) +
                          "\n" + slot(28) + " " + backupZip + notStored);
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

// Steps 1 to 10 for a mission archive: puts its members into the game directory.
void installMission(Operation& op, Marker& marker, MissionArchive& archive) {
    const std::string& gameDir = op.gameDir;
    ProgressSink& progress = op.progress;
    const std::string language = effectiveLanguage(op.request, op.record());

    // 2.-3. What each member becomes. Every name is checked here, once, before anything is
    // planned; the members left out are reported together.
    progress.barPosition(0);
    progress.showBar(true);
    std::vector<PlannedMember> plan = planMembers(archive.members(), gameDir, language,
                                                  !op.request.languageItems.empty(), progress);

    // 4.-5.
    const FlagsPlan flags = flagsPlan(op.request.mission, gameDir);
    backUpReplacedFiles(op, plan, flags);
    const bool flagsFile = flags.write && !flags.linked;
    listPlannedFiles(marker, gameDir, plan, flagsFile, flags);

    // 6.-8.
    extractAndConvert(archive, progress, gameDir, plan, op.context.exeDir);

    // 9.-10.
    writeMissionFlags(gameDir, op.request.mission.missionFileMember, op.game, plan, flagsFile,
                      flags);
    // The saved games it brings are the saves archive's, not the marker's: they are made
    // lasting here, as the finished marker makes what it lists.
    std::vector<std::string> shipped;
    for (const PlannedMember& p : plan)
        if (p.savedGame) shipped.push_back(fsx::joinMember(gameDir, p.target));
    if (!fsx::syncBelow(gameDir, shipped)) throw EInOutError(slot(108) + " " + gameDir);
    progress.showBar(false);
    progress.status("");
    progress.processEvents();
}

// Makes the requested archive the installed one: the mission installed before and
// anything an interrupted operation left goes first. Throws OperationFailed when the game's
// own files could not all be brought back: nothing more is done then.
void installSelected(Operation& op, std::optional<Marker>& marker) {
    const std::string& archive = op.request.mission.archivePath;
    // The marker could not name such a file: nothing is changed.
    if (HasControlCharacter(archive))
        throw OperationFailed(slot(106) + " " + shownName(archive) + "\n" + slot(112));
    // A .7z or .rar mission whose member list cannot be read changes nothing.
    const std::unique_ptr<MissionArchive> opened = openSelected(archive, op.request, op.work);
    UninstallMission(op.record(), settings::get(&op.context.settings, settings::compressionLevel),
                     op.work, op.progress);
    // 5. Until it is finished, the marker says that the install is not complete.
    marker.emplace(op.record());
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
}

// Steps 2 to 13.
void runOperation(Operation& op, std::optional<Marker>& marker, InstallOutcome& outcome) {
    if (!games::known(op.game)) return;
    GameRecord& record = op.record();
    op.gameDir = record.gameDir;

    // 2. Remember the selection.
    settings::set(op.context.settings, settings::lastSelection, op.request.selectionName);
    if (op.gameDir.empty()) return;

    // 3. Already installed: only what the marker says, and only when no operation in the
    // game directory was left unfinished.
    ReadInstalledState(record);
    const std::string& archive = op.request.mission.archivePath;
    outcome.refreshed = true;
    if (InterruptedOperation(op.gameDir) || !IsAlreadyInstalled(archive, record))
        installSelected(op, marker);

    // 12. Start.
    if (op.request.action == InstallAction::InstallOnly) return;
    if (op.request.action == InstallAction::Editor)
        startEditor(op);
    else
        startGame(op);
    outcome.started = true;
}

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

namespace {

void installAndLaunch(GameContext& context, const InstallRequest& request, TZipArchiver& work,
                      ProgressSink& progress, InstallOutcome& outcome) {
    const uint8_t game = request.mission.currentGame;
    // A mission of a game that plays missions from folders of their own; the game row
    // starts the game itself, without a mission.
    if (request.mission.archivePath != kOriginal && UsesMissionFolders(context, game))
        return InstallIntoMissionFolder(context, request, work, progress, outcome);
    // Nothing goes in or out while a program started from the game directory may still be
    // writing a saved game.
    refuseWhileRunning(games::known(game) ? context.games[game].gameDir : "");
    // 1. Busy state, ended however the operation ends.
    const BusyScope busyScope(progress);
    outcome.ran = true;
    Operation op{context, request, work, progress, game, {}, {}};
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
}

}  // namespace

InstallOutcome InstallAndLaunch(GameContext& context, const InstallRequest& request,
                                TZipArchiver& work, ProgressSink& progress) {
    InstallOutcome outcome;
    try {
        installAndLaunch(context, request, work, progress, outcome);
    } catch (const OperationFailed& failure) {
        outcome.failure = failure;
    } catch (...) {
        progress.status("");  // not the step it stopped in
        throw;
    }
    // The game can take seconds to appear, under Wine more.
    progress.status(!outcome.started                          ? ""
                    : request.action == InstallAction::Editor ? slot(182)
                                                              : slot(181));
    return outcome;
}

bool RecoverInterruptedOperations(GameContext& context, TZipArchiver& work,
                                  ProgressSink& progress) {
    bool recovered = false;
    for (const games::Game& known : games::all()) {
        const auto game = static_cast<uint8_t>(known.number);
        GameRecord& record = context.games[game];
        // A marker or archive being rewritten when the program was killed leaves its
        // temporary file also when the operation had not begun to change anything.
        RemoveTemporaryFiles(record.gameDir, {});
        if (!InterruptedOperation(record.gameDir)) continue;
        // Left for later while a program of the game directory runs.
        if (const auto busy = running::stillRunningFrom(record.gameDir)) {
            progress.notice(running::describe(slot(124), *busy) + "\n\n" + slot(125),
                            PromptIcon::Warning);
            continue;
        }
        progress.status(slot(87));
        progress.processEvents();
        InstallRequest request;
        request.mission.currentGame = game;
        request.mission.archivePath = kOriginal;
        Operation op{context, request, work, progress, game, record.gameDir, {}};
        std::optional<Marker> marker;
        try {
            installSelected(op, marker);
        } catch (const OperationFailed& failure) {
            progress.notice(failure.what(), failure.icon());
        }
        recovered = true;
    }
    if (RecoverMissionFolders(context)) recovered = true;
    progress.status("");
    return recovered;
}
