#include "game/InstallState.h"

#include <algorithm>
#include <cctype>

#include "game/GameDir.h"
#include "platform/Checksum.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/TextFile.h"
#include "platform/TextUtil.h"
#include "state/GameRecord.h"
#include "state/LanguageTable.h"

namespace {

bool isHex(const std::string& s, size_t from, size_t count) {
    if (s.size() - from < count) return false;
    for (size_t i = from; i < from + count; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(s[i]))) return false;
    return true;
}

bool isDigits(const std::string& s) {
    if (s.empty()) return false;
    for (char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

// ".tm" + 12 hexadecimal digits + `suffix` at the end of `name`.
bool endsInTemporarySuffix(const std::string& name, const std::string& suffix) {
    const size_t length = 3 + 12 + suffix.size();
    if (name.size() < length) return false;
    const size_t at = name.size() - length;
    return name.compare(at, 3, ".tm") == 0 && isHex(name, at + 3, 12) &&
           name.compare(at + 15, suffix.size(), suffix) == 0;
}

// Names the program's writers give their temporary files: an extracted member before it
// is complete, an archive or marker being rewritten, a copy under way.
bool isTemporaryName(const std::string& name) {
    if (name.size() == 3 + 12 + 5 && endsInTemporarySuffix(name, ".part")) return true;
    if (name.size() > 3 + 12 + 4 && endsInTemporarySuffix(name, ".tmp")) return true;
    const std::string copy = ".tm-copy-";
    if (name.compare(0, copy.size(), copy) != 0) return false;
    const std::string rest = name.substr(copy.size());
    const size_t dash = rest.find('-');
    return dash != std::string::npos && isDigits(rest.substr(0, dash)) &&
           isDigits(rest.substr(dash + 1));
}

void removeTemporaryFilesIn(const std::string& folder) {
    if (!fsx::directoryExists(folder)) return;
    const std::string dir = text::withTrailingDelim(fsx::resolve(folder));
    for (const fsx::DirEntry& e : fsx::listDirectory(dir, "*.tm*"))
        if (!e.isDirectory && isTemporaryName(e.name)) fsx::deleteFile(dir + e.name);
}

// The name's folders folded as the look-up on disk folds them (fsx::foldKey), "." and ".."
// worked out, joined with "\". Two names that reach the same entry give the same text.
// With `asWindows`, trailing dots and blanks of each part go too, as Windows (and the game
// under Wine) drops them.
std::string normalised(const std::string& relative, bool asWindows = false) {
    std::vector<std::string> parts;
    for (const std::string& name : NameParts(relative)) {
        std::string part = fsx::foldKey(name);
        if (asWindows && part != "..")
            while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.pop_back();
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
    }
    std::string out;
    for (const std::string& p : parts) out += (out.empty() ? "" : "\\") + p;
    return out;
}

}  // namespace

std::vector<std::string> NameParts(const std::string& relative) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= relative.size()) {
        size_t end = relative.find_first_of("\\/", start);
        if (end == std::string::npos) end = relative.size();
        std::string part = relative.substr(start, end - start);
        if (!part.empty() && part != ".") parts.push_back(std::move(part));
        start = end + 1;
    }
    return parts;
}

Marker::Marker(GameRecord& game) : game_(game) {}

std::vector<std::string> Marker::read(const std::string& gameDir) {
    const std::string path = gamedir::path(gameDir, gamedir::kMarker);
    if (!fsx::fileExists(path)) return {};
    return textfile::readLines(path);
}

void Marker::begin(const std::string& archive) {
    lines_ = {archive, kUnfinished};
    save();
}

void Marker::save() {
    SaveMarkerLines(game_, lines_);
    saved_ = lines_.size();
}

void Marker::finish(const std::string& identity) {
    // Complete only once everything it lists is on the disk: after a power cut the marker
    // must not say so of files that came back empty or never came.
    const std::vector<std::string> listed(lines_.begin() + std::min<size_t>(2, lines_.size()),
                                          lines_.end());
    if (!fsx::syncBelow(game_.gameDir, listed)) throw EInOutError(slot(108) + " " + game_.gameDir);
    lines_.at(1) = identity;
    save();
}

void SaveMarkerLines(GameRecord& game, const std::vector<std::string>& lines) {
    const std::string path = gamedir::path(game.gameDir, gamedir::kMarker);
    std::string content;
    for (const std::string& l : lines) {
        // A line break inside a line would make a line of its own: a path the next
        // uninstall deletes.
        if (l.find_first_of("\r\n") != std::string::npos) throw EInOutError(slot(88) + " " + path);
        content += l + gamedir::kLineEnd;
    }
    if (!fsx::atomicWrite(path, content)) throw EInOutError(slot(88) + " " + path);
    game.installed = lines.empty() ? std::string() : lines[0];
    game.installedCheck = lines.size() > 1 ? lines[1] : std::string();
}

std::function<std::string(const std::string&)>& ArchiveChecksum() {
    static std::function<std::string(const std::string&)> f = ChecksumText;
    return f;
}

bool IsAlreadyInstalled(const std::string& zipFileName, const GameRecord& game) {
    if (text::extractFileName(zipFileName) != text::extractFileName(game.installed)) return false;
    if (std::to_string(fsx::fileSize(zipFileName)) == game.installedCheck) return true;
    return ArchiveChecksum()(zipFileName) == game.installedCheck;
}

bool InterruptedOperation(const std::string& gameDir) {
    if (gameDir.empty()) return false;
    if (!fsx::fileExists(gamedir::path(gameDir, gamedir::kMarker)))
        return fsx::fileExists(gamedir::path(gameDir, gamedir::kBackupZip));
    const std::vector<std::string> lines = Marker::read(gameDir);
    return lines.size() < 2 || lines[1] == kUnfinished;
}

bool IsOwnFile(const std::string& relative) {
    const std::string name = normalised(relative, true);
    const std::string allSaves = fsx::foldKey(gamedir::kAllSavesDir);
    return name == fsx::foldKey(gamedir::kMarker) || name == fsx::foldKey(gamedir::kBackupZip) ||
           name == fsx::foldKey(gamedir::kEditorScript) || name == allSaves ||
           name.compare(0, allSaves.size() + 1, allSaves + "\\") == 0;
}

bool IsSavedGame(const std::string& relative) {
    const std::string name = normalised(relative);
    const std::string saves = fsx::foldKey(gamedir::kSavesDir) + "\\";
    const std::string ext = fsx::foldKey(".sav");
    return name.size() > saves.size() + ext.size() && name.compare(0, saves.size(), saves) == 0 &&
           name.find('\\', saves.size()) == std::string::npos &&
           name.compare(name.size() - ext.size(), ext.size(), ext) == 0;
}

bool HasControlCharacter(const std::string& name) {
    for (const char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
    return false;
}

void RemoveTemporaryFiles(const std::string& gameDir, const std::vector<std::string>& folders) {
    if (gameDir.empty()) return;
    removeTemporaryFilesIn(gameDir);
    removeTemporaryFilesIn(gamedir::path(gameDir, gamedir::kSavesDir));
    removeTemporaryFilesIn(gamedir::path(gameDir, gamedir::kAllSavesDir));
    for (const std::string& f : folders) removeTemporaryFilesIn(f);
}
