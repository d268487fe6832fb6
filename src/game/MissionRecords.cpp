#include "game/MissionRecords.h"

#include "platform/IniFile.h"
#include "platform/TextDecode.h"
#include "platform/TextUtil.h"

namespace {

constexpr const char* kType = "type";
constexpr const char* kTitle = "title";
constexpr const char* kFinished = "finished";
constexpr const char* kLastStart = "date";

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
