#include "install/GameDir.h"

#include "platform/FileSystem.h"
#include "platform/Launcher.h"

namespace gamedir {

std::string missionFileName(int number) {
    return "miss" + std::to_string(number) + ".mis";
}

std::string path(const std::string& gameDir, const std::string& relative) {
    return fsx::resolve(fsx::joinMember(gameDir, relative));
}

bool start(const std::string& gameDir, const std::string& exeName) {
    return launcher::startProgram(path(gameDir, exeName), gameDir);
}

}  // namespace gamedir
