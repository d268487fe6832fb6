#include "install/Uninstall.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>
#include <system_error>
#include <unordered_map>
#include <vector>

#include "archive/MissionArchive.h"
#include "archive/ZipArchiver.h"
#include "game/ComponentProgress.h"
#include "game/GameDir.h"
#include "game/InstallState.h"
#include "install/SavedGames.h"
#include "platform/Checksum.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/Progress.h"
#include "platform/TextFile.h"
#include "platform/TextUtil.h"
#include "state/GameRecord.h"
#include "state/LanguageTable.h"

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
constexpr const char* kNameSeparators = "\\/:";
#else
constexpr const char* kNameSeparators = "/";
#endif

bool isBlank(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

// Characters a Windows file name cannot hold (besides control characters).
constexpr const char* kWindowsForbidden = "<>:\"/\\|?*";
// What the writers of an archive add to its name for their temporary file
// (".tm" + 12 hexadecimal digits + ".tmp").
constexpr size_t kTemporarySuffixBytes = 19;

// 64-bit FNV-1a of the bytes, as 16 lower-case hexadecimal digits.
std::string hashText(const std::string& bytes) {
    uint64_t h = 14695981039346656037ull;
    for (const char c : bytes) {
        h ^= static_cast<unsigned char>(c);
        h *= 1099511628211ull;
    }
    char buf[17];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h));
    return buf;
}

bool endsInTag(const std::string& s) {
    if (s.size() < 17 || s[s.size() - 17] != '~') return false;
    return std::all_of(s.end() - 16, s.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// True for a mission file name whose saves archive keeps the name it has always had,
// ArchiveBaseName + "_saves.zip": a mission archive extension in lower case; no control
// character, no character Windows refuses, no leading blank; a stem that neither ends in a
// second mission archive extension ("X.7z.zip" beside "X.7z") nor is the original game's
// ("Original.zip") nor looks like a derived name; short enough for the name and its
// temporary name to fit.
bool ordinaryName(const std::string& file, const std::string& ext, const std::string& stem,
                  size_t suffixBytes) {
    if (ext != ".zip" && ext != ".7z" && ext != ".rar") return false;
    if (file.empty() || isBlank(file.front()) || HasControlCharacter(file)) return false;
    if (file.find_first_of(kWindowsForbidden) != std::string::npos) return false;
    const std::string core = file.substr(0, file.size() - ext.size());
    if (core.empty() || !missionArchiveExtension(core).empty()) return false;
    if (fsx::sameName(stem, "Original") || endsInTag(stem)) return false;
    return fsx::fitName(stem, suffixBytes + kTemporarySuffixBytes) == stem;
}

std::string upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

// The path with symbolic links and "." / ".." resolved, as far as it exists; empty when
// it cannot be worked out.
fs::path realPath(const fs::path& p) {
    std::error_code ec;
    fs::path r = fs::weakly_canonical(p, ec);
    if (ec) return {};
    // A trailing separator leaves an empty last element; drop it for comparisons.
    if (!r.empty() && r.filename().empty()) r = r.parent_path();
    return r;
}

// True when `p` lies below `dir` (not `dir` itself); both resolved.
bool isBelow(const fs::path& p, const fs::path& dir) {
    if (p.empty() || dir.empty()) return false;
    auto pi = p.begin();
    for (auto di = dir.begin(); di != dir.end(); ++di, ++pi)
        if (pi == p.end() || *pi != *di) return false;
    return pi != p.end();
}

// The game directory and the files of the program that live in it. A marker line may name
// any path; only paths below the game directory are ever deleted or removed, and never
// the program's own marker, backup archive or saves archives.
class GameDirGuard {
  public:
    explicit GameDirGuard(const std::string& gameDir)
        : root_(realPath(fs::path(fsx::resolve(gameDir)))),
          marker_(entryPath(gamedir::path(gameDir, gamedir::kMarker))),
          backup_(entryPath(gamedir::path(gameDir, gamedir::kBackupZip))),
          allSaves_(entryPath(gamedir::path(gameDir, gamedir::kAllSavesDir))) {}

    // May the file or folder at `path` (resolved without regard to case) be deleted?
    bool mayRemove(const std::string& path) const {
        if (path.empty() || !fs::path(path).is_absolute()) return false;
        const fs::path real = entryPath(path);
        if (!isBelow(real, root_)) return false;
        if (real == marker_ || real == backup_ || real == allSaves_) return false;
        return !isBelow(real, allSaves_);
    }

    // True when `path` is the game directory or one of the folders holding it: nothing
    // further up can be below the game directory.
    bool holdsGameDir(const std::string& path) const {
        const fs::path real = realPath(fs::path(path));
        return !real.empty() && (real == root_ || isBelow(root_, real));
    }

  private:
    // Where a directory entry really lives: its folder resolved, its own name kept, so that
    // a symbolic link stands for itself and not for its target. Each folder is worked out
    // once: the files of a mission share a few dozen folders.
    fs::path entryPath(const std::string& path) const {
        fs::path p(path);
        const fs::path name = p.filename();
        if (name.empty() || name == "." || name == "..") return realPath(p);
        const std::string parent = p.parent_path().string();
        auto it = folders_.find(parent);
        if (it == folders_.end()) it = folders_.emplace(parent, realPath(parent)).first;
        return it->second.empty() ? fs::path() : it->second / name;
    }

    mutable std::unordered_map<std::string, fs::path> folders_;  // before the paths using it
    fs::path root_, marker_, backup_, allSaves_;
};

bool isSymlink(const std::string& path) {
    std::error_code ec;
    return fs::is_symlink(fs::symlink_status(path, ec));
}

// Deletes the installed files listed from the third marker line on, then removes the
// folders that became empty, from each file's folder upwards.
void removeInstalledFiles(GameRecord& game, const std::vector<std::string>& lines) {
    if (lines.size() <= 2) return;
    const std::string& gameDir = game.gameDir;
    const GameDirGuard guard(gameDir);

    std::vector<std::string> removed;
    for (size_t i = 2; i < lines.size(); ++i) {
        const std::string p = fsx::resolve(lines[i]);
        if (!fsx::fileExists(p) && !isSymlink(p)) continue;
        if (!guard.mayRemove(p)) continue;
        // A link is removed as itself; its target's attributes stay untouched.
        if (!isSymlink(p)) fsx::clearAttributes(p);
        fsx::deleteFile(p);
        removed.push_back(p);
    }

    // Each folder on the way up from a listed file, looked at once, deepest first, so that
    // a folder is empty by the time its turn comes if everything in it went.
    std::set<std::string> folders;
    for (size_t i = 2; i < lines.size(); ++i) {
        std::string p = lines[i];
        while (folders.insert(p).second) {
            const size_t cut = p.find_last_of(fsx::kPathDelim);
            if (cut == std::string::npos) break;
            p.erase(cut);
            if (p.find(fsx::kPathDelim) == std::string::npos) break;
        }
    }
    std::vector<std::string> deepestFirst(folders.begin(), folders.end());
    const auto depth = [](const std::string& f) {
        return std::count(f.begin(), f.end(), fsx::kPathDelim);
    };
    std::stable_sort(
        deepestFirst.begin(), deepestFirst.end(),
        [&](const std::string& a, const std::string& b) { return depth(a) > depth(b); });
    for (const std::string& p : deepestFirst) {
        const std::string real = fsx::resolve(p);
        if (!fsx::directoryExists(real) || isSymlink(real) || guard.holdsGameDir(real)) continue;
        if (guard.mayRemove(real) && fsx::removeDirectory(real)) removed.push_back(real);
    }

    // The files are gone: the marker keeps only the installed archive. Were it to go on
    // listing them, an uninstall run again (after a crash or an install that ended
    // early) would delete the game's own files the backup brings back under the same names.
    // Their removal is made lasting first: a file a power cut brings back would otherwise be
    // listed nowhere and stay for good.
    if (!fsx::syncBelow(fsx::resolve(gameDir), removed))
        throw EInOutError(slot(108) + " " + gameDir);
    SaveMarkerLines(game, {lines[0], kUnfinished});
}

// The folders of the files a marker lists: where an interrupted extraction leaves its
// temporary files.
std::vector<std::string> listedFolders(const std::vector<std::string>& lines) {
    std::vector<std::string> folders;
    for (size_t i = 2; i < lines.size(); ++i) {
        const size_t cut = lines[i].find_last_of(fsx::kPathDelim);
        if (cut == std::string::npos) continue;
        const std::string folder = lines[i].substr(0, cut);
        if (folders.empty() || folders.back() != folder) folders.push_back(folder);
    }
    return folders;
}

bool savedGamesLeft(const std::string& savesDir) {
    for (const fsx::DirEntry& e : fsx::listDirectory(savesDir, gamedir::kSavesPattern))
        if (!e.isDirectory) return true;
    return false;
}

// Moves the saved games into the installed mission's saves archive: stored by the saved
// games' rule and read back, then deleted from SAVES. False when some of them are still in
// SAVES afterwards; throws EInOutError, having deleted none, when they could not be stored.
bool storeSavedGames(TZipArchiver& zip2, const std::string& gameDir, const std::string& installed,
                     int level, ProgressSink& progress) {
    progress.barPosition(0);
    progress.showBar(true);
    fsx::forceDirectories(gamedir::path(gameDir, gamedir::kAllSavesDir));
    const std::string savesZip = fsx::resolve(SavesArchivePath(gameDir, installed));
    const std::string savesDir = fsx::resolve(gamedir::path(gameDir, gamedir::kSavesDir));
    const std::vector<savedgames::SaveFile> files = savedgames::savesFolderSaves(savesDir);
    try {
        savedgames::store(zip2, savesZip, savesDir, files, level, progress);
    } catch (const EInOutError& e) {
        progress.showBar(false);
        throw EInOutError(slot(81) + " " + e.what());
    }
    for (const savedgames::SaveFile& f : files)
        fsx::deleteFile(text::withTrailingDelim(savesDir) + f.relativePath);
    if (!fsx::syncAll({savesDir})) throw EInOutError(slot(81) + " " + savesDir);

    progress.status("");
    progress.processEvents();
    progress.showBar(false);
    return !savedGamesLeft(savesDir);
}

// The folders the members of an archive extracted into the game directory go to.
std::vector<std::string> memberFolders(TZipArchiver& zip, const std::string& gameDir) {
    std::vector<std::string> folders;
    for (const ZipDirEntry& member : zip.Entries()) {
        const std::string file = gamedir::path(gameDir, member.FileName);
        const std::string folder = file.substr(0, file.find_last_of(fsx::kPathDelim));
        if (folders.empty() || folders.back() != folder) folders.push_back(folder);
    }
    return folders;
}

// Pushes the restored files and their folders to the disk, so that a power loss after the
// backup archive is deleted cannot leave them empty.
bool syncRestoredFiles(TZipArchiver& zip, const std::string& gameDir) {
    std::vector<std::string> files;
    for (const ZipDirEntry& member : zip.Entries())
        files.push_back(gamedir::path(gameDir, member.FileName));
    return fsx::syncBelow(gameDir, files);
}

// Brings the game's own files back from the backup archive and deletes it. Throws
// OperationFailed when the backup could not be completely restored: it stays.
void restoreGameFiles(TZipArchiver& zip, const std::string& gameDir, ProgressSink& progress) {
    const std::string backup = gamedir::path(gameDir, gamedir::kBackupZip);
    zip.SetZipFileName(backup);
    if (!fsx::fileExists(backup)) return;
    // A restore killed half-way leaves its temporary files beside the members.
    RemoveTemporaryFiles(gameDir, memberFolders(zip, gameDir));

    const ComponentProgress shown(zip, progress, slot(27), kExtractWordSlot);
    progress.barPosition(0);
    progress.showBar(true);
    progress.processEvents();
    const int members = zip.Count();
    zip.FSpecArgs = {"*.*"};
    zip.ExtrBaseDir = gameDir;
    zip.ExtrOptions.insert(ExtrOptsEnum::ExtrDirNames).insert(ExtrOptsEnum::ExtrOverWrite);
    fsx::crashPoint();
    {
        const fsx::KeepCurrentDirectory kept;
        zip.Extract();
    }
    fsx::crashPoint();
    const bool complete =
        members > 0 && zip.SuccessCount >= members && syncRestoredFiles(zip, gameDir);
    progress.showBar(false);
    progress.status("");
    progress.processEvents();

    // The backup holds the game's own files: it goes only once every one is back on disk.
    if (complete) {
        fsx::deleteFile(backup);
        return;
    }
    const std::string text = slot(85) + " " + std::to_string(zip.SuccessCount) + " / " +
                             std::to_string(members) + " - " + backup;
    progress.status(text);
    throw OperationFailed(text);
}

}  // namespace

std::string ArchiveBaseName(const std::string& path) {
    const size_t cut = path.find_last_of(kNameSeparators);
    std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
    size_t first = 0, last = name.size();
    while (first < last && isBlank(name[first])) ++first;
    while (last > first && isBlank(name[last - 1])) --last;
    name = name.substr(first, last - first);
    if (name.size() >= 4 && upper(name.substr(name.size() - 4)) == ".ZIP")
        name.resize(name.size() - 4);
    return name;
}

std::string SavesArchiveName(const std::string& installed) {
    static const std::string kSuffix = "_saves.zip";
    if (installed == " Original") return ArchiveBaseName(installed) + kSuffix;
    const size_t cut = installed.find_last_of(kNameSeparators);
    const std::string file = cut == std::string::npos ? installed : installed.substr(cut + 1);
    const std::string ext = text::extractFileExt(file);
    const std::string stem = ext == ".zip" ? file.substr(0, file.size() - ext.size()) : file;
    if (ordinaryName(file, ext, stem, kSuffix.size())) return ArchiveBaseName(installed) + kSuffix;

    // Anything else: the name made safe, cut to fit, and a hash of the exact file name that
    // keeps it apart from every other name.
    std::string safe;
    for (const char c : stem)
        safe += HasControlCharacter(std::string(1, c)) ||
                        std::string(kWindowsForbidden).find(c) != std::string::npos
                    ? '_'
                    : c;
    while (!safe.empty() && isBlank(safe.front())) safe.erase(0, 1);
    const std::string tag = "~" + hashText(file);
    safe = fsx::fitName(safe, tag.size() + kSuffix.size() + kTemporarySuffixBytes);
    while (!safe.empty() && (safe.back() == '.' || isBlank(safe.back()))) safe.pop_back();
    return safe + tag + kSuffix;
}

std::string SavesArchivePath(const std::string& gameDir, const std::string& installed) {
    return text::withTrailingDelim(gameDir) + gamedir::kAllSavesDir + fsx::kPathDelim +
           SavesArchiveName(installed);
}

std::string EarlierSavesArchivePath(const std::string& gameDir, const std::string& installed) {
    const size_t cut = installed.find_last_of(kNameSeparators);
    const std::string file = cut == std::string::npos ? installed : installed.substr(cut + 1);
    const std::string ext = text::extractFileExt(file);
    const std::string lowerExt = text::lowerAscii(ext);
    if (ext == lowerExt) return {};
    const std::string lowered = file.substr(0, file.size() - ext.size()) + lowerExt;
    const std::string stem = lowerExt == ".zip" ? file.substr(0, file.size() - ext.size()) : file;
    if (!ordinaryName(lowered, lowerExt, stem, std::string("_saves.zip").size())) return {};
    // Beside an archive of the lower-case name that earlier name is that archive's.
    if (cut != std::string::npos)
        for (const std::string& sibling : fsx::namesLike(installed.substr(0, cut + 1), lowered))
            if (sibling != file) return {};
    return text::withTrailingDelim(gameDir) + gamedir::kAllSavesDir + fsx::kPathDelim +
           ArchiveBaseName(installed) + "_saves.zip";
}

void UninstallMission(GameRecord& game, int compressionLevel, TZipArchiver& work,
                      ProgressSink& progress) {
    progress.status(slot(26));
    progress.processEvents();

    // Without a game directory every name below would be relative to whatever folder is
    // current: nothing is touched then.
    if (game.gameDir.empty()) return;
    std::vector<std::string> lines = Marker::read(game.gameDir);
    const bool hasMarker = !lines.empty();
    if (hasMarker && lines.size() < 2) lines.resize(2);
    // The marker, not the record, tells which mission's saves these are.
    const std::string installed = hasMarker ? lines[0] : std::string(" Original");
    RemoveTemporaryFiles(game.gameDir, listedFolders(lines));

    // From here until a new marker is finished, the mission no longer counts as installed;
    // without a marker too, once the saved games start to leave SAVES.
    if (!hasMarker) lines = {installed, kUnfinished};
    if (!hasMarker || lines[1] != kUnfinished) {
        lines[1] = kUnfinished;
        SaveMarkerLines(game, lines);
    }
    // The player's saved games go first, before anything of the mission is removed; when
    // they cannot be stored nothing else happens.
    if (!storeSavedGames(work, game.gameDir, installed, compressionLevel, progress))
        throw EInOutError(slot(81) + " " + SavesArchivePath(game.gameDir, installed));
    if (hasMarker) removeInstalledFiles(game, lines);
    restoreGameFiles(work, game.gameDir, progress);
}
