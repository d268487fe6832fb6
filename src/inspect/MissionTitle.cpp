#include "inspect/MissionTitle.h"

#include "inspect/ContentAnalysis.h"
#include "inspect/MissionCache.h"
#include "platform/TextDecode.h"
#include "platform/TextUtil.h"

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

}  // namespace

TitleSource titleSourceOf(const std::vector<ArchiveMember>& members) {
    TitleSource source;
    for (const ArchiveMember& m : members) {
        const std::string n = text::lowerAscii(m.name);
        if (contains(n, "strings\\") && contains(n, "titles.str")) source.titlesMember = m.name;
        if (text::lowerAscii(text::extractFileExt(m.name)) == ".mis")
            MissionNumberFromName(n, source.missionNumber);
    }
    return source;
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

std::optional<std::string> readMissionTitle(const std::string& path, const std::string& recordKey) {
    return readMissionTitle(*openAnalysedMission(path, recordKey));
}

std::optional<std::string> readMissionTitle(MissionArchive& archive) {
    if (archive.status() != ArchiveStatus::Ok) return std::nullopt;
    const TitleSource source = titleSourceOf(archive.members());
    if (source.titlesMember.empty()) return std::string("\"\"");
    std::string data;
    if (!archive.readMember(source.titlesMember, kTitlesCap, data)) return std::nullopt;
    return titleFromTitlesFile(data, source.missionNumber);
}

bool missionTitleReadsQuickly(const std::string& path, const std::string& recordKey) {
    return missionArchiveExtension(path) == ".zip" || missionCacheKept(path, recordKey);
}
