#include "platform/Settings.h"

#include "platform/IniFile.h"

namespace settings {

Text gameDirectory(const std::string& key) {
    return {kOptions, key, ""};
}

Text gameStartCommand(int game) {
    return {kOptions, startCommand.key + " " + std::to_string(game), ""};
}

Flag missionFolders(int game) {
    return {kOptions, "mission folders " + std::to_string(game), false};
}

Number columnWidth(int column) {
    return {kWindow, "column width " + std::to_string(column + 1), 0};
}

std::string get(const IniFile* file, const Text& setting) {
    return get(file, setting, setting.fallback);
}

std::string get(const IniFile* file, const Text& setting, const std::string& fallback) {
    return file ? file->ReadString(setting.section, setting.key, fallback) : fallback;
}

int32_t get(const IniFile* file, const Number& setting) {
    return get(file, setting, setting.fallback);
}

int32_t get(const IniFile* file, const Number& setting, int32_t fallback) {
    return file ? file->ReadInteger(setting.section, setting.key, fallback) : fallback;
}

bool get(const IniFile* file, const Flag& setting) {
    return file ? file->ReadBool(setting.section, setting.key, setting.fallback) : setting.fallback;
}

namespace {
template <typename T>
bool exists(const IniFile* file, const Setting<T>& setting) {
    return file && file->ValueExists(setting.section, setting.key);
}
}  // namespace

bool has(const IniFile* file, const Text& setting) {
    return exists(file, setting);
}
bool has(const IniFile* file, const Number& setting) {
    return exists(file, setting);
}
bool has(const IniFile* file, const Flag& setting) {
    return exists(file, setting);
}

void set(IniFile& file, const Text& setting, const std::string& value) {
    file.WriteString(setting.section, setting.key, value);
}

void set(IniFile& file, const Number& setting, int32_t value) {
    file.WriteInteger(setting.section, setting.key, value);
}

void set(IniFile& file, const Flag& setting, bool value) {
    file.WriteBool(setting.section, setting.key, value);
}

void erase(IniFile& file, const Text& setting) {
    file.DeleteKey(setting.section, setting.key);
}

void erase(IniFile& file, const Number& setting) {
    file.DeleteKey(setting.section, setting.key);
}

std::vector<std::string> missionDirectories(const IniFile& file) {
    return file.ReadSection(kMissionDirectories);
}

void setMissionDirectories(IniFile& file, const std::vector<std::string>& dirs) {
    file.EraseSection(kMissionDirectoriesErased);
    for (const std::string& dir : dirs) file.WriteString(kMissionDirectories, dir, "1");
}

void forgetWindow(IniFile& file) {
    file.EraseSection(kWindow);
}

}  // namespace settings
