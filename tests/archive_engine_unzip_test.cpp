// The extraction engine UNZENG.DLL, driven directly through its exported entry points,
// against archives made by other tools and against hostile or damaged archives.

#include <sys/stat.h>

#include <filesystem>
#include <random>
#include <set>

#include "EngineHarness.h"

using namespace enginetest;
using namespace engine;
namespace fs = std::filesystem;

namespace {

std::string randomBytes(size_t n, uint32_t seed, bool compressible) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = compressible ? char('a' + (rng() % 7 == 0 ? rng() % 26 : i % 13)) : char(rng());
    return s;
}

// A small tree covering the paths through the engine: empty, small, incompressible
// (streamed), two large members inflated side by side (the second finds too little
// memory left and is streamed), a name with a blank, nested folders.
const std::vector<std::pair<std::string, std::string>>& sampleTree() {
    static const std::string large = randomBytes(26u << 20, 3, true);
    static const std::vector<std::pair<std::string, std::string>> files = {
        {"readme.txt", randomBytes(10000, 1, true)},
        {"sub/deep/data.bin", randomBytes(300000, 2, false)},
        {"sub/empty.txt", ""},
        {"big/large.bin", large},
        {"big/large2.bin", large},
        {"with space.txt", "hello\n"},
    };
    return files;
}

void writeTree(const TempDir& dir, const std::string& sub) {
    for (const auto& [name, content] : sampleTree()) dir.write(sub + name, content);
}

class UnzipTest : public ::testing::Test {
  protected:
    struct Opts {
        bool dirs = true, overwrite = true, update = false, freshen = false, test = false;
        std::string password;
        int reqCount = 1;
        std::vector<std::string> specs{"*.*"};
        void* memory = nullptr;
        uint32_t memSize = 0;
        bool toMemory = false;
    };

    int run(const std::string& archive, const Opts& o) {
        EXPECT_NE(exec, nullptr);
        if (!exec) return -100;
        std::vector<UnzipFileSpec> specs(o.specs.size());
        for (size_t i = 0; i < o.specs.size(); ++i) specs[i].pattern = o.specs[i].c_str();
        UnzipParams p{};
        p.caller = &rec;
        p.version = kInterfaceVersion;
        p.callback = &Recorder::callback;
        p.password = o.password.c_str();
        p.test = o.test ? -1 : 0;
        p.reserved40 = -1;
        p.update = o.update ? -1 : 0;
        p.freshen = o.freshen ? -1 : 0;
        p.directories = o.dirs ? -1 : 0;
        p.overwrite = o.overwrite ? -1 : 0;
        p.argc = int32_t(specs.size());
        p.archive = archive.c_str();
        p.fileSpecs = specs.data();
        p.toMemory = o.toMemory ? -1 : 0;
        p.memory = o.memory;
        p.memorySize = o.memSize;
        p.passwordReqCount = o.reqCount;
        p.seven = kEndMarker;
        InDir in(out.path());
        return exec(&p);
    }

    void expectTree(const std::string& root) {
        for (const auto& [name, content] : sampleTree()) {
            ASSERT_TRUE(fs::exists(root + name)) << name << "\n" << rec.messages();
            EXPECT_TRUE(readFile(root + name) == content) << name;
        }
    }

    std::vector<std::string> leftovers(const std::string& dir) {
        std::vector<std::string> r;
        for (auto& e : fs::recursive_directory_iterator(dir))
            if (e.path().filename().string().find(".part") != std::string::npos)
                r.push_back(e.path().string());
        return r;
    }

    Library lib{"UNZENG.DLL"};
    UnzipEngineExecFn exec = lib.get<UnzipEngineExecFn>("UnzipEngineExec");
    TempDir src, out;
    Recorder rec;
};

TEST_F(UnzipTest, ExportsVersion160) {
    auto version = lib.get<EngineVersionFn>("GetUnzipEngineVersion");
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version(), 160);
}

TEST_F(UnzipTest, ExtractsArchivesOfOtherTools) {
    writeTree(src, "t/");
    const std::string t = src.path() + "t";
    const std::string list = "readme.txt sub big 'with space.txt'";
    struct Tool {
        const char* program;
        std::string command;
    };
    std::vector<Tool> tools = {
        {"zip", "cd " + t + " && zip -q -r ../a.zip ."},
        {"7z", "cd " + t + " && 7z a -tzip -bd ../a.zip " + list + " >/dev/null"},
        {"bsdtar", "cd " + t + " && bsdtar --format zip -cf ../a.zip " + list},
        {"python3", "cd " + t +
                        " && python3 -c \"import zipfile,os\nwith zipfile.ZipFile('../a.zip','w',"
                        "zipfile.ZIP_DEFLATED) as z:\n for r,d,f in os.walk('.'):\n  for n in f: "
                        "z.write(os.path.join(r,n))\""},
        {"python3", "cd " + t +
                        " && python3 -c \"import zipfile,os\nwith zipfile.ZipFile('../a.zip','w',"
                        "zipfile.ZIP_STORED) as z:\n for r,d,f in os.walk('.'):\n  for n in f: "
                        "z.write(os.path.join(r,n))\""},
    };
    int round = 0;
    for (const auto& tool : tools) {
        if (!haveProgram(tool.program)) continue;
        SCOPED_TRACE(tool.command);
        fs::remove(src.path() + "a.zip");
        std::string o;
        ASSERT_EQ(runCommand(tool.command, &o), 0) << o;
        std::string dest = "r" + std::to_string(++round) + "/";
        fs::create_directory(out.path() + dest);
        rec.events.clear();
        {
            InDir sub(out.path() + dest);
            Opts opts;
            std::vector<UnzipFileSpec> specs(1);
            specs[0].pattern = "*.*";
            UnzipParams p{};
            p.caller = &rec;
            p.version = kInterfaceVersion;
            p.callback = &Recorder::callback;
            p.password = "";
            p.directories = -1;
            p.overwrite = -1;
            p.argc = 1;
            std::string archive = src.path() + "a.zip";
            p.archive = archive.c_str();
            p.fileSpecs = specs.data();
            p.passwordReqCount = 1;
            p.seven = kEndMarker;
            EXPECT_EQ(exec(&p), int(sampleTree().size())) << rec.messages();
        }
        expectTree(out.path() + dest);
        // Modification times come from the archive (DOS times: two-second steps).
        struct stat a {
        }, b{};
        ASSERT_EQ(stat((t + "/readme.txt").c_str(), &a), 0);
        ASSERT_EQ(stat((out.path() + dest + "readme.txt").c_str(), &b), 0);
        EXPECT_LE(std::abs(double(a.st_mtime - b.st_mtime)), 2.0);
        // Progress: totals first, every file announced, byte steps adding up.
        EXPECT_EQ(rec.of(cbTotalFiles).at(0).arg2, int64_t(sampleTree().size()));
        EXPECT_EQ(rec.of(cbNewFile).size(), sampleTree().size());
        EXPECT_EQ(rec.sum(cbProgress), rec.of(cbTotalSize).at(0).arg2);
        for (const auto& e : rec.of(cbProgress)) EXPECT_LE(e.arg2, 8 << 20);
        EXPECT_EQ(rec.events.back().action, cbEndOfBatch);
        EXPECT_TRUE(leftovers(out.path()).empty());
    }
}

TEST_F(UnzipTest, BareNamesAndSpecsIgnoreCaseAndSeparator) {
    writeTree(src, "t/");
    ASSERT_EQ(runCommand("cd " + src.path() + "t && zip -q -r ../a.zip ."), 0);
    Opts o;
    o.dirs = false;
    o.specs = {"SUB\\DEEP\\*.BIN", "with?space.*"};
    EXPECT_EQ(run(src.path() + "a.zip", o), 2) << rec.messages();
    EXPECT_TRUE(fs::exists(out.path() + "data.bin"));
    EXPECT_TRUE(fs::exists(out.path() + "with space.txt"));
    EXPECT_FALSE(fs::exists(out.path() + "sub"));
}

TEST_F(UnzipTest, ExistingFoldersAreMatchedWithoutRegardToCase) {
    fs::create_directories(out.path() + "Sub/Deep");
    writeTree(src, "t/");
    ASSERT_EQ(runCommand("cd " + src.path() + "t && zip -q -r ../a.zip sub"), 0);
    EXPECT_EQ(run(src.path() + "a.zip", Opts{}), 2) << rec.messages();
    EXPECT_TRUE(fs::exists(out.path() + "Sub/Deep/data.bin"));
    EXPECT_TRUE(fs::exists(out.path() + "Sub/empty.txt"));
    EXPECT_FALSE(fs::exists(out.path() + "sub"));
}

TEST_F(UnzipTest, HostileNamesAreSkippedAndReported) {
    fs::create_directories(out.path() + "target");
    fs::create_directories(out.path() + "outside");
    fs::create_directory_symlink(out.path() + "outside", out.path() + "target/link");
    python(src,
           "import zipfile\n"
           "with zipfile.ZipFile('" +
               src.path() +
               "h.zip','w') as z:\n"
               "  for n in ['../evil','/abs','C:\\\\x','a/../../x','..\\\\win','link/through']:\n"
               "    z.writestr(n,'bad')\n"
               "  i=zipfile.ZipInfo('sym'); i.create_system=3; i.external_attr=(0o120777<<16)\n"
               "  z.writestr(i,'/etc/passwd')\n"
               "  z.writestr('good.txt','good')\n");
    Opts o;
    int n = 0;
    {
        InDir t(out.path() + "target");
        std::vector<UnzipFileSpec> specs(1);
        specs[0].pattern = "*.*";
        UnzipParams p{};
        p.caller = &rec;
        p.version = kInterfaceVersion;
        p.callback = &Recorder::callback;
        p.password = "";
        p.directories = -1;
        p.overwrite = -1;
        p.argc = 1;
        std::string a = src.path() + "h.zip";
        p.archive = a.c_str();
        p.fileSpecs = specs.data();
        p.seven = kEndMarker;
        n = exec(&p);
    }
    EXPECT_EQ(n, 1) << rec.messages();
    EXPECT_EQ(readFile(out.path() + "target/good.txt"), "good");
    auto skipped = rec.of(cbSkipped);
    ASSERT_EQ(skipped.size(), 7u) << rec.messages();
    for (const auto& s : skipped) EXPECT_EQ(s.arg2 & 0xFF, skipBadName) << s.text;
    EXPECT_TRUE(fs::is_empty(out.path() + "outside"));
    std::set<std::string> top;
    for (auto& e : fs::directory_iterator(out.path())) top.insert(e.path().filename().string());
    EXPECT_EQ(top, (std::set<std::string>{"target", "outside"}));
    EXPECT_FALSE(fs::exists("/abs"));
}

TEST_F(UnzipTest, DamagedArchivesEndCleanly) {
    python(src,
           "import zipfile, struct\n"
           "p='" +
               src.path() +
               "'\n"
               "with zipfile.ZipFile(p+'ok.zip','w',zipfile.ZIP_DEFLATED) as z:\n"
               "  z.writestr('a.txt','a'*5000)\n"
               "  z.writestr('b.txt','b'*5000)\n"
               "d=open(p+'ok.zip','rb').read()\n"
               "cd=d.rfind(b'PK\\x01\\x02')\n"
               "first=d.find(b'PK\\x01\\x02')\n"
               // b.txt's central entry points at a.txt's local header: overlap
               "o=bytearray(d); o[cd+42:cd+46]=o[first+42:first+46]; "
               "open(p+'overlap.zip','wb').write(o)\n"
               // a member declaring 4 GB in a tiny file
               "o=bytearray(d); o[first+24:first+28]=struct.pack('<I',0xFFFFFFF0); "
               "open(p+'huge.zip','wb').write(o)\n"
               // truncated central directory
               "open(p+'trunc.zip','wb').write(d[:cd+20]+d[d.rfind(b'PK\\x05\\x06'):])\n"
               // an end record announcing 65535 entries
               "e=d.rfind(b'PK\\x05\\x06'); o=bytearray(d); "
               "o[e+8:e+12]=struct.pack('<HH',65535,65535)\n"
               "open(p+'count.zip','wb').write(o)\n"
               "open(p+'garbage.zip','wb').write(b'PK\\x05\\x06'+b'\\xff'*18)\n"
               "open(p+'empty.zip','wb').write(b'')\n");
    for (const char* name : {"trunc.zip", "count.zip", "garbage.zip", "empty.zip", "missing.zip"}) {
        rec.events.clear();
        EXPECT_EQ(run(src.path() + name, Opts{}), 0) << name;
        EXPECT_FALSE(rec.of(cbMessage).empty()) << name;
        EXPECT_TRUE(fs::is_empty(out.path())) << name;
    }
    rec.events.clear();
    EXPECT_EQ(run(src.path() + "overlap.zip", Opts{}), 1) << rec.messages();
    ASSERT_EQ(rec.of(cbSkipped).size(), 1u);
    EXPECT_EQ(rec.of(cbSkipped)[0].arg2, skipDamaged);
    rec.events.clear();
    EXPECT_EQ(run(src.path() + "huge.zip", Opts{}), 1) << rec.messages();
    ASSERT_EQ(rec.of(cbSkipped).size(), 1u);
    EXPECT_EQ(rec.of(cbSkipped)[0].text, "a.txt");
    EXPECT_TRUE(leftovers(out.path()).empty());
}

TEST_F(UnzipTest, CrcMismatchKeepsTheGoodFileUnlessTheCallerSaysKeep) {
    python(src,
           "import zipfile\n"
           "p='" +
               src.path() +
               "'\n"
               "with zipfile.ZipFile(p+'c.zip','w',zipfile.ZIP_STORED) as z:\n"
               "  z.writestr('f.txt','original data')\n"
               "d=bytearray(open(p+'c.zip','rb').read()); i=d.find(b'original'); d[i]=ord('X')\n"
               "open(p+'c.zip','wb').write(d)\n");
    out.write("f.txt", "good old file");
    // No handler: the component answers 2; the damaged data must not replace the file.
    rec.answer = [](EngineCallbackRecord& r) {
        if (r.actionCode == cbCrcError) r.arg1 = 2;
        return 0;
    };
    EXPECT_EQ(run(src.path() + "c.zip", Opts{}), 0);
    EXPECT_EQ(readFile(out.path() + "f.txt"), "good old file");
    ASSERT_EQ(rec.of(cbCrcError).size(), 1u);
    EXPECT_NE(rec.of(cbCrcError)[0].arg1, rec.of(cbCrcError)[0].arg2);
    EXPECT_EQ(rec.of(cbSkipped).at(0).arg2, skipCrcError);
    rec.answer = [](EngineCallbackRecord& r) {
        if (r.actionCode == cbCrcError) r.arg1 = 1;
        return 0;
    };
    EXPECT_EQ(run(src.path() + "c.zip", Opts{}), 1);
    EXPECT_EQ(readFile(out.path() + "f.txt"), "Xriginal data");
    Opts t;
    t.test = true;
    rec.events.clear();
    EXPECT_EQ(run(src.path() + "c.zip", t), 0);
    EXPECT_EQ(rec.of(cbSkipped).at(0).arg2, skipCrcError);
    EXPECT_TRUE(leftovers(out.path()).empty());
}

TEST_F(UnzipTest, OverwriteUpdateAndFreshen) {
    src.write("t/new.txt", "archive new");
    src.write("t/old.txt", "archive old");
    src.write("t/only.txt", "only in archive");
    ASSERT_EQ(runCommand("cd " + src.path() +
                         "t && touch -d '2020-01-01 12:00' old.txt && "
                         "touch -d '2022-01-01 12:00' new.txt only.txt && zip -q ../a.zip *"),
              0);
    auto prime = [&] {
        out.write("new.txt", "disk");
        out.write("old.txt", "disk");
        fs::remove(out.path() + "only.txt");
        ASSERT_EQ(runCommand("cd " + out.path() + " && touch -d '2021-01-01' new.txt old.txt"), 0);
    };
    const std::string a = src.path() + "a.zip";

    prime();
    Opts o;
    o.overwrite = false;
    int asked = 0;
    rec.answer = [&](EngineCallbackRecord& r) {
        if (r.actionCode == cbOverwrite) {
            ++asked;
            EXPECT_EQ(r.arg2, 0);
            r.arg2 = std::string(r.text) == "new.txt" ? 1 : 0;
            EXPECT_EQ(r.arg1 & 1, std::string(r.text) == "new.txt" ? 1 : 0) << r.text;
        }
        return 0;
    };
    EXPECT_EQ(run(a, o), 2);
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(readFile(out.path() + "new.txt"), "archive new");
    EXPECT_EQ(readFile(out.path() + "old.txt"), "disk");
    EXPECT_EQ(rec.of(cbSkipped).at(0).arg2, skipOverwrite);
    // The totals count only what is extracted: the declined old.txt is left out.
    EXPECT_EQ(rec.of(cbTotalFiles).at(0).arg2, 2);
    EXPECT_EQ(rec.of(cbTotalSize).at(0).arg2, 11 + 15);
    EXPECT_EQ(rec.sum(cbProgress), 11 + 15);

    prime();
    rec = Recorder{};
    o.update = true;
    EXPECT_EQ(run(a, o), 2);  // new.txt (disk older) and only.txt (missing)
    EXPECT_EQ(readFile(out.path() + "new.txt"), "archive new");
    EXPECT_EQ(readFile(out.path() + "old.txt"), "disk");

    prime();
    rec = Recorder{};
    o.update = false;
    o.freshen = true;
    EXPECT_EQ(run(a, o), 1);
    EXPECT_EQ(readFile(out.path() + "new.txt"), "archive new");
    EXPECT_FALSE(fs::exists(out.path() + "only.txt"));
    EXPECT_EQ(rec.of(cbTotalFiles).at(0).arg2, 1);
    EXPECT_EQ(rec.of(cbTotalSize).at(0).arg2, 11);
}

TEST_F(UnzipTest, EncryptedMembersFromInfoZip) {
    if (!haveProgram("zip")) GTEST_SKIP();
    src.write("t/secret.txt", randomBytes(50000, 9, true));
    ASSERT_EQ(runCommand("cd " + src.path() + "t && zip -q -e -P s3cret ../e.zip secret.txt"), 0);
    const std::string a = src.path() + "e.zip";
    Opts o;
    o.password = "s3cret";
    EXPECT_EQ(run(a, o), 1) << rec.messages();
    EXPECT_EQ(readFile(out.path() + "secret.txt"), readFile(src.path() + "t/secret.txt"));

    // Wrong record password, then the callback is asked (repeat count given) and answers.
    fs::remove(out.path() + "secret.txt");
    rec = Recorder{};
    o.password = "wrong";
    o.reqCount = 3;
    int asks = 0;
    rec.answer = [&](EngineCallbackRecord& r) {
        if (r.actionCode == cbPassword) {
            EXPECT_EQ(r.arg1 & 1, 0);
            std::snprintf(r.text, sizeof r.text, "%s", ++asks < 2 ? "nope" : "s3cret");
            r.arg1 = 1;
        }
        return 0;
    };
    EXPECT_EQ(run(a, o), 1) << rec.messages();
    EXPECT_EQ(asks, 2);
    EXPECT_TRUE(fs::exists(out.path() + "secret.txt"));

    // No password at all: skipped and reported, nothing written.
    fs::remove(out.path() + "secret.txt");
    rec = Recorder{};
    o.password = "";
    EXPECT_EQ(run(a, o), 0);
    EXPECT_EQ(rec.of(cbSkipped).at(0).arg2, skipPassword);
    EXPECT_TRUE(fs::is_empty(out.path()));
}

TEST_F(UnzipTest, MemoryExtractionWritesExactlyTheBlock) {
    writeTree(src, "t/");
    ASSERT_EQ(runCommand("cd " + src.path() + "t && zip -q -r ../a.zip ."), 0);
    const std::string& content = sampleTree()[0].second;
    std::vector<char> block(content.size() + 16, '#');
    Opts o;
    o.toMemory = true;
    o.specs = {"README.TXT"};
    o.memory = block.data();
    o.memSize = uint32_t(content.size());
    EXPECT_EQ(run(src.path() + "a.zip", o), 1) << rec.messages();
    EXPECT_EQ(std::string(block.data(), content.size()), content);
    EXPECT_EQ(std::string(block.data() + content.size(), 16), std::string(16, '#'));
    EXPECT_TRUE(fs::is_empty(out.path()));

    // The streamed path into memory, and a block of the wrong size.
    const std::string& large = sampleTree()[3].second;
    std::vector<char> big(large.size());
    o.specs = {"big\\large.bin"};
    o.memory = big.data();
    o.memSize = uint32_t(big.size());
    EXPECT_EQ(run(src.path() + "a.zip", o), 1);
    EXPECT_TRUE(std::string(big.data(), big.size()) == large);
    o.memSize = uint32_t(big.size() - 1);
    EXPECT_EQ(run(src.path() + "a.zip", o), 0);
    o.specs = {"sub/empty.txt"};
    o.memory = nullptr;
    o.memSize = 0;
    EXPECT_EQ(run(src.path() + "a.zip", o), 1);
}

TEST_F(UnzipTest, Zip64AndPrefixedArchives) {
    writeTree(src, "t/");
    python(src,
           "import zipfile,os\n"
           "p='" +
               src.path() +
               "'\n"
               "with zipfile.ZipFile(p+'z64.zip','w',zipfile.ZIP_DEFLATED) as z:\n"
               "  for r,d,f in os.walk(p+'t'):\n"
               "    for n in f:\n"
               "      full=os.path.join(r,n)\n"
               "      with open(full,'rb') as i, "
               "z.open(os.path.relpath(full,p+'t'),'w',force_zip64=True) as o:\n"
               "        o.write(i.read())\n"
               "open(p+'sfx.zip','wb').write(b'MZ stub'*1000+open(p+'z64.zip','rb').read())\n");
    EXPECT_EQ(run(src.path() + "z64.zip", Opts{}), int(sampleTree().size())) << rec.messages();
    expectTree(out.path());
    fs::remove_all(out.path() + "sub");
    fs::remove_all(out.path() + "big");
    EXPECT_EQ(run(src.path() + "sfx.zip", Opts{}), int(sampleTree().size())) << rec.messages();
    expectTree(out.path());
}

TEST_F(UnzipTest, MoreThan65535Entries) {
    python(src,
           "import zipfile\n"
           "with zipfile.ZipFile('" +
               src.path() +
               "many.zip','w') as z:\n"
               "  for i in range(70000): z.writestr('f%d.txt'%i, str(i))\n");
    Opts o;
    o.specs = {"f69999.txt", "F00*"};
    EXPECT_EQ(run(src.path() + "many.zip", o), 1) << rec.messages();
    EXPECT_EQ(readFile(out.path() + "f69999.txt"), "69999");
}

TEST_F(UnzipTest, StopFromTheCallbackLeavesNoPartialFiles) {
    writeTree(src, "t/");
    ASSERT_EQ(runCommand("cd " + src.path() + "t && zip -q -r ../a.zip ."), 0);
    int news = 0;
    rec.answer = [&](EngineCallbackRecord& r) {
        return r.actionCode == cbNewFile && ++news == 2 ? -1 : 0;
    };
    int n = run(src.path() + "a.zip", Opts{});
    EXPECT_LE(n, 1);
    EXPECT_TRUE(leftovers(out.path()).empty());
    // Nothing is called after the stop.
    EXPECT_EQ(rec.events.back().action, cbNewFile);
}

TEST_F(UnzipTest, TestModeWritesNothing) {
    writeTree(src, "t/");
    ASSERT_EQ(runCommand("cd " + src.path() + "t && zip -q -r ../a.zip ."), 0);
    Opts o;
    o.test = true;
    EXPECT_EQ(run(src.path() + "a.zip", o), int(sampleTree().size()));
    EXPECT_TRUE(fs::is_empty(out.path()));
}

}  // namespace
