#include "game/GameSources.h"

#include <cstdlib>

namespace gamesources {

Discovery findGames(const std::string& /*home*/) {
    return {};
}

GameRunner runnerFor(const std::string& /*gameDir*/, const std::string& /*home*/) {
    GameRunner runner;
    runner.label = "Wine prefix";
    return runner;
}

std::string homeFolder() {
    const char* home = std::getenv("HOME");
    return home ? home : "";
}

}  // namespace gamesources
