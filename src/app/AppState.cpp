#include "app/AppState.h"

#include "platform/AppPaths.h"
#include "platform/FileSystem.h"

namespace {

// The language table slot() reads is the program's own, read from its files.
void installLanguageTable(AppState& state) {
    useLanguageTable({&state.languageSlots, &state.interfaceLanguage, [&state] {
                          state.interfaceLanguage = readLanguageTable(
                              state.settings.get(), state.languageFile.get(), state.languageSlots);
                      }});
}

}  // namespace

AppState& app() {
    static AppState state;
    static const bool tableInstalled = (installLanguageTable(state), true);
    (void)tableInstalled;
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
