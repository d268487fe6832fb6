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
    MissionStore(settings).setType(section, 0);
    return true;
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

uint8_t DecideGame(IniFile& settings, const std::string& section, const std::string& missionMember,
                   TZipArchiver& zip) {
    MissionStore store(settings);
    const int stored = store.type(section, 0);
    if (games::known(stored)) return static_cast<uint8_t>(stored);
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
