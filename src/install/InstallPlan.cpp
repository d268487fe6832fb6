#include "install/InstallPlan.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <unordered_map>

#include "game/GameDir.h"
#include "game/InstallState.h"
#include "platform/FileSystem.h"
#include "platform/Progress.h"
#include "platform/TextUtil.h"
#include "state/LanguageTable.h"

namespace {

std::string lowerExt(const std::string& name) {
    return text::lowerAscii(text::extractFileExt(name));
}

bool hasWildcard(const std::string& name) {
    return name.find_first_of("*?") != std::string::npos;
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

// What a member becomes in the game directory; nothing for programs, libraries and names
// that would lead out of the game directory.
std::optional<PlannedMember> planMember(const ArchiveMember& entry, const std::string& gameDir,
                                        const std::string& language, bool languageChoice,
                                        const std::string& root) {
    const std::string& name = entry.name;
    const std::string ext = lowerExt(name);
    if (ext == ".exe" || ext == ".dll") return std::nullopt;
    // A name that climbs out of a folder could reach a game file the backup does not know.
    if (namesNothing(name) || !StaysInside(name) || hasWildcard(name) || climbs(name))
        return std::nullopt;
    PlannedMember p;
    p.member = name;
    p.size = entry.size;
    if (auto replaced = existingRelative(gameDir, name)) p.replaces.push_back(*replaced);
    // Extracted where the archive puts it, then moved to where the game looks for it.
    std::string target = WithoutMemberRoot(name, root);
    if (target != name) {
        p.moveTarget = target;
        if (auto replaced = existingRelative(gameDir, target)) p.replaces.push_back(*replaced);
    }
    const std::string lowerName = text::lowerAscii(target);
    const size_t at = language.empty() ? std::string::npos : lowerName.find("\\" + language + "\\");
    if (languageChoice && at != std::string::npos) {
        // The language folder that made it language-specific goes.
        target = lowerName.substr(0, at + 1) + lowerName.substr(at + language.size() + 2);
        p.moveTarget = target;
        if (auto replaced = existingRelative(gameDir, target)) p.replaces.push_back(*replaced);
    }
    if (lowerExt(target) == ".mp3") {
        p.mp3 = text::lowerAscii(target);
        target = target.substr(0, target.size() - 4) + ".wav";
        if (auto replaced = existingRelative(gameDir, target)) p.replaces.push_back(*replaced);
    }
    if (!StaysInside(target)) return std::nullopt;
    // A link in the game directory is never written through, nor its target backed up.
    if (throughLink(gameDir, name) || throughLink(gameDir, target)) return std::nullopt;
    p.target = target;
    return p;
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

}  // namespace

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

// A name as a message shows it: each control character as "?".
std::string shownName(std::string name) {
    for (char& c : name)
        if (HasControlCharacter(std::string(1, c))) c = '?';
    return name;
}

// Step 3: what each member becomes. Left out, and reported once: members whose names hold
// a control character (they could not be listed in the marker), members that would land
// on the program's own files, and members whose names meet several entries on disk that
// differ only in case, or meet one only by a folding the engines do not share (the backup
// and its restore could then reach another file than the one replaced).
std::vector<PlannedMember> planMembers(const std::vector<ArchiveMember>& members,
                                       const std::string& gameDir, const std::string& language,
                                       bool languageChoice, ProgressSink& progress) {
    std::vector<PlannedMember> plan;
    std::string controlNames, ownNames, caseNames;
    FolderNames onDisk;
    const std::string root = MemberRoot(members);
    for (const ArchiveMember& e : members) {
        if (HasControlCharacter(e.name)) {
            controlNames.append("\n").append(shownName(e.name));
            continue;
        }
        std::optional<PlannedMember> p = planMember(e, gameDir, language, languageChoice, root);
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
                         [&](const std::string& n) { return onDisk.unambiguous(gameDir, n); })) {
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
    if (!text.empty()) progress.notice(text, PromptIcon::Warning);
    return plan;
}

bool StaysInside(const std::string& relative) {
    if (relative.empty()) return true;
    if (relative[0] == '\\' || relative[0] == '/' || relative.find(':') != std::string::npos)
        return false;
    int depth = 0;
    for (const std::string& part : NameParts(relative))
        if ((part == ".." ? --depth : ++depth) < 0) return false;
    return true;
}
