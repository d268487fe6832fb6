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
#include "game/GameDir.h"
#include "game/GameState.h"
#include "game/InstallState.h"
#include "game/MissionRecords.h"
#include "game/SelectedMission.h"
#include "install/GameStart.h"
#include "install/MissionFlags.h"
#include "install/Mp3Conversion.h"
#include "install/SoundPlayer.h"
#include "install/Uninstall.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"
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

std::string cell(const std::vector<std::string>& row, size_t col) {
    return col < row.size() ? row[col] : std::string();
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

// The name of an existing file of the game directory as stored on disk, relative to the
// game directory; nothing when there is no such file.
std::optional<std::string> existingRelative(const std::string& gameDir,
                                            const std::string& relative) {
    const std::string full = fsx::joinMember(gameDir, relative);
    if (!fsx::fileExists(full)) return std::nullopt;
    const std::string resolved = fsx::resolve(full);
    const std::string base = text::withTrailingDelim(fsx::resolve(gameDir));
    if (resolved.size() > base.size() && resolved.compare(0, base.size(), base) == 0)
        return resolved.substr(base.size());
    return fsx::joinMember("", relative);
}

// The selected archive. The component names a ZIP mission; a .7z or .rar mission, which
// it cannot read, leaves it without a name, and the selection names it.
std::string selectedArchive(const TZipArchiver& zip) {
    const std::string& path = selectedMission().archivePath;
    const std::string ext = missionArchiveExtension(path);
    if (zip.ZipFileName().empty() && !ext.empty() && ext != ".zip") return path;
    return zip.ZipFileName();
}

bool hasWildcard(const std::string& name) {
    return name.find_first_of("*?") != std::string::npos;
}

// True when a name relative to the game directory passes through a symbolic link on disk
// (a folder or the file itself): whatever lies behind a link is not the game directory's.
bool throughLink(const std::string& gameDir, const std::string& relative) {
    std::string path = text::withTrailingDelim(fsx::resolve(gameDir));
    for (const std::string& part : NameParts(relative)) {
        path = fsx::resolve(path + part);
        std::error_code ec;
        const std::filesystem::file_status st = std::filesystem::symlink_status(path, ec);
        if (std::filesystem::is_symlink(st)) return true;
        // Nothing below a name that does not exist can be a link.
        if (!std::filesystem::exists(st)) return false;
        path = text::withTrailingDelim(path);
    }
    return false;
}

// True when a name has no part but "." (or none at all): it names the folder it is joined
// to, never a file in it.
bool namesNothing(const std::string& name) {
    return NameParts(name).empty();
}

bool climbs(const std::string& name) {
    const std::vector<std::string> parts = NameParts(name);
    return std::find(parts.begin(), parts.end(), "..") != parts.end();
}

// The entries of the game directory's folders by folded name (fsx::foldKey), each folder
// listed once: the planner asks about every part of every member's name.
class FolderNames {
  public:
    // True when every part of `relative` (below `gameDir`) that exists on disk meets exactly
    // one entry, and one that the engines, which fold only ASCII letters, meet too: then
    // every reader and writer of the name reaches the same file.
    bool unambiguous(const std::string& gameDir, const std::string& relative) {
        std::string folder = text::withTrailingDelim(fsx::resolve(gameDir));
        for (const std::string& part : NameParts(relative)) {
            const std::vector<std::string>& like = entries(folder)[fsx::foldKey(part)];
            if (like.empty()) return true;  // nothing below a missing name exists
            if (like.size() > 1 || text::lowerAscii(like[0]) != text::lowerAscii(part))
                return false;
            folder = text::withTrailingDelim(folder + like[0]);
        }
        return true;
    }

  private:
    std::unordered_map<std::string, std::vector<std::string>>& entries(const std::string& dir) {
        auto it = folders_.find(dir);
        if (it != folders_.end()) return it->second;
        auto& byKey = folders_[dir];
        for (const fsx::DirEntry& e : fsx::listDirectory(dir, "*"))
            byKey[fsx::foldKey(e.name)].push_back(e.name);
        return byKey;
    }

    std::map<std::string, std::unordered_map<std::string, std::vector<std::string>>> folders_;
};

// A name as a message shows it: each control character as "?".
std::string shownName(std::string name) {
    for (char& c : name)
        if (HasControlCharacter(std::string(1, c))) c = '?';
    return name;
}

// One member the installation puts into the game directory.
struct PlannedMember {
    std::string member;                 // M, as listed
    std::string target;                 // T, where it ends up ("\" separators)
    uint64_t size = 0;                  // uncompressed
    std::string moveTarget;             // language-specific: where the extracted file is moved
    std::string mp3;                    // lower-case name of the .mp3 file to decode
    std::vector<std::string> replaces;  // existing game files it replaces (backup names)
    bool savedGame = false;             // a saved game of its own, put only into a free slot
};

// What a member becomes in the game directory; nothing for programs, libraries and names
// that would lead out of the game directory.
std::optional<PlannedMember> planMember(const ArchiveMember& e, const std::string& G,
                                        const std::string& L, bool languageChoice) {
    const std::string& M = e.name;
    const std::string ext = lowerExt(M);
    if (ext == ".exe" || ext == ".dll") return std::nullopt;
    // A name that climbs out of a folder could reach a game file the backup does not know.
    if (namesNothing(M) || !StaysInside(M) || hasWildcard(M) || climbs(M)) return std::nullopt;
    PlannedMember p;
    p.member = M;
    p.size = e.size;
    if (auto b = existingRelative(G, M)) p.replaces.push_back(*b);
    std::string T = M;
    const std::string lm = text::lowerAscii(M);
    const size_t at = L.empty() ? std::string::npos : lm.find("\\" + L + "\\");
    if (languageChoice && at != std::string::npos) {
        // The language folder that made it language-specific goes.
        T = lm.substr(0, at + 1) + lm.substr(at + L.size() + 2);
        p.moveTarget = T;
        if (auto b = existingRelative(G, T)) p.replaces.push_back(*b);
    }
    if (lowerExt(T) == ".mp3") {
        p.mp3 = text::lowerAscii(T);
        T = T.substr(0, T.size() - 4) + ".wav";
        if (auto b = existingRelative(G, T)) p.replaces.push_back(*b);
    }
    if (!StaysInside(T)) return std::nullopt;
    // A link in the game directory is never written through, nor its target backed up.
    if (throughLink(G, M) || throughLink(G, T)) return std::nullopt;
    p.target = T;
    return p;
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

void moveLegacySaves(const std::string& archive, const std::string& gameDir, const InstallUi& ui) {
    const std::string legacy = archive + "SAVES";
    if (archive == kOriginal || !fsx::directoryExists(legacy)) return;
    ui.status(slot(23) + "...");
    ui.paint();
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
void restoreSavedGames(TZipArchiver& zip, const std::string& archive, const std::string& gameDir,
                       const InstallUi& ui) {
    std::string savesZip = SavesArchivePath(gameDir, archive);
    const std::string earlier = EarlierSavesArchivePath(gameDir, archive);
    if (!fsx::fileExists(savesZip) && !earlier.empty() && fsx::fileExists(earlier))
        savesZip = earlier;
    zip.SetZipFileName(savesZip);
    if (fsx::fileExists(savesZip)) {
        ui.position(0);
        ui.progressShown(true);
        ui.operation(slot(23) + ":");
        ui.paint();
        const std::string savesDir = gamedir::path(gameDir, gamedir::kSavesDir);
        zip.FSpecArgs = {"*.*"};
        zip.ExtrBaseDir = savesDir;
        fsx::crashPoint();
        zip.Extract();
        fsx::crashPoint();
        zip.ExtrBaseDir = gameDir;
        for (const ZipDirEntry& e : zip.Entries())
            fsx::syncPath(text::withTrailingDelim(savesDir) + e.FileName);
        fsx::syncPath(savesDir);
        ui.progressShown(false);
        ui.status("");
        ui.paint();
    }
    pointComponentAt(zip, archive);
}

// The members of the selected archive: the component's directory for a ZIP mission.
std::vector<ArchiveMember> listMembers(const TZipArchiver& zip, const MissionArchive* other) {
    if (other) return other->members();
    std::vector<ArchiveMember> members;
    for (const ZipDirEntry& e : zip.Entries())
        members.push_back({e.FileName, e.UncompressedSize64, e.DateTime});
    return members;
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

// A .7z or .rar mission opened with its member list; nothing for a ZIP mission and the
// original game. Throws when the list cannot be read.
std::unique_ptr<MissionArchive> openOther(const std::string& archive) {
    const std::string ext = missionArchiveExtension(archive);
    if (ext.empty() || ext == ".zip") return nullptr;
    std::unique_ptr<MissionArchive> other = openMissionArchive(archive);
    if (other->status() != ArchiveStatus::Ok)
        throw TmError(slot(106) + " " + archive + "\n" + unreadableText(other->status()) +
                      (other->detail().empty() ? "" : "\n" + other->detail()));
    return other;
}

// Reports a .7z or .rar extraction to the window as the component reports its own (the
// status line and the bar follow its progress handler) and stops when it is cancelled.
class ComponentProgress final : public ExtractSink {
  public:
    ComponentProgress(TZipArchiver& zip, int64_t total) : zip_(zip) {
        zip_.Cancel = false;
        report(progTotalSize, "", total);
    }
    ~ComponentProgress() override { zip_.Cancel = false; }
    ComponentProgress(const ComponentProgress&) = delete;
    ComponentProgress& operator=(const ComponentProgress&) = delete;

    void member(const std::string& name, uint64_t size) override {
        report(progNewFile, name, static_cast<int64_t>(size));
    }
    void progress(uint64_t done, uint64_t /*total*/) override {
        report(progAdvance, "", static_cast<int64_t>(done - reported_));
        reported_ = done;
    }
    bool cancelled() override { return zip_.Cancel; }

  private:
    void report(ProgressType type, const std::string& name, int64_t size) {
        if (zip_.OnProgress) zip_.OnProgress(&zip_, type, name, size);
    }

    TZipArchiver& zip_;
    uint64_t reported_ = 0;
};

// Stops an install whose extraction or conversion did not complete; the marker, already
// saved, names every planned file, so the next operation removes what came so far.
[[noreturn]] void stopIncomplete(TZipArchiver& zip, const std::string& archive,
                                 const std::string& why) {
    zip.Cancel = false;
    throw TmError(slot(106) + " " + archive + "\n" + why + "\n" + slot(109));
}

// Extracts the planned members of a .7z or .rar mission into the game directory. Throws
// when not all of them could be written: the marker, already saved, names every one, so
// the next operation removes what came so far.
void extractOther(MissionArchive& other, const std::vector<std::string>& names, int64_t total,
                  const std::string& G, TZipArchiver& zip) {
    ExtractResult result;
    {
        ComponentProgress progress(zip, total);
        result = other.extract(names, G, progress);
    }
    if (result.status == ArchiveStatus::Ok) return;
    const std::string why =
        result.status == ArchiveStatus::Cancelled ? slot(107) : unreadableText(result.status);
    stopIncomplete(zip, other.path(), (result.member.empty() ? "" : result.member + ": ") + why);
}

// Hands each MP3 file to the converter as soon as the extraction has put it in place, so
// decoding runs alongside the extraction. Members are announced one after the other and
// each is complete (or skipped) when the next is announced or the batch ends; the
// component's progress handler is shared for the life of the object.
class ConvertAsExtracted {
  public:
    // `mp3s`: member name as announced -> full path of its .mp3 file.
    ConvertAsExtracted(TZipArchiver& zip, Mp3Converter& converter,
                       std::map<std::string, std::string> mp3s)
        : zip_(zip), converter_(converter), waiting_(std::move(mp3s)), saved_(zip.OnProgress) {
        zip_.OnProgress = [this](TZipArchiver* z, ProgressType type, const std::string& name,
                                 int64_t size) {
            if (saved_) saved_(z, type, name, size);
            if (type == progNewFile || type == progEndOfBatch) {
                complete(last_);
                last_ = type == progNewFile ? name : std::string();
            }
            converter_.poll();
            if (zip_.Cancel) cancelled_ = true;
        };
    }
    ~ConvertAsExtracted() { zip_.OnProgress = saved_; }
    ConvertAsExtracted(const ConvertAsExtracted&) = delete;
    ConvertAsExtracted& operator=(const ConvertAsExtracted&) = delete;

    // After the extraction: hands over every file not yet handed over.
    void finish() {
        complete(last_);
        for (const auto& entry : waiting_) converter_.add(entry.second);
        waiting_.clear();
    }

    // Whether a cancel was seen during the extraction: the component clears its flag when it
    // ends, and one that arrives after the last report shows only as members missing.
    bool cancelled() const { return cancelled_; }

    static std::string key(std::string name) {
        std::replace(name.begin(), name.end(), '/', '\\');
        return text::lowerAscii(name);
    }

  private:
    void complete(const std::string& name) {
        const auto it = waiting_.find(key(name));
        if (it == waiting_.end() || !fsx::fileExists(it->second)) return;
        converter_.add(it->second);
        waiting_.erase(it);
    }

    TZipArchiver& zip_;
    Mp3Converter& converter_;
    std::map<std::string, std::string> waiting_;
    const TProgressEvent saved_;
    std::string last_;
    bool cancelled_ = false;
};

// Step 7: each language-specific file from its language folder to where it stays.
void moveLanguageFiles(const std::string& G, const std::vector<PlannedMember>& plan) {
    for (const PlannedMember& p : plan) {
        if (p.moveTarget.empty()) continue;
        const std::string from = fsx::resolve(fsx::joinMember(G, p.member));
        const std::string to = fsx::joinMember(G, p.moveTarget);
        if (fsx::fileExists(to)) fsx::deleteFile(to);
        fsx::moveFile(from, to);
        const size_t cut = from.find_last_of(fsx::kPathDelim);
        if (cut != std::string::npos) fsx::removeDirectory(from.substr(0, cut));
    }
}

// Steps 6 and 8: extracts the planned members and converts the MP3 files to WAV. A file that
// stays where it is extracted is converted as soon as it is in place, the others once step
// 7 has moved them; one bar covers both. Throws when not everything was extracted and
// converted, or when the user cancelled.
void extractAndConvert(TZipArchiver& zip, const InstallUi& ui, const std::string& G,
                       const std::vector<PlannedMember>& plan, MissionArchive* other) {
    ui.position(0);
    ui.operation(slot(1));
    std::vector<std::string> extraction;
    int64_t extractionTotal = 0;
    int64_t mp3Total = 0;
    std::map<std::string, std::string> convertEarly;
    std::vector<std::string> convertLate;
    for (const PlannedMember& p : plan) {
        extraction.push_back(p.member);
        extractionTotal += static_cast<int64_t>(p.size);
        if (p.mp3.empty()) continue;
        mp3Total += static_cast<int64_t>(p.size);
        if (p.moveTarget.empty())
            convertEarly[ConvertAsExtracted::key(p.member)] = gamedir::path(G, p.mp3);
        else
            convertLate.push_back(gamedir::path(G, p.mp3));
    }
    ui.extractionTotal(extractionTotal + mp3Total);
    struct CancellableScope {
        const InstallUi& ui;
        explicit CancellableScope(const InstallUi& u) : ui(u) { ui.cancellable(true); }
        ~CancellableScope() { ui.cancellable(false); }
        CancellableScope(const CancellableScope&) = delete;
        CancellableScope& operator=(const CancellableScope&) = delete;
    } cancellable(ui);
    Mp3Converter converter(ui);
    converter.cancelled = [&zip] { return zip.Cancel; };
    {
        ConvertAsExtracted early(zip, converter, std::move(convertEarly));
        if (!extraction.empty() && other) {
            fsx::crashPoint();
            extractOther(*other, extraction, extractionTotal + mp3Total, G, zip);
            fsx::crashPoint();
        } else if (!extraction.empty()) {
            zip.FSpecArgs = extraction;
            zip.ExtrBaseDir = G;
            zip.ExtrOptions.insert(ExtrOptsEnum::ExtrDirNames).insert(ExtrOptsEnum::ExtrOverWrite);
            fsx::crashPoint();
            zip.Extract();
            fsx::crashPoint();
            if (early.cancelled()) stopIncomplete(zip, zip.ZipFileName(), slot(107));
            if (zip.SuccessCount < static_cast<int>(extraction.size()))
                stopIncomplete(
                    zip, zip.ZipFileName(),
                    std::to_string(zip.SuccessCount) + " / " + std::to_string(extraction.size()));
        }
        early.finish();
    }
    ui.extractionTotal(0);

    // 7.
    moveLanguageFiles(G, plan);

    // 8. The rest of the MP3 files.
    for (const std::string& mp3 : convertLate) converter.add(mp3);
    const std::string archive = other ? other->path() : zip.ZipFileName();
    try {
        converter.finish();
    } catch (const ESoundPlayer& e) {
        // The sound player's own text, said of the install it stopped.
        stopIncomplete(zip, archive, e.what());
    }
    if (zip.Cancel) stopIncomplete(zip, archive, slot(107));
}

// Every name a planned member puts into the game directory or backs up.
std::vector<std::string> namesOf(const PlannedMember& p) {
    std::vector<std::string> names = {p.member, p.target};
    if (!p.moveTarget.empty()) names.push_back(p.moveTarget);
    if (!p.mp3.empty()) names.push_back(p.mp3);
    names.insert(names.end(), p.replaces.begin(), p.replaces.end());
    return names;
}

// True for a saved game the engines, which fold only ASCII letters, also take for one.
bool plainSavedGame(std::string name) {
    std::replace(name.begin(), name.end(), '/', '\\');
    name = text::lowerAscii(name);
    const std::string saves = text::lowerAscii(gamedir::kSavesDir) + "\\";
    return name.compare(0, saves.size(), saves) == 0 && lowerExt(name) == ".sav";
}

// Step 3: what each member becomes. Left out, and reported once: members whose names hold
// a control character (they could not be listed in the marker), members that would land
// on the program's own files, and members whose names meet several entries on disk that
// differ only in case, or meet one only by a folding the engines do not share (the backup
// and its restore could then reach another file than the one replaced).
std::vector<PlannedMember> planMembers(const std::vector<ArchiveMember>& members,
                                       const std::string& G, const std::string& L,
                                       bool languageChoice) {
    std::vector<PlannedMember> plan;
    std::string controlNames, ownNames, caseNames;
    FolderNames onDisk;
    for (const ArchiveMember& e : members) {
        if (HasControlCharacter(e.name)) {
            controlNames.append("\n").append(shownName(e.name));
            continue;
        }
        std::optional<PlannedMember> p = planMember(e, G, L, languageChoice);
        if (!p) continue;
        const std::vector<std::string> names = namesOf(*p);
        // Never over the program's own files: the backup archive, the marker, the saves.
        if (std::any_of(names.begin(), names.end(), IsOwnFile)) {
            ownNames += "\n" + p->member;
            continue;
        }
        const bool savedGame = IsSavedGame(p->target);
        if ((savedGame && !plainSavedGame(p->target)) ||
            !std::all_of(names.begin(), names.end(),
                         [&](const std::string& n) { return onDisk.unambiguous(G, n); })) {
            caseNames += "\n" + p->member;
            continue;
        }
        // A saved game the mission brings joins the player's saves, never replacing one.
        if (savedGame) {
            if (!p->replaces.empty()) continue;
            p->savedGame = true;
        }
        plan.push_back(std::move(*p));
    }
    std::string text;
    for (const auto& [slotNumber, names] :
         {std::pair{82, ownNames}, std::pair{110, controlNames}, std::pair{111, caseNames}})
        if (!names.empty()) text += (text.empty() ? "" : "\n\n") + slot(slotNumber) + names;
    if (!text.empty()) prompter().message(text, PromptButtons::Ok, PromptIcon::Warning);
    return plan;
}

void installMission(InstallContext& ctx, const std::string& G, uint8_t game, Marker& marker,
                    MissionArchive* other) {
    TZipArchiver& zip = ctx.Zip;
    TZipArchiver& zip2 = ctx.Zip2;
    const InstallUi& ui = ctx.ui;
    const SelectedMission& sel = selectedMission();
    const GameRecord& rec = app().thiefdata[game];

    // 1. Effective language.
    unsigned lang = rec.language;
    if (!ctx.languageItems.empty())
        for (unsigned i = 1; i <= 4; ++i)
            if (ctx.selectedLanguage == languageNames[i]) lang = i;
    const std::string L = lang >= 1 && lang <= 4 ? languageNames[lang] : "";

    // 2. Prepare.
    ui.position(0);
    ui.extractionTotal(0);
    ui.progressShown(true);
    zip.FSpecArgs.clear();
    zip.Cancel = false;
    zip2.FSpecArgs.clear();
    zip2.SetZipFileName(gamedir::path(G, gamedir::kBackupZip));

    // 3. What each member becomes. Every name is checked here, once, before anything is
    // planned; the members left out are reported together.
    std::vector<PlannedMember> plan =
        planMembers(listMembers(zip, other), G, L, !ctx.languageItems.empty());
    int64_t extractionTotal = 0;
    for (const PlannedMember& p : plan) extractionTotal += static_cast<int64_t>(p.size);
    ui.extractionTotal(extractionTotal);

    // 4. Mission number and flags file.
    // Neither file is ever written through a link: what lies behind it is not the game
    // directory's, and the uninstall would not take it out again.
    const bool writeFlags = !sel.missionFlagsPresent;
    const bool flagsLinked = writeFlags && throughLink(G, gamedir::kMissFlagStr);
    std::optional<std::string> flagsReplaced;
    unsigned N = sel.missionNumber;
    if (writeFlags) {
        if (!flagsLinked) flagsReplaced = existingRelative(G, gamedir::kMissFlagStr);
        if (N == 0) {
            N = 20;
            auto taken = [&](unsigned n) {
                const std::string name = gamedir::missionFileName(static_cast<int>(n));
                return fsx::fileExists(gamedir::path(G, name)) || throughLink(G, name);
            };
            while (taken(N))
                if (++N > 255) throw TmError(slot(83) + " " + G);
        }
    }

    // 5. Back up the game files the mission replaces.
    zip2.AddOptions = {AddOptsEnum::AddDirNames, AddOptsEnum::AddMove};
    zip2.AddCompLevel = app().settings->ReadInteger("options", "compression level", 5);
    ui.operation(slot(28));
    std::vector<std::string> backup;
    std::set<std::string> seen;
    auto addBackup = [&](const std::string& name) {
        if (seen.insert(text::lowerAscii(name)).second) backup.push_back(name);
    };
    for (const PlannedMember& p : plan)
        for (const std::string& r : p.replaces) addBackup(r);
    if (flagsReplaced) addBackup(*flagsReplaced);
    if (!backup.empty()) {
        CurrentDirectory inGame(G);
        zip2.FSpecArgs = backup;
        fsx::crashPoint();
        zip2.Add();
        fsx::crashPoint();
    }

    // A game file still in place was not stored in the backup archive: the member that
    // would overwrite it is left out, and the marker does not list it (the uninstall
    // would delete the game's own file).
    std::set<std::string> notStored;
    for (const std::string& b : backup)
        if (fsx::fileExists(fsx::joinMember(G, b))) notStored.insert(b);
    std::erase_if(plan, [&](const PlannedMember& p) {
        for (const std::string& r : p.replaces)
            if (notStored.count(r)) return true;
        return false;
    });
    const bool flagsFile =
        writeFlags && !flagsLinked && !(flagsReplaced && notStored.count(*flagsReplaced));

    // The marker names every file before any of them is put there: also the extracted
    // name of a file moved out of its language folder and the .mp3 of a .wav, which stay
    // when the install is interrupted between the steps. Saved games are the saves
    // archive's.
    for (const PlannedMember& p : plan) {
        if (p.savedGame) continue;
        if (!p.moveTarget.empty()) marker.add(fsx::joinMember(G, p.member));
        if (!p.mp3.empty()) marker.add(fsx::joinMember(G, p.mp3));
        marker.add(fsx::joinMember(G, p.target));
    }
    if (flagsFile) marker.add(fsx::joinMember(G, gamedir::kMissFlagStr));
    if (writeFlags && sel.missionNumber == 0)
        marker.add(fsx::joinMember(G, gamedir::missionFileName(static_cast<int>(N))));
    marker.save();

    // 6. to 8.
    extractAndConvert(zip, ui, G, plan, other);

    // 9. Mission flags and the numbered copy of the mission file.
    if (flagsFile) {
        const std::string flags = gamedir::path(G, gamedir::kMissFlagStr);
        fsx::forceDirectories(flags.substr(0, flags.find_last_of(fsx::kPathDelim)));
        WriteMissionFlags(flags, static_cast<uint8_t>(N), game);
    }
    const bool missionFilePlanned =
        std::any_of(plan.begin(), plan.end(),
                    [&](const PlannedMember& p) { return p.member == sel.missionFileMember; });
    if (writeFlags && sel.missionNumber == 0 && missionFilePlanned &&
        StaysInside(sel.missionFileMember))
        fsx::copyFile(gamedir::path(G, sel.missionFileMember),
                      gamedir::path(G, gamedir::missionFileName(static_cast<int>(N))), false);

    // 10.
    ui.progressShown(false);
    ui.status("");
    ui.paint();
}

void appendLines(const std::string& path, const std::string& text) {
    std::FILE* f = std::fopen(fsx::resolve(path).c_str(), "ab");
    if (!f) throw EInOutError("Cannot write " + path);
    const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    if (std::fclose(f) != 0 || !ok) throw EInOutError("Cannot write " + path);
}

void startEditor(const std::string& G, bool gameRow) {
    const std::string cfg = gamedir::path(G, gamedir::kDromedCfg);
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
    if (!gameRow) script.push_back("load_file " + selectedMission().missionFileMember);
    // A line break in the name would add a line of its own to the script.
    for (const std::string& l : script)
        if (l.find_first_of("\r\n") != std::string::npos)
            throw EInOutError(slot(110) + " " + shownName(l));
    textfile::writeLines(gamedir::path(G, gamedir::kEditorScript), script);
    const launcher::StartResult started = startFromGameDir(G, gamedir::kDromedStartExe);
    if (!started) prompter().message(startFailureMessage(slot(20), started));
}

void startGame(const std::string& G, const std::vector<std::string>& row) {
    const bool thief1 = fsx::fileExists(gamedir::path(G, gamedir::kThiefExe));
    const launcher::StartResult started =
        startFromGameDir(G, thief1 ? gamedir::kThiefExe : gamedir::kThief2Exe);
    if (started)
        app().settings->WriteInteger(RecordKey(row), "date", TodayDayNumber());
    else
        prompter().message(startFailureMessage(slot(thief1 ? 21 : 22), started));
}

// Makes the selected archive (ctx.Zip) the installed one: the mission installed before and
// anything an interrupted operation left goes first. False when the game's own files
// could not all be brought back: nothing more is done then.
bool installSelected(InstallContext& ctx, GameRecord& rec, uint8_t game,
                     std::optional<Marker>& marker) {
    const std::string& G = rec.gameDir;
    // 4.
    const std::string archive = selectedArchive(ctx.Zip);
    // The marker could not name such a file: nothing is changed.
    if (HasControlCharacter(archive)) {
        prompter().message(slot(106) + " " + shownName(archive) + "\n" + slot(112),
                           PromptButtons::Ok, PromptIcon::Warning);
        return false;
    }
    // A .7z or .rar mission whose member list cannot be read changes nothing.
    std::unique_ptr<MissionArchive> other = openOther(archive);
    if (!UninstallMission(ctx.Zip, ctx.Zip2, ctx.ui)) return false;
    // 5. Until it is finished, the marker says that the install is not complete.
    marker.emplace(rec);
    marker->begin(archive);
    // 6.-8. The saves archive first, then the legacy folder, so that a clash of names is
    // settled by keeping both copies.
    const std::string saves = gamedir::path(G, gamedir::kSavesDir);
    if (!fsx::directoryExists(saves)) fsx::createDirectory(saves);
    restoreSavedGames(ctx.Zip, archive, G, ctx.ui);
    moveLegacySaves(archive, G, ctx.ui);
    // 9.-10.
    if (archive != kOriginal) installMission(ctx, G, game, *marker, other.get());
    // 11.
    marker->finish(std::to_string(fsx::fileSize(archive)));
    return true;
}

void showOutcome(InstallContext& ctx) {
    LoadRecordIntoRow(ctx.row);
    if (ctx.storeRow) ctx.storeRow(ctx.row);
    if (ctx.refreshCatalogue) ctx.refreshCatalogue();
}

void runOperation(InstallContext& ctx, std::optional<Marker>& marker) {
    AppState& a = app();
    const SelectedMission& sel = selectedMission();
    const uint8_t game = sel.currentGame;
    if (game < 1 || game > 2) return;
    GameRecord& rec = a.thiefdata[game];
    const std::string G = rec.gameDir;

    // 2. Remember the selection.
    a.settings->WriteString("options", "last selection", cell(ctx.row, 2));
    if (G.empty()) return;

    // 3. Already installed: only what the marker says, and only when no operation in the
    // game directory was left unfinished.
    ReadInstalledState(rec);
    if (InterruptedOperation(G) || !IsAlreadyInstalled(selectedArchive(ctx.Zip), rec)) {
        if (!installSelected(ctx, rec, game, marker)) {
            showOutcome(ctx);
            return;
        }
    }

    // 12. Start.
    if (!a.installOnlyFlag) {
        if (a.editorFlag)
            startEditor(G, selectedArchive(ctx.Zip) == kOriginal);
        else
            startGame(G, ctx.row);
    }

    // 13. Show what is installed now.
    showOutcome(ctx);
}

}  // namespace

bool StaysInside(const std::string& relative) {
    if (relative.empty()) return true;
    if (relative[0] == '\\' || relative[0] == '/' || relative.find(':') != std::string::npos)
        return false;
    int depth = 0;
    for (const std::string& part : NameParts(relative))
        if ((part == ".." ? --depth : ++depth) < 0) return false;
    return true;
}

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

void InstallAndLaunch(InstallContext& ctx) {
    // Nothing goes in or out while a program started from the game directory may still be
    // writing a saved game.
    const uint8_t game = selectedMission().currentGame;
    const auto busy = running::stillRunningFrom(game <= 2 ? app().thiefdata[game].gameDir : "");
    if (busy) {
        prompter().message(running::describe(slot(124), *busy), PromptButtons::Ok,
                           PromptIcon::Warning);
        return;
    }
    // 1. Busy state; the closing part runs however the operation ends.
    if (ctx.setBusy) ctx.setBusy(true);
    std::optional<Marker> marker;
    auto closing = [&] {
        ctx.ui.progressShown(false);
        ctx.ui.extractionTotal(0);
        if (ctx.disableInstallOnly) ctx.disableInstallOnly();
        if (ctx.setBusy) ctx.setBusy(false);
    };
    try {
        runOperation(ctx, marker);
    } catch (...) {
        // What the marker has gathered so far is kept, so that the uninstall finds it, and
        // the window shows what the marker now says.
        try {
            if (marker && marker->pending()) marker->save();
            if (ctx.refreshCatalogue) ctx.refreshCatalogue();
        } catch (...) {
        }
        closing();
        throw;
    }
    closing();
}

bool RecoverInterruptedOperations(TZipArchiver& zip, TZipArchiver& zip2, const InstallUi& ui) {
    bool recovered = false;
    const SelectedMission saved = selectedMission();
    const std::string selected = zip.ZipFileName();
    for (uint8_t game = 1; game <= 2; ++game) {
        GameRecord& rec = app().thiefdata[game];
        // A marker or archive being rewritten when the program was killed leaves its
        // temporary file also when the operation had not begun to change anything.
        RemoveTemporaryFiles(rec.gameDir, {});
        if (!InterruptedOperation(rec.gameDir)) continue;
        // Left for later while a program of the game directory runs.
        if (const auto busy = running::stillRunningFrom(rec.gameDir)) {
            prompter().message(running::describe(slot(124), *busy) + "\n\n" + slot(125),
                               PromptButtons::Ok, PromptIcon::Warning);
            continue;
        }
        ui.status(slot(87));
        ui.paint();
        selectedMission().currentGame = game;
        zip.SetZipFileName(kOriginal);
        InstallContext ctx(zip, zip2);
        ctx.ui = ui;
        std::optional<Marker> marker;
        try {
            installSelected(ctx, rec, game, marker);
        } catch (...) {
            selectedMission() = saved;
            pointComponentAt(zip, selected);
            throw;
        }
        recovered = true;
    }
    selectedMission() = saved;
    if (recovered) pointComponentAt(zip, selected);
    ui.status("");
    return recovered;
}
