#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>
#include <algorithm>
#include <climits>
#include <ctime>

#include "platform/FileSystem.h"
#include "support/TestSupport.h"

namespace {

std::vector<std::string> names(const std::vector<fsx::DirEntry>& entries) {
    std::vector<std::string> out;
    for (const auto& e : entries) out.push_back(e.name);
    std::sort(out.begin(), out.end());
    return out;
}

void setMtime(const std::string& path, time_t t) {
    struct timespec times[2] = {{t, 0}, {t, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

time_t localTime(int year, int mon, int day, int h, int m, int s) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = mon - 1;
    tm.tm_mday = day;
    tm.tm_hour = h;
    tm.tm_min = m;
    tm.tm_sec = s;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

// Restores the current directory after a test that changes it.
struct CwdGuard {
    std::string saved = fsx::currentDirectory();
    ~CwdGuard() { fsx::setCurrentDirectory(saved); }
};

}  // namespace

// Every resolution case runs with the folder name index and without it.
class FileSystemResolve : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override { fsx::detail::setFolderIndexEnabled(GetParam()); }
    void TearDown() override { fsx::detail::setFolderIndexEnabled(true); }
};
INSTANTIATE_TEST_SUITE_P(IndexOnOff, FileSystemResolve, ::testing::Bool());

TEST_P(FileSystemResolve, FindsEntriesWithOtherCase) {
    TempDir t;
    t.write("saves/X.SAV", "x");
    EXPECT_EQ(fsx::resolve(t.path() + "SAVES/x.sav"), t.path() + "saves/X.SAV");
    EXPECT_TRUE(fsx::fileExists(t.path() + "SAVES/x.sav"));
    EXPECT_TRUE(fsx::directoryExists(t.path() + "Saves"));
    EXPECT_FALSE(fsx::fileExists(t.path() + "Saves"));
    EXPECT_FALSE(fsx::directoryExists(t.path() + "saves/x.sav"));
    // A path that exists as given comes back unchanged, trailing separator included.
    EXPECT_EQ(fsx::resolve(t.path() + "saves/"), t.path() + "saves/");
    EXPECT_EQ(fsx::resolve(t.path() + "SAVES/"), t.path() + "saves/");
}

TEST_P(FileSystemResolve, PrefersExactNameThenFirstInOrder) {
    TempDir t;
    t.write("Foo/a", "1");
    t.write("foo/b", "2");
    EXPECT_EQ(fsx::resolve(t.path() + "Foo/a"), t.path() + "Foo/a");
    EXPECT_EQ(fsx::resolve(t.path() + "foo/b"), t.path() + "foo/b");
    // Neither spelling given: the first in byte order ("Foo" < "foo").
    EXPECT_EQ(fsx::resolve(t.path() + "FOO/A"), t.path() + "Foo/a");
    EXPECT_EQ(fsx::resolve(t.path() + "FOO/b"), t.path() + "Foo/b");
}

TEST_P(FileSystemResolve, MissingComponentsKeptAsGiven) {
    TempDir t;
    t.write("Strings/other.str", "");
    // A new file in a folder that exists with other case goes into that folder.
    EXPECT_EQ(fsx::resolve(t.path() + "strings/missflag.str"), t.path() + "Strings/missflag.str");
    writeFile(fsx::resolve(t.path() + "strings/missflag.str"), "flags");
    EXPECT_EQ(readFile(t.path() + "Strings/missflag.str"), "flags");
    EXPECT_EQ(fsx::resolve(t.path() + "STRINGS/New/Deeper/x.txt"),
              t.path() + "Strings/New/Deeper/x.txt");
    EXPECT_EQ(fsx::resolve(t.path() + "nothing/here"), t.path() + "nothing/here");
}

TEST_P(FileSystemResolve, UnicodeCaseAndRelativePaths) {
    TempDir t;
    t.write("Ärger/Öl.txt", "oil");
    EXPECT_EQ(fsx::resolve(t.path() + "äRGER/öl.TXT"), t.path() + "Ärger/Öl.txt");
    // Bytes that are not UTF-8 still match by ASCII case.
    t.write(std::string("m\xE4x/A"), "");
    EXPECT_EQ(fsx::resolve(t.path() + std::string("M\xE4X/a")), t.path() + std::string("m\xE4x/A"));

    CwdGuard guard;
    ASSERT_TRUE(fsx::setCurrentDirectory(t.path() + "ÄRGER"));
    EXPECT_EQ(fsx::resolve("öl.txt"), "Öl.txt");
    EXPECT_EQ(fsx::fileSize("ÖL.TXT"), 3);
    EXPECT_EQ(fsx::resolve("../ärger/ÖL.txt"), "../Ärger/Öl.txt");
}

// The one folding rule: pairs that meet on disk give the same key, and resolve() takes one
// for the other exactly when the key says so.
TEST_P(FileSystemResolve, FoldKeyIsTheRuleResolveFollows) {
    struct Row {
        std::string onDisk, asked;
        bool same;
    };
    const std::vector<Row> rows = {
        {"kit", "\u212Ait", true},             // KELVIN SIGN
        {"saves", "\u017Faves", true},         // LONG S
        {"stra\u00DFe", "STRA\u1E9EE", true},  // capital sharp s
        {"strasse", "stra\u00DFe", false},     // no full folding
        {"intro", "\u0131ntro", false},        // dotless i is its own letter
        {"caf\u00E9", "cafe\u0301", false},    // no normalisation
        {"Readme.TXT", "readme.txt", true},
        {"m\xE4x", "M\xE4X", true},  // not UTF-8: ASCII case only
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.asked);
        TempDir t;
        t.write(row.onDisk, "x");
        EXPECT_EQ(fsx::foldKey(row.onDisk) == fsx::foldKey(row.asked), row.same);
        EXPECT_EQ(fsx::sameName(row.onDisk, row.asked), row.same);
        EXPECT_EQ(fsx::resolve(t.path() + row.asked) == t.path() + row.onDisk, row.same);
        EXPECT_EQ(fsx::namesLike(t.path(), row.asked).size(), row.same ? 1u : 0u);
    }
}

// A file whose name takes the whole limit is still replaced atomically: the temporary name
// is cut to fit, at a UTF-8 character boundary.
TEST(FileSystemChange, AtomicWriteFitsTheTemporaryNameOfALongName) {
    TempDir t;
    const std::string suffix = ".tm0123456789ab.tmp";
    struct Row {
        std::string name;
        size_t kept;  // bytes of the name before the temporary suffix
    };
    // A cut through "\u00E4" (two bytes at 235 and 236) goes before it.
    for (const Row& row :
         {Row{std::string(255, 'n'), 236},
          Row{std::string(235, 'n') + "\u00E4" + std::string(18, 'n'), 235}, Row{"short", 5}}) {
        ASSERT_TRUE(fsx::atomicWrite(t.path() + row.name, "one"));
        ASSERT_TRUE(fsx::atomicWrite(t.path() + row.name, "two"));
        EXPECT_EQ(readFile(t.path() + row.name), "two");
        EXPECT_EQ(fsx::listDirectory(t.path(), "*").size(), 1u);
        fsx::deleteFile(t.path() + row.name);
        EXPECT_EQ(fsx::temporarySibling(t.path() + row.name, suffix),
                  t.path() + row.name.substr(0, row.kept) + suffix);
    }
}

// Lookups of names that do not exist as given are served from a folder index; every change
// made afterwards, by this process or another, must be seen by the next lookup.
TEST_P(FileSystemResolve, SeesChangesAfterEarlierLookups) {
    TempDir t;
    t.write("dir/keep", "");
    const std::string d = t.path() + "dir/";
    EXPECT_EQ(fsx::resolve(d + "new.txt"), d + "new.txt");
    writeFile(d + "NEW.TXT", "1");
    EXPECT_EQ(fsx::resolve(d + "new.txt"), d + "NEW.TXT");
    writeFile(d + "New.txt", "2");  // two spellings: the first in byte order wins
    EXPECT_EQ(fsx::resolve(d + "nEW.txt"), d + "NEW.TXT");
    ASSERT_EQ(::unlink((d + "NEW.TXT").c_str()), 0);
    EXPECT_EQ(fsx::resolve(d + "new.txt"), d + "New.txt");
    ASSERT_EQ(::rename((d + "New.txt").c_str(), (d + "Other.txt").c_str()), 0);
    EXPECT_EQ(fsx::resolve(d + "new.txt"), d + "new.txt");
    EXPECT_EQ(fsx::resolve(d + "OTHER.TXT"), d + "Other.txt");
    ASSERT_EQ(runCommand("touch '" + d + "FROMSHELL'"), 0);
    EXPECT_EQ(fsx::resolve(d + "fromshell"), d + "FROMSHELL");

    // The folder replaced by another of the same name: the new one's entries count.
    ASSERT_EQ(::rename(d.substr(0, d.size() - 1).c_str(), (t.path() + "old").c_str()), 0);
    t.write("dir/Fresh", "");
    EXPECT_EQ(fsx::resolve(d + "other.txt"), d + "other.txt");
    EXPECT_EQ(fsx::resolve(d + "FRESH"), d + "Fresh");
    EXPECT_EQ(fsx::resolve(t.path() + "OLD/other.TXT"), t.path() + "old/Other.txt");
}

TEST_P(FileSystemResolve, ManyFoldersStayExact) {
    TempDir t;
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 150; ++i) {
            std::string d = t.path() + "f" + std::to_string(i) + "/";
            if (round == 0) {
                t.write("f" + std::to_string(i) + "/x", "");
                EXPECT_EQ(fsx::resolve(d + "Y"), d + "Y");
            } else {
                EXPECT_EQ(fsx::resolve(d + "y"), d + "Y") << i;
            }
        }
        for (int i = 0; i < 150; ++i) t.write("f" + std::to_string(i) + "/Y", "");
    }
}

TEST(FileSystemList, MatchesPatternWithoutRegardToCase) {
    TempDir t;
    t.write("A.ZIP", "aa");
    t.write("b.Zip", "b");
    t.write("x.zipx", "");
    t.write("zip", "");
    t.write("sub.zip/inner", "");
    EXPECT_EQ(names(fsx::listDirectory(t.path(), "*.zip")),
              (std::vector<std::string>{"A.ZIP", "b.Zip", "sub.zip"}));
    EXPECT_EQ(names(fsx::listDirectory(t.path(), "?.zip")),
              (std::vector<std::string>{"A.ZIP", "b.Zip"}));
    EXPECT_EQ(fsx::listDirectory(t.path(), "*.*").size(), 5u);
    EXPECT_EQ(fsx::listDirectory(t.path(), "*").size(), 5u);
    // "name.*" also finds the name without an extension, as on Windows.
    EXPECT_EQ(names(fsx::listDirectory(t.path(), "ZIP.*")), (std::vector<std::string>{"zip"}));
    EXPECT_TRUE(fsx::listDirectory(t.path() + "missing", "*").empty());

    for (const auto& e : fsx::listDirectory(t.path(), "*zip")) {
        if (e.name == "A.ZIP") {
            EXPECT_EQ(e.size, 2);
        }
        if (e.name == "sub.zip") {
            EXPECT_TRUE(e.isDirectory);
            EXPECT_EQ(e.size, 0);
        }
    }
    // The folder itself is found without regard to case.
    EXPECT_EQ(fsx::listDirectory(t.path() + "SUB.ZIP/", "INNER").size(), 1u);
}

TEST(FileSystemSize, MissingFileDirectoryAndWildcard) {
    TempDir t;
    t.write("data/mission.ZIP", std::string(1234, 'x'));
    t.write("data/empty.txt", "");
    EXPECT_EQ(fsx::fileSize(t.path() + "data/none.zip"), -1);
    EXPECT_EQ(fsx::fileSize(t.path() + "nodir/none.zip"), -1);
    EXPECT_EQ(fsx::fileSize(t.path() + "data/empty.txt"), 0);
    EXPECT_EQ(fsx::fileSize(t.path() + "DATA/Mission.zip"), 1234);
    EXPECT_EQ(fsx::fileSize(t.path() + "data"), 0);
    EXPECT_EQ(fsx::fileSize(t.path() + "data/*.zip"), 1234);
    EXPECT_EQ(fsx::fileSize(t.path() + "Data/m?ssion.*"), 1234);
    EXPECT_EQ(fsx::fileSize(t.path() + "data/*.rar"), -1);
    EXPECT_EQ(fsx::fileSize64(t.path() + "data/MISSION.zip"), 1234);
    EXPECT_EQ(fsx::fileSize64(t.path() + "data"), -1);
}

TEST(FileSystemSize, LargeFileClampsTo32Bits) {
    TempDir t;
    std::string p = t.write("big.bin", "");
    ASSERT_EQ(::truncate(p.c_str(), int64_t(3) << 30), 0);  // sparse, 3 GiB
    EXPECT_EQ(fsx::fileSize(p), INT32_MAX);
    EXPECT_EQ(fsx::fileSize64(p), int64_t(3) << 30);
}

TEST(FileSystemTime, DosRoundTripAndEdges) {
    TempDir t;
    std::string p = t.write("f.txt", "x");
    setMtime(p, localTime(2004, 7, 15, 13, 45, 30));
    uint32_t expected =
        (uint32_t(2004 - 1980) << 25) | (7u << 21) | (15u << 16) | (13u << 11) | (45u << 5) | 15u;
    EXPECT_EQ(uint32_t(fsx::fileAgeDos(p)), expected);
    EXPECT_EQ(fsx::dosToUnix(expected), localTime(2004, 7, 15, 13, 45, 30));

    // Odd seconds fall to the even second below.
    setMtime(p, localTime(2004, 7, 15, 13, 45, 31));
    EXPECT_EQ(uint32_t(fsx::fileAgeDos(p)), expected);

    // The DOS epoch itself, and earlier times clamped to it.
    uint32_t epoch = (1u << 21) | (1u << 16);
    EXPECT_EQ(fsx::unixToDos(localTime(1980, 1, 1, 0, 0, 0)), epoch);
    EXPECT_EQ(fsx::unixToDos(localTime(1979, 12, 31, 23, 59, 58)), epoch);
    EXPECT_EQ(fsx::unixToDos(0), epoch);
    EXPECT_EQ(fsx::dosToUnix(epoch), localTime(1980, 1, 1, 0, 0, 0));

    // The sign bit of the packed value is set from 2044 on; still a valid stamp.
    setMtime(p, localTime(2050, 2, 28, 23, 59, 58));
    int32_t late = fsx::fileAgeDos(p);
    EXPECT_NE(late, -1);
    EXPECT_EQ(fsx::dosToUnix(uint32_t(late)), localTime(2050, 2, 28, 23, 59, 58));

    EXPECT_EQ(fsx::fileAgeDos(t.path() + "none.txt"), -1);
    EXPECT_EQ(fsx::fileAgeDos(t.path()), -1);
    EXPECT_EQ(uint32_t(fsx::fileAgeDos(t.path() + "F.TXT")), uint32_t(late));
}

TEST(FileSystemChange, MoveReportsOutcome) {
    TempDir t;
    std::string a = t.write("a.txt", "A");
    t.write("b.txt", "B");
    EXPECT_FALSE(fsx::moveFile(t.path() + "none", t.path() + "x"));
    // An existing target is never replaced.
    EXPECT_FALSE(fsx::moveFile(a, t.path() + "B.TXT"));
    EXPECT_EQ(readFile(t.path() + "b.txt"), "B");
    EXPECT_TRUE(fsx::moveFile(t.path() + "A.txt", t.path() + "c.txt"));
    EXPECT_FALSE(fsx::fileExists(a));
    EXPECT_EQ(readFile(t.path() + "c.txt"), "A");
    // A rename that changes only the case.
    EXPECT_TRUE(fsx::moveFile(t.path() + "c.txt", t.path() + "C.TXT"));
    EXPECT_EQ(readFile(t.path() + "C.TXT"), "A");
    EXPECT_FALSE(::access((t.path() + "c.txt").c_str(), F_OK) == 0);
    // Directories move too, and into folders of other case.
    t.write("dir/inner.txt", "I");
    t.write("Dest/keep", "");
    EXPECT_TRUE(fsx::moveFile(t.path() + "DIR", t.path() + "dest/moved"));
    EXPECT_EQ(readFile(t.path() + "Dest/moved/inner.txt"), "I");
    EXPECT_FALSE(fsx::moveFile(t.path() + "b.txt", t.path() + "nodir/b.txt"));
}

TEST(FileSystemChange, MoveAcrossFileSystems) {
    // /dev/shm is a separate tmpfs on most systems; skip where it is not.
    struct stat a, b;
    TempDir t;
    if (::stat("/dev/shm", &a) != 0 || ::stat(t.path().c_str(), &b) != 0 || a.st_dev == b.st_dev)
        GTEST_SKIP() << "no second file system at hand";
    std::string src = t.write("tree/sub/f.txt", "payload");
    t.write("single.bin", "one");
    std::string dest = "/dev/shm/tm-fs-test-" + std::to_string(::getpid());
    EXPECT_TRUE(fsx::moveFile(t.path() + "tree", dest));
    EXPECT_EQ(readFile(dest + "/sub/f.txt"), "payload");
    EXPECT_FALSE(fsx::directoryExists(t.path() + "tree"));
    EXPECT_TRUE(fsx::moveFile(t.path() + "single.bin", dest + "/single.bin"));
    EXPECT_EQ(readFile(dest + "/single.bin"), "one");
    EXPECT_FALSE(fsx::fileExists(t.path() + "single.bin"));
    runCommand("rm -rf '" + dest + "'");
}

TEST(FileSystemChange, CopyReplacesOrRefusesAndKeepsTime) {
    TempDir t;
    std::string src = t.write("src.bin", std::string(3 << 20, 'q') + "end");
    setMtime(src, localTime(2001, 3, 4, 5, 6, 8));
    std::string dst = t.write("Dst.bin", "old");
    EXPECT_FALSE(fsx::copyFile(src, t.path() + "dst.bin", true));
    EXPECT_EQ(readFile(dst), "old");
    EXPECT_TRUE(fsx::copyFile(src, t.path() + "DST.BIN"));
    EXPECT_EQ(readFile(dst), readFile(src));
    EXPECT_EQ(fsx::fileAgeDos(dst), fsx::fileAgeDos(src));
    EXPECT_TRUE(fsx::copyFile(t.path() + "SRC.bin", t.path() + "new.bin", true));
    EXPECT_EQ(fsx::fileSize64(t.path() + "new.bin"), fsx::fileSize64(src));
    // Failures: missing source, a directory as source or target, missing target folder,
    // a file onto itself.
    t.write("d/x", "");
    EXPECT_FALSE(fsx::copyFile(t.path() + "none", t.path() + "y"));
    EXPECT_FALSE(fsx::copyFile(t.path() + "d", t.path() + "y"));
    EXPECT_FALSE(fsx::copyFile(src, t.path() + "d"));
    EXPECT_FALSE(fsx::copyFile(src, t.path() + "nodir/y"));
    EXPECT_FALSE(fsx::copyFile(src, t.path() + "SRC.BIN"));
    EXPECT_EQ(fsx::fileSize64(src), (3 << 20) + 3);
    // A target name of the longest length a folder entry can have.
    std::string longName(255, 'n');
    EXPECT_TRUE(fsx::copyFile(src, t.path() + longName));
    EXPECT_TRUE(fsx::deleteFile(t.path() + longName));
    // No temporary files stay behind.
    EXPECT_EQ(names(fsx::listDirectory(t.path(), "*")),
              (std::vector<std::string>{"Dst.bin", "d", "new.bin", "src.bin"}));
}

TEST(FileSystemChange, DeleteAndDirectories) {
    TempDir t;
    EXPECT_FALSE(fsx::deleteFile(t.path() + "none"));
    std::string f = t.write("Sub/f.txt", "x");
    EXPECT_FALSE(fsx::deleteFile(t.path() + "sub"));       // not a file
    EXPECT_FALSE(fsx::removeDirectory(t.path() + "sub"));  // not empty
    EXPECT_TRUE(fsx::directoryExists(t.path() + "Sub"));
    EXPECT_TRUE(fsx::deleteFile(t.path() + "SUB/F.TXT"));
    EXPECT_TRUE(fsx::removeDirectory(t.path() + "sub"));
    EXPECT_FALSE(fsx::directoryExists(t.path() + "Sub"));
    EXPECT_FALSE(fsx::removeDirectory(t.path() + "sub"));

    EXPECT_TRUE(fsx::createDirectory(t.path() + "one"));
    EXPECT_FALSE(fsx::createDirectory(t.path() + "ONE"));  // exists with other case
    EXPECT_FALSE(fsx::createDirectory(t.path() + "a/b"));  // one level only
    EXPECT_TRUE(fsx::forceDirectories(t.path() + "One/two/three/"));
    EXPECT_TRUE(fsx::directoryExists(t.path() + "one/two/three"));
    EXPECT_TRUE(fsx::forceDirectories(t.path() + "ONE/TWO"));
    EXPECT_NE(::access((t.path() + "ONE").c_str(), F_OK), 0);  // no second folder
    t.write("file", "");
    EXPECT_FALSE(fsx::forceDirectories(t.path() + "file/sub"));
    EXPECT_FALSE(fsx::forceDirectories(""));
}

TEST(FileSystemChange, ClearAttributesMakesReadOnlyFileWritable) {
    TempDir t;
    std::string f = t.write("ro.txt", "x");
    ASSERT_EQ(::chmod(f.c_str(), 0444), 0);
    EXPECT_TRUE(fsx::clearAttributes(t.path() + "RO.TXT"));
    struct stat st;
    ASSERT_EQ(::stat(f.c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IWUSR);
    EXPECT_EQ(st.st_mode & 0044, 0044u);  // other bits kept
    EXPECT_TRUE(fsx::deleteFile(f));
    EXPECT_FALSE(fsx::clearAttributes(f));
}

TEST(FileSystemMisc, JoinDirectoriesAndSpace) {
    EXPECT_EQ(fsx::joinMember("/g/", "strings\\missflag.str"), "/g/strings/missflag.str");
    EXPECT_EQ(fsx::joinMember("/g", "maps/a\\b.pcx"), "/g/maps/a/b.pcx");
    EXPECT_EQ(fsx::joinMember("/g/", "\\x"), "/g/x");
    EXPECT_EQ(fsx::joinMember("", "a\\b"), "a/b");

    std::string exe = fsx::exeDirectory();
    ASSERT_FALSE(exe.empty());
    EXPECT_EQ(exe.back(), fsx::kPathDelim);
    EXPECT_TRUE(fsx::directoryExists(exe));

    TempDir t;
    EXPECT_GT(fsx::freeDiskSpace(t.path()), 0);
    EXPECT_GT(fsx::freeDiskSpace(t.path() + "not/yet/there"), 0);
    EXPECT_GE(fsx::totalDiskSpace(t.path()), fsx::freeDiskSpace(t.path()));

    CwdGuard guard;
    t.write("Work/x", "");
    EXPECT_TRUE(fsx::setCurrentDirectory(t.path() + "work"));
    EXPECT_EQ(fsx::currentDirectory() + "/", fsx::resolve(t.path() + "Work/"));
    EXPECT_FALSE(fsx::setCurrentDirectory(t.path() + "missing"));
}
