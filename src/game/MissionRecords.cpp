#include "game/MissionRecords.h"

#include "archive/MissionArchive.h"
#include "game/Games.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/TextDecode.h"
#include "platform/TextUtil.h"
#include "state/AppState.h"

namespace {

const std::string& cellOf(const std::vector<std::string>& row, size_t col) {
    static const std::string empty;
    return col < row.size() ? row[col] : empty;
}

IniFile& store() {
    if (!app().settings) throw EInOutError("The settings store is not open");
    return *app().settings;
}

// The finished mark of column 5: "F" or empty.
void setMark(std::string& cell, bool finished) {
    if (finished) {
        cell.assign(1, 'F');
    } else {
        cell.clear();
    }
}

// A game row (no size) shows its game's mark ("20" for game 2) and its own text as title,
// whatever its record holds.
void keepGameRowMark(std::vector<std::string>& row) {
    const std::string& name = row[2];
    const int game = row[4].empty() ? games::originalRowGame(name) : 0;
    if (game == 0) return;
    row[0] = std::to_string(game) + "0";
    row[1] = name;
}

}  // namespace

std::string RecordKey(const std::vector<std::string>& row) {
    const std::string& name = cellOf(row, 2);
    const std::string& size = cellOf(row, 4);
    if (!size.empty()) {
        std::string key;
        key.reserve(name.size() + 1 + size.size());
        key.append(name).append(1, '.').append(size);
        return text::removeChars(key, "]");
    }
    if (name.size() <= 1) return std::string();
    return name.substr(1, 30);
}

std::string ShownTitle(const std::string& stored) {
    return text::validUtf8(stored) ? stored : text::decodeText(stored);
}

void LoadRecordIntoRow(const IniFile& settings, std::vector<std::string>& row) {
    if (row.size() < 7) row.resize(7);
    const std::string key = RecordKey(row);
    row[1] = ShownTitle(settings.ReadString(key, "title", ""));
    row[0] = settings.ReadString(key, "type", "") + "1";
    setMark(row[5], settings.ReadBool(key, "finished", false));
    row[6] = settings.ReadString(key, "date", "");
    keepGameRowMark(row);
}

void LoadRecordIntoRow(std::vector<std::string>& row) {
    LoadRecordIntoRow(store(), row);
}

void SetRowFinished(IniFile& settings, std::vector<std::string>& row, bool checked) {
    settings.WriteBool(RecordKey(row), "finished", checked);
    if (row.size() < 7) row.resize(7);
    setMark(row[5], checked);
}

void SetRowFinished(std::vector<std::string>& row, bool checked) {
    SetRowFinished(store(), row, checked);
}

std::string MissionArchivePath(const std::string& dir, const std::string& name,
                               const std::string& sizeText) {
    std::string existing;
    for (const std::string& ext : missionArchiveExtensions()) {
        const std::string path = dir + name + ext;
        const int64_t size = fsx::fileSize64(path);
        if (size < 0) continue;
        if (std::to_string(size) == sizeText) return path;
        if (existing.empty()) existing = path;
    }
    // A row named with its extension (an archive sharing name and size with one of
    // another format) names its file itself.
    if (!missionArchiveExtension(name).empty() &&
        std::to_string(fsx::fileSize64(dir + name)) == sizeText)
        return dir + name;
    return existing.empty() ? dir + name + ".zip" : existing;
}
