#include "inspect/MissionCache.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

#include "base/DurableWrite.h"
#include "game/GameContext.h"
#include "platform/AppPaths.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/TextUtil.h"

namespace {

constexpr char kMagic[] = "tallowmere-mission-cache 2";
// A cache file larger than this is not read, and none larger is written.
constexpr int64_t kMaxCacheFile = 64 << 20;

struct Cached {
    std::vector<ArchiveMember> members;
    std::map<std::string, std::string> kept;
    std::set<std::string> unreadable;  // members the archive could not hand out
};

// The identity of the archive file the cache was made from (of every volume of a set).
std::string stamp(const std::string& path) {
    std::string text;
    for (const std::string& volume : archiveVolumes(path)) {
        if (!text.empty()) text += ' ';
        text +=
            std::to_string(fsx::fileSize64(volume)) + " " + std::to_string(fsx::fileAgeDos(volume));
    }
    return text;
}

std::string cacheFile(const std::string& cacheDir, const std::string& recordKey) {
    std::string name;
    for (char c : recordKey) name += (isalnum(static_cast<unsigned char>(c)) || c == '.') ? c : '_';
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(recordKey.data()),
                            static_cast<uInt>(recordKey.size()));
    char suffix[16];
    snprintf(suffix, sizeof suffix, "-%08lx", crc);
    return cacheDir + name.substr(0, 120) + suffix;
}

// What one cache file holds of the archive: its members, the kept texts less `dropped`,
// and the members no pass could hand out (the dropped ones among them).
struct Content {
    const std::vector<ArchiveMember>& members;
    const std::map<std::string, std::string>& kept;
    std::set<std::string> unreadable;
    std::set<std::string> dropped;
};

std::string serialise(const std::string& path, const Content& c) {
    std::ostringstream out;
    out << kMagic << '\n' << stamp(path) << '\n' << c.members.size() << '\n';
    for (const ArchiveMember& m : c.members)
        out << m.size << ' ' << m.dosTime << ' ' << m.name.size() << '\n' << m.name << '\n';
    out << c.kept.size() - c.dropped.size() << '\n';
    for (const auto& [name, data] : c.kept) {
        if (c.dropped.count(name) == 0)
            out << name.size() << ' ' << data.size() << '\n' << name << data << '\n';
    }
    out << c.unreadable.size() << '\n';
    for (const std::string& name : c.unreadable) out << name.size() << '\n' << name << '\n';
    return out.str();
}

// Leaves out the largest kept texts until the file fits what parse() reads back; they are
// remembered as unreadable, so that a later selection does not decode them again. False
// when not even the member list fits.
bool fitCache(Content& c) {
    uint64_t size = 128;
    for (const ArchiveMember& m : c.members) size += 64 + 2 * m.name.size();
    for (const auto& [name, data] : c.kept) size += 48 + 2 * name.size() + data.size();
    std::vector<std::pair<size_t, const std::string*>> bySize;
    for (const auto& [name, data] : c.kept) bySize.emplace_back(data.size(), &name);
    std::sort(bySize.begin(), bySize.end());
    while (size > static_cast<uint64_t>(kMaxCacheFile) && !bySize.empty()) {
        size -= bySize.back().first;
        c.dropped.insert(*bySize.back().second);
        c.unreadable.insert(*bySize.back().second);
        bySize.pop_back();
    }
    return size <= static_cast<uint64_t>(kMaxCacheFile);
}

// Reads `n` bytes after the current position; false when the file holds fewer.
bool readBytes(std::istream& in, size_t n, std::string& out) {
    out.assign(n, '\0');
    in.read(out.data(), static_cast<std::streamsize>(n));
    return static_cast<size_t>(in.gcount()) == n && in.get() == '\n';
}

bool parse(const std::string& file, const std::string& path, Cached& cached) {
    if (fsx::fileSize64(file) > kMaxCacheFile) return false;
    std::ifstream in(file, std::ios::binary);
    std::string line;
    if (!std::getline(in, line) || line != kMagic) return false;
    if (!std::getline(in, line) || line != stamp(path)) return false;
    size_t count = 0;
    if (!(in >> count) || count > static_cast<size_t>(kMaxCacheFile)) return false;
    for (size_t i = 0; i < count; ++i) {
        ArchiveMember m;
        size_t length = 0;
        if (!(in >> m.size >> m.dosTime >> length) || in.get() != '\n' || length > 65536 ||
            !readBytes(in, length, m.name))
            return false;
        cached.members.push_back(std::move(m));
    }
    if (!(in >> count)) return false;
    for (size_t i = 0; i < count; ++i) {
        size_t nameLength = 0, dataLength = 0;
        if (!(in >> nameLength >> dataLength) || in.get() != '\n' || nameLength > 65536 ||
            dataLength > static_cast<size_t>(kMaxCacheFile))
            return false;
        std::string both;
        if (!readBytes(in, nameLength + dataLength, both)) return false;
        cached.kept[both.substr(0, nameLength)] = both.substr(nameLength);
    }
    if (!(in >> count) || count > cached.members.size()) return false;
    for (size_t i = 0; i < count; ++i) {
        size_t length = 0;
        std::string name;
        if (!(in >> length) || in.get() != '\n' || length > 65536 || !readBytes(in, length, name))
            return false;
        cached.unreadable.insert(std::move(name));
    }
    return true;
}

// Written beside its final name, then renamed over it: a reader never sees half a file.
void writeReplacing(const std::string& file, const std::string& content) {
    durable::Options options;
    options.mode = 0644;
    durable::durableWrite(file, content, options);
}

// A mission answered from its cache; the archive is opened only for what the cache lacks.
class CachedMission final : public MissionArchive {
  public:
    CachedMission(const std::string& path, Cached cached)
        : MissionArchive(path), kept_(std::move(cached.kept)) {
        members_ = std::move(cached.members);
        unreadable_ = std::move(cached.unreadable);
    }

    bool sequential() const override { return false; }

    ArchiveStatus readMembers(const std::set<std::string>& names, uint64_t cap,
                              const Take& take) override {
        std::set<std::string> rest;
        for (const ArchiveMember& m : members_) {
            if (names.count(m.name) == 0 || unreadable_.count(m.name) != 0) continue;
            const auto found = kept_.find(m.name);
            if (found == kept_.end()) {
                rest.insert(m.name);
                continue;
            }
            if (found->second.size() > cap) continue;
            std::string data = found->second;
            if (!take(m, data)) return ArchiveStatus::Ok;
        }
        return rest.empty() ? ArchiveStatus::Ok : archive().readMembers(rest, cap, take);
    }

    ExtractResult extract(const std::vector<std::string>& names, const std::string& targetDir,
                          ExtractSink& sink) override {
        return archive().extract(names, targetDir, sink);
    }

  private:
    MissionArchive& archive() {
        if (!archive_) archive_ = openMissionArchive(path_);
        return *archive_;
    }

    std::map<std::string, std::string> kept_;
    std::unique_ptr<MissionArchive> archive_;
};

}  // namespace

std::string missionCacheDir(const std::string& settingsFile, const std::string& exeDir) {
    // A copy that keeps its settings beside itself keeps its cache there too; any other
    // uses the desktop's cache folder.
    const size_t slash = settingsFile.find_last_of(fsx::kPathDelim);
    const std::string folder =
        slash == std::string::npos ? std::string() : settingsFile.substr(0, slash + 1);
    const std::string desktop = apppaths::cacheDir();
    if (desktop.empty() || (!exeDir.empty() && folder == exeDir))
        return folder + "cache" + fsx::kPathDelim;
    return desktop;
}

std::string missionCacheDir(const GameContext& context) {
    return missionCacheDir(context.settings.fileName(), context.exeDir);
}

void storeMissionCache(const std::string& cacheDir, const std::string& recordKey,
                       const MissionArchive& archive,
                       const std::map<std::string, std::string>& kept) {
    if (archive.status() != ArchiveStatus::Ok) return;
    if (!fsx::forceDirectories(cacheDir)) return;
    Content content{archive.members(), kept, archive.unreadable(), {}};
    const std::string file = cacheFile(cacheDir, recordKey);
    if (!fitCache(content)) {
        ::unlink(file.c_str());  // an older one would describe another file
        return;
    }
    writeReplacing(file, serialise(archive.path(), content));
}

std::unique_ptr<MissionArchive> openAnalysedMission(const std::string& cacheDir,
                                                    const std::string& path,
                                                    const std::string& recordKey) {
    Cached cached;
    if (!readsAsZip(path) && parse(cacheFile(cacheDir, recordKey), path, cached))
        return std::make_unique<CachedMission>(path, std::move(cached));
    return openMissionArchive(path);
}

bool missionCacheKept(const std::string& cacheDir, const std::string& path,
                      const std::string& recordKey) {
    return !readsAsZip(path) && fsx::fileExists(cacheFile(cacheDir, recordKey));
}
