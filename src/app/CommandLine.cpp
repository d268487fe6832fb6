#include "app/CommandLine.h"

#include <cstdio>
#include <string_view>

#include "platform/AppPaths.h"

namespace commandline {
namespace {

enum class Request { Start, Help, Version };

// Qt's options, named without their leading dash (Qt accepts one or two). The first take a
// value, as the next argument or after '='.
constexpr std::string_view kQtOptionsWithValue[] = {"platform",
                                                    "platformpluginpath",
                                                    "platformtheme",
                                                    "plugin",
                                                    "qwindowgeometry",
                                                    "qwindowicon",
                                                    "qwindowtitle",
                                                    "session",
                                                    "display",
                                                    "name",
                                                    "geometry",
                                                    "title",
                                                    "icon",
                                                    "style",
                                                    "stylesheet",
                                                    "qmljsdebugger"};
constexpr std::string_view kQtFlags[] = {"reverse", "widgetcount", "testability", "nograb",
                                         "dograb"};

template <size_t N>
bool among(std::string_view name, const std::string_view (&names)[N]) {
    for (std::string_view n : names)
        if (n == name) return true;
    return false;
}

std::string_view baseName(const char* path) {
    const std::string_view p = path && *path ? path : "tallowmere";
    const size_t slash = p.rfind('/');
    return slash == std::string_view::npos ? p : p.substr(slash + 1);
}

// What the command line asks for; an argument that is neither ours nor Qt's goes into
// `refused`.
Request read(int argc, const char* const* argv, std::string& refused) {
    Request request = Request::Start;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "-h" || arg == "--help") return Request::Help;
        if (arg == "-v" || arg == "--version") {
            request = Request::Version;
            continue;
        }
        std::string_view name = arg;
        if (name.starts_with("--")) name.remove_prefix(1);
        if (name.size() > 1 && name.front() == '-') {
            name.remove_prefix(1);
            const size_t equals = name.find('=');
            if (among(name.substr(0, equals), kQtOptionsWithValue)) {
                if (equals == std::string_view::npos) ++i;  // the value follows
                continue;
            }
            if (among(name, kQtFlags)) continue;
        }
        if (refused.empty()) refused = arg;
    }
    return request;
}

}  // namespace

std::string usage(const std::string& programName, const std::string& exeDir) {
    return "Usage: " + programName + " [OPTION]...\n" +
           "Lists the fan mission archives of your mission folders, installs a mission into\n"
           "Thief 1, Thief 2 or System Shock 2 and starts the game (under Wine) or its level\n"
           "editor, DromEd or ShockEd.\n"
           "\n"
           "Options:\n"
           "  -h, --help     show this help and exit\n"
           "  -v, --version  show the version and exit\n"
           "Qt's own options (-platform, -style, -reverse and the others) are accepted too.\n"
           "\n"
           "Files:\n"
           "  settings       $XDG_CONFIG_HOME/tallowmere/Tallowmere.ini, that is\n"
           "                 ~/.config/tallowmere/Tallowmere.ini; a copy run from a writable\n"
           "                 folder of its own keeps them beside its executable, and a\n"
           "                 Tallowmere.ini beside the executable is always the one used.\n"
           "                 This copy uses " +
           apppaths::settingsFile(exeDir) +
           "\n"
           "  cache          $XDG_CACHE_HOME/tallowmere/, that is ~/.cache/tallowmere/ (cache/\n"
           "                 beside the executable when the settings are kept there)\n"
           "  language file  Tallowmere.dat beside the executable, else ../share/tallowmere/\n"
           "  engines        beside the executable, else ../lib/tallowmere/\n"
           "Missions, games, saved games and backups stay in the folders named in the setup.\n"
           "\n"
           "A graphical display (X11 or Wayland) is needed; without one, run the program\n"
           "under a virtual display: xvfb-run -a " +
           programName + "\n";
}

std::optional<int> answer(int argc, const char* const* argv, const std::string& exeDir) {
    const std::string programName(baseName(argc > 0 ? argv[0] : nullptr));
    std::string refused;
    switch (read(argc, argv, refused)) {
        case Request::Help:
            std::fputs(usage(programName, exeDir).c_str(), stdout);
            return 0;
        case Request::Version:
            std::printf("%s %s\n", TM_PRODUCT, TM_VERSION);
            return 0;
        case Request::Start:
            break;
    }
    if (refused.empty()) return std::nullopt;
    const char* what = refused.front() == '-' ? "unknown option" : "unexpected argument";
    std::fprintf(stderr, "%s: %s '%s'\nTry '%s --help' for more information.\n",
                 programName.c_str(), what, refused.c_str(), programName.c_str());
    return 2;
}

}  // namespace commandline
