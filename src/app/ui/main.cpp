// Tallowmere: loader for Thief 1 and Thief 2 fan missions.

#include <cstdio>

#include "app/ui/Program.h"
#include "platform/FileSystem.h"
#include "platform/ui/QtPrompter.h"

int main(int argc, char** argv) {
    if (!haveDisplay()) {
        std::fputs(
            "Tallowmere needs a graphical display, and none is available (neither DISPLAY nor\n"
            "WAYLAND_DISPLAY is set). Start it from a desktop session, or under a virtual\n"
            "display, for example:\n"
            "    xvfb-run -a ./tm run\n",
            stderr);
        return 1;
    }
    TmApplication application(argc, argv);
    TmApplication::setApplicationName("Tallowmere");
    QtPrompter prompter;
    setPrompter(&prompter);
    InstallFeatureHooks();
    const int rc = RunProgram(fsx::exeDirectory());
    setPrompter(nullptr);
    return rc;
}
