#include "install/SavedGames.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <system_error>

#include "archive/ZipArchiver.h"
#include "game/ComponentProgress.h"
#include "platform/Checksum.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/Progress.h"
#include "platform/TextUtil.h"
#include "state/LanguageTable.h"

namespace fs = std::filesystem;

namespace savedgames {

namespace {

constexpr int kStoringSavesSlot = 24;
// Where the versions being kept wait, beside the saves archive, until they are stored.
constexpr const char* kStagingPrefix = ".tallowmere-older-";
// Characters the engines read as patterns or separators, or a Windows name cannot hold: a
// file named with one is stored from a copy under its archive name.
constexpr const char* kAwkward = "\\*?<>|:\"";

std::string slashed(std::string name) {
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}
std::string backslashed(std::string name) {
    std::replace(name.begin(), name.end(), '/', '\\');
    return name;
}
// Names in a saves archive are the same without regard to case and separator.
std::string nameKey(const std::string& name) {
    return fsx::foldKey(backslashed(name));
}

// What one file or member holds, as far as its size and CRC tell.
struct Contents {
    uint64_t size = 0;
    std::string crc;  // ChecksumText form
    bool operator==(const Contents&) const = default;
};

Contents ofFile(const std::string& path) {
    const int64_t size = fsx::fileSize64(path);
    if (size < 0) throw EInOutError(path);
    return {static_cast<uint64_t>(size), ChecksumText(path)};
}
Contents ofMember(const ZipDirEntry& entry) {
    return {entry.UncompressedSize64, HexText(entry.CRC32)};
}

struct Pending {
    std::string name;  // in the archive
    std::string path;  // on disk
    Contents contents;
    int64_t time = 0;      // last written, for the order of versions
    uint32_t dosTime = 0;  // the same, as the archive keeps it
    bool older = false;    // a newer file of the same name takes the name
};

struct Stored {
    std::string name;
    Contents contents;
    uint32_t time = 0;
};
using Directory = std::map<std::string, Stored>;  // by nameKey

Directory readDirectory(TZipArchiver& work, const std::string& savesZip) {
    Directory entries;
    if (!fsx::fileExists(savesZip)) return entries;
    work.SetZipFileName(savesZip);
    if (work.ErrCode != 0 && work.Entries().empty())
        throw EInOutError(savesZip + "\n" + work.Message);
    for (const ZipDirEntry& e : work.Entries())
        entries[nameKey(e.FileName)] = {e.FileName, ofMember(e), e.DateTime};
    return entries;
}

int64_t modified(const std::string& path) {
    std::error_code ec;
    const auto time = fs::last_write_time(path, ec);
    return ec ? 0 : static_cast<int64_t>(time.time_since_epoch().count());
}

// A name for a kept version that the archive does not hold with other contents; "" when it
// holds this very version under it already.
std::string freeOlderName(const std::string& name, uint32_t time, const Contents& contents,
                          const Directory& entries) {
    const std::string first = olderVersionName(name, time);
    for (int n = 1;; ++n) {
        std::string candidate = first;
        if (n > 1) {
            const size_t cut = candidate.find('\\', std::string(kOlderFolder).size() + 1);
            candidate.insert(cut, " (" + std::to_string(n) + ")");
        }
        const auto it = entries.find(nameKey(candidate));
        if (it == entries.end()) return candidate;
        if (it->second.contents == contents) return {};
    }
}

// Files of one name are versions of each other: the newest takes the name, the others are
// kept as older versions, named by their own times.
void separateVersions(std::vector<Pending>& files) {
    std::map<std::string, std::vector<Pending*>> byName;
    for (Pending& f : files) byName[nameKey(f.name)].push_back(&f);
    for (auto& [key, group] : byName) {
        std::stable_sort(group.begin(), group.end(),
                         [](const Pending* a, const Pending* b) { return a->time < b->time; });
        for (size_t i = 0; i + 1 < group.size(); ++i) group[i]->older = true;
    }
}

// A folder of the program's own beside the saves archive, for the copies being stored.
class Staging {
  public:
    explicit Staging(const std::string& savesZip) {
        const std::string folder = savesZip.substr(0, savesZip.find_last_of(fsx::kPathDelim) + 1);
        const std::string leaf = savesZip.substr(folder.size());
        path_ = folder + kStagingPrefix + leaf;
        clear();
    }
    ~Staging() { clear(); }
    Staging(const Staging&) = delete;
    Staging& operator=(const Staging&) = delete;

    bool empty() const { return names_.empty(); }
    const std::string& path() const { return path_; }
    const std::vector<std::string>& names() const { return names_; }

    // Keeps `data` to be stored as `name`.
    void put(const std::string& name, const std::string& data) {
        const std::string file = path_ + fsx::kPathDelim + slashed(name);
        fsx::forceDirectories(file.substr(0, file.find_last_of(fsx::kPathDelim)));
        if (!fsx::atomicWrite(file, data)) throw EInOutError(file);
        names_.push_back(slashed(name));
    }
    void copy(const std::string& name, const std::string& from) {
        const std::string file = path_ + fsx::kPathDelim + slashed(name);
        fsx::forceDirectories(file.substr(0, file.find_last_of(fsx::kPathDelim)));
        if (!fsx::copyFile(from, file)) throw EInOutError(from);
        names_.push_back(slashed(name));
    }

  private:
    void clear() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::string path_;
    std::vector<std::string> names_;
};

// The stored member `name` as bytes; the process's current folder is left as it was.
std::string memberData(TZipArchiver& work, const std::string& savesZip, const std::string& name) {
    const fsx::KeepCurrentDirectory kept;
    work.SetZipFileName(savesZip);
    work.ExtrBaseDir.clear();
    TZipStream* stream = work.ExtractToStream(name);
    if (!stream) throw EInOutError(savesZip + "\n" + name);
    return std::string(stream->Memory(), static_cast<size_t>(stream->Size()));
}

// One rewrite of the archive with the files below `root`, each under its name.
void addFiles(TZipArchiver& work, const std::string& savesZip, const std::string& root,
              const std::map<std::string, std::string>& names, int compressionLevel) {
    if (names.empty()) return;
    work.SetZipFileName(savesZip);
    work.RootDir = root;
    work.AddOptions = {AddOptsEnum::AddDirNames};
    work.AddCompLevel = compressionLevel;
    work.FSpecArgs.clear();
    std::map<std::string, std::string> renamed;  // engine's name -> archive name
    for (const auto& [path, name] : names) {
        work.FSpecArgs.push_back(path);
        renamed[nameKey(path)] = slashed(name);
    }
    work.OnSetNewName = [&](TZipArchiver*, std::string& name, bool& changed) {
        const auto it = renamed.find(nameKey(name));
        if (it != renamed.end() && it->second != name) {
            name = it->second;
            changed = true;
        }
    };
    fsx::crashPoint();
    work.Add();
    fsx::crashPoint();
    work.OnSetNewName = nullptr;
    work.RootDir.clear();
    work.AddOptions = {};
    work.FSpecArgs.clear();
}

// The names that are not in the archive with the contents expected.
std::vector<std::string> missing(const Directory& entries,
                                 const std::vector<std::pair<std::string, Contents>>& expected) {
    std::vector<std::string> names;
    for (const auto& [name, contents] : expected) {
        const auto it = entries.find(nameKey(name));
        if (it == entries.end() || !(it->second.contents == contents)) names.push_back(name);
    }
    return names;
}

bool isDirectoryEntry(const fs::directory_entry& e) {
    std::error_code ec;
    return e.is_directory(ec) && !e.is_symlink(ec);
}

}  // namespace

bool isOlderVersion(const std::string& memberName) {
    const std::string prefix = std::string(kOlderFolder) + "\\";
    const std::string name = backslashed(memberName);
    return name.size() > prefix.size() && fsx::sameName(name.substr(0, prefix.size()), prefix);
}

std::string olderVersionName(const std::string& name, uint32_t dosTime) {
    const int64_t t = fsx::dosToUnix(dosTime);
    const std::time_t seconds = static_cast<std::time_t>(t);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H.%M.%S", &local);
    return std::string(kOlderFolder) + "\\" + stamp + "\\" + backslashed(name);
}

std::vector<SaveFile> missionFolderSaves(const std::string& folder) {
    std::vector<SaveFile> files;
    std::vector<std::string> refused;
    std::error_code ec;
    for (const fs::directory_entry& top : fs::directory_iterator(folder, ec)) {
        const std::string topName = top.path().filename().string();
        const bool saves = fsx::sameName(topName, "saves");
        if (!saves && !fsx::sameName(topName, "screenshots")) continue;
        if (!isDirectoryEntry(top)) {
            refused.push_back(topName);
            continue;
        }
        std::error_code walkError;
        for (fs::recursive_directory_iterator it(top.path(), walkError), end;
             !walkError && it != end; it.increment(walkError)) {
            const std::string relative = fs::relative(it->path(), folder, ec).string();
            if (isDirectoryEntry(*it)) continue;
            std::error_code typeError;
            if (!it->is_regular_file(typeError) || it->is_symlink(typeError)) {
                refused.push_back(relative);
                continue;
            }
            // Right in "saves" (the game's own spelling) a saved game keeps its bare name.
            const std::string leaf = it->path().filename().string();
            const bool bare =
                topName == "saves" && it.depth() == 0 && leaf.find('\\') == std::string::npos;
            files.push_back({bare ? leaf : backslashed(relative), relative});
        }
        if (walkError) refused.push_back(topName);
    }
    if (!refused.empty()) {
        std::string text;
        for (const std::string& name : refused) text += "\n" + name;
        throw EInOutError(folder + text);
    }
    return files;
}

std::vector<SaveFile> savesFolderSaves(const std::string& savesDir) {
    std::vector<SaveFile> files;
    if (!fsx::directoryExists(savesDir)) return files;
    for (const fsx::DirEntry& e : fsx::listDirectory(savesDir, "*.sav"))
        if (!e.isDirectory) files.push_back({e.name, e.name});
    return files;
}

void store(TZipArchiver& work, const std::string& savesZip, const std::string& root,
           std::vector<SaveFile> files, int compressionLevel, ProgressSink& progress) {
    if (files.empty()) return;
    const std::string base = text::withTrailingDelim(root);
    std::vector<Pending> pending;
    for (const SaveFile& f : files) {
        const std::string path = base + f.relativePath;
        pending.push_back({f.name, path, ofFile(path), modified(path),
                           static_cast<uint32_t>(fsx::fileAgeDos(path))});
    }
    separateVersions(pending);

    const ComponentProgress shown(work, progress, slot(kStoringSavesSlot), kAddWordSlot);
    fsx::forceDirectories(savesZip.substr(0, savesZip.find_last_of(fsx::kPathDelim)));
    Directory entries = readDirectory(work, savesZip);
    Staging staging(savesZip);
    std::map<std::string, std::string> fromRoot;  // relative path -> name
    std::vector<std::pair<std::string, Contents>> expected;
    for (Pending& f : pending) {
        if (f.older) {
            f.name = freeOlderName(f.name, f.dosTime, f.contents, entries);
            if (f.name.empty()) continue;  // kept already
            entries[nameKey(f.name)] = {f.name, f.contents, f.dosTime};
        } else if (const auto stored = entries.find(nameKey(f.name)); stored != entries.end()) {
            if (stored->second.contents == f.contents) {  // stored already
                expected.emplace_back(stored->second.name, f.contents);
                continue;
            }
            // What the archive holds under the name is kept before the name is given away.
            const Stored old = stored->second;
            const std::string older = freeOlderName(old.name, old.time, old.contents, entries);
            if (!older.empty()) {
                staging.put(older, memberData(work, savesZip, old.name));
                entries[nameKey(older)] = {older, old.contents, old.time};
                expected.emplace_back(older, old.contents);
            }
        }
        expected.emplace_back(f.name, f.contents);
        const std::string relative = f.path.substr(base.size());
        if (f.older || relative.find_first_of(kAwkward) != std::string::npos)
            staging.copy(f.name, f.path);
        else
            fromRoot[relative] = f.name;
    }
    std::map<std::string, std::string> staged;
    for (const std::string& name : staging.names()) staged[name] = name;
    // The versions being kept go in first: the name is given away only after that.
    addFiles(work, savesZip, staging.path(), staged, compressionLevel);
    addFiles(work, savesZip, root, fromRoot, compressionLevel);
    const std::string folder = savesZip.substr(0, savesZip.find_last_of(fsx::kPathDelim));
    if (!fsx::syncPath(savesZip) || !fsx::syncPath(folder)) throw EInOutError(savesZip);

    const std::vector<std::string> notStored = missing(readDirectory(work, savesZip), expected);
    if (!notStored.empty()) {
        std::string text = savesZip;
        for (const std::string& name : notStored) text += "\n" + name;
        throw EInOutError(text);
    }
}

std::vector<std::string> olderSavedGames(TZipArchiver& work, const std::string& savesZip) {
    std::vector<std::pair<uint32_t, std::string>> found;
    for (const auto& [key, entry] : readDirectory(work, savesZip))
        if (isOlderVersion(entry.name) &&
            text::lowerAscii(text::extractFileExt(entry.name)) == ".sav")
            found.emplace_back(entry.time, entry.name);
    std::sort(found.begin(), found.end(), std::greater<>());
    std::vector<std::string> names;
    for (const auto& [time, name] : found) names.push_back(name);
    return names;
}

std::string bringBack(TZipArchiver& work, const std::string& savesZip,
                      const std::string& olderMember, const std::string& savesDir,
                      int compressionLevel, ProgressSink& progress) {
    if (!isOlderVersion(olderMember)) throw EInOutError(savesZip + "\n" + olderMember);
    const std::string data = memberData(work, savesZip, olderMember);
    const Directory entries = readDirectory(work, savesZip);
    // A slot free where the saved game goes, and in the archive (whose names come back).
    const auto taken = [&](const std::string& name) {
        return entries.count(nameKey(name)) ||
               (!savesDir.empty() && fsx::pathExists(text::withTrailingDelim(savesDir) + name));
    };
    std::string slotName;
    for (int n = 0; slotName.empty(); ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "game%04d.sav", n);
        if (!taken(name)) slotName = name;
    }
    if (!savesDir.empty()) {
        fsx::forceDirectories(savesDir);
        if (!fsx::atomicWrite(text::withTrailingDelim(savesDir) + slotName, data))
            throw EInOutError(text::withTrailingDelim(savesDir) + slotName);
        return slotName;
    }
    Staging copy(savesZip + ".back");
    copy.put(slotName, data);
    store(work, savesZip, copy.path(), {{slotName, slotName}}, compressionLevel, progress);
    return slotName;
}

}  // namespace savedgames
