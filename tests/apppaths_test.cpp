// Where the program keeps its settings and finds its language file, engines, plug-in and
// cache: beside a copy run from its own folder, in the desktop's folders when installed.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "app/AppState.h"
#include "app/Operations.h"
#include "inspect/MissionCache.h"
#include "platform/AppPaths.h"
#include "platform/FileSystem.h"
#include "support/TestSupport.h"

namespace {

// Sets an environment variable (or removes it for nullptr) for the life of the object.
struct EnvGuard {
    std::string name;
    bool had = false;
    std::string saved;
    EnvGuard(const char* variable, const char* value) : name(variable) {
        if (const char* v = getenv(variable)) had = true, saved = v;
        if (value)
            setenv(variable, value, 1);
        else
            unsetenv(variable);
    }
    ~EnvGuard() {
        if (had)
            setenv(name.c_str(), saved.c_str(), 1);
        else
            unsetenv(name.c_str());
    }
};

}  // namespace

TEST(AppPaths, FilesLiveBesideACopyOrInTheUsersFolders) {
    struct Case {
        const char* what;
        std::vector<const char*> files;  // under the temporary folder; "bin/" holds the program
        bool readOnlyBin;
        const char* xdgConfig;  // "" = unset, else relative to the temporary folder
        const char *settings, *language, *library;
    };
    const Case cases[] = {
        {"portable copy",
         {"bin/Tallowmere.dat", "bin/ZIPENG.DLL"},
         false,
         "cfg",
         "bin/",
         "bin/Tallowmere.dat",
         "bin/"},
        {"portable copy, nothing else", {}, false, "cfg", "bin/", "bin/Tallowmere.dat", "bin/"},
        {"installed",
         {"share/tallowmere/Tallowmere.dat", "lib/tallowmere/mp3dec.plg"},
         false,
         "cfg",
         "cfg/tallowmere/",
         "share/tallowmere/Tallowmere.dat",
         "lib/tallowmere/"},
        {"installed, no XDG_CONFIG_HOME",
         {"share/tallowmere/Tallowmere.dat"},
         false,
         "",
         "home/.config/tallowmere/",
         "share/tallowmere/Tallowmere.dat",
         "bin/"},
        {"installed, settings kept beside it",
         {"bin/Tallowmere.ini", "share/tallowmere/Tallowmere.dat", "lib/tallowmere/UNZENG.DLL"},
         true,
         "cfg",
         "bin/",
         "share/tallowmere/Tallowmere.dat",
         "lib/tallowmere/"},
        {"read-only copy",
         {"bin/Tallowmere.dat", "bin/mp3dec.plg"},
         true,
         "cfg",
         "cfg/tallowmere/",
         "bin/Tallowmere.dat",
         "bin/"},
        {"read-only copy with settings",
         {"bin/Tallowmere.dat", "bin/Tallowmere.ini"},
         true,
         "cfg",
         "bin/",
         "bin/Tallowmere.dat",
         "bin/"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // Root may write anywhere: a read-only folder cannot be made for it.
        if (c.readOnlyBin && geteuid() == 0 && std::string(c.settings) != "bin/") continue;
        TempDir t;
        const std::string bin = t.path() + "bin/";
        fsx::forceDirectories(bin);
        for (const char* f : c.files) t.write(f, "x");
        const std::string xdg = *c.xdgConfig ? t.path() + c.xdgConfig : std::string();
        EnvGuard config("XDG_CONFIG_HOME", *c.xdgConfig ? xdg.c_str() : nullptr);
        EnvGuard home("HOME", (t.path() + "home").c_str());
        EnvGuard cache("XDG_CACHE_HOME", nullptr);
        if (c.readOnlyBin) ::chmod(bin.c_str(), 0555);

        EXPECT_EQ(apppaths::settingsDir(bin), t.path() + c.settings);
        EXPECT_EQ(apppaths::languageFile(bin), t.path() + c.language);
        EXPECT_EQ(apppaths::libraryDir(bin), t.path() + c.library);

        // The program opens its settings there, creating the user's folder when needed.
        openAppFiles(bin);
        app().settings->WriteString("options", "language", "2");
        EXPECT_TRUE(fsx::fileExists(t.path() + c.settings + "Tallowmere.ini"));
        // The mission cache stays with settings kept beside the program, else the user's.
        EXPECT_EQ(missionCacheDir(programContext()), std::string(c.settings) == "bin/"
                                                         ? bin + "cache/"
                                                         : t.path() + "home/.cache/tallowmere/");
        closeAppFiles();
        ::chmod(bin.c_str(), 0755);
    }
}

TEST(AppPaths, CacheFollowsXdgCacheHome) {
    EnvGuard home("HOME", "/home/player");
    {
        EnvGuard cache("XDG_CACHE_HOME", "/var/cache/player");
        EXPECT_EQ(apppaths::cacheDir(), "/var/cache/player/tallowmere/");
    }
    for (const char* notUsable : {static_cast<const char*>(nullptr), "relative/cache"}) {
        EnvGuard cache("XDG_CACHE_HOME", notUsable);
        EXPECT_EQ(apppaths::cacheDir(), "/home/player/.cache/tallowmere/");
    }
}
