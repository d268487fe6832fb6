#include "inspect/MissionPictures.h"

#include <algorithm>
#include <exception>
#include <fstream>
#include <map>
#include <set>

#include "archive/MissionArchive.h"
#include "platform/FileSystem.h"
#include "platform/TextUtil.h"

namespace {

// Smaller files are icons and bullets of a read-me, not pictures of the mission.
constexpr uint64_t kMinShippedSize = 1024;
constexpr const char* kScreenshotsFolder = "screenshots";

// A picture found and not read yet: from `archive`'s member `where`, or from the file at
// path `where` when there is no archive.
struct Candidate {
    std::string name;
    PictureOrigin origin = PictureOrigin::Shipped;
    uint32_t dosTime = 0;
    uint64_t size = 0;
    std::string where;
    MissionArchive* archive = nullptr;
    int rank = 0;
};

bool pictureExtension(const std::string& lowerName) {
    static const std::set<std::string> extensions = {".png", ".jpg", ".jpeg", ".bmp", ".gif"};
    return extensions.count(text::extractFileExt(lowerName)) != 0;
}

// The folders and the file name of a member or relative path ("\" or "/" separators).
std::vector<std::string> nameParts(const std::string& name) {
    std::vector<std::string> parts;
    size_t at = 0;
    while (at <= name.size()) {
        const size_t end = std::min(name.find_first_of("\\/", at), name.size());
        if (end > at) parts.push_back(name.substr(at, end - at));
        at = end + 1;
    }
    return parts;
}

// The game's resource folders: what lies in them are textures, pages and interface art.
bool resourceFolder(const std::string& lowerFolder) {
    static const std::set<std::string> folders = {
        "bitmap", "bitmaps", "book",   "books", "fam",       "fonts", "intrface",
        "mesh",   "motions", "movies", "obj",   "pal",       "snd",   "snd2",
        "song",   "strings", "txt",    "txt16", "sq_scripts"};
    return folders.count(lowerFolder) != 0;
}

bool screenshotFolder(const std::string& lowerFolder) {
    static const std::set<std::string> folders = {"screenshots", "screenshot", "screens", "screen",
                                                  "shots",       "images",     "image",   "img",
                                                  "pics",        "pictures"};
    return folders.count(lowerFolder) != 0;
}

std::vector<Candidate> shippedCandidates(MissionArchive& archive) {
    std::vector<Candidate> found;
    const std::string root = MemberRoot(archive.members());
    for (const ArchiveMember& m : archive.members()) {
        const int rank = shippedPictureRank(m.name, root, m.size);
        if (rank < 0 || m.size > kMaxPictureSize) continue;
        std::string shown = WithoutMemberRoot(m.name, root);
        std::replace(shown.begin(), shown.end(), '\\', '/');
        found.push_back({shown, PictureOrigin::Shipped, m.dosTime, m.size, m.name, &archive, rank});
    }
    std::stable_sort(found.begin(), found.end(), [](const Candidate& a, const Candidate& b) {
        if (a.rank != b.rank) return a.rank < b.rank;
        return text::lowerAscii(a.name) < text::lowerAscii(b.name);
    });
    return found;
}

// The pictures right in `folder`'s "screenshots" folder written at or after `since`.
void folderCandidates(const std::string& folder, PictureOrigin origin, uint32_t since,
                      std::vector<Candidate>& out) {
    if (folder.empty()) return;
    const std::string dir = text::withTrailingDelim(folder) + kScreenshotsFolder;
    for (const fsx::DirEntry& e : fsx::listDirectory(dir, "*")) {
        if (e.isDirectory || !pictureExtension(text::lowerAscii(e.name))) continue;
        const std::string path = dir + fsx::kPathDelim + e.name;
        const int32_t time = fsx::fileAgeDos(path);
        if (time == -1 || static_cast<uint32_t>(time) < since) continue;
        out.push_back({e.name, origin, static_cast<uint32_t>(time), static_cast<uint64_t>(e.size),
                       path, nullptr, 0});
    }
}

// The saves archive's "screenshots\<name>" members; its "older\..." ones are passed over.
void savesCandidates(MissionArchive& saves, std::vector<Candidate>& out) {
    for (const ArchiveMember& m : saves.members()) {
        const std::vector<std::string> parts = nameParts(m.name);
        if (parts.size() != 2 || text::lowerAscii(parts[0]) != kScreenshotsFolder ||
            !pictureExtension(text::lowerAscii(parts[1])))
            continue;
        out.push_back(
            {parts[1], PictureOrigin::SavesArchive, m.dosTime, m.size, m.name, &saves, 0});
    }
}

// The player's screenshots, newest first, each once: a file of the same name and size in
// a later place is the copy of one seen before.
std::vector<Candidate> takenCandidates(const PictureSources& sources) {
    std::vector<Candidate> all;
    folderCandidates(sources.missionFolder, PictureOrigin::MissionFolder, 0, all);
    if (sources.saves) savesCandidates(*sources.saves, all);
    folderCandidates(sources.gameDir, PictureOrigin::GameFolder, sources.gameDirSince, all);
    std::vector<Candidate> unique;
    std::set<std::pair<std::string, uint64_t>> seen;
    for (Candidate& c : all) {
        if (c.size > kMaxPictureSize) continue;
        if (seen.emplace(text::lowerAscii(c.name), c.size).second) unique.push_back(std::move(c));
    }
    std::stable_sort(unique.begin(), unique.end(), [](const Candidate& a, const Candidate& b) {
        if (a.dosTime != b.dosTime) return a.dosTime > b.dosTime;
        return text::lowerAscii(a.name) > text::lowerAscii(b.name);
    });
    return unique;
}

// The first candidates, at most `count`, whose declared sizes fit into `budget`.
std::vector<Candidate> chosen(std::vector<Candidate> candidates, size_t count, uint64_t budget) {
    std::vector<Candidate> kept;
    for (Candidate& c : candidates) {
        if (kept.size() >= count) break;
        if (c.size > budget) continue;
        budget -= c.size;
        kept.push_back(std::move(c));
    }
    return kept;
}

bool readDiskFile(const std::string& path, std::string& out) {
    std::ifstream in(fsx::resolve(path), std::ios::binary);
    if (!in) return false;
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0 || static_cast<uint64_t>(size) > kMaxPictureSize) return false;
    in.seekg(0);
    out.resize(static_cast<size_t>(size));
    in.read(out.data(), size);
    return in.gcount() == size;
}

// Reads the candidates, each archive in one pass, no more than `budget` bytes in all (the
// sizes the members turn out to have count); those that cannot be read are left out.
std::vector<MissionPicture> readCandidates(const std::vector<Candidate>& candidates,
                                           uint64_t& budget) {
    std::map<std::pair<MissionArchive*, std::string>, std::string> data;
    std::map<MissionArchive*, std::set<std::string>> wanted;
    for (const Candidate& c : candidates) {
        if (c.archive) {
            wanted[c.archive].insert(c.where);
            continue;
        }
        std::string bytes;
        if (!readDiskFile(c.where, bytes) || bytes.size() > budget) continue;
        budget -= bytes.size();
        data[{nullptr, c.where}] = std::move(bytes);
    }
    for (const auto& [archive, names] : wanted) {
        try {
            archive->readMembers(names, kMaxPictureSize,
                                 [&](const ArchiveMember& m, std::string& bytes) {
                                     if (bytes.size() > budget) return true;
                                     budget -= bytes.size();
                                     data[{archive, m.name}] = std::move(bytes);
                                     return true;
                                 });
        } catch (const std::exception&) {
            // A damaged archive: what it handed out stands.
        }
    }
    std::vector<MissionPicture> pictures;
    for (const Candidate& c : candidates) {
        const auto it = data.find({c.archive, c.where});
        if (it == data.end()) continue;
        pictures.push_back({c.name, c.origin, c.dosTime, std::move(it->second)});
        data.erase(it);
    }
    return pictures;
}

}  // namespace

int shippedPictureRank(const std::string& memberName, const std::string& memberRoot,
                       uint64_t size) {
    if (size < kMinShippedSize) return -1;
    std::vector<std::string> parts =
        nameParts(text::lowerAscii(WithoutMemberRoot(memberName, memberRoot)));
    if (parts.empty() || !pictureExtension(parts.back())) return -1;
    const std::string ext = text::extractFileExt(parts.back());
    parts.pop_back();
    if (std::any_of(parts.begin(), parts.end(), resourceFolder)) return -1;
    if (std::any_of(parts.begin(), parts.end(), screenshotFolder)) return 0;
    if (parts.empty()) return 1;
    return ext == ".png" || ext == ".jpg" || ext == ".jpeg" ? 2 : -1;
}

std::vector<MissionPicture> findMissionPictures(const PictureSources& sources) {
    uint64_t budget = kMaxPictureBytes;
    std::vector<MissionPicture> pictures;
    try {
        if (sources.archive) {
            pictures = readCandidates(
                chosen(shippedCandidates(*sources.archive), kMaxShippedPictures, budget), budget);
        }
    } catch (const std::exception&) {
        // A damaged mission archive: its pictures are left out.
    }
    try {
        std::vector<MissionPicture> taken = readCandidates(
            chosen(takenCandidates(sources), kMaxPictures - pictures.size(), budget), budget);
        for (MissionPicture& p : taken) pictures.push_back(std::move(p));
    } catch (const std::exception&) {
        // An unreadable folder or saves archive: the screenshots read stand.
    }
    return pictures;
}
