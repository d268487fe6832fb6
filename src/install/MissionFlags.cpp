#include "install/MissionFlags.h"

#include "game/Games.h"
#include "platform/TextFile.h"

void WriteMissionFlags(const std::string& path, uint8_t n, uint8_t game) {
    textfile::Writer out(path);
    const games::Game* known = games::find(game);
    out.writeLine("miss_1: \"" + (known ? known->firstMissionFlags : std::string("skip")) + "\"");
    for (int k = 2; k < n; ++k) out.writeLine("miss_" + std::to_string(k) + ": \"skip\"");
    out.writeLine("miss_" + std::to_string(n) + ": \"no_briefing, no_loadout, end\"");
    out.close();
}
