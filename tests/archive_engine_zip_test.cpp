// The compression engine ZIPENG.DLL, driven directly; every archive it writes is
// checked with Info-ZIP unzip and Python's zipfile.

#include <sys/stat.h>

#include <filesystem>
#include <random>

#include "EngineHarness.h"

using namespace enginetest;
using namespace engine;
namespace fs = std::filesystem;

namespace {

std::string noise(size_t n, uint32_t seed, bool compressible) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = compressible ? char('a' + (rng() % 5 == 0 ? rng() % 26 : i % 11)) : char(rng());
    return s;
}

class ZipTest : public ::testing::Test {
  protected:
    struct Opts {
        std::vector<std::string> specs;
        bool recurse = true, dirNames = true, hidden = false, move = false, update = false,
             freshen = false;
        bool latest = false, encrypt = false;
        int level = 5;
        std::string password, rootDir, suffixes = ".gif:.png:.zip";
        std::vector<std::string> excludes;
        const char* comment = nullptr;
    };

    int run(const std::string& archive, const Opts& o) {
        EXPECT_NE(exec, nullptr);
        if (!exec) return -100;
        std::vector<ZipFileSpec> specs(o.specs.size());
        for (size_t i = 0; i < o.specs.size(); ++i) {
            specs[i].pattern = o.specs[i].c_str();
            specs[i].password = o.password.empty() ? nullptr : o.password.c_str();
            specs[i].encrypt = o.encrypt ? -1 : 0;
            specs[i].recurse = o.recurse ? 0xFFFF : 0;
            specs[i].rootDir = o.rootDir.empty() ? nullptr : o.rootDir.c_str();
        }
        std::vector<const char*> ex;
        for (const auto& e : o.excludes) ex.push_back(e.c_str());
        ZipParams p{};
        p.caller = &rec;
        p.version = kInterfaceVersion;
        p.callback = &Recorder::callback;
        p.password = o.password.empty() ? nullptr : o.password.c_str();
        p.suffixes = o.suffixes.empty() ? nullptr : o.suffixes.c_str();
        p.encrypt = o.encrypt ? -1 : 0;
        p.hiddenFiles = o.hidden ? -1 : 0;
        p.noDirEntries = -1;
        p.quiet = -1;
        p.level = o.level;
        p.junkDirs = o.dirNames ? 0 : -1;
        p.recurse = o.recurse ? 0xFFFF : 0;
        p.reserved80 = -1;
        p.move = o.move ? -1 : 0;
        p.update = o.update ? -1 : 0;
        p.freshen = o.freshen ? -1 : 0;
        p.latestTime = o.latest ? -1 : 0;
        p.argc = int32_t(specs.size());
        p.archive = archive.c_str();
        p.comment = o.comment;
        p.fileSpecs = specs.data();
        p.excludeCount = int32_t(ex.size());
        p.excludeSpecs = ex.data();
        p.seven = kEndMarker;
        InDir in(src.path());
        return exec(&p);
    }

    // Runs unzip -t and Python's testzip; returns Python's listing "name size crc\n"...
    std::string verify(const std::string& archive, const std::string& password = "") {
        std::string out;
        EXPECT_EQ(
            runCommand("unzip -t " + (password.empty() ? "" : "-P " + password + " ") + archive,
                       &out),
            0)
            << out;
        std::string listing;
        python(tmp,
               "import zipfile,sys\n"
               "z=zipfile.ZipFile('" +
                   archive + "')\n" +
                   (password.empty() ? "" : "z.setpassword(b'" + password + "')\n") +
                   "assert z.testzip() is None\n"
                   "open('" +
                   tmp.path() +
                   "list.txt','w').write(''.join('%s %d %d %s\\n'%(i.filename,"
                   "i.file_size,i.compress_type,'%04d%02d%02d%02d%02d%02d'%i.date_time) for i in "
                   "z.infolist()))\n");
        return readFile(tmp.path() + "list.txt");
    }

    std::string extracted(const std::string& archive, const std::string& name) {
        std::string out;
        EXPECT_EQ(runCommand("unzip -p " + archive + " " + quote(name), &out), 0);
        return out;
    }

    Library lib{"ZIPENG.DLL"};
    ZipEngineExecFn exec = lib.get<ZipEngineExecFn>("ZipEngineExec");
    TempDir src, tmp;
    Recorder rec;
};

TEST_F(ZipTest, ExportsVersion160) {
    auto version = lib.get<EngineVersionFn>("GetZipEngineVersion");
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version(), 160);
}

TEST_F(ZipTest, WritesArchivesOtherToolsRead) {
    const std::string text = noise(20000, 1, true), bin = noise(100000, 2, false),
                      large = noise(12u << 20, 3, true);
    src.write("m/readme.txt", text);
    src.write("m/sub/deep/data.bin", bin);
    src.write("m/sub/empty.txt", "");
    src.write("m/big/large.bin", large);
    src.write("m/pic.GIF", text);
    src.write("m/über.txt", "umlaut");
    ASSERT_EQ(runCommand("touch -d '2019-06-15 10:20:30' " + src.path() + "m/readme.txt"), 0);
    const std::string a = tmp.path() + "out.zip";
    Opts o;
    o.specs = {"m/*.*"};
    EXPECT_EQ(run(a, o), 6) << rec.messages();
    std::string listing = verify(a);
    EXPECT_NE(listing.find("m/readme.txt 20000 8 20190615102030"), std::string::npos) << listing;
    EXPECT_NE(listing.find("m/sub/deep/data.bin 100000 0"), std::string::npos)
        << listing;  // did not shrink
    EXPECT_NE(listing.find("m/sub/empty.txt 0 0"), std::string::npos) << listing;
    EXPECT_NE(listing.find("m/big/large.bin 12582912 8"), std::string::npos) << listing;
    EXPECT_NE(listing.find("m/pic.GIF 20000 0"), std::string::npos) << listing;  // stored suffix
    EXPECT_NE(listing.find("m/über.txt 6 "), std::string::npos) << listing;      // UTF-8 flag set
    EXPECT_EQ(extracted(a, "m/readme.txt"), text);
    EXPECT_TRUE(extracted(a, "m/big/large.bin") == large);
    EXPECT_EQ(rec.of(cbTotalFiles).at(0).arg2, 6);
    EXPECT_EQ(rec.sum(cbProgress), rec.of(cbTotalSize).at(0).arg2);
    EXPECT_EQ(rec.events.back().action, cbEndOfBatch);
    // Only the archive is left: no temporary files.
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp.path()), fs::directory_iterator()),
              3);  // + script, list
}

TEST_F(ZipTest, NamesHiddenFilesExcludesAndRoot) {
    src.write("m/a.txt", "a");
    src.write("m/.hidden", "h");
    src.write("m/.git/config", "g");
    src.write("m/sub/b.log", "b");
    src.write("m/sub/c.txt", "c");
    const std::string a = tmp.path() + "n.zip";
    Opts o;
    o.specs = {"*.*"};
    o.rootDir = src.path() + "m";
    o.excludes = {"*.log"};
    EXPECT_EQ(run(a, o), 2) << rec.messages();
    std::string l = verify(a);
    EXPECT_NE(l.find("a.txt "), std::string::npos) << l;
    EXPECT_NE(l.find("sub/c.txt "), std::string::npos) << l;

    fs::remove(a);
    o.hidden = true;
    o.dirNames = false;
    o.excludes.clear();
    rec = Recorder{};
    EXPECT_EQ(run(a, o), 5) << rec.messages();
    l = "\n" + verify(a);
    for (const char* n : {"a.txt ", ".hidden ", "config ", "b.log ", "c.txt "})
        EXPECT_NE(l.find(std::string("\n") + n), std::string::npos) << n << l;

    // A new member name from the callback.
    fs::remove(a);
    rec = Recorder{};
    rec.answer = [](EngineCallbackRecord& r) {
        if (r.actionCode == cbNewName && std::string(r.text) == "m/a.txt") {
            std::snprintf(r.text, sizeof r.text, "renamed\\x.txt");
            r.arg1 = 1;
        }
        return 0;
    };
    o = Opts{};
    o.specs = {"m/a.txt"};
    EXPECT_EQ(run(a, o), 1);
    EXPECT_NE(verify(a).find("renamed/x.txt 1"), std::string::npos);
}

TEST_F(ZipTest, ExistingMembersAreKeptRawOrReplacedIgnoringCase) {
    src.write("old/A.txt", "old a");
    src.write("old/b.txt", noise(50000, 4, true));
    const std::string a = tmp.path() + "x.zip";
    ASSERT_EQ(runCommand("cd " + src.path() + "old && echo 'kept comment' | zip -q -z " + a +
                         " A.txt b.txt"),
              0)
        << "zip";
    src.write("a.TXT", "new a");
    src.write("c.txt", "c");
    Opts o;
    o.specs = {"a.TXT", "c.txt"};
    o.recurse = false;
    EXPECT_EQ(run(a, o), 2) << rec.messages();
    std::string l = verify(a);
    EXPECT_NE(l.find("a.TXT 5"), std::string::npos) << l;
    EXPECT_EQ(l.find("A.txt"), std::string::npos) << l;
    EXPECT_NE(l.find("b.txt 50000 8"), std::string::npos) << l;
    EXPECT_LT(l.find("a.TXT"), l.find("b.txt"));  // replaced in place
    EXPECT_EQ(extracted(a, "a.TXT"), "new a");
    EXPECT_EQ(extracted(a, "b.txt"), noise(50000, 4, true));
    std::string comment;
    runCommand("unzip -z " + a, &comment);
    EXPECT_NE(comment.find("kept comment"), std::string::npos) << comment;

    // A damaged old archive is never overwritten.
    writeFile(a, "PK\x05\x06 not really");
    std::string before = readFile(a);
    EXPECT_EQ(run(a, o), 0);
    EXPECT_EQ(readFile(a), before);
}

TEST_F(ZipTest, UpdateAndFreshenCompareTimes) {
    src.write("a.txt", "a1");
    src.write("b.txt", "b1");
    const std::string a = tmp.path() + "u.zip";
    ASSERT_EQ(runCommand("cd " + src.path() + " && touch -d '2020-01-01' a.txt b.txt && zip -q " +
                         a + " a.txt b.txt"),
              0);
    src.write("a.txt", "a2");  // newer
    src.write("b.txt", "b2");
    src.write("c.txt", "c2");
    ASSERT_EQ(runCommand("cd " + src.path() + " && touch -d '2019-01-01' b.txt"), 0);  // older
    Opts o;
    o.specs = {"*.txt"};
    o.freshen = true;
    EXPECT_EQ(run(a, o), 1);
    EXPECT_EQ(extracted(a, "a.txt"), "a2");
    EXPECT_EQ(extracted(a, "b.txt"), "b1");
    o.freshen = false;
    o.update = true;
    EXPECT_EQ(run(a, o), 1);  // only c.txt now
    EXPECT_NE(verify(a).find("c.txt 2"), std::string::npos);
}

TEST_F(ZipTest, EncryptionBothWays) {
    // The large file is written in pieces (see LargeFilesAreWrittenInPiecesOfOneStream).
    const std::string small = noise(30000, 5, true), large = noise(34u << 20, 6, true);
    src.write("s.txt", small);
    src.write("l.bin", large);
    const std::string a = tmp.path() + "e.zip";
    Opts o;
    o.specs = {"s.txt", "l.bin"};
    o.encrypt = true;
    o.password = "pa55";
    EXPECT_EQ(run(a, o), 2) << rec.messages();
    verify(a, "pa55");
    std::string out;
    EXPECT_NE(runCommand("unzip -t -P wrong " + a, &out), 0);

    // No password given: the engine asks (adding: arg1 bit 0 set).
    fs::remove(a);
    o.password.clear();
    rec.answer = [](EngineCallbackRecord& r) {
        if (r.actionCode == cbPassword) {
            EXPECT_EQ(r.arg1 & 1, 1);
            std::snprintf(r.text, sizeof r.text, "asked");
            r.arg1 = 1;
        }
        return 0;
    };
    EXPECT_EQ(run(a, o), 2);
    EXPECT_EQ(runCommand("unzip -tq -P asked " + a, &out), 0) << out;

    // Our extraction engine reads what we wrote.
    Library un("UNZENG.DLL");
    auto unzip = un.get<UnzipEngineExecFn>("UnzipEngineExec");
    ASSERT_NE(unzip, nullptr);
    UnzipFileSpec spec{};
    spec.pattern = "*.*";
    UnzipParams p{};
    p.caller = &rec;
    p.version = kInterfaceVersion;
    p.callback = &Recorder::callback;
    p.password = "asked";
    p.directories = -1;
    p.overwrite = -1;
    p.argc = 1;
    p.archive = a.c_str();
    p.fileSpecs = &spec;
    p.seven = kEndMarker;
    TempDir dest;
    {
        InDir in(dest.path());
        EXPECT_EQ(unzip(&p), 2);
    }
    EXPECT_TRUE(readFile(dest.path() + "l.bin") == large);

    // Encryption asked for and no password at all: nothing is written.
    fs::remove(a);
    rec = Recorder{};
    EXPECT_EQ(run(a, o), 0);
    EXPECT_FALSE(fs::exists(a));
}

TEST_F(ZipTest, MoveDeletesSourcesOnlyAfterTheArchiveIsComplete) {
    src.write("keep.txt", "in the archive");
    const std::string a = tmp.path() + "m.zip";
    ASSERT_EQ(runCommand("cd " + src.path() + " && zip -q " + a + " keep.txt && rm keep.txt"), 0);
    const std::string before = readFile(a);
    for (int i = 0; i < 5; ++i)
        src.write("save" + std::to_string(i) + ".sav", noise(200000, 10 + i, true));
    Opts o;
    o.specs = {"*.sav"};
    o.move = true;
    // Stopped while the third file is being added.
    int news = 0;
    rec.answer = [&](EngineCallbackRecord& r) {
        return r.actionCode == cbNewFile && ++news == 3 ? -1 : 0;
    };
    EXPECT_EQ(run(a, o), 0);
    EXPECT_EQ(readFile(a), before);
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(fs::exists(src.path() + "save" + std::to_string(i) + ".sav"));
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp.path()), fs::directory_iterator()), 1);

    // Archive in a folder that does not exist: nothing deleted, nothing left behind.
    rec = Recorder{};
    EXPECT_EQ(run(tmp.path() + "no/such/dir/m.zip", o), 0);
    EXPECT_TRUE(fs::exists(src.path() + "save0.sav"));

    rec = Recorder{};
    EXPECT_EQ(run(a, o), 5);
    for (int i = 0; i < 5; ++i)
        EXPECT_FALSE(fs::exists(src.path() + "save" + std::to_string(i) + ".sav"));
    std::string l = verify(a);
    EXPECT_NE(l.find("keep.txt"), std::string::npos);
    EXPECT_NE(l.find("save4.sav 200000"), std::string::npos);
}

TEST_F(ZipTest, LatestTimeCommentAndLevelZero) {
    src.write("a.txt", noise(5000, 7, true));
    ASSERT_EQ(runCommand("touch -d '2018-03-04 05:06:08' " + src.path() + "a.txt"), 0);
    const std::string a = tmp.path() + "t.zip";
    Opts o;
    o.specs = {"a.txt"};
    o.latest = true;
    o.level = 0;
    o.comment = "archive note";
    EXPECT_EQ(run(a, o), 1);
    struct stat st {
    }, sst{};
    ASSERT_EQ(stat(a.c_str(), &st), 0);
    ASSERT_EQ(stat((src.path() + "a.txt").c_str(), &sst), 0);
    EXPECT_EQ(st.st_mtime, sst.st_mtime);
    EXPECT_NE(verify(a).find("a.txt 5000 0"), std::string::npos);
    std::string comment;
    runCommand("unzip -z " + a, &comment);
    EXPECT_NE(comment.find("archive note"), std::string::npos);
}

// Files beyond the one-piece size are compressed in parts by both workers; the parts must
// join into one valid deflate stream, also where a part does not compress and goes in
// as stored blocks, and progress must still add up file by file.
TEST_F(ZipTest, LargeFilesAreWrittenInPiecesOfOneStream) {
    const std::string mixed =
        noise(13u << 20, 21, true) + noise(9u << 20, 22, false) + noise((14u << 20) + 7, 23, true);
    const std::string stored = noise((33u << 20) + 1, 24, true);
    const std::string random = noise(1u << 20, 25, false);
    src.write("a/mixed.mis", mixed);
    src.write("a/packed.zip", stored);  // stored by its suffix
    src.write("a/random.ogg", random);
    src.write("a/z.txt", "after the large ones");
    const std::string a = tmp.path() + "big.zip";
    Opts o;
    o.specs = {"a/*.*"};
    EXPECT_EQ(run(a, o), 4) << rec.messages();
    std::string listing = verify(a);
    EXPECT_NE(listing.find("a/mixed.mis " + std::to_string(mixed.size()) + " 8"), std::string::npos)
        << listing;
    EXPECT_NE(listing.find("a/packed.zip " + std::to_string(stored.size()) + " 0"),
              std::string::npos)
        << listing;
    EXPECT_NE(listing.find("a/random.ogg 1048576 0"), std::string::npos) << listing;
    EXPECT_TRUE(extracted(a, "a/mixed.mis") == mixed);
    EXPECT_TRUE(extracted(a, "a/packed.zip") == stored);
    EXPECT_EQ(extracted(a, "a/z.txt"), "after the large ones");
    // The compressible parts of the mixed file did compress.
    EXPECT_LT(fs::file_size(a), stored.size() + random.size() + mixed.size() - (10u << 20));

    // Each file's progress adds up to its size before the next file begins.
    std::string current;
    int64_t done = 0, expected = 0;
    for (const auto& e : rec.events) {
        if (e.action == cbNewFile) {
            EXPECT_EQ(done, expected) << current;
            current = e.text;
            expected = e.arg2;
            done = 0;
        } else if (e.action == cbProgress) {
            done += e.arg2;
        }
    }
    EXPECT_EQ(done, expected) << current;
    EXPECT_EQ(rec.sum(cbProgress), rec.of(cbTotalSize).at(0).arg2);
}

// A large file that shrinks after it was listed cannot be read to its end: it is taken
// out of the archive again, reported, and the files after it are stored correctly.
TEST_F(ZipTest, LargeFileThatShrinksIsLeftOutAndTheRestIsKept) {
    const std::string path = src.path() + "a.bin";
    src.write("a.bin", noise(40u << 20, 31, true));
    src.write("b.txt", "second");
    const std::string a = tmp.path() + "s.zip";
    rec.answer = [&](EngineCallbackRecord& r) {
        if (r.actionCode == cbTotalSize) fs::resize_file(path, 10u << 20);
        return 0;
    };
    Opts o;
    o.specs = {"*.*"};
    EXPECT_EQ(run(a, o), 1);
    EXPECT_NE(rec.messages().find("a.bin"), std::string::npos) << rec.messages();
    EXPECT_NE(rec.messages().find("not added"), std::string::npos) << rec.messages();
    std::string listing = verify(a);
    EXPECT_EQ(listing.find("a.bin"), std::string::npos) << listing;
    EXPECT_NE(listing.find("b.txt 6 "), std::string::npos) << listing;
    EXPECT_LT(fs::file_size(a), 4096u);  // nothing of the left-out file remains
}

TEST_F(ZipTest, MoreThan65535MembersGetZip64Records) {
    python(src,
           "import os\n"
           "os.makedirs('" +
               src.path() +
               "many')\n"
               "for i in range(66000): open('" +
               src.path() + "many/f%05d'%i,'w').write(str(i))\n");
    const std::string a = tmp.path() + "many.zip";
    Opts o;
    o.specs = {"many/*"};
    EXPECT_EQ(run(a, o), 66000) << rec.messages();
    std::string l = verify(a);
    EXPECT_NE(l.find("many/f65999 5 "), std::string::npos);
}

}  // namespace
