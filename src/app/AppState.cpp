#include "app/AppState.h"

AppState& app() {
    static AppState state;
    return state;
}

void openAppFiles(const std::string& exeDir) {
    AppState& a = app();
    a.exeDir = exeDir;
    a.settings = std::make_unique<IniFile>(exeDir + "Tallowmere.ini");
    a.languageFile = std::make_unique<IniFile>(exeDir + "Tallowmere.dat");
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
