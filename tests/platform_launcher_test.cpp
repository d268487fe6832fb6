#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/FileSystem.h"
#include "platform/Launcher.h"
#include "support/TestSupport.h"

namespace {

// Waits up to five seconds for a started process to leave its record.
std::string waitForRecord(const std::string& path) {
    for (int i = 0; i < 250; ++i) {
        std::string s = readFile(path);
        if (s.find("end\n") != std::string::npos) return s;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return readFile(path);
}

// A shell script with run bit that records its arguments and working directory.
std::string writeRecorder(const TempDir& t, const std::string& name, const std::string& record) {
    std::string p =
        t.write(name, "#!/bin/sh\n{ echo \"args:$*\"; echo \"cwd:$(pwd)\"; echo end; } > '" +
                          record + "'\n");
    ::chmod(p.c_str(), 0755);
    return p;
}

// A minimal PE image: "MZ", e_lfanew at 0x3C, "PE\0\0" where it points.
std::string peImage(uint32_t peOffset = 0x80, bool withSignature = true) {
    std::string s(0x100, '\0');
    s[0] = 'M';
    s[1] = 'Z';
    s[0x3C] = char(peOffset & 0xFF);
    s[0x3D] = char((peOffset >> 8) & 0xFF);
    s[0x3E] = char((peOffset >> 16) & 0xFF);
    s[0x3F] = char((peOffset >> 24) & 0xFF);
    if (withSignature && peOffset + 4 <= s.size()) s.replace(peOffset, 4, std::string("PE\0\0", 4));
    return s;
}

// Replaces PATH for the life of the object.
struct PathGuard {
    std::string saved = getenv("PATH") ? getenv("PATH") : "";
    explicit PathGuard(const std::string& path) { setenv("PATH", path.c_str(), 1); }
    ~PathGuard() { setenv("PATH", saved.c_str(), 1); }
};

}  // namespace

TEST(Launcher, RecognisesPeImages) {
    TempDir t;
    EXPECT_TRUE(launcher::isWindowsProgram(t.write("game.exe", peImage())));
    EXPECT_TRUE(launcher::isWindowsProgram(t.path() + "GAME.EXE"));
    EXPECT_FALSE(launcher::isWindowsProgram(t.write("dos.exe", peImage(0x80, false))));
    EXPECT_FALSE(launcher::isWindowsProgram(t.write("out.exe", peImage(0xFFFFFF00u))));
    EXPECT_FALSE(launcher::isWindowsProgram(t.write("edge.exe", peImage(0xFD))));  // cut off
    EXPECT_TRUE(launcher::isWindowsProgram(t.write("last.exe", peImage(0xFC))));
    EXPECT_FALSE(launcher::isWindowsProgram(t.write("short.exe", "MZ")));
    EXPECT_FALSE(launcher::isWindowsProgram(t.write("text.exe", std::string(200, 'x'))));
    EXPECT_FALSE(launcher::isWindowsProgram(t.path() + "missing.exe"));
}

TEST(Launcher, StartsNativeProgramInWorkingDirectory) {
    TempDir t;
    t.write("Game Dir/x", "");
    std::string record = t.path() + "record.txt";
    writeRecorder(t, "Game Dir/run.sh", record);
    // Found without regard to case, started with the working directory given.
    ASSERT_TRUE(launcher::startProgram(t.path() + "game dir/RUN.SH", t.path() + "GAME DIR/"));
    std::string r = waitForRecord(record);
    EXPECT_NE(r.find("args:\n"), std::string::npos) << r;
    EXPECT_NE(r.find("cwd:" + t.path() + "Game Dir\n"), std::string::npos) << r;
}

TEST(Launcher, WindowsProgramGoesThroughWine) {
    TempDir t;
    std::string record = t.path() + "wine.txt";
    writeRecorder(t, "bin/wine", record);
    t.write("game/thief.exe", peImage());  // no run bit needed
    {
        PathGuard path(t.path() + "bin:/usr/bin:/bin");
        ASSERT_TRUE(launcher::startProgram(t.path() + "game/thief.exe", t.path() + "game/", "wine",
                                           {"-fm=My Mission"}));
    }
    std::string r = waitForRecord(record);
    // Arguments follow the program, each one word however many blanks it holds.
    EXPECT_NE(r.find("args:" + t.path() + "game/thief.exe -fm=My Mission\n"), std::string::npos)
        << r;
    EXPECT_NE(r.find("cwd:" + t.path() + "game\n"), std::string::npos) << r;
}

TEST(Launcher, FailuresAreReported) {
    TempDir t;
    t.write("empty/keep", "");
    std::string pe = t.write("thief.exe", peImage());
    ::chmod(pe.c_str(), 0755);
    {
        // No wine on the PATH: a Windows program cannot start.
        PathGuard path(t.path() + "empty");
        EXPECT_FALSE(launcher::startProgram(pe, t.path()));
    }
    std::string plain = t.write("plain.sh", "#!/bin/sh\ntouch '" + t.path() + "ran'\n");
    EXPECT_FALSE(launcher::startProgram(plain, t.path()));  // no run bit, not PE
    EXPECT_FALSE(launcher::startProgram(t.path() + "missing", t.path()));
    EXPECT_FALSE(launcher::startProgram(t.path() + "empty", t.path()));  // a directory
    EXPECT_FALSE(launcher::startProgram("", t.path()));

    std::string broken = t.write("broken.sh", "#!/nonexistent/interpreter\n");
    ::chmod(broken.c_str(), 0755);
    EXPECT_FALSE(launcher::startProgram(broken, t.path()));  // exec itself fails

    std::string ok = t.write("ok.sh", "#!/bin/sh\ntouch '" + t.path() + "ran'\n");
    ::chmod(ok.c_str(), 0755);
    EXPECT_FALSE(launcher::startProgram(ok, t.path() + "no such dir"));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(fsx::fileExists(t.path() + "ran"));
}

TEST(Launcher, OpenLinkHandsOverToXdgOpen) {
    TempDir t;
    std::string record = t.path() + "open.txt";
    writeRecorder(t, "bin/xdg-open", record);
    std::string doc = t.write("Docs/ReadMe.txt", "hello");
    PathGuard path(t.path() + "bin");
    ASSERT_TRUE(launcher::openLink("https://example.org/a?b=c"));
    EXPECT_NE(waitForRecord(record).find("args:https://example.org/a?b=c\n"), std::string::npos);
    ::unlink(record.c_str());
    ASSERT_TRUE(launcher::openLink(t.path() + "docs/readme.TXT"));
    EXPECT_NE(waitForRecord(record).find("args:" + doc + "\n"), std::string::npos);
    EXPECT_FALSE(launcher::openLink(t.path() + "missing.txt"));
    EXPECT_FALSE(launcher::openLink(""));

    PathGuard none(t.path() + "nothing");
    EXPECT_FALSE(launcher::openLink("mailto:someone@example.org"));
}

TEST(Launcher, FindsTheWinePrefixHoldingAGameDirectory) {
    TempDir t;
    t.write("wine/system.reg", "");
    t.write("wine/drive_c/Games/Thief2/thief2.exe", "");
    t.write("half/drive_c/Games/x", "");  // no system.reg: not a prefix
    t.write("Games/Thief2/thief2.exe", "");
    // Game directories where a mission left a "system.reg" and a "drive_c" folder.
    for (const char* game : {"wine/drive_c/Games/Shipped/", "Games/Shipped/"}) {
        t.write(std::string(game) + "system.reg", "");
        t.write(std::string(game) + "drive_c/windows/x", "");
    }
    const std::string prefix = t.path() + "wine";
    const std::pair<std::string, std::string> cases[] = {
        {t.path() + "wine/drive_c/Games/Thief2", prefix},
        {t.path() + "wine/drive_c/Games/Thief2/", prefix},
        {t.path() + "WINE/Drive_C/games/thief2", prefix},   // found without regard to case
        {t.path() + "wine/drive_c/Games/Shipped", prefix},  // the folder itself never counts
        {t.path() + "Games/Shipped/", ""},
        {t.path() + "wine", ""},
        {t.path() + "half/drive_c/Games", ""},
        {t.path() + "Games/Thief2", ""},
        {"", ""},
    };
    for (const auto& [dir, expected] : cases)
        EXPECT_EQ(launcher::findWinePrefix(dir), expected) << dir;
}

TEST(Launcher, WindowsProgramStartsInItsPrefixThroughTheStartCommand) {
    TempDir t;
    const std::string record = t.path() + "record.txt";
    // Records its arguments, working directory and Wine prefix.
    const std::string recorder =
        "#!/bin/sh\n{ echo \"args:$*\"; echo \"cwd:$(pwd)\"; "
        "echo \"prefix:${WINEPREFIX-unset}\"; echo end; } > '" +
        record + "'\n";
    for (const char* tool : {"bin/wine", "my tools/umu-run"})
        ::chmod(t.write(tool, recorder).c_str(), 0755);
    t.write("pfx/system.reg", "");
    const std::string inPrefix = t.write("pfx/drive_c/Thief2/thief2.exe", peImage());
    const std::string outside = t.write("Thief2/thief2.exe", peImage());
    PathGuard path(t.path() + "bin:/usr/bin:/bin");

    struct Case {
        std::string command, exe, environmentPrefix;
        launcher::StartFailure failure;
        std::string args, prefix;
    };
    const Case cases[] = {
        {"", inPrefix, "", launcher::StartFailure::none, inPrefix, t.path() + "pfx"},
        {"wine", outside, "", launcher::StartFailure::none, outside, "unset"},
        {"wine", outside, "/home/p/.wine-thief", launcher::StartFailure::none, outside,
         "/home/p/.wine-thief"},
        {"wine", inPrefix, "/elsewhere", launcher::StartFailure::none, inPrefix, t.path() + "pfx"},
        {"'" + t.path() + "my tools/umu-run' --no-gui \"a b\"", inPrefix, "",
         launcher::StartFailure::none, "--no-gui a b " + inPrefix, t.path() + "pfx"},
        {"no-such-wrapper run", inPrefix, "", launcher::StartFailure::startCommandMissing, "", ""},
        {t.path() + "my tools/missing", inPrefix, "", launcher::StartFailure::startCommandMissing,
         "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        ::unlink(record.c_str());
        if (c.environmentPrefix.empty())
            unsetenv("WINEPREFIX");
        else
            setenv("WINEPREFIX", c.environmentPrefix.c_str(), 1);
        const launcher::StartResult r = launcher::startProgram(c.exe, t.path(), c.command);
        unsetenv("WINEPREFIX");
        EXPECT_EQ(r.failure, c.failure);
        if (c.failure != launcher::StartFailure::none) {
            EXPECT_FALSE(r.startCommand.empty());
            continue;
        }
        const std::string rec = waitForRecord(record);
        EXPECT_NE(rec.find("args:" + c.args + "\n"), std::string::npos) << rec;
        EXPECT_NE(rec.find("cwd:" + t.path().substr(0, t.path().size() - 1) + "\n"),
                  std::string::npos)
            << rec;
        EXPECT_NE(rec.find("prefix:" + c.prefix + "\n"), std::string::npos) << rec;
    }
}
