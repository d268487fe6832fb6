#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>

#include "platform/Errors.h"
#include "platform/IniFile.h"
#include "support/TestSupport.h"

namespace {

std::vector<std::string> dirEntries(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Runs `body` in a child process without privileges (as "nobody" when the tests run as
// root, so that permissions are enforced). `body` returns "" on success or what failed.
void runUnprivileged(const std::string& ownDir, const std::function<std::string()>& body) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        close(fds[0]);
        std::string failure;
        if (geteuid() == 0) {
            if (chown(ownDir.c_str(), 65534, 65534) != 0 || setgid(65534) != 0 ||
                setuid(65534) != 0)
                failure = std::string("cannot drop privileges: ") + std::strerror(errno);
        }
        if (failure.empty()) {
            try {
                failure = body();
            } catch (const std::exception& e) {
                failure = std::string("unexpected exception: ") + e.what();
            }
        }
        [[maybe_unused]] ssize_t n = write(fds[1], failure.data(), failure.size());
        close(fds[1]);
        _exit(failure.empty() ? 0 : 1);
    }
    close(fds[1]);
    std::string report;
    char buf[512];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) report.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << report;
}

class IniFileTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::string path = dir.file("Tallowmere.ini");
};

TEST_F(IniFileTest, ValuesAsReadersSeeThem) {
    writeFile(path,
              "[Options]\n"
              "Spaced =   some value \t\n"
              "dq=\"quoted title\"\n"
              "sq=  'single'  \n"
              "inner=\"a\" and \"b\"\n"
              "half=\"open\n"
              "mixed=\"x'\n"
              "empty=\n"
              "onlyquotes=\"\"\n"
              "eq=a=b\n");
    IniFile ini(path);
    EXPECT_EQ(ini.ReadString("options", "spaced", "d"), "some value");
    EXPECT_EQ(ini.ReadString("OPTIONS", "DQ", "d"), "quoted title");
    EXPECT_EQ(ini.ReadString("options", "sq", "d"), "single");
    EXPECT_EQ(ini.ReadString("options", "inner", "d"), "a\" and \"b");
    EXPECT_EQ(ini.ReadString("options", "half", "d"), "\"open");
    EXPECT_EQ(ini.ReadString("options", "mixed", "d"), "\"x'");
    EXPECT_EQ(ini.ReadString("options", "empty", "d"), "");
    EXPECT_EQ(ini.ReadString("options", "onlyquotes", "d"), "");
    EXPECT_EQ(ini.ReadString("options", "eq", "d"), "a=b");
    EXPECT_EQ(ini.ReadString("options", "missing", "d"), "d");
    EXPECT_EQ(ini.ReadString("nosection", "spaced", "d"), "d");
    EXPECT_TRUE(ini.ValueExists("OPTIONS", "Empty"));
    EXPECT_FALSE(ini.ValueExists("options", "missing"));
    EXPECT_TRUE(ini.SectionExists("oPtIoNs"));
    EXPECT_FALSE(ini.SectionExists("window"));

    IniFile none(dir.file("absent.ini"));
    EXPECT_EQ(none.ReadString("options", "spaced", "def"), "def");
    EXPECT_EQ(none.ReadInteger("options", "x", 9999), 9999);
    EXPECT_TRUE(none.ReadSection("options").empty());
}

TEST_F(IniFileTest, LongValuesAreCut) {
    std::string longValue(1500, 'v');
    longValue[1022] = 'L';
    writeFile(path, "[s]\nk=" + longValue + "\nq=\"" + std::string(1023, 'q') + "\"\n");
    IniFile ini(path);
    std::string got = ini.ReadString("s", "k", "");
    ASSERT_EQ(got.size(), 1023u);
    EXPECT_EQ(got.back(), 'L');
    EXPECT_EQ(ini.ReadString("s", "q", ""), std::string(1023, 'q'));
}

TEST_F(IniFileTest, Integers) {
    writeFile(path,
              "[n]\nhex=0x1F\nHEX=0X1f\nbare=0x\nneg=-42\nplus=+7\nspaced= 12 \nbad=12a\n"
              "big=2147483648\nmin=-2147483648\nallbits=0xFFFFFFFF\ntoolong=0x100000000\n"
              "empty=\nquoted=\"5\"\nbool0=0\nbool2=2\nnothex=x1F\n");
    IniFile ini(path);
    EXPECT_EQ(ini.ReadInteger("n", "hex", -1), 31);
    EXPECT_EQ(ini.ReadInteger("n", "bare", -1), -1);
    EXPECT_EQ(ini.ReadInteger("n", "neg", -1), -42);
    EXPECT_EQ(ini.ReadInteger("n", "plus", -1), 7);
    EXPECT_EQ(ini.ReadInteger("n", "spaced", -1), 12);
    EXPECT_EQ(ini.ReadInteger("n", "bad", -1), -1);
    EXPECT_EQ(ini.ReadInteger("n", "big", -1), -1);
    EXPECT_EQ(ini.ReadInteger("n", "min", -1), INT32_MIN);
    EXPECT_EQ(ini.ReadInteger("n", "allbits", 5), -1);
    EXPECT_EQ(ini.ReadInteger("n", "toolong", 5), 5);
    EXPECT_EQ(ini.ReadInteger("n", "empty", 9), 9);
    EXPECT_EQ(ini.ReadInteger("n", "quoted", 9), 5);
    EXPECT_EQ(ini.ReadInteger("n", "nothex", 9), 9);
    EXPECT_EQ(ini.ReadInteger("n", "missing", 9999), 9999);
    EXPECT_FALSE(ini.ReadBool("n", "bool0", true));
    EXPECT_TRUE(ini.ReadBool("n", "bool2", false));
    EXPECT_TRUE(ini.ReadBool("n", "missing", true));
    EXPECT_FALSE(ini.ReadBool("n", "bad", false));  // does not convert: the default

    ini.WriteInteger("w", "i", -17);
    ini.WriteBool("w", "t", true);
    ini.WriteBool("w", "f", false);
    EXPECT_NE(readFile(path).find("[w]\ni=-17\nt=1\nf=0\n"), std::string::npos);
}

TEST_F(IniFileTest, WritesKeepEveryOtherLine) {
    const std::string original =
        "; comment at the top\n"
        "[options]\n"
        "Language = 2\n"
        "; note inside\n"
        "columns=1111111\n"
        "\n"
        "[Mission.zip.123]\n"
        "type=1\n"
        "garbage line without equals\n"
        "\n";
    writeFile(path, original);
    IniFile ini(path);
    ini.WriteString("OPTIONS", "language", "3");           // replaced in place, name kept
    ini.WriteString("options", "thief1dir", "/games/t1");  // after the last key of the section
    ini.WriteString("mission.ZIP.123", "title", "\"A Title\"");
    ini.WriteString("window", "top", "10");  // new section at the end
    EXPECT_EQ(readFile(path),
              "; comment at the top\n"
              "[options]\n"
              "Language =3\n"
              "; note inside\n"
              "columns=1111111\n"
              "thief1dir=/games/t1\n"
              "\n"
              "[Mission.zip.123]\n"
              "type=1\n"
              "title=\"A Title\"\n"
              "garbage line without equals\n"
              "\n"
              "[window]\n"
              "top=10\n");
    EXPECT_EQ(ini.ReadString("MISSION.zip.123", "Title", ""), "A Title");

    // A value with a line break cannot add lines or sections.
    ini.WriteString("window", "left", "1\n[options]\nlanguage=9");
    EXPECT_EQ(ini.ReadString("options", "language", ""), "3");
    EXPECT_EQ(ini.ReadString("window", "left", ""), "1 [options] language=9");

    // Blanks around names are not part of them: the key is replaced, not added again.
    ini.WriteString(" window ", " top\t", "11");
    EXPECT_EQ(ini.ReadString("window ", "  top", ""), "11");
    EXPECT_EQ(ini.ReadSection("window"), (std::vector<std::string>{"top", "left"}));
}

TEST_F(IniFileTest, LineEndsAndMissingFinalLineEnd) {
    writeFile(path, "[a]\r\nx=1\r\n[b]\r\ny=2");
    IniFile ini(path);
    ini.WriteString("b", "z", "3");
    ini.WriteString("c", "k", "v");
    EXPECT_EQ(readFile(path), "[a]\r\nx=1\r\n[b]\r\ny=2\r\nz=3\r\n[c]\r\nk=v\r\n");
    EXPECT_EQ(ini.ReadString("A", "X", ""), "1");

    IniFile fresh(dir.file("sub/new.ini"));  // directory missing: the write fails
    EXPECT_THROW(fresh.WriteString("s", "k", "v"), ESettingsWriteError);
    IniFile created(dir.file("new.ini"));
    created.WriteString("s", "k", "v");
    EXPECT_EQ(readFile(dir.file("new.ini")), "[s]\nk=v\n");
}

TEST_F(IniFileTest, KeyListInFileOrderWithinBuffer) {
    std::string content = "[Mission Directories]\n";
    // 100 names of 80 bytes each take 8,100 bytes with their NULs; the 102nd name would
    // need more than the 8,192 bytes.
    std::vector<std::string> names;
    for (int i = 0; i < 110; ++i) {
        std::string name = std::to_string(1000 + i) + std::string(75, 'k');
        names.push_back(name);
        content += name + "=1\n";
    }
    content += "[other]\nz=1\n";
    writeFile(path, content);
    IniFile ini(path);
    std::vector<std::string> keys = ini.ReadSection("mission directories");
    // 101 names take 101 * 80 = 8,080 bytes; one more would need 8,160 + the final NUL,
    // which still fits; the 103rd needs 8,241.
    ASSERT_EQ(keys.size(), 102u);
    for (size_t i = 0; i < keys.size(); ++i) EXPECT_EQ(keys[i], names[i]);

    // Exactly at the limit: names with NULs take 8,191 bytes, plus the final NUL.
    std::string exact = "[e]\n" + std::string(8190, 'a') + "=1\nb=2\n";
    writeFile(path, exact);
    EXPECT_EQ(ini.ReadSection("e"), std::vector<std::string>{std::string(8190, 'a')});
    writeFile(path, "[e]\n" + std::string(8191, 'a') + "=1\nb=2\n");
    EXPECT_TRUE(ini.ReadSection("e").empty());

    writeFile(path, "[d]\nB=1\na=2\nb=3\n[D]\nc=4\n");
    EXPECT_EQ(ini.ReadSection("d"), (std::vector<std::string>{"B", "a", "b"}));
    EXPECT_EQ(ini.ReadString("d", "b", ""), "1");  // first of repeated keys
    EXPECT_EQ(ini.ReadString("d", "c", "none"), "none");
}

TEST_F(IniFileTest, EraseSection) {
    writeFile(path, "[keep]\na=1\n[Window]\ntop=1\nleft=2\n; c\n\n[keep2]\nb=2\n[WINDOW]\nx=1\n");
    IniFile ini(path);
    ini.EraseSection("window");
    EXPECT_EQ(readFile(path), "[keep]\na=1\n[keep2]\nb=2\n");
    EXPECT_FALSE(ini.SectionExists("window"));
    EXPECT_EQ(ini.ReadInteger("window", "top", 9999), 9999);
    struct stat before, after;
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    ini.EraseSection("absent");
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);  // nothing written
}

TEST_F(IniFileTest, OtherProgramsChangesAreSeen) {
    writeFile(path, "[s]\nk=1\n");
    IniFile ini(path);
    EXPECT_EQ(ini.ReadString("s", "k", ""), "1");
    // Same size, rewritten in place by another process within the same second.
    ASSERT_EQ(runCommand("printf '[s]\\nk=2\\n' > '" + path + "'"), 0);
    EXPECT_EQ(ini.ReadString("s", "k", ""), "2");
    ASSERT_EQ(runCommand("rm '" + path + "'"), 0);
    EXPECT_EQ(ini.ReadString("s", "k", "gone"), "gone");
    ASSERT_EQ(runCommand("printf '[s]\\nk=3\\nj=4\\n' > '" + path + "'"), 0);
    EXPECT_EQ(ini.ReadString("s", "j", ""), "4");
    // A second object on the same file sees the first one's writes at once.
    IniFile other(path);
    ini.WriteString("s", "k", "5");
    EXPECT_EQ(other.ReadString("s", "k", ""), "5");
    other.WriteString("s", "new", "6");
    EXPECT_EQ(ini.ReadString("s", "new", ""), "6");
    EXPECT_EQ(ini.ReadString("s", "j", ""), "4");
}

TEST_F(IniFileTest, NameResolvedWithoutRegardToCase) {
    std::string upper = dir.file("TALLOWMERE.INI");
    IniFile ini(path);
    EXPECT_EQ(ini.ReadString("s", "k", "none"), "none");
    writeFile(upper, "[s]\nk=1\n");
    EXPECT_EQ(ini.ReadString("s", "k", ""), "1");
    ini.WriteString("s", "k", "2");
    EXPECT_EQ(readFile(upper), "[s]\nk=2\n");
    EXPECT_EQ(dirEntries(dir.path()), std::vector<std::string>{"TALLOWMERE.INI"});
}

TEST_F(IniFileTest, WriteKeepsPermissionsAndLeavesNoTemporary) {
    writeFile(path, "[s]\nk=1\n");
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    IniFile ini(path);
    ini.WriteString("s", "k", "2");
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(dirEntries(dir.path()), std::vector<std::string>{"Tallowmere.ini"});

    // A symbolic link to the store stays a link.
    std::string link = dir.file("link.ini");
    ASSERT_EQ(symlink(path.c_str(), link.c_str()), 0);
    IniFile viaLink(link);
    viaLink.WriteString("s", "k", "3");
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(ini.ReadString("s", "k", ""), "3");
}

TEST_F(IniFileTest, ReadOnlyFileRefusesWrites) {
    writeFile(path, "[s]\nk=1\n");
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    IniFile ini(path);
    try {
        ini.WriteString("s", "k", "2");
        FAIL() << "write succeeded";
    } catch (const ESettingsWriteError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
    }
    EXPECT_EQ(readFile(path), "[s]\nk=1\n");
    EXPECT_THROW(ini.EraseSection("s"), ESettingsWriteError);
    EXPECT_EQ(ini.ReadString("s", "k", ""), "1");
}

TEST_F(IniFileTest, WriteIntoReadOnlyDirectory) {
    std::string sub = dir.path() + "ro";
    ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0711), 0);  // the unprivileged user passes through
    runUnprivileged(sub, [&]() -> std::string {
        // A relative name: the message names the full path.
        if (chdir(sub.c_str()) != 0) return "chdir failed";
        IniFile ini("Tallowmere.ini");
        ini.WriteString("options", "a", "1");
        ini.WriteString("options", "b", "2");
        const std::string before = readFile(sub + "/Tallowmere.ini");
        if (chmod(sub.c_str(), 0555) != 0) return "chmod failed";
        std::string message;
        try {
            ini.WriteString("options", "c", "3");
        } catch (const ESettingsWriteError& e) {
            message = e.what();
        }
        if (message != "Unable to write to " + sub + "/Tallowmere.ini")
            return "message: '" + message + "'";
        if (readFile(sub + "/Tallowmere.ini") != before) return "file changed";
        if (ini.ReadString("options", "a", "") != "1" || ini.ReadString("options", "b", "") != "2")
            return "earlier writes lost";
        if (ini.ValueExists("options", "c")) return "failed write visible";
        if (dirEntries(sub).size() != 1) return "leftover files";
        return "";
    });
    chmod(sub.c_str(), 0755);
}

TEST_F(IniFileTest, AnotherUsersFileIsNotReplaced) {
    if (geteuid() != 0) GTEST_SKIP() << "needs a second user";
    std::string sub = dir.path() + "shared";
    ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0711), 0);
    const std::string file = sub + "/Tallowmere.ini";
    writeFile(file, "[s]\nk=1\n");  // root's, 0644, in a directory the other user owns
    runUnprivileged(sub, [&]() -> std::string {
        IniFile ini(file);
        if (ini.ReadString("s", "k", "") != "1") return "cannot read";
        try {
            ini.WriteString("s", "k", "2");
            return "write succeeded";
        } catch (const ESettingsWriteError&) {
        }
        return readFile(file) == "[s]\nk=1\n" ? "" : "file changed";
    });
}

TEST_F(IniFileTest, FailureMidWriteLeavesOldFileWhole) {
    // The new contents exceed the file-size limit, so the write of the temporary file
    // stops part way, as on a full disk.
    std::string big(20000, 'x');
    writeFile(path, "[s]\nk=1\n");
    IniFile ini(path);
    ini.WriteString("s", "small", "2");
    const std::string before = readFile(path);

    struct sigaction ignore {
    }, old{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &old);
    rlimit oldLimit{};
    getrlimit(RLIMIT_FSIZE, &oldLimit);
    rlimit limit = oldLimit;
    limit.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    bool threw = false;
    try {
        ini.WriteString("s", "big", big);
    } catch (const ESettingsWriteError&) {
        threw = true;
    }
    setrlimit(RLIMIT_FSIZE, &oldLimit);
    sigaction(SIGXFSZ, &old, nullptr);

    EXPECT_TRUE(threw);
    EXPECT_EQ(readFile(path), before);
    EXPECT_EQ(dirEntries(dir.path()), std::vector<std::string>{"Tallowmere.ini"});
    EXPECT_EQ(ini.ReadString("s", "small", ""), "2");
    EXPECT_FALSE(ini.ValueExists("s", "big"));
    ini.WriteString("s", "after", "3");  // the store still works
    EXPECT_EQ(ini.ReadString("s", "after", ""), "3");
}

}  // namespace

namespace {

// The same writes, one at a time or in a batch, give the same file.
TEST_F(IniFileTest, BatchGivesTheSameFileAsSingleWrites) {
    const std::string original =
        "[options]\r\nLanguage = 2\r\n; note\r\ncolumns=1111111\r\n\r\n[A.1]\r\ntype=0\r\n"
        "junk\r\n[a.1]\r\ntype=9\r\n[B.2]\r\ntitle=x";
    auto apply = [](IniFile& ini) {
        ini.WriteString("options", "language", "3");
        ini.WriteString("A.1", "type", "2");
        ini.WriteString("a.1", "title", "\"T\"");
        ini.WriteString("New.5", "type", "0");
        ini.WriteString("b.2", "finished", "1");
        ini.WriteString("new.5", "TYPE", "1");  // the pending key is replaced
        ini.WriteString("Other.7", "date", "45000");
        ini.DeleteKey("OPTIONS", "Columns");
        ini.DeleteKey("b.2", "finished");  // a pending write taken back
        ini.DeleteKey("absent", "x");
    };
    const std::string single = dir.file("single.ini");
    writeFile(single, original);
    IniFile one(single);
    apply(one);

    writeFile(path, original);
    IniFile ini(path);
    IniBatch batch(ini);
    apply(ini);
    // Reads see the batch at once, the file does not change until its end.
    EXPECT_EQ(ini.ReadInteger("NEW.5", "type", -1), 1);
    EXPECT_EQ(ini.ReadString("a.1", "title", ""), "T");
    EXPECT_EQ(readFile(path), original);
    batch.Commit();
    EXPECT_EQ(readFile(path), readFile(single));
    EXPECT_EQ(ini.ReadSection("new.5"), (std::vector<std::string>{"type"}));
    EXPECT_EQ(ini.ReadSection("b.2"), (std::vector<std::string>{"title"}));
    EXPECT_FALSE(ini.ValueExists("options", "columns"));
}

TEST_F(IniFileTest, BatchEndsWithOneWriteAndReportsItsFailure) {
    IniFile ini(path);
    {
        IniBatch batch(ini);
        for (int i = 0; i < 500; ++i) ini.WriteInteger("M." + std::to_string(i), "type", i % 3);
        ini.EraseSection("M.7");  // erase inside a batch applies what came before
        EXPECT_FALSE(ini.SectionExists("m.7"));
        EXPECT_TRUE(ini.SectionExists("m.8"));
    }  // the destructor stores the batch
    IniFile again(path);
    EXPECT_EQ(again.ReadInteger("M.499", "type", -1), 1);
    EXPECT_EQ(again.ReadInteger("M.7", "type", -1), -1);

    // A failing store surfaces at Commit, with the file's path.
    writeFile(path, "[x]\ny=1\n");
    chmod(path.c_str(), 0444);
    IniFile ro(path);
    IniBatch batch(ro);
    ro.WriteString("x", "y", "2");
    EXPECT_THROW(batch.Commit(), ESettingsWriteError);
    EXPECT_EQ(readFile(path), "[x]\ny=1\n");
    // What failed to reach the file is not read back, nor stored by a later write.
    EXPECT_EQ(ro.ReadInteger("x", "y", -1), 1);
    chmod(path.c_str(), 0644);
    ro.WriteString("x", "z", "3");
    EXPECT_EQ(readFile(path), "[x]\ny=1\nz=3\n");
}

TEST_F(IniFileTest, FailedBatchWithErasedSectionKeepsTheSection) {
    writeFile(path, "[options]\nlanguage=2\n[Mission directories]\n/m/=1\n");
    chmod(path.c_str(), 0444);
    IniFile ini(path);
    {
        IniBatch batch(ini);
        ini.EraseSection("mission directories");
        ini.WriteBool("Mission directories", "/n/", true);
    }  // the destructor swallows the failure
    EXPECT_EQ(ini.ReadSection("mission directories"), std::vector<std::string>{"/m/"});
    chmod(path.c_str(), 0644);
    ini.WriteString("options", "language", "3");
    EXPECT_EQ(readFile(path), "[options]\nlanguage=3\n[Mission directories]\n/m/=1\n");
}

}  // namespace
