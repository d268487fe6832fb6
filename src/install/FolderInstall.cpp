#include "install/FolderInstall.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <system_error>

#ifndef _WIN32
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
#include "game/MissionFolders.h"
#include "install/InstallPlan.h"
#include "install/MissionFiles.h"
#include "install/SavedGames.h"
#include "install/Uninstall.h"
#include "platform/Checksum.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/Progress.h"
#include "platform/RunningPrograms.h"
#include "platform/Settings.h"
#include "platform/TextUtil.h"
#include "state/LanguageTable.h"

namespace fs = std::filesystem;

namespace {

// What an install builds and a removal leaves in the mission path until it is done, beside
// the mission folders. The leading dot hides them; the game never lists them as missions.
constexpr const char* kInstallPrefix = ".tallowmere-install-";
constexpr const char* kRemovePrefix = ".tallowmere-remove-";
// Where the game keeps a mission's saved games and screenshots, in its folder.
constexpr const char* kSavesFolder = "saves";
constexpr const char* kScreenshotsFolder = "screenshots";

constexpr int kRootUnusableSlot = 130;
constexpr int kCamModUnreadableSlot = 131;
constexpr int kBadFolderNameSlot = 132;
constexpr int kSharedFolderSlot = 133;
constexpr int kArchiveChangedSlot = 134;
constexpr int kStoringSavesSlot = 135;
constexpr int kSavesUncheckedSlot = 136;
constexpr int kRemovingSlot = 137;
constexpr int kFolderHoldsOtherSlot = 138;
constexpr int kNotInstalledSlot = 139;

// A message and nothing else done: the operation ends here.
[[noreturn]] void refuse(int slotNumber, const std::string& detail) {
    throw OperationFailed(slot(slotNumber) + (detail.empty() ? "" : "\n" + detail));
}

// The mission path of a game directory, as the player can be told about it.
std::string rootOf(const std::string& gameDir) {
    try {
        return missionfolders::missionRoot(gameDir);
    } catch (const EInOutError& e) {
        refuse(kCamModUnreadableSlot, e.what());
    }
}

bool writable(const std::string& dir) {
#ifdef _WIN32
    (void)dir;
    return true;  // the folder being built tells
#else
    return ::access(dir.c_str(), W_OK | X_OK) == 0;
#endif
}

// The mission path, there and writable. Only the game's own default folder is made when it
// is missing: a path the player set that does not exist is a mistake the game would not
// accept either.
std::string usableRoot(const std::string& gameDir) {
    const std::string root = rootOf(gameDir);
    if (root.empty()) refuse(kRootUnusableSlot, missionfolders::fmPathSetting(gameDir));
    if (!fsx::directoryExists(root) && missionfolders::fmPathSetting(gameDir).empty())
        fsx::createDirectory(root);
    if (!fsx::directoryExists(root) || !writable(fsx::resolve(root)))
        refuse(kRootUnusableSlot, root);
    return root;
}

// The name of a record key without its archive size: the archive's row name.
std::string rowNameOf(const std::string& recordKey) {
    const size_t dot = recordKey.rfind('.');
    return dot == std::string::npos ? recordKey : recordKey.substr(0, dot);
}

// Deletes a folder of the program's own with everything in it; links are removed as links,
// never followed.
void removeTree(const std::string& path) {
    std::error_code ec;
    fsx::crashPoint();
    fs::remove_all(path, ec);
    fsx::crashPoint();
    if (ec) throw EInOutError(ec.message() + ": " + path);
}

// How the game keeps its saved games in a mission folder beside "saves".
savedgames::SlotFolders slotFoldersOf(uint8_t game) {
    const games::Game* known = games::find(game);
    if (!known) return {};
    return {known->saveSlotPrefix, known->saveSlotCount, known->saveFolders};
}

int compressionLevel(const IniFile& settings) {
    return settings::get(&settings, settings::compressionLevel);
}

// The mission of the request as its folder holds it.
missionfolders::FolderMission folderMission(const InstallRequest& request) {
    return {text::extractFileName(request.mission.archivePath),
            installedMissionFile(request.mission), request.mission.missionFileSize};
}

// The archive a mission's record came from: the file its record names (or, for a record of
// an earlier version, the archive of its name and size beside `sibling`); empty when it is
// not known.
std::string ownerArchive(const IniFile& settings, const std::string& ownerKey,
                         const std::string& sibling) {
    const std::string dir = sibling.substr(0, sibling.find_last_of(fsx::kPathDelim) + 1);
    const std::string recorded = missionfolders::recordedMission(settings, ownerKey).archiveName;
    if (!recorded.empty()) return dir + recorded;
    const std::string stem = rowNameOf(ownerKey);
    if (stem.size() >= ownerKey.size()) return {};
    const std::string size = ownerKey.substr(stem.size() + 1);
    for (const std::string& ext : missionArchiveExtensions())
        for (const std::string& name : fsx::namesLike(dir, stem + ext))
            if (std::to_string(fsx::fileSize64(dir + name)) == size) return dir + name;
    return {};
}

// Brings the mission's saved games and screenshots back from its saves archive into the
// folder being built: bare names into "saves", the rest where their names put them.
void restoreFolderSaves(const TZipArchiver& work, const std::string& gameDir,
                        const std::string& archivePath, const std::string& folder) {
    std::string savesZip = SavesArchivePath(gameDir, archivePath);
    const std::string earlier = EarlierSavesArchivePath(gameDir, archivePath);
    if (!fsx::fileExists(savesZip) && !earlier.empty() && fsx::fileExists(earlier))
        savesZip = earlier;
    if (!fsx::fileExists(savesZip)) return;
    std::unique_ptr<MissionArchive> saves = openMissionArchive(fsx::resolve(savesZip), work, "");
    std::vector<std::string> bare, placed;
    for (const ArchiveMember& m : saves->members()) {
        if (m.name.empty() || m.name.back() == '\\' || m.name.back() == '/') continue;
        if (m.name.find_first_of("\\/") == std::string::npos)
            bare.push_back(m.name);
        else if (StaysInside(m.name) && !savedgames::isOlderVersion(m.name))
            placed.push_back(m.name);
    }
    // The component's count tells, as for a mission's own ZIP archive; its warnings do not.
    ExtractSink quiet;
    const std::string savesDir = fsx::joinMember(text::withTrailingDelim(folder), kSavesFolder);
    for (const auto& [names, target] : {std::pair{&bare, savesDir}, std::pair{&placed, folder}}) {
        if (names->empty()) continue;
        if (!fsx::forceDirectories(target)) throw EInOutError(slot(108) + " " + target);
        fsx::crashPoint();
        const ExtractResult result = saves->extract(*names, target, quiet);
        fsx::crashPoint();
        if (result.extracted < static_cast<int>(names->size()))
            throw EInOutError(slot(81) + " " + savesZip + "\n" + std::to_string(result.extracted) +
                              " / " + std::to_string(names->size()));
    }
}

// Takes out a classic install still in the game directory (or an interrupted one), so that
// the game directory never holds both kinds. Throws OperationFailed when the game's own
// files could not all be brought back.
void takeOutClassicInstall(const Operation& op) {
    GameRecord& record = op.record();
    ReadInstalledState(record);
    if (record.installed == kOriginalArchive && !InterruptedOperation(op.gameDir)) return;
    UninstallMission(record, compressionLevel(op.context.settings), op.work, op.progress);
}

// A folder name free in the mission path and among the names given out, for the archive:
// its base name, else (another archive of the same name, in another format) the base name
// with the format's extension ("Foo_7z"), else a number.
std::string freeFolderName(const Operation& op, bool withExtension) {
    std::vector<std::string> taken = missionfolders::folderNamesIn(op.root);
    const std::vector<std::string> claimed =
        missionfolders::claimedFolders(op.context.settings, op.game);
    taken.insert(taken.end(), claimed.begin(), claimed.end());
    const std::string& archivePath = op.request.mission.archivePath;
    if (withExtension) {
        const std::string ext = missionArchiveExtension(text::extractFileName(archivePath));
        const std::string tagged = missionfolders::folderNameFor(
            archivePath.substr(0, archivePath.size() - ext.size()) + "_" +
                (ext.empty() ? std::string() : ext.substr(1)) + ext,
            taken);
        return tagged;
    }
    return missionfolders::folderNameFor(archivePath, taken);
}

// The folder name of the request's mission: the one its record keeps while that folder
// holds the mission or is free, else a new one (the base name when free or holding this
// very mission, left by another loader). Refuses names that are not safe. A name another
// archive's record holds is never shared: only a changed version of the same archive (same
// file name, another size, the old file gone) takes its folder over, when the player says
// so; nothing when the player says no.
std::optional<std::string> folderName(const Operation& op) {
    IniFile& store = op.context.settings;
    const std::string& key = op.request.recordKey;
    const missionfolders::FolderMission mission = folderMission(op.request);
    std::string name = missionfolders::recordedFolder(store, key);
    if (!name.empty()) {
        if (!missionfolders::validFolderName(name)) refuse(kBadFolderNameSlot, shownName(name));
        const std::string owner = missionfolders::folderOwner(store, op.game, name);
        if (!owner.empty() && owner != key) refuse(kSharedFolderSlot, op.root + name);
        const std::string path = op.root + name;
        if (!fsx::directoryExists(path) || missionfolders::holdsRecordedMission(path, mission))
            return name;
        // Another mission went into the folder meanwhile: this one gets a folder of its own.
        return freeFolderName(op, false);
    }
    const std::string base = missionfolders::folderNameFor(op.request.mission.archivePath, {});
    const std::string owner = missionfolders::folderOwner(store, op.game, base);
    const std::string path = op.root + base;
    if (owner.empty()) {
        if (!fsx::directoryExists(path) || missionfolders::holdsRecordedMission(path, mission))
            return base;  // free, or another loader's folder of this mission: used as it is
        return freeFolderName(op, false);
    }
    const std::string earlier = ownerArchive(store, owner, op.request.mission.archivePath);
    const bool sameArchive =
        earlier.empty() || fsx::sameName(text::extractFileName(earlier),
                                         text::extractFileName(op.request.mission.archivePath));
    if (!sameArchive ||
        !missionfolders::holdsRecordedMission(path, missionfolders::recordedMission(store, owner)))
        return freeFolderName(op, !sameArchive);
    // The same archive name with another size: the archive changed since it was
    // installed. Replaced only when the player says so; its saved games are kept.
    if (prompter().message(slot(kArchiveChangedSlot) + "\n" + path, PromptButtons::YesNo,
                           PromptIcon::Question) != PromptResult::Yes)
        return std::nullopt;
    return base;
}

// Stores the saved games and screenshots of an installed folder, reads them back from the
// saves archive and only then deletes the folder: first renamed out of the way (it no
// longer counts as installed), then removed.
void removeInstalledFolder(const Operation& op, const std::string& name,
                           const std::string& archivePath) {
    const std::string folder = fsx::resolve(op.root + name);
    op.progress.status(slot(kRemovingSlot) + " " + folder);
    op.progress.processEvents();
    const std::string savesZip = fsx::resolve(SavesArchivePath(op.gameDir, archivePath));
    try {
        const savedgames::SlotFolders layout = slotFoldersOf(op.game);
        savedgames::store(op.work, savesZip, folder, savedgames::missionFolderSaves(folder, layout),
                          compressionLevel(op.context.settings), op.progress, layout);
    } catch (const EInOutError& e) {
        refuse(kSavesUncheckedSlot, e.what());
    }
    const std::string away = op.root + kRemovePrefix + name;
    if (fsx::pathExists(away)) removeTree(fsx::resolve(away));
    if (!fsx::moveFile(folder, away)) throw EInOutError(slot(kRemovingSlot) + " " + folder);
    fsx::syncPath(op.root);
    removeTree(fsx::resolve(away));
    fsx::syncPath(op.root);
    op.progress.status("");
}

// Extracts the mission into a folder of the program's own in the mission path, converts its
// tracks, gives a Thief mission a flags file when it has none and brings back its saved games; then
// renames the complete folder into place. Whatever stops it removes the half-built folder.
void extractIntoFolder(const Operation& op, MissionArchive& archive, const std::string& name) {
    const std::string building = op.root + kInstallPrefix + name;
    if (fsx::pathExists(building)) removeTree(fsx::resolve(building));
    if (!fsx::createDirectory(building)) refuse(kRootUnusableSlot, op.root);
    const std::string dir = text::withTrailingDelim(fsx::resolve(building));
    try {
        op.progress.barPosition(0);
        op.progress.showBar(true);
        const std::vector<PlannedMember> plan =
            planMembers(archive.members(), dir, "", false, op.progress);
        extractAndConvert(archive, op.progress, dir, plan, op.context.exeDir);
        // A game that plays missions only from their folders needs no Thief flags file.
        const games::Game* known = games::find(op.game);
        if (known && !known->foldersOnly) {
            const FlagsPlan flags = flagsPlan(op.request.mission, dir);
            fsx::crashPoint();
            writeMissionFlags(dir, op.request.mission.missionFileMember, op.game, plan,
                              flags.write && !flags.linked, flags);
            fsx::crashPoint();
        }
        restoreFolderSaves(op.work, op.gameDir, op.request.mission.archivePath, dir);
        // A folder that may not all be on the disk never counts as installed.
        if (!fsx::syncTree(dir)) throw EInOutError(slot(108) + " " + op.root + name);
        if (fsx::pathExists(op.root + name)) refuse(kFolderHoldsOtherSlot, op.root + name);
        if (!fsx::moveFile(fsx::resolve(building), op.root + name))
            throw EInOutError(slot(108) + " " + op.root + name);
        fsx::syncPath(op.root);
    } catch (...) {
        std::error_code ec;
        fs::remove_all(fsx::resolve(building), ec);
        throw;
    }
    op.progress.showBar(false);
    op.progress.status("");
}

// Starts the game or DromEd with the mission's folder, as the request asks.
void start(const Operation& op, const std::string& name, InstallOutcome& outcome) {
    const std::vector<std::string> arguments = {"-fm=" + name};
    if (op.request.action == InstallAction::InstallOnly) return;
    if (op.request.action == InstallAction::Editor)
        startEditor(op, arguments);
    else
        startGame(op, arguments);
    outcome.started = true;
}

// Installs the mission unless it is in its folder already, then starts it.
void installAndStart(Operation& op, InstallOutcome& outcome) {
    // The row's date (a start) or its installed mark may change.
    outcome.refreshed = true;
    const MissionFolder recorded = RecordedMissionFolder(op.context, op.request);
    if (recorded.installed) {
        takeOutClassicInstall(op);
        start(op, recorded.name, outcome);
        return;
    }
    op.root = usableRoot(op.gameDir);
    const std::unique_ptr<MissionArchive> archive =
        openSelected(op.request.mission.archivePath, op.request, op.work);
    if (!archive) return;
    InstallRequest sized = op.request;
    for (const ArchiveMember& m : archive->members())
        if (m.name == sized.mission.missionFileMember) sized.mission.missionFileSize = m.size;
    sized.mission.memberRoot = MemberRoot(archive->members());
    Operation sizedOp{op.context, sized, op.work, op.progress, op.game, op.gameDir, op.root};
    const std::optional<std::string> chosen = folderName(sizedOp);
    if (!chosen) return;
    const std::string& name = *chosen;
    IniFile& store = op.context.settings;
    const std::string owner = missionfolders::folderOwner(store, op.game, name);
    takeOutClassicInstall(op);
    const std::string folder = op.root + name;
    const missionfolders::FolderMission mission = folderMission(sized);
    if (!owner.empty() && owner != op.request.recordKey && fsx::directoryExists(folder)) {
        // The changed archive replaces the folder of its earlier version, saves kept.
        const std::string earlier = ownerArchive(store, owner, op.request.mission.archivePath);
        removeInstalledFolder(op, name, earlier.empty() ? op.request.mission.archivePath : earlier);
        missionfolders::forgetRecordedFolder(store, owner);
    } else if (fsx::directoryExists(folder) &&
               !missionfolders::holdsRecordedMission(folder, mission)) {
        refuse(kFolderHoldsOtherSlot, folder);
    }
    missionfolders::claimFolder(store, op.game, name, op.request.recordKey, mission);
    if (!fsx::directoryExists(folder)) extractIntoFolder(sizedOp, *archive, name);
    start(op, name, outcome);
}

}  // namespace

bool UsesMissionFolders(const GameContext& context, uint8_t game) {
    if (!games::known(game)) return false;
    return missionfolders::enabled(&context.settings, game, context.games[game].gameDir);
}

MissionFolder RecordedMissionFolder(const GameContext& context, const InstallRequest& request) {
    MissionFolder folder;
    const uint8_t game = request.mission.currentGame;
    if (!games::known(game)) return folder;
    const IniFile& settings = context.settings;
    const std::string& gameDir = context.games[game].gameDir;
    const std::string name = missionfolders::recordedFolder(settings, request.recordKey);
    if (gameDir.empty() || !missionfolders::validFolderName(name)) return folder;
    try {
        folder.root = missionfolders::missionRoot(gameDir);
    } catch (const EInOutError&) {
        return folder;
    }
    if (folder.root.empty()) return folder;
    // A name another mission's record owns is not this mission's.
    const std::string owner = missionfolders::folderOwner(settings, game, name);
    if (!owner.empty() && owner != request.recordKey) return folder;
    folder.name = name;
    missionfolders::FolderMission mission =
        missionfolders::recordedMission(settings, request.recordKey);
    if (!request.mission.missionFileMember.empty()) {
        const std::string missionFile = installedMissionFile(request.mission);
        if (!StaysInside(missionFile)) return folder;
        if (request.mission.missionFileSize != 0 || mission.missionFile.empty())
            mission.missionSize = request.mission.missionFileSize;
        mission.missionFile = missionFile;
    }
    folder.installed = !mission.missionFile.empty() &&
                       (mission.missionSize != 0
                            ? missionfolders::holdsMission(folder.root + name, mission.missionFile,
                                                           mission.missionSize)
                            : fsx::fileExists(fsx::joinMember(folder.root + name + fsx::kPathDelim,
                                                              mission.missionFile)));
    return folder;
}

void InstallIntoMissionFolder(GameContext& context, const InstallRequest& request,
                              TZipArchiver& work, ProgressSink& progress, InstallOutcome& outcome) {
    const uint8_t game = request.mission.currentGame;
    if (!games::known(game) || context.games[game].gameDir.empty()) return;
    const std::string& gameDir = context.games[game].gameDir;
    refuseWhileRunning(gameDir);
    const BusyScope busyScope(progress);
    outcome.ran = true;
    settings::set(context.settings, settings::lastSelection, request.selectionName);
    Operation op{context, request, work, progress, game, gameDir, {}};
    installAndStart(op, outcome);
}

void RemoveMissionFolder(GameContext& context, const InstallRequest& request, TZipArchiver& work,
                         ProgressSink& progress) {
    const uint8_t game = request.mission.currentGame;
    const MissionFolder folder = RecordedMissionFolder(context, request);
    if (!folder.installed) throw OperationFailed(slot(kNotInstalledSlot), PromptIcon::Information);
    const std::string& gameDir = context.games[game].gameDir;
    refuseWhileRunning(gameDir);
    const BusyScope busyScope(progress);
    Operation op{context, request, work, progress, game, gameDir, folder.root};
    removeInstalledFolder(op, folder.name, request.mission.archivePath);
}

bool RecoverMissionFolders(GameContext& context) {
    bool recovered = false;
    for (const games::Game& known : games::all()) {
        const auto game = static_cast<uint8_t>(known.number);
        const std::string& gameDir = context.games[game].gameDir;
        if (gameDir.empty() || !UsesMissionFolders(context, game)) continue;
        std::string root;
        try {
            root = missionfolders::missionRoot(gameDir);
        } catch (const EInOutError&) {
            continue;
        }
        if (root.empty() || !fsx::directoryExists(root)) continue;
        // A half-built folder holds only copies; a folder being removed had its saved games
        // stored and checked before it was renamed.
        for (const fsx::DirEntry& e : fsx::listDirectory(root, "*")) {
            if (e.name.rfind(kInstallPrefix, 0) != 0 && e.name.rfind(kRemovePrefix, 0) != 0)
                continue;
            removeTree(fsx::resolve(root + e.name));
            fsx::syncPath(root);
            recovered = true;
        }
    }
    return recovered;
}

std::vector<std::string> OlderSavedGames(const GameContext& context, const InstallRequest& request,
                                         TZipArchiver& work) {
    const uint8_t game = request.mission.currentGame;
    if (!games::known(game) || context.games[game].gameDir.empty()) return {};
    const std::string savesZip =
        fsx::resolve(SavesArchivePath(context.games[game].gameDir, request.mission.archivePath));
    try {
        return savedgames::olderSavedGames(work, savesZip, slotFoldersOf(game));
    } catch (const EInOutError&) {
        return {};
    }
}

std::string BringBackSavedGame(GameContext& context, const InstallRequest& request,
                               const std::string& version, TZipArchiver& work,
                               ProgressSink& progress) {
    const uint8_t game = request.mission.currentGame;
    if (!games::known(game)) return {};
    GameRecord& record = context.games[game];
    if (record.gameDir.empty()) return {};
    refuseWhileRunning(record.gameDir);
    const BusyScope busyScope(progress);
    // Where the mission's saved games are now: its folder, the game's SAVES while it is the
    // classic install, else only its saves archive.
    std::string savesDir;
    const MissionFolder folder = RecordedMissionFolder(context, request);
    const savedgames::SlotFolders layout = slotFoldersOf(game);
    if (folder.installed) {
        // A game with slot folders keeps them right in the mission folder.
        savesDir =
            layout.prefix.empty() ? folder.path() + fsx::kPathDelim + kSavesFolder : folder.path();
    } else {
        ReadInstalledState(record);
        if (!UsesMissionFolders(context, game) && record.installed == request.mission.archivePath)
            savesDir = gamedir::path(record.gameDir, gamedir::kSavesDir);
    }
    return savedgames::bringBack(
        work, fsx::resolve(SavesArchivePath(record.gameDir, request.mission.archivePath)), version,
        savesDir.empty() ? std::string() : fsx::resolve(savesDir),
        compressionLevel(context.settings), progress, layout);
}
