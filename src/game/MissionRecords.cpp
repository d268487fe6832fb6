#include "game/MissionRecords.h"

#include <algorithm>

#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/TextDecode.h"
#include "platform/TextUtil.h"

namespace {

constexpr const char* kType = "type";
constexpr const char* kTitle = "title";
constexpr const char* kFinished = "finished";
constexpr const char* kLastStart = "date";
constexpr const char* kFinishedOn = "finished on";
constexpr const char* kRating = "rating";
constexpr const char* kTags = "tags";
constexpr const char* kComment = "comment";
constexpr const char* kAuthor = "author";
constexpr const char* kReleaseDate = "release date";
constexpr const char* kDateAdded = "date added";
constexpr const char* kPlayTime = "play time";

// A list as a record keeps it: the items joined by ", "; read back split at the commas,
// each trimmed, empty ones dropped.
std::string joined(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
    return text;
}

std::vector<std::string> split(const std::string& text) {
    std::vector<std::string> items;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t comma = std::min(text.find(',', start), text.size());
        std::string item = text::trim(text.substr(start, comma - start));
        if (!item.empty()) items.push_back(std::move(item));
        start = comma + 1;
    }
    return items;
}

// Notes of several lines in one value: line breaks as "\n", a backslash doubled.
std::string escapedLines(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c != '\r')
            out += c;
    }
    return out;
}

std::string unescapedLines(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == 'n' || text[i + 1] == '\\')) {
            out += text[i + 1] == 'n' ? '\n' : '\\';
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

int64_t numberOr(const std::string& text, int64_t absent) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
        text.size() > 18)
        return absent;
    return std::stoll(text);
}

const std::string& textOf(const std::vector<std::string>& row, size_t col) {
    static const std::string empty;
    return col < row.size() ? row[col] : empty;
}

}  // namespace

std::string RecordKey(const std::vector<std::string>& row) {
    return recordKeyOf(textOf(row, 2), textOf(row, 4));
}

std::string ShownTitle(const std::string& stored) {
    return text::validUtf8(stored) ? stored : text::decodeText(stored);
}

void MissionStore::load(Mission& mission) const {
    const std::string& key = mission.recordKey;
    mission.type = settings_.ReadString(key, kType, "");
    mission.title =
        mission.gameRow ? mission.name : ShownTitle(settings_.ReadString(key, kTitle, ""));
    mission.finished = settings_.ReadBool(key, kFinished, false);
    mission.lastStart = settings_.ReadString(key, kLastStart, "");
    mission.finishedOn = split(settings_.ReadString(key, kFinishedOn, ""));
    const int64_t rating = numberOr(settings_.ReadString(key, kRating, ""), -1);
    mission.rating = rating >= 0 && rating <= 10 ? static_cast<int>(rating) : -1;
    mission.tags = split(settings_.ReadString(key, kTags, ""));
    mission.comment = unescapedLines(settings_.ReadString(key, kComment, ""));
    mission.author = settings_.ReadString(key, kAuthor, "");
    mission.releaseDate = settings_.ReadString(key, kReleaseDate, "");
    mission.dateAdded =
        static_cast<int32_t>(numberOr(settings_.ReadString(key, kDateAdded, ""), 0));
    mission.playSeconds = numberOr(settings_.ReadString(key, kPlayTime, ""), 0);
}

void MissionStore::setText(const std::string& key, const char* name, const std::string& value) {
    if (value.empty()) {
        if (settings_.ValueExists(key, name)) settings_.DeleteKey(key, name);
    } else {
        settings_.WriteString(key, name, value);
    }
}

void MissionStore::setRating(Mission& mission, int rating) {
    const int kept = rating >= 0 && rating <= 10 ? rating : -1;
    setText(mission.recordKey, kRating, kept < 0 ? "" : std::to_string(kept));
    mission.rating = kept;
}

void MissionStore::setTags(Mission& mission, std::vector<std::string> tags) {
    setText(mission.recordKey, kTags, joined(tags));
    mission.tags = std::move(tags);
}

void MissionStore::setComment(Mission& mission, const std::string& comment) {
    setText(mission.recordKey, kComment, escapedLines(comment));
    mission.comment = comment;
}

void MissionStore::setAuthor(Mission& mission, const std::string& author) {
    setText(mission.recordKey, kAuthor, author);
    mission.author = author;
}

void MissionStore::setReleaseDate(Mission& mission, const std::string& date) {
    setText(mission.recordKey, kReleaseDate, date);
    mission.releaseDate = date;
}

void MissionStore::setFinishedOn(Mission& mission, std::vector<std::string> difficulties) {
    IniBatch batch(settings_);
    setText(mission.recordKey, kFinishedOn, joined(difficulties));
    if (!difficulties.empty()) settings_.WriteBool(mission.recordKey, kFinished, true);
    batch.Commit();
    if (!difficulties.empty()) mission.finished = true;
    mission.finishedOn = std::move(difficulties);
}

void MissionStore::fillFound(Mission& mission, const std::string& author, const std::string& date) {
    const bool newAuthor = !author.empty() && !settings_.ValueExists(mission.recordKey, kAuthor);
    const bool newDate = !date.empty() && !settings_.ValueExists(mission.recordKey, kReleaseDate);
    if (newAuthor) setAuthor(mission, author);
    if (newDate) setReleaseDate(mission, date);
}

namespace {

const char* const kLibraryKeys[] = {kFinished, kLastStart, kFinishedOn,  kRating,    kTags,
                                    kComment,  kAuthor,    kReleaseDate, kDateAdded, kPlayTime};

}  // namespace

int32_t MissionStore::lastStartDay(const std::string& key) const {
    return settings_.ReadInteger(key, kLastStart, 0);
}

bool MissionStore::holdsLibrary(const std::string& key) const {
    Mission mission;
    mission.recordKey = key;
    load(mission);
    return ::holdsLibrary(mission);
}

void MissionStore::carryLibrary(Mission& mission, const std::string& from) {
    IniBatch batch(settings_);
    for (const char* name : kLibraryKeys)
        if (settings_.ValueExists(from, name))
            settings_.WriteString(mission.recordKey, name, settings_.ReadString(from, name, ""));
    batch.Commit();
    load(mission);
}

namespace {

constexpr const char* kLibraryHeader = "Tallowmere library";
constexpr const char* kFormatKey = "format";
constexpr const char* kFormat = "1";
// Written last, with the number of missions: a file cut short lacks it.
constexpr const char* kLibraryEnd = "Tallowmere library end";
constexpr const char* kCountKey = "missions";

bool isLibraryKey(const std::string& name) {
    for (const char* key : kLibraryKeys)
        if (text::equalsNoCase(name, key)) return true;
    return false;
}

// A value the record can hold under `key`.
bool validValue(const std::string& key, const std::string& value) {
    const auto digits = [&value] {
        return !value.empty() && value.size() <= 18 &&
               value.find_first_not_of("0123456789") == std::string::npos;
    };
    if (key == kFinished) return value == "0" || value == "1";
    if (key == kRating) return digits() && std::stoll(value) <= 10;
    if (key == kLastStart || key == kDateAdded || key == kPlayTime) return digits();
    return true;
}

// The union of two lists, in the order first seen, without regard to case.
std::string unionOf(const std::string& mine, const std::string& theirs) {
    std::vector<std::string> items = split(mine);
    for (const std::string& item : split(theirs)) {
        const bool known = std::any_of(items.begin(), items.end(), [&](const std::string& i) {
            return text::equalsNoCase(i, item);
        });
        if (!known) items.push_back(item);
    }
    return joined(items);
}

// The merged value of `key` from the record's `mine` and the file's `theirs` (both present).
std::string merged(const std::string& key, const std::string& mine, const std::string& theirs) {
    if (key == kFinished) return mine == "1" || theirs == "1" ? "1" : "0";
    if (key == kFinishedOn || key == kTags) return unionOf(mine, theirs);
    if (key == kLastStart || key == kPlayTime)
        return std::stoll(theirs) > numberOr(mine, 0) ? theirs : mine;
    if (key == kDateAdded) {
        const int64_t a = numberOr(mine, 0);
        const int64_t b = std::stoll(theirs);
        return a == 0 || (b != 0 && b < a) ? theirs : mine;
    }
    if (key == kComment) {
        if (mine.empty() || mine.find(theirs) != std::string::npos)
            return mine.empty() ? theirs : mine;
        return mine + "\\n" + theirs;
    }
    return mine.empty() ? theirs : mine;  // rating, author, release date: the record's own
}

}  // namespace

size_t MissionStore::exportLibrary(const std::string& path) const {
    IniFile file(path);
    IniBatch batch(file);
    for (const std::string& section : file.Sections()) file.EraseSection(section);
    file.WriteString(kLibraryHeader, kFormatKey, kFormat);
    size_t written = 0;
    for (const std::string& key : settings_.Sections()) {
        if (!holdsLibrary(key)) continue;
        for (const char* name : kLibraryKeys)
            if (settings_.ValueExists(key, name))
                file.WriteString(key, name, settings_.ReadString(key, name, ""));
        ++written;
    }
    file.WriteString(kLibraryEnd, kCountKey, std::to_string(written));
    batch.Commit();
    return written;
}

size_t MissionStore::importLibrary(const std::string& path) {
    if (!fsx::fileExists(path)) throw EInOutError("The library file " + path + " cannot be read.");
    const IniFile file(path);
    const std::vector<std::string> sections = file.Sections();
    if (sections.empty() || sections.front() != kLibraryHeader ||
        file.ReadString(kLibraryHeader, kFormatKey, "") != kFormat)
        throw EInOutError(path + " is not a library of missions written by this program.");
    // Everything is checked before anything is written.
    if (sections.size() < 2 || sections.back() != kLibraryEnd ||
        file.ReadString(kLibraryEnd, kCountKey, "") != std::to_string(sections.size() - 2))
        throw EInOutError(path + " is damaged: it ends before its last mission.");
    const size_t missions = sections.size() - 2;
    for (size_t i = 1; i <= missions; ++i) {
        for (const std::string& key : file.ReadSection(sections[i])) {
            if (!isLibraryKey(key) ||
                !validValue(text::lowerAscii(key), file.ReadString(sections[i], key, "")))
                throw EInOutError(path + " is damaged: [" + sections[i] + "] " + key + ".");
        }
    }
    IniBatch batch(settings_);
    for (size_t i = 1; i <= missions; ++i) {
        const std::string& record = sections[i];
        for (const char* key : kLibraryKeys) {
            if (!file.ValueExists(record, key)) continue;
            const std::string theirs = file.ReadString(record, key, "");
            const std::string value =
                settings_.ValueExists(record, key)
                    ? merged(key, settings_.ReadString(record, key, ""), theirs)
                    : theirs;
            if (value != settings_.ReadString(record, key, ""))
                settings_.WriteString(record, key, value);
        }
    }
    batch.Commit();
    return missions;
}

void MissionStore::setDateAdded(const std::string& key, int32_t day) {
    settings_.WriteInteger(key, kDateAdded, day);
}

void MissionStore::addPlayTime(const std::string& key, int64_t seconds) {
    if (seconds <= 0) return;
    const int64_t before = numberOr(settings_.ReadString(key, kPlayTime, ""), 0);
    settings_.WriteString(key, kPlayTime, std::to_string(before + seconds));
}

void MissionStore::setFinished(Mission& mission, bool finished) {
    settings_.WriteBool(mission.recordKey, kFinished, finished);
    mission.finished = finished;
}

void MissionStore::setTitle(Mission& mission, const std::string& title) {
    settings_.WriteString(mission.recordKey, kTitle, title);
    mission.title = ShownTitle(settings_.ReadString(mission.recordKey, kTitle, ""));
}

bool MissionStore::hasTitle(const std::string& key) const {
    return settings_.ReadString(key, kTitle, "_") != "_";
}

std::string MissionStore::storedTitle(const std::string& key, const std::string& absent) const {
    return settings_.ReadString(key, kTitle, absent);
}

void MissionStore::storeTitle(const std::string& key, const std::string& title) {
    settings_.WriteString(key, kTitle, title);
}

void MissionStore::setCount(const std::string& key, const char* name, int count) {
    if (settings_.ReadString(key, name, "") != std::to_string(count))
        settings_.WriteInteger(key, name, count);
}

int MissionStore::type(const std::string& key, int absent) const {
    return settings_.ReadInteger(key, kType, absent);
}

void MissionStore::setType(const std::string& key, int type) {
    settings_.WriteInteger(key, kType, type);
}

bool MissionStore::forgetType(const std::string& key) {
    if (!settings_.ValueExists(key, kType)) return false;
    settings_.DeleteKey(key, kType);
    return true;
}

void MissionStore::setLastStart(const std::string& key, int32_t dayNumber) {
    settings_.WriteInteger(key, kLastStart, dayNumber);
}
