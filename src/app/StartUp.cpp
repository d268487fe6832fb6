#include "app/StartUp.h"

#include "dialogs/SetupLogic.h"
#include "game/Games.h"
#include "platform/FileSystem.h"
#include "state/AppState.h"

bool isFirstRun() {
    return setupNeverConfirmed(app().settings.get());
}

bool remembersWindowGeometry() {
    const IniFile* s = app().settings.get();
    return s && s->ReadInteger("window", "top", kNotSet) != kNotSet;
}

WindowGeometry readWindowGeometry() {
    WindowGeometry g;
    if (const IniFile* s = app().settings.get()) {
        g.top = s->ReadInteger("window", "top", 0);
        g.left = s->ReadInteger("window", "left", 0);
        g.height = s->ReadInteger("window", "height", 460);
        g.width = s->ReadInteger("window", "width", 610);
    }
    return g;
}

void writeWindowGeometry(const WindowGeometry& g) {
    IniFile* s = app().settings.get();
    if (!s) return;
    s->WriteInteger("window", "top", g.top);
    s->WriteInteger("window", "left", g.left);
    s->WriteInteger("window", "height", g.height);
    s->WriteInteger("window", "width", g.width);
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
