#include "install/SavedGames.h"

#include <algorithm>
#include <chrono>
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
constexpr int kNoFreeSlotSlot = 293;
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

    // Keeps `data` to be stored as `name`, last written at `dosTime` when that is given.
    void put(const std::string& name, const std::string& data, uint32_t dosTime = 0) {
        const std::string file = path_ + fsx::kPathDelim + slashed(name);
        fsx::forceDirectories(file.substr(0, file.find_last_of(fsx::kPathDelim)));
        if (!fsx::atomicWrite(file, data)) throw EInOutError(file);
        if (dosTime != 0) {
            const auto when = std::chrono::system_clock::from_time_t(
                static_cast<std::time_t>(fsx::dosToUnix(dosTime)));
            std::error_code ec;
            fs::last_write_time(file, std::chrono::file_clock::from_sys(when), ec);
        }
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

// True when `folder` (one name) is a slot folder of `layout`: the prefix and a slot number
// ("save_3"), or one of the further folders ("current"), without regard to case.
bool isSlotFolder(const std::string& folder, const SlotFolders& layout) {
    for (const std::string& other : layout.others)
        if (fsx::sameName(folder, other)) return true;
    const size_t cut = layout.prefix.size();
    if (layout.prefix.empty() || folder.size() <= cut || folder.size() > cut + 3 ||
        !fsx::sameName(folder.substr(0, cut), layout.prefix) ||
        folder.find_first_not_of("0123456789", cut) != std::string::npos)
        return false;
    return std::stoi(folder.substr(cut)) < layout.count;
}

// The slot folder named `number` ("save_5").
std::string slotFolderName(const SlotFolders& layout, int number) {
    return layout.prefix + std::to_string(number);
}

// The stored members of one slot folder, by nameKey.
Directory slotMembers(const Directory& entries, const std::string& slotKey,
                      const SlotFolders& layout) {
    Directory members;
    for (const auto& [key, entry] : entries)
        if (!isOlderVersion(entry.name) &&
            fsx::foldKey(slotFolderOf(entry.name, layout)) == slotKey)
            members.emplace(key, entry);
    return members;
}

// Where a kept set of slot files goes: "older\<time>\" (" (2)" and on when that holds
// another set); "" when it holds this very set already.
std::string freeOlderSetFolder(uint32_t time, const std::string& slotKey, const Directory& set,
                               const Directory& entries) {
    const std::string stamp = olderVersionName("", time);  // "older\<time>\"
    for (int n = 1;; ++n) {
        const std::string folder =
            n == 1 ? stamp : stamp.substr(0, stamp.size() - 1) + " (" + std::to_string(n) + ")\\";
        const std::string prefix = nameKey(folder) + slotKey + "\\";
        bool used = false, same = true;
        for (const auto& [key, entry] : entries) {
            if (key.compare(0, prefix.size(), prefix) != 0) continue;
            used = true;
            const auto kept = set.find(key.substr(nameKey(folder).size()));
            same = same && kept != set.end() && kept->second.contents == entry.contents;
        }
        if (!used) return folder;
        if (same) return {};
    }
}

// A slot folder whose stored set differs from the files given keeps that whole set as an
// older version, staged for the archive; its names no longer given go into `dropped`.
// The slot's files given then take its names as any file does.
void keepReplacedSlots(TZipArchiver& work, const std::string& savesZip,
                       const std::vector<Pending>& pending, const SlotFolders& layout,
                       Directory& entries, Staging& staging,
                       std::vector<std::pair<std::string, Contents>>& expected,
                       std::set<std::string>& dropped) {
    std::map<std::string, std::vector<const Pending*>> given;  // by folded slot folder
    for (const Pending& f : pending)
        if (const std::string folder = slotFolderOf(f.name, layout); !folder.empty() && !f.older)
            given[fsx::foldKey(folder)].push_back(&f);
    for (const auto& [slotKey, files] : given) {
        const Directory stored = slotMembers(entries, slotKey, layout);
        if (stored.empty()) continue;
        bool same = stored.size() == files.size();
        for (const Pending* f : files) {
            const auto it = stored.find(nameKey(f->name));
            same = same && it != stored.end() && it->second.contents == f->contents;
        }
        if (same) continue;
        uint32_t newest = 0;
        for (const auto& [key, entry] : stored) newest = std::max(newest, entry.time);
        const std::string folder = freeOlderSetFolder(newest, slotKey, stored, entries);
        for (const auto& [key, entry] : stored) {
            if (!folder.empty()) {
                const std::string older = folder + backslashed(entry.name);
                staging.put(older, memberData(work, savesZip, entry.name), entry.time);
                entries[nameKey(older)] = {older, entry.contents, entry.time};
                expected.emplace_back(older, entry.contents);
            }
            const bool givenAgain = std::any_of(files.begin(), files.end(), [&](const Pending* f) {
                return nameKey(f->name) == key;
            });
            if (!givenAgain) dropped.insert(key);
        }
    }
}

// Writes the saves archive anew beside it, without the members `dropped` (their contents
// are kept under older names already), with the staged and the given files, reads it back
// and renames it into place. The members it keeps keep their times.
void rewriteWithout(TZipArchiver& work, const std::string& savesZip, const std::string& root,
                    const std::set<std::string>& dropped, Staging& staging,
                    const std::map<std::string, std::string>& fromRoot, int compressionLevel,
                    std::vector<std::pair<std::string, Contents>>& expected) {
    const std::string folder = savesZip.substr(0, savesZip.find_last_of(fsx::kPathDelim) + 1);
    const std::string fresh = folder + kStagingPrefix + savesZip.substr(folder.size()) + ".new";
    std::error_code ec;
    fs::remove(fresh, ec);
    std::set<std::string> replaced;  // staged or given anew
    for (const std::string& name : staging.names()) replaced.insert(nameKey(name));
    for (const auto& [path, name] : fromRoot) replaced.insert(nameKey(name));
    for (const auto& [key, entry] : readDirectory(work, savesZip)) {
        if (dropped.count(key) || replaced.count(key)) continue;
        staging.put(entry.name, memberData(work, savesZip, entry.name), entry.time);
        expected.emplace_back(entry.name, entry.contents);
    }
    std::map<std::string, std::string> staged;
    for (const std::string& name : staging.names()) staged[name] = name;
    try {
        addFiles(work, fresh, staging.path(), staged, compressionLevel);
        addFiles(work, fresh, root, fromRoot, compressionLevel);
        if (!fsx::syncPath(fresh)) throw EInOutError(fresh);
        const std::vector<std::string> notStored = missing(readDirectory(work, fresh), expected);
        if (!notStored.empty()) throw EInOutError(fresh + "\n" + notStored.front());
        fsx::crashPoint();
        fs::rename(fresh, savesZip);
        fsx::crashPoint();
    } catch (...) {
        fs::remove(fresh, ec);
        throw;
    }
}

// The kept slot set a member of "older" belongs to ("older\<time>\save_3" of
// "older\<time>\save_3\earth.mis"); "" for a member of none.
std::string olderSlotSet(const std::string& memberName, const SlotFolders& layout) {
    const std::string name = backslashed(memberName);
    const size_t time = name.find('\\');
    const size_t slotStart = time == std::string::npos ? time : name.find('\\', time + 1);
    if (slotStart == std::string::npos) return {};
    const std::string rest = name.substr(slotStart + 1);
    const std::string folder = slotFolderOf(rest, layout);
    return folder.empty() ? std::string() : name.substr(0, slotStart + 1 + folder.size());
}

// Brings the kept slot set `set` back whole as the first slot folder free in `folder` (the
// mission folder; "" when it is not installed) and in the archive. Returns its name.
std::string bringBackSlot(TZipArchiver& work, const std::string& savesZip, const std::string& set,
                          const std::string& folder, int compressionLevel, ProgressSink& progress,
                          const SlotFolders& layout) {
    const Directory entries = readDirectory(work, savesZip);
    const std::string setPrefix = nameKey(set) + "\\";
    std::vector<Stored> members;
    for (const auto& [key, entry] : entries)
        if (key.compare(0, setPrefix.size(), setPrefix) == 0) members.push_back(entry);
    if (members.empty()) throw EInOutError(savesZip + "\n" + set);
    std::string slotName;
    for (int n = 0; n < layout.count && slotName.empty(); ++n) {
        const std::string candidate = slotFolderName(layout, n);
        const bool onDisk =
            !folder.empty() && fsx::pathExists(text::withTrailingDelim(folder) + candidate);
        if (!onDisk && slotMembers(entries, fsx::foldKey(candidate), layout).empty())
            slotName = candidate;
    }
    if (slotName.empty()) throw EInOutError(slot(kNoFreeSlotSlot) + "\n" + savesZip);
    // The set is made under a name of the program's own and renamed once it is complete.
    Staging copy(folder.empty() ? savesZip + ".back" : text::withTrailingDelim(folder) + slotName);
    std::vector<SaveFile> files;
    for (const Stored& member : members) {
        const std::string rest = backslashed(member.name).substr(setPrefix.size());
        const std::string name = slotName + "\\" + rest;
        copy.put(folder.empty() ? name : rest, memberData(work, savesZip, member.name),
                 member.time);
        files.push_back({name, slashed(name)});
    }
    if (folder.empty()) {
        store(work, savesZip, copy.path(), files, compressionLevel, progress, layout);
        return slotName;
    }
    const std::string target = text::withTrailingDelim(folder) + slotName;
    if (!fsx::syncTree(copy.path()) || !fsx::moveFile(copy.path(), target) ||
        !fsx::syncPath(folder))
        throw EInOutError(target);
    return slotName;
}

}  // namespace

std::string slotFolderOf(const std::string& name, const SlotFolders& layout) {
    const size_t cut = name.find_first_of("\\/");
    if (cut == std::string::npos) return {};
    const std::string folder = name.substr(0, cut);
    return isSlotFolder(folder, layout) ? folder : std::string();
}

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

std::vector<SaveFile> missionFolderSaves(const std::string& folder, const SlotFolders& layout) {
    std::vector<SaveFile> files;
    std::vector<std::string> refused;
    std::error_code ec;
    for (const fs::directory_entry& top : fs::directory_iterator(folder, ec)) {
        const std::string topName = top.path().filename().string();
        const bool saves = fsx::sameName(topName, "saves");
        if (!saves && !fsx::sameName(topName, "screenshots") && !isSlotFolder(topName, layout))
            continue;
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
           std::vector<SaveFile> files, int compressionLevel, ProgressSink& progress,
           const SlotFolders& layout) {
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
    std::set<std::string> dropped;  // names whose members go, kept under older names
    keepReplacedSlots(work, savesZip, pending, layout, entries, staging, expected, dropped);
    for (Pending& f : pending) {
        if (!f.older && !slotFolderOf(f.name, layout).empty()) {
            // A slot folder's file: what it replaces was kept with its whole set above.
            const auto stored = entries.find(nameKey(f.name));
            if (stored != entries.end() && stored->second.contents == f.contents) {
                expected.emplace_back(stored->second.name, f.contents);
                continue;
            }
        } else if (f.older) {
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
    if (!dropped.empty()) {
        rewriteWithout(work, savesZip, root, dropped, staging, fromRoot, compressionLevel,
                       expected);
    } else {
        // The versions being kept go in first: the name is given away only after that.
        addFiles(work, savesZip, staging.path(), staged, compressionLevel);
        addFiles(work, savesZip, root, fromRoot, compressionLevel);
    }
    const std::string folder = savesZip.substr(0, savesZip.find_last_of(fsx::kPathDelim));
    if (!fsx::syncPath(savesZip) || !fsx::syncPath(folder)) throw EInOutError(savesZip);

    const std::vector<std::string> notStored = missing(readDirectory(work, savesZip), expected);
    if (!notStored.empty()) {
        std::string text = savesZip;
        for (const std::string& name : notStored) text += "\n" + name;
        throw EInOutError(text);
    }
}

std::vector<std::string> olderSavedGames(TZipArchiver& work, const std::string& savesZip,
                                         const SlotFolders& layout) {
    std::map<std::string, std::pair<uint32_t, std::string>> found;  // by nameKey
    for (const auto& [key, entry] : readDirectory(work, savesZip)) {
        if (!isOlderVersion(entry.name)) continue;
        if (const std::string set = olderSlotSet(entry.name, layout); !set.empty()) {
            auto& [time, name] = found[nameKey(set)];
            time = std::max(time, entry.time);
            name = set;
        } else if (text::lowerAscii(text::extractFileExt(entry.name)) == ".sav") {
            found[key] = {entry.time, entry.name};
        }
    }
    std::vector<std::pair<uint32_t, std::string>> sorted;
    for (const auto& [key, version] : found) sorted.push_back(version);
    std::sort(sorted.begin(), sorted.end(), std::greater<>());
    std::vector<std::string> names;
    for (const auto& [time, name] : sorted) names.push_back(name);
    return names;
}

std::string bringBack(TZipArchiver& work, const std::string& savesZip,
                      const std::string& olderMember, const std::string& savesDir,
                      int compressionLevel, ProgressSink& progress, const SlotFolders& layout) {
    if (!isOlderVersion(olderMember)) throw EInOutError(savesZip + "\n" + olderMember);
    if (const std::string set = olderSlotSet(olderMember + "\\", layout); set == olderMember)
        return bringBackSlot(work, savesZip, set, savesDir, compressionLevel, progress, layout);
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
