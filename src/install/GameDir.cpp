#include "install/GameDir.h"

#include "app/AppState.h"
#include "platform/FileSystem.h"
#include "platform/Launcher.h"

namespace gamedir {

namespace {

// "The command that starts Windows programs, %s, cannot be found..."
constexpr int kStartCommandMissingSlot = 121;

}  // namespace

std::string missionFileName(int number) {
    return "miss" + std::to_string(number) + ".mis";
}

std::string path(const std::string& gameDir, const std::string& relative) {
    return fsx::resolve(fsx::joinMember(gameDir, relative));
}

launcher::StartResult start(const std::string& gameDir, const std::string& exeName) {
    return launcher::startProgram(path(gameDir, exeName), gameDir,
                                  launcher::startCommandSetting(app().settings.get()));
}

std::string startFailureMessage(const std::string& failed, const launcher::StartResult& result) {
    if (result.failure != launcher::StartFailure::startCommandMissing) return failed;
    std::string missing = slot(kStartCommandMissingSlot);
    const size_t at = missing.find("%s");
    if (at != std::string::npos) missing.replace(at, 2, result.startCommand);
    return failed + "\n\n" + missing;
}

}  // namespace gamedir
