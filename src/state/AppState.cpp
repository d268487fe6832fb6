#include "state/AppState.h"

#include "platform/AppPaths.h"
#include "platform/FileSystem.h"

AppState& app() {
    static AppState state;
    return state;
}

void openAppFiles(const std::string& exeDir) {
    AppState& a = app();
    a.exeDir = exeDir;
    const std::string settingsDir = apppaths::settingsDir(exeDir);
    // The user's configuration folder may not exist yet; a failure shows at the first write.
    if (settingsDir != exeDir && !fsx::directoryExists(settingsDir))
        fsx::forceDirectories(settingsDir);
    a.settings = std::make_unique<IniFile>(settingsDir + apppaths::kSettingsName);
    a.languageFile = std::make_unique<IniFile>(apppaths::languageFile(exeDir));
}

void closeAppFiles() {
    AppState& a = app();
    a.languageFile.reset();
    a.settings.reset();
}

const std::string& slot(int n) {
    static const std::string empty;
    if (n < 1 || n > kLanguageSlotCount) return empty;
    return app().languageSlots[static_cast<size_t>(n)];
}
