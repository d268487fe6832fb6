// Tallowmere: loader for Thief 1, Thief 2 and System Shock 2 fan missions.

#include <QIcon>
#include <cstdio>
#include <optional>

#include "app/CommandLine.h"
#include "app/PlayWatch.h"
#include "app/ui/PlayClock.h"
#include "app/ui/Program.h"
#include "archive/ui/PasswordDlg.h"
#include "platform/FileSystem.h"
#include "platform/ui/QtPrompter.h"
#include "platform/ui/Tooltips.h"

int main(int argc, char** argv) {
    // Started as the watcher of a game's play time: no window, no display needed.
    if (const int rc = playwatch::answer(argc, argv); rc >= 0) return rc;
    if (const std::optional<int> rc = commandline::answer(argc, argv, fsx::exeDirectory()))
        return *rc;
    if (!haveDisplay()) {
        std::fputs(
            "Tallowmere needs a graphical display, and none is available (neither DISPLAY nor\n"
            "WAYLAND_DISPLAY is set). Start it from a desktop session, or under a virtual\n"
            "display, for example:\n",
            stderr);
        std::fprintf(stderr, "    xvfb-run -a %s\n", argc > 0 ? argv[0] : "tallowmere");
        return 1;
    }
    TmApplication application(argc, argv);
    TmApplication::setApplicationName("Tallowmere");
    // The desktop entry's name, so that a Wayland desktop shows the window with its icon.
    TmApplication::setDesktopFileName(QStringLiteral("io.github.tallowmere.Tallowmere"));
    TmApplication::setWindowIcon(
        QIcon::fromTheme(QStringLiteral("io.github.tallowmere.Tallowmere"),
                         QIcon(QStringLiteral(":/mainform/icons/tallowmere.svg"))));
    Tooltips::install();
    playWatcherProgram() = TmApplication::applicationFilePath().toStdString();
    QtPrompter prompter(RunPasswordDialog);
    setPrompter(&prompter);
    InstallFeatureHooks();
    const int rc = RunProgram(fsx::exeDirectory());
    setPrompter(nullptr);
    return rc;
}
