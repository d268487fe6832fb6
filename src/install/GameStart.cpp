#include "install/GameStart.h"

#include "game/GameDir.h"
#include "state/AppState.h"

namespace {

// "The command that starts Windows programs, %s, cannot be found..."
constexpr int kStartCommandMissingSlot = 121;

}  // namespace

launcher::StartResult startFromGameDir(const std::string& gameDir, const std::string& exeName,
                                       const std::vector<std::string>& arguments) {
    return gamedir::start(gameDir, exeName, launcher::startCommandSetting(app().settings.get()),
                          arguments);
}

std::string startFailureMessage(const std::string& failed, const launcher::StartResult& result) {
    if (result.failure != launcher::StartFailure::startCommandMissing) return failed;
    std::string missing = slot(kStartCommandMissingSlot);
    const size_t at = missing.find("%s");
    if (at != std::string::npos) missing.replace(at, 2, result.startCommand);
    return failed + "\n\n" + missing;
}
