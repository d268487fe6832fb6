#include "game/TypeDetection.h"

#include <string.h>

#include <algorithm>
#include <functional>

#include "archive/MissionArchive.h"
#include "archive/ZipArchiver.h"
#include "game/Games.h"
#include "game/MissionRecords.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/TextUtil.h"

namespace {

bool hasMissionFile(const std::vector<ArchiveMember>& members) {
    for (const ArchiveMember& m : members) {
        if (text::lowerAscii(m.name).find(".mis") != std::string::npos) return true;
    }
    return false;
}

// The mission test of an archive that has no type recorded. One that cannot be read
// (encrypted, damaged, cut short, unsupported) is listed as well, without a word on
// screen, so that its panel can say why; it is tested again at the next scan.
bool isMission(IniFile& settings, const std::string& section, const std::string& path) {
    std::unique_ptr<MissionArchive> archive = openMissionArchive(path);
    const ArchiveStatus status = archive->status();
    if (status == ArchiveStatus::NotFound || status == ArchiveStatus::NotArchive) return false;
    if (status != ArchiveStatus::Ok) return true;
    if (!hasMissionFile(archive->members())) return false;
    MissionStore(settings).setType(section, FoundMissionType(archive->members()));
    return true;
}

// "miss20.mis", "miss1.mis": the file name of a numbered Thief mission (lower case).
bool numberedMissionFile(const std::string& file) {
    if (file.size() <= 8 || !file.starts_with("miss") || !file.ends_with(".mis")) return false;
    return file.find_first_not_of("0123456789", 4) == file.size() - 4;
}

}  // namespace

std::string ArchiveRecordKey(const std::string& fileName, int64_t size) {
    // ".zip" names lose their last four characters as they always did; ".7z" and ".rar"
    // names their real extension.
    const std::string ext = missionArchiveExtension(fileName);
    const size_t cut = ext.empty() || ext == ".zip" ? 4 : ext.size();
    return recordKeyOf(fileName.size() > cut ? fileName.substr(0, fileName.size() - cut) : "",
                       std::to_string(size));
}

bool IsMissionArchive(IniFile& settings, const std::string& dir, const std::string& fileName) {
    const std::string path = dir + fileName;
    const std::string section = ArchiveRecordKey(fileName, fsx::fileSize64(path));
    if (MissionStore(settings).type(section, -1) != -1) return true;
    return isMission(settings, section, path);
}

int GameByMembers(const std::vector<std::string>& memberNames) {
    std::vector<std::string> files, levels;  // lower-case file names; stems of the ".mis"
    for (const std::string& name : memberNames) {
        const std::string file = text::lowerAscii(text::extractFileName(name));
        if (numberedMissionFile(file)) return 0;
        files.push_back(file);
        if (file.size() > 4 && file.ends_with(".mis"))
            levels.push_back(file.substr(0, file.size() - 4));
    }
    if (levels.empty()) return 0;
    const auto holds = [](const std::vector<std::string>& list, const std::string& name) {
        return std::find(list.begin(), list.end(), name) != list.end();
    };
    for (const games::Game& game : games::all()) {
        if (game.gamesysName.empty() && game.levelNames.empty()) continue;
        if (!game.gamesysName.empty() && holds(files, text::lowerAscii(game.gamesysName)))
            return game.number;
        for (const std::string& level : levels)
            if (holds(game.levelNames, level)) return game.number;
    }
    return 0;
}

int FoundMissionType(const std::vector<ArchiveMember>& members) {
    std::vector<std::string> names;
    names.reserve(members.size());
    for (const ArchiveMember& m : members) names.push_back(m.name);
    return GameByMembers(names);
}

uint8_t DecideGame(IniFile& settings, const std::string& section, const std::string& missionMember,
                   TZipArchiver& zip) {
    MissionStore store(settings);
    const int stored = store.type(section, 0);
    if (games::known(stored)) return static_cast<uint8_t>(stored);
    std::vector<std::string> names;
    for (const ZipDirEntry& e : zip.Entries()) names.push_back(e.FileName);
    if (const int byMembers = GameByMembers(names); byMembers != 0) {
        store.setType(section, byMembers);
        return static_cast<uint8_t>(byMembers);
    }
    // An encrypted mission file is not even tried without a password given on purpose.
    if (zip.Password.empty()) {
        for (const ZipDirEntry& e : zip.Entries()) {
            if (e.Encrypted && text::equalsNoCase(e.FileName, missionMember)) return 0;
        }
    }
    const TZipStream* stream = zip.ExtractToStream(missionMember);
    if (stream == nullptr) return 0;
    const auto game = static_cast<uint8_t>(games::byMarker(
        [stream](const std::string& marker) { return ContainsMarker(marker, stream); }));
    store.setType(section, game);
    return game;
}

bool ContainsMarker(const std::string& marker, const char* data, size_t size) {
    if (marker.empty() || data == nullptr || size < marker.size()) return false;
#if defined(__GLIBC__)
    // The C library's two-way search is vectorised: about three times the speed of the
    // Horspool search on mission files.
    return memmem(data, size, marker.data(), marker.size()) != nullptr;
#else
    const std::boyer_moore_horspool_searcher searcher(marker.begin(), marker.end());
    return std::search(data, data + size, searcher) != data + size;
#endif
}

bool ContainsMarker(const std::string& marker, const TZipStream* stream) {
    if (stream == nullptr || stream->Size() <= 0) return false;
    return ContainsMarker(marker, stream->Memory(), static_cast<size_t>(stream->Size()));
}
