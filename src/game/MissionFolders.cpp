#include "game/MissionFolders.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <optional>

#include "archive/MissionArchive.h"
#include "game/Games.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/Launcher.h"
#include "platform/Settings.h"
#include "platform/TextFile.h"
#include "platform/TextUtil.h"

namespace missionfolders {

namespace {

constexpr const char* kCamModIni = "cam_mod.ini";
constexpr const char* kFmPathKey = "fm_path";
constexpr const char* kDefaultRoot = "FMs";
constexpr const char* kFolderKey = "fm folder";
constexpr const char* kArchiveKey = "fm archive";
constexpr const char* kMissionKey = "fm mission";
constexpr const char* kMissionSizeKey = "fm mission size";

// The section listing game `game`'s folder names with the record key owning each. A record
// key always holds a "." before the archive's size, so it never names this section.
std::string ownersSection(int game) {
    return "mission folders " + std::to_string(game);
}

bool folderCharacter(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (std::isalnum(byte) && byte < 0x80) || c == '.' || c == '_' || c == '-';
}

std::string unquoted(std::string value) {
    value = text::trim(value);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return text::trim(value);
}

bool isDrivePath(const std::string& path) {
    return path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':';
}

// The folder a drive letter stands for in the prefix, without a trailing separator ("" for
// the root); nothing when the prefix has no such drive.
std::optional<std::string> driveFolder(char drive, const std::string& prefix) {
    const char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(drive)));
    if (!prefix.empty()) {
        const std::string link = prefix + "/dosdevices/" + std::string(1, letter) + ":";
        if (fsx::directoryExists(link)) return fsx::resolve(link);
    }
    if (letter == 'z') return "";
    if (letter == 'c' && !prefix.empty()) return prefix + "/drive_c";
    return std::nullopt;
}

bool taken(const std::string& name, const std::vector<std::string>& names) {
    return std::any_of(names.begin(), names.end(),
                       [&](const std::string& other) { return fsx::sameName(name, other); });
}

}  // namespace

bool supportsMissionFolders(const std::string& gameDir) {
    return !gameDir.empty() && fsx::fileExists(fsx::joinMember(gameDir, kCamModIni));
}

std::string fmPathSetting(const std::string& gameDir) {
    const std::string file = fsx::joinMember(gameDir, kCamModIni);
    if (!fsx::fileExists(file)) return {};
    for (const std::string& raw : textfile::readLines(file)) {
        const std::string line = text::trim(raw);
        if (line.empty() || line[0] == ';') continue;
        const size_t keyEnd = line.find_first_of(" \t");
        if (text::lowerAscii(line.substr(0, keyEnd)) != kFmPathKey) continue;
        return keyEnd == std::string::npos ? std::string() : unquoted(line.substr(keyEnd));
    }
    return {};
}

std::string pathOnDisk(const std::string& gamePath, const std::string& gameDir,
                       const std::string& prefix) {
    std::string path = gamePath;
    std::replace(path.begin(), path.end(), '\\', '/');
    if (isDrivePath(path)) {
        const std::optional<std::string> drive = driveFolder(path[0], prefix);
        if (!drive) return {};
        std::string rest = path.substr(2);
        if (rest.empty() || rest[0] != '/') rest = "/" + rest;
        return *drive + rest;
    }
    if (!path.empty() && path[0] == '/') return path;
    return text::withTrailingDelim(gameDir) + path;
}

std::string missionRoot(const std::string& gameDir) {
    const std::string setting = fmPathSetting(gameDir);
    const std::string path = pathOnDisk(setting.empty() ? kDefaultRoot : setting, gameDir,
                                        launcher::findWinePrefix(gameDir));
    return path.empty() ? path : text::withTrailingDelim(path);
}

std::string folderNameFor(const std::string& archivePath, const std::vector<std::string>& names) {
    // The file name after the last separator: a ":" in it is no drive.
#ifdef _WIN32
    std::string base = archivePath.substr(archivePath.find_last_of("/\\") + 1);
#else
    std::string base = archivePath.substr(archivePath.rfind('/') + 1);
#endif
    const std::string ext = missionArchiveExtension(base);
    base = base.substr(0, base.size() - ext.size());
    for (char& c : base)
        if (!folderCharacter(c)) c = '_';
    base.erase(0, base.find_first_not_of('.') == std::string::npos ? base.size()
                                                                   : base.find_first_not_of('.'));
    if (base.size() > kMaxFolderName) base.resize(kMaxFolderName);
    while (!base.empty() && (base.back() == '.' || base.back() == ' ')) base.pop_back();
    if (base.empty() || base == "." || base == "..") base = "mission";
    std::string name = base;
    for (int number = 2; taken(name, names); ++number) {
        std::string tag = "_";  // appended to: GCC 12 -O3 warns falsely on "_" + a string
        tag += std::to_string(number);
        name.assign(base, 0, std::min(base.size(), kMaxFolderName - tag.size()));
        name += tag;
    }
    return name;
}

std::vector<std::string> folderNamesIn(const std::string& root) {
    std::vector<std::string> names;
    if (!fsx::directoryExists(root)) return names;
    for (const fsx::DirEntry& entry : fsx::listDirectory(root, "*"))
        if (entry.isDirectory && entry.name != "." && entry.name != "..")
            names.push_back(entry.name);
    return names;
}

bool holdsMission(const std::string& folder, const std::string& missionFile, uint64_t size) {
    if (missionFile.empty() || !fsx::directoryExists(folder)) return false;
    const std::string file = fsx::joinMember(text::withTrailingDelim(folder), missionFile);
    return fsx::fileExists(file) && static_cast<uint64_t>(fsx::fileSize64(file)) == size;
}

bool enabled(const IniFile* settings, int game, const std::string& gameDir) {
    // A game that plays fan missions only from mission folders has no other way.
    if (const games::Game* known = games::find(game); known && known->foldersOnly) return true;
    if (settings::has(settings, settings::missionFolders(game)))
        return settings::get(settings, settings::missionFolders(game));
    return supportsMissionFolders(gameDir);
}

void storeEnabled(IniFile& settings, int game, bool on) {
    settings::set(settings, settings::missionFolders(game), on);
}

bool chosen(const IniFile& settings, int game) {
    return settings::has(&settings, settings::missionFolders(game));
}

bool validFolderName(const std::string& name) {
    return !name.empty() && name.size() <= kMaxFolderName && name.front() != '.' &&
           std::all_of(name.begin(), name.end(), folderCharacter);
}

std::string recordedFolder(const IniFile& settings, const std::string& recordKey) {
    return settings.ReadString(recordKey, kFolderKey, "");
}

void forgetRecordedFolder(IniFile& settings, const std::string& recordKey) {
    settings.WriteString(recordKey, kFolderKey, "");
}

std::string folderOwner(const IniFile& settings, int game, const std::string& name) {
    for (const std::string& key : settings.ReadSection(ownersSection(game)))
        if (fsx::sameName(key, name)) return settings.ReadString(ownersSection(game), key, "");
    return {};
}

FolderMission recordedMission(const IniFile& settings, const std::string& recordKey) {
    FolderMission mission;
    mission.archiveName = settings.ReadString(recordKey, kArchiveKey, "");
    mission.missionFile = settings.ReadString(recordKey, kMissionKey, "");
    const std::string size = settings.ReadString(recordKey, kMissionSizeKey, "");
    mission.missionSize = std::strtoull(size.c_str(), nullptr, 10);
    return mission;
}

bool holdsRecordedMission(const std::string& folder, const FolderMission& mission) {
    if (mission.missionFile.empty()) return fsx::directoryExists(folder);
    return holdsMission(folder, mission.missionFile, mission.missionSize);
}

void claimFolder(IniFile& settings, int game, const std::string& name, const std::string& recordKey,
                 const FolderMission& mission) {
    IniBatch batch(settings);
    // A mission owns one folder: a name it owned before is given up.
    for (const std::string& other : claimedFolders(settings, game))
        if (!fsx::sameName(other, name) &&
            settings.ReadString(ownersSection(game), other, "") == recordKey)
            settings.DeleteKey(ownersSection(game), other);
    settings.WriteString(recordKey, kArchiveKey, mission.archiveName);
    settings.WriteString(recordKey, kMissionKey, mission.missionFile);
    settings.WriteString(recordKey, kMissionSizeKey, std::to_string(mission.missionSize));
    settings.WriteString(recordKey, kFolderKey, name);
    settings.WriteString(ownersSection(game), name, recordKey);
    batch.Commit();
}

std::vector<std::string> claimedFolders(const IniFile& settings, int game) {
    return settings.ReadSection(ownersSection(game));
}

std::vector<std::string> installedRecords(const IniFile& settings, int game,
                                          const std::string& gameDir) {
    std::vector<std::string> records;
    std::string root;
    try {
        root = missionRoot(gameDir);
    } catch (const EInOutError&) {
        return records;  // an unreadable "cam_mod.ini" marks nothing
    }
    if (root.empty()) return records;
    std::vector<std::string> present;
    for (const std::string& name : folderNamesIn(root)) present.push_back(fsx::foldKey(name));
    std::sort(present.begin(), present.end());
    for (const std::string& name : claimedFolders(settings, game)) {
        if (!std::binary_search(present.begin(), present.end(), fsx::foldKey(name))) continue;
        const std::string owner = settings.ReadString(ownersSection(game), name, "");
        if (holdsRecordedMission(root + name, recordedMission(settings, owner)))
            records.push_back(owner);
    }
    return records;
}

}  // namespace missionfolders
