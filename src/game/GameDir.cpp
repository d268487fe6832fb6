#include "game/GameDir.h"

#include "platform/FileSystem.h"
#include "platform/Launcher.h"

namespace gamedir {

std::string missionFileName(int number) {
    return "miss" + std::to_string(number) + ".mis";
}

std::string path(const std::string& gameDir, const std::string& relative) {
    return fsx::resolve(fsx::joinMember(gameDir, relative));
}

launcher::StartResult start(const std::string& gameDir, const std::string& exeName,
                            const std::string& windowsCommand,
                            const std::vector<std::string>& arguments) {
    return launcher::startProgram(path(gameDir, exeName), gameDir, windowsCommand, arguments);
}

}  // namespace gamedir
