#include "app/StartUp.h"

#include "app/AppState.h"
#include "dialogs/SetupLogic.h"
#include "game/Games.h"
#include "platform/FileSystem.h"
#include "platform/Settings.h"

bool isFirstRun() {
    return setupNeverConfirmed(app().settings.get());
}

bool remembersWindowGeometry() {
    const IniFile* s = app().settings.get();
    return s && settings::get(s, settings::windowTop, kNotSet) != kNotSet;
}

WindowGeometry readWindowGeometry() {
    WindowGeometry g;
    if (const IniFile* s = app().settings.get()) {
        g.top = settings::get(s, settings::windowTop);
        g.left = settings::get(s, settings::windowLeft);
        g.height = settings::get(s, settings::windowHeight);
        g.width = settings::get(s, settings::windowWidth);
    }
    return g;
}

void writeWindowGeometry(const WindowGeometry& g) {
    IniFile* s = app().settings.get();
    if (!s) return;
    settings::set(*s, settings::windowTop, g.top);
    settings::set(*s, settings::windowLeft, g.left);
    settings::set(*s, settings::windowHeight, g.height);
    settings::set(*s, settings::windowWidth, g.width);
}

void deleteEditorScripts() {
    for (const games::Game& game : games::all()) {
        const std::string& dir = app().thiefdata[game.number].gameDir;
        if (dir.empty()) continue;
        const std::string script = dir + "tallowmere.dromed";
        if (fsx::fileExists(script)) fsx::deleteFile(script);
    }
}

int64_t roundHalfEven(int64_t n, int64_t d) {
    int64_t q = n / d;
    int64_t r = n % d;
    if (r < 0) {  // floor division
        r += d;
        --q;
    }
    if (2 * r > d || (2 * r == d && (q % 2) != 0)) ++q;
    return q;
}
