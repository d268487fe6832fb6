#include "inspect/MissionTitle.h"

#include "game/Games.h"
#include "game/TypeDetection.h"
#include "inspect/ContentAnalysis.h"
#include "inspect/MissionCache.h"
#include "inspect/MissionFacts.h"
#include "platform/TextDecode.h"
#include "platform/TextUtil.h"
#include "state/LanguageTable.h"

namespace {

// Titles files are a few kilobytes; a larger one is no titles file.
constexpr uint64_t kTitlesCap = 1 << 20;
constexpr size_t kTitleBytes = 256;

bool contains(const std::string& s, const char* part) {
    return s.find(part) != std::string::npos;
}

// At most `limit` bytes of UTF-8 text `s`, cut before a letter that would not fit whole.
std::string cutUtf8(const std::string& s, size_t limit) {
    if (s.size() <= limit) return s;
    size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) --end;
    return s.substr(0, end);
}

std::string quoted(const std::string& title) {
    return "\"" + cutUtf8(title, kTitleBytes - 2) + "\"";
}

// The title of an archive without a titles file: "\"\"", unless its members say it is a
// mission of a game that titles such missions by their fm.ini or read-me.
std::string titleWithoutTitlesFile(MissionArchive& archive) {
    const games::Game* game = games::find(FoundMissionType(archive.members()));
    if (game == nullptr || !game->titledByReadme) return "\"\"";
    return quoted(findMissionFacts(archive).title);
}

}  // namespace

std::string titleFromFmIniOrReadme(const std::string& fmIniText, const std::string& readmeText) {
    std::string title = factsFromFmIni(fmIniText).title;
    if (title.empty()) title = titleFromReadme(readmeText);
    return quoted(title);
}

void TitleSource::consider(const std::string& name, const std::string& language) {
    const std::string n = text::lowerAscii(name);
    if (contains(n, "strings\\") && contains(n, "titles.str")) {
        const auto endsWith = [&](const std::string& end) {
            return n.size() >= end.size() &&
                   n.compare(n.size() - end.size(), end.size(), end) == 0 &&
                   (n.size() == end.size() || n[n.size() - end.size() - 1] == '\\');
        };
        const int rank = !language.empty() && endsWith("strings\\" + language + "\\titles.str") ? 0
                         : endsWith("strings\\titles.str")                                      ? 1
                                                                                                : 2;
        if (rank < rank_) {
            rank_ = rank;
            titlesMember = name;
        }
    }
    uint8_t number = 0;
    if (text::lowerAscii(text::extractFileExt(name)) == ".mis" &&
        MissionNumberFromName(text::lowerAscii(text::extractFileName(name)), number) &&
        (!numbered_ || number < missionNumber)) {
        missionNumber = number;
        numbered_ = true;
    }
}

TitleSource titleSourceOf(const std::vector<ArchiveMember>& members, const std::string& language) {
    TitleSource source;
    for (const ArchiveMember& m : members) source.consider(m.name, language);
    return source;
}

std::string titleLanguage() {
    return interfaceLanguage();
}

std::string titleFromTitlesFile(const std::string& bytes, uint8_t missionNumber) {
    const std::string decoded = text::decodeText(bytes);
    const std::string tag = "title_" + std::to_string(missionNumber) + ":";
    std::string title = "\"\"";
    size_t at = 0;
    while (at < decoded.size()) {
        size_t end = decoded.find_first_of("\r\n", at);
        if (end == std::string::npos) end = decoded.size();
        const std::string line = decoded.substr(at, end - at);
        if (line.find(tag) != std::string::npos) {
            const size_t quote = line.find('"');
            title = cutUtf8(quote == std::string::npos ? line : line.substr(quote), kTitleBytes);
        }
        at = end + 1;
    }
    return title;
}

std::optional<std::string> readMissionTitle(const std::string& cacheDir, const std::string& path,
                                            const std::string& recordKey) {
    return readMissionTitle(*openAnalysedMission(cacheDir, path, recordKey), titleLanguage());
}

std::optional<std::string> readMissionTitle(MissionArchive& archive, const std::string& language) {
    if (archive.status() != ArchiveStatus::Ok) return std::nullopt;
    const TitleSource source = titleSourceOf(archive.members(), language);
    if (source.titlesMember.empty()) return titleWithoutTitlesFile(archive);
    std::string data;
    if (!archive.readMember(source.titlesMember, kTitlesCap, data)) return std::nullopt;
    return titleFromTitlesFile(data, source.missionNumber);
}

bool missionTitleReadsQuickly(const std::string& cacheDir, const std::string& path,
                              const std::string& recordKey) {
    return readsAsZip(path) || missionCacheKept(cacheDir, path, recordKey);
}
