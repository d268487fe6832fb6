// The engine interface against stand-in engines: loading and its messages, the parameter
// records of every layout, the file-spec syntax, request flow and the callback actions.

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "archive/ZipArchiver.h"
#include "platform/FileSystem.h"
#include "support/TestSupport.h"

namespace {

// Whether the library is loaded no more. The address sanitizer's runtime keeps libraries
// mapped after their last dlclose, so there the question cannot be answered.
bool unloaded(const std::string& lib) {
#if defined(__SANITIZE_ADDRESS__)
    (void)lib;
    return true;
#else
    void* h = dlopen(lib.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (h) dlclose(h);
    return h == nullptr;
#endif
}

using Dump = std::map<std::string, std::string>;

std::string fakeDir(const std::string& variant) {
    return std::string(TM_FAKE_ENGINE_DIR) + "/" + variant;
}

const char* const kFakeVars[] = {"TM_FAKE_DUMP", "TM_FAKE_CALLBACKS", "TM_FAKE_RESULT",
                                 "TM_FAKE_FILL"};

class EngineIfaceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* v : kFakeVars) unsetenv(v);
        dumpPath_ = tmp.file("dump.txt");
        setenv("TM_FAKE_DUMP", dumpPath_.c_str(), 1);
        savedCwd_ = fsx::currentDirectory();
        zip.Unattended = true;
        zip.OnMessage = [this](TZipArchiver*, int code, const std::string& text) {
            messages.push_back({code, text});
        };
    }
    void TearDown() override {
        for (const char* v : kFakeVars) unsetenv(v);
        fsx::setCurrentDirectory(savedCwd_);
    }

    void useEngine(const std::string& variant) { zip.SetDLLDirectory(fakeDir(variant)); }
    void callbacks(const std::string& script) { setenv("TM_FAKE_CALLBACKS", script.c_str(), 1); }

    // An existing archive with one member, for extraction requests.
    void useArchive() {
        ASSERT_TRUE(makeZip(tmp.file("in.zip"), {{"x.txt", "hello"}}));
        zip.SetZipFileName(tmp.file("in.zip"));
    }

    // One map per exec call the engine received.
    std::vector<Dump> dumps() const {
        std::vector<Dump> out;
        std::istringstream in(fsx::fileExists(dumpPath_) ? readFile(dumpPath_) : "");
        std::string line;
        while (std::getline(in, line)) {
            size_t eq = line.find('=');
            if (eq == std::string::npos) continue;
            std::string key = line.substr(0, eq);
            if (key == "engine") out.emplace_back();
            if (!out.empty()) out.back()[key] = line.substr(eq + 1);
        }
        return out;
    }
    Dump single() const {
        auto d = dumps();
        EXPECT_EQ(d.size(), 1u);
        return d.empty() ? Dump{} : d.front();
    }
    bool reported(int id) const {
        const std::string text = ZipMessageText(id);
        for (const auto& m : messages)
            if (m.second.rfind(text, 0) == 0) return true;
        return false;
    }

    TempDir tmp;
    ScriptedPrompter prompts;
    TZipArchiver zip;
    std::vector<std::pair<int, std::string>> messages;

  private:
    std::string dumpPath_;
    std::string savedCwd_;
};

// --- Loading ----------------------------------------------------------------------------

TEST_F(EngineIfaceTest, MissingExportsAreReportedAndNothingRuns) {
    useEngine("noexec");
    zip.FSpecArgs = {"a.txt"};
    zip.SetZipFileName(tmp.file("out.zip"));
    zip.Add();
    EXPECT_TRUE(reported(10602));
    EXPECT_EQ(zip.SuccessCount, 0);
    EXPECT_EQ(zip.GetZipEngineVersion(), 0);

    useArchive();
    zip.Extract();
    EXPECT_TRUE(reported(10702));
    EXPECT_EQ(zip.GetUnzipEngineVersion(), 0);

    messages.clear();
    useEngine("noversion");
    zip.FSpecArgs = {"a.txt"};
    zip.Add();
    EXPECT_TRUE(reported(10603));
    zip.Extract();
    EXPECT_TRUE(reported(10703));
    EXPECT_TRUE(dumps().empty());
    EXPECT_FALSE(zip.ZipBusy());
    EXPECT_FALSE(zip.UnzipBusy());
}

TEST_F(EngineIfaceTest, VersionQueryLoadsAndUnloadsAndTraceAnnouncesLoading) {
    useEngine("v151");
    EXPECT_EQ(zip.GetZipEngineVersion(), 151);
    EXPECT_EQ(zip.GetUnzipEngineVersion(), 151);
    EXPECT_TRUE(messages.empty());

    const std::string lib = fakeDir("v151") + "/ZIPENG.DLL";
    EXPECT_TRUE(unloaded(lib));

    zip.Trace = true;
    zip.GetZipEngineVersion();
    zip.GetUnzipEngineVersion();
    EXPECT_TRUE(reported(10601));
    EXPECT_TRUE(reported(10701));
}

TEST_F(EngineIfaceTest, SlotIsSharedAndOnlyTheLoadingInstanceUnloads) {
    useEngine("v160");
    TZipArchiver other;
    other.Unattended = true;
    other.SetDLLDirectory(fakeDir("noexec"));  // would fail if it loaded its own
    const std::string lib = fakeDir("v160") + "/ZIPENG.DLL";
    int versionSeen = -1;
    bool loadedAfterQuery = false;
    zip.OnProgress = [&](TZipArchiver*, ProgressType, const std::string&, int64_t) {
        versionSeen = other.GetZipEngineVersion();
        void* h = dlopen(lib.c_str(), RTLD_NOW | RTLD_NOLOAD);
        loadedAfterQuery = h != nullptr;
        if (h) dlclose(h);
    };
    callbacks("1,0,10,a.txt");
    zip.SetZipFileName(tmp.file("out.zip"));
    zip.FSpecArgs = {"a.txt"};
    setenv("TM_FAKE_RESULT", "0", 1);
    zip.Add();
    EXPECT_EQ(versionSeen, 160);
    EXPECT_TRUE(loadedAfterQuery);
    EXPECT_TRUE(unloaded(lib));
}

TEST_F(EngineIfaceTest, MissingLibraryIsReportedByTheTool) {
    // The tool copied alone into an empty directory finds no engine anywhere.
    const std::string tool = std::string(TM_TEST_BIN_DIR) + "/zipop";
    if (!fsx::fileExists(tool)) GTEST_SKIP() << "zipop not built";
    const std::string copy = tmp.file("alone/zipop");
    ASSERT_TRUE(fsx::forceDirectories(tmp.file("alone")));
    ASSERT_TRUE(fsx::copyFile(tool, copy));
    ASSERT_EQ(runCommand("chmod +x '" + copy + "'"), 0);
    tmp.write("f.txt", "x");
    std::string out;
    runCommand("cd '" + tmp.path() + "' && '" + copy + "' add out.zip f.txt 2>&1", &out);
    EXPECT_NE(out.find(ZipMessageText(10604)), std::string::npos) << out;
    ASSERT_TRUE(makeZip(tmp.file("in.zip"), {{"x.txt", "hello"}}));
    runCommand("cd '" + tmp.path() + "' && '" + copy + "' extract in.zip --dir . 2>&1", &out);
    EXPECT_NE(out.find(ZipMessageText(10704)), std::string::npos) << out;
}

// --- Compression records ---------------------------------------------------------------

TEST_F(EngineIfaceTest, CurrentZipRecordCarriesEveryOption) {
    useEngine("v160");
    zip.SetZipFileName(tmp.file("out.zip"));
    zip.Unattended = false;
    zip.Password = "secret";
    zip.RootDir = tmp.path();
    zip.TempDir = tmp.path();
    zip.AddCompLevel = 5;
    zip.AddStoreSuffixes = {
        AddStoreSuffixEnum::assGIF, AddStoreSuffixEnum::assPNG, AddStoreSuffixEnum::assZ,
        AddStoreSuffixEnum::assZIP, AddStoreSuffixEnum::assZOO, AddStoreSuffixEnum::assARC,
        AddStoreSuffixEnum::assLZH, AddStoreSuffixEnum::assARJ, AddStoreSuffixEnum::assTAZ,
        AddStoreSuffixEnum::assTGZ, AddStoreSuffixEnum::assLHA};
    zip.AddOptions = {AddOptsEnum::AddDirNames,    AddOptsEnum::AddMove,
                      AddOptsEnum::AddFreshen,     AddOptsEnum::AddUpdate,
                      AddOptsEnum::AddArchiveOnly, AddOptsEnum::AddSeparateDirs,
                      AddOptsEnum::AddEncrypt};
    zip.FSpecArgs = {">sub*.txt", "|flat.txt<own", "plain.txt<", "other.txt"};
    zip.FSpecArgsExcl = {"*.bak", "tmp\\*"};
    setenv("TM_FAKE_RESULT", "0", 1);
    zip.Add();

    Dump d = single();
    EXPECT_EQ(d["handle"], "set");
    EXPECT_EQ(d["caller"], "set");
    EXPECT_EQ(d["callback"], "set");
    EXPECT_EQ(d["version"], "160");
    EXPECT_EQ(d["password"], "secret");
    EXPECT_EQ(d["suffixes"], ".gif:.png:.z:.zip:.zoo:.arc:.lzh:.arj:.taz:.tgz:.lha");
    EXPECT_EQ(d["encrypt"], "-1");
    EXPECT_EQ(d["noDirEntries"], "0");
    EXPECT_EQ(d["junkDirs"], "0");
    EXPECT_EQ(d["recurse"], "0");
    EXPECT_EQ(d["move"], "-1");
    EXPECT_EQ(d["update"], "-1");
    EXPECT_EQ(d["freshen"], "0");
    EXPECT_EQ(d["level"], "5");
    EXPECT_EQ(d["quiet"], "-1");
    EXPECT_EQ(d["r80"], "-1");
    EXPECT_EQ(d["zeroFields"], "0");
    EXPECT_EQ(d["archiveOnly"], "1");
    EXPECT_EQ(d["resetArchive"], "0");
    EXPECT_EQ(d["comment"], "(null)");
    EXPECT_EQ(d["tempDir"], tmp.path());
    EXPECT_EQ(d["archive"], tmp.file("out.zip"));
    EXPECT_EQ(d["argc"], "4");
    EXPECT_EQ(d["seven"], "7");
    EXPECT_EQ(d["excludeCount"], "2");
    EXPECT_EQ(d["exclude1"], "tmp\\*");

    // ">" recurses without AddRecurseDirs; "|" and plain specs follow the record.
    EXPECT_EQ(d["spec0.pattern"], "sub*.txt");
    EXPECT_EQ(d["spec0.recurse"], "65535");
    EXPECT_EQ(d["spec0.password"], "secret");
    EXPECT_EQ(d["spec0.encrypt"], "-1");
    EXPECT_EQ(d["spec0.rootDir"], tmp.path());
    EXPECT_EQ(d["spec1.pattern"], "flat.txt");
    EXPECT_EQ(d["spec1.recurse"], "0");
    EXPECT_EQ(d["spec1.password"], "own");
    EXPECT_EQ(d["spec1.encrypt"], "65535");
    EXPECT_EQ(d["spec2.pattern"], "plain.txt");
    EXPECT_EQ(d["spec2.encrypt"], "0");
    EXPECT_EQ(d["spec3.encrypt"], "-1");
    EXPECT_TRUE(zip.FSpecArgs.empty());
    EXPECT_TRUE(zip.FSpecArgsExcl.empty());
}

TEST_F(EngineIfaceTest, PipeSpecIsNotRecursedEvenWithRecurseOption) {
    useEngine("v160");
    zip.SetZipFileName(tmp.file("out.zip"));
    zip.AddOptions = {AddOptsEnum::AddRecurseDirs};
    zip.FSpecArgs = {"|a.txt", "b.txt"};
    setenv("TM_FAKE_RESULT", "0", 1);
    zip.Add();
    Dump d = single();
    EXPECT_EQ(d["handle"], "null");  // unattended
    EXPECT_EQ(d["recurse"], "65535");
    EXPECT_EQ(d["spec0.recurse"], "0");
    EXPECT_EQ(d["spec1.recurse"], "65535");
    EXPECT_EQ(d["junkDirs"], "-1");
    EXPECT_EQ(d["noDirEntries"], "-1");
    EXPECT_EQ(d["password"], "(null)");
    EXPECT_EQ(d["suffixes"], "(null)");
    EXPECT_EQ(d["spec0.password"], "(null)");
    EXPECT_EQ(d["spec0.rootDir"], "(null)");
    EXPECT_EQ(d["freshen"], "0");
}

TEST_F(EngineIfaceTest, OlderZipRecordLayouts) {
    zip.SetZipFileName(tmp.file("out.zip"));
    setenv("TM_FAKE_RESULT", "0", 1);
    zip.AddOptions = {AddOptsEnum::AddFreshen};
    zip.TempDir = tmp.path();
    zip.FSpecArgsExcl = {"*.bak"};
    useEngine("v151");
    zip.FSpecArgs = {"a.txt", ">b\\*.txt<pw"};
    zip.Add();
    useEngine("v150");
    zip.FSpecArgs = {"a.txt", ">b\\*.txt<pw", "c.txt"};
    zip.Add();

    auto d = dumps();
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d[0]["engineVersion"], "151");
    EXPECT_EQ(d[0]["tempDir"], tmp.path());
    EXPECT_EQ(d[0]["newerFieldsSet"], "0");
    EXPECT_EQ(d[0]["spec1.pattern"], "b\\*.txt");
    EXPECT_EQ(d[0]["spec1.password"], "pw");
    EXPECT_EQ(d[0]["seven"], "7");
    EXPECT_EQ(d[0]["freshen"], "-1");

    EXPECT_EQ(d[1]["engineVersion"], "150");
    EXPECT_EQ(d[1]["seven"], "7");
    EXPECT_EQ(d[1]["argc"], "3");
    EXPECT_EQ(d[1]["spec0"], "a.txt");
    EXPECT_EQ(d[1]["spec1"], "b\\*.txt");
    EXPECT_EQ(d[1]["spec2"], "c.txt");
    EXPECT_EQ(d[1]["nextSlotNull"], "1");
    EXPECT_EQ(d[1]["tail"], "0");
    EXPECT_EQ(d[1]["zeroFields"], "0");
}

TEST_F(EngineIfaceTest, OldZipEngineTakesAtMost4096Specs) {
    useEngine("v150");
    zip.SetZipFileName(tmp.file("out.zip"));
    setenv("TM_FAKE_RESULT", "0", 1);
    zip.FSpecArgs.assign(4096, "a.txt");
    zip.Add();
    ASSERT_EQ(dumps().size(), 1u);
    EXPECT_EQ(dumps()[0]["argc"], "4096");
    EXPECT_EQ(dumps()[0]["tail"], "0");

    // One more does not fit the record: the request fails before the engine runs.
    zip.FSpecArgs.assign(4097, "a.txt");
    zip.Add();
    EXPECT_EQ(dumps().size(), 1u);
    EXPECT_TRUE(reported(10101));
    EXPECT_EQ(zip.SuccessCount, 0);
    EXPECT_TRUE(zip.FSpecArgs.empty());
    EXPECT_FALSE(zip.ZipBusy());
}

TEST_F(EngineIfaceTest, PasswordsInTheRecordsAreCut) {
    useEngine("v160");
    useArchive();
    zip.Password = std::string(81, 'p') + "tail";
    zip.FSpecArgs = {"x.txt"};
    zip.Extract();
    zip.SetZipFileName(tmp.file("out.zip"));
    setenv("TM_FAKE_RESULT", "0", 1);
    zip.FSpecArgs = {"a.txt", "b.txt<" + std::string(90, 'o')};
    zip.Add();
    auto d = dumps();
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d[0]["password"], std::string(81, 'p'));
    EXPECT_EQ(d[1]["password"], std::string(81, 'p'));
    EXPECT_EQ(d[1]["spec0.password"], std::string(81, 'p'));
    EXPECT_EQ(d[1]["spec1.encrypt"], "65535");
}

TEST_F(EngineIfaceTest, EngineDirectoryWithTrailingSeparator) {
    zip.SetDLLDirectory(fakeDir("v152") + "\\");
    EXPECT_EQ(zip.DLLDirectory(), fakeDir("v152"));
    EXPECT_EQ(zip.GetUnzipEngineVersion(), 152);
    zip.SetDLLDirectory(fakeDir("v151") + "/");
    EXPECT_EQ(zip.GetZipEngineVersion(), 151);
}

// --- Extraction records ----------------------------------------------------------------

TEST_F(EngineIfaceTest, CurrentUnzipRecordAndPasswordRequestCount) {
    useEngine("v160");
    useArchive();
    zip.Password = "pw";
    zip.SetPasswordReqCount(40);
    EXPECT_EQ(zip.PasswordReqCount(), 15);
    zip.ExtrOptions = {ExtrOptsEnum::ExtrDirNames, ExtrOptsEnum::ExtrOverWrite,
                       ExtrOptsEnum::ExtrFreshen, ExtrOptsEnum::ExtrUpdate, ExtrOptsEnum::ExtrTest};
    zip.FSpecArgs = {"x.txt", "dir\\*.txt"};
    zip.Extract();

    Dump d = single();
    EXPECT_EQ(d["password"], "pw");
    EXPECT_EQ(d["passwordReqCount"], "15");
    EXPECT_EQ(d["test"], "-1");
    EXPECT_EQ(d["update"], "-1");
    EXPECT_EQ(d["freshen"], "0");
    EXPECT_EQ(d["directories"], "-1");
    EXPECT_EQ(d["overwrite"], "-1");
    EXPECT_EQ(d["r40"], "-1");
    EXPECT_EQ(d["zeroFields"], "0");
    EXPECT_EQ(d["argc"], "2");
    EXPECT_EQ(d["spec1"], "dir\\*.txt");
    EXPECT_EQ(d["toMemory"], "0");
    EXPECT_EQ(d["memory"], "null");
    EXPECT_EQ(d["seven"], "7");
    EXPECT_EQ(zip.SuccessCount, 2);
    EXPECT_TRUE(zip.FSpecArgs.empty());
    EXPECT_FALSE(reported(10502));
}

TEST_F(EngineIfaceTest, UnattendedWithoutPasswordAsksNeverForThisRequestOnly) {
    useEngine("v160");
    useArchive();
    zip.SetPasswordReqCount(3);
    zip.Extract();
    EXPECT_EQ(single()["passwordReqCount"], "0");
    EXPECT_EQ(single()["password"], "");
    EXPECT_TRUE(reported(10502));
    EXPECT_EQ(zip.PasswordReqCount(), 3);

    // A password handler makes the question possible again.
    messages.clear();
    zip.OnPasswordError = [](TZipArchiver*, std::string&, const std::string&, uint32_t&) {};
    zip.Extract();
    ASSERT_EQ(dumps().size(), 2u);
    EXPECT_EQ(dumps()[1]["passwordReqCount"], "3");
    EXPECT_FALSE(reported(10502));
}

TEST_F(EngineIfaceTest, OlderUnzipRecordLayouts) {
    useArchive();
    zip.AddOptions = {AddOptsEnum::AddEncrypt};
    for (const char* v : {"v152", "v151", "v150"}) {
        useEngine(v);
        zip.FSpecArgs = {"x.txt", "y.txt"};
        zip.Extract();
    }
    auto d = dumps();
    ASSERT_EQ(d.size(), 3u);
    EXPECT_EQ(d[0]["spec1"], "y.txt");
    EXPECT_EQ(d[0]["seven"], "7");
    EXPECT_EQ(d[0]["toMemory"], "0");
    for (int i : {1, 2}) {
        EXPECT_EQ(d[size_t(i)]["seven"], "7");
        EXPECT_EQ(d[size_t(i)]["spec0"], "x.txt");
        EXPECT_EQ(d[size_t(i)]["spec1"], "y.txt");
        EXPECT_EQ(d[size_t(i)]["nextSlotNull"], "1");
        EXPECT_EQ(d[size_t(i)]["tail"], "0");
    }
    // Unattended, encrypting and without a password: old engines get a placeholder.
    EXPECT_EQ(d[0]["password"], std::string(80, '#'));
    EXPECT_EQ(d[2]["password"], std::string(80, '#'));
}

TEST_F(EngineIfaceTest, OldUnzipEngineTakesAtMost4096Specs) {
    useEngine("v150");
    useArchive();
    zip.FSpecArgs.assign(4097, "x.txt");
    zip.Extract();
    EXPECT_TRUE(dumps().empty());
    EXPECT_TRUE(reported(10501));
    EXPECT_EQ(zip.SuccessCount, 0);
    EXPECT_TRUE(zip.FSpecArgs.empty());
    EXPECT_FALSE(zip.UnzipBusy());
}

TEST_F(EngineIfaceTest, PlaceholderPasswordOnlyForOldUnattendedEncryptingRequests) {
    useArchive();
    zip.AddOptions = {AddOptsEnum::AddEncrypt};
    useEngine("v160");  // new engines are told the request count instead
    zip.Extract();
    zip.Unattended = false;  // attended: the engine may ask
    useEngine("v152");
    zip.Extract();
    zip.Unattended = true;
    zip.AddOptions = {};  // not encrypting
    zip.Extract();
    auto d = dumps();
    ASSERT_EQ(d.size(), 3u);
    for (const Dump& x : d) EXPECT_EQ(x.at("password"), "");
}

// --- Request flow ----------------------------------------------------------------------

TEST_F(EngineIfaceTest, AddStopsBeforeTheEngineWithItsMessages) {
    useEngine("v160");
    zip.Add();
    EXPECT_TRUE(reported(10301));

    zip.FSpecArgs = {"a.txt"};
    zip.Add();
    EXPECT_TRUE(reported(10102));
    EXPECT_TRUE(zip.FSpecArgs.empty());

    zip.SetZipFileName(tmp.file("out.zip"));
    zip.FSpecArgs = {"a.txt"};
    zip.AddOptions = {AddOptsEnum::AddEncrypt};
    zip.Add();
    EXPECT_TRUE(reported(10302));

    zip.FSpecArgs = {"a.txt"};
    zip.AddOptions = {AddOptsEnum::AddDiskSpan, AddOptsEnum::AddUpdate};
    zip.Add();
    EXPECT_TRUE(reported(10303));

    zip.SetZipFileName(tmp.file("out.exe"));
    zip.FSpecArgs = {"a.txt"};
    zip.AddOptions = {AddOptsEnum::AddDiskSpan};
    zip.Add();
    EXPECT_TRUE(reported(11041));

    // A new self-extracting archive needs its stub first; without a stub file the request
    // stops before the engine.
    zip.AddOptions = {};
    zip.SFXPath = tmp.file("no-such-stub.bin");
    zip.FSpecArgs = {"a.txt"};
    zip.Add();
    EXPECT_EQ(zip.ErrCode, 10802);
    EXPECT_EQ(zip.Message, "Error - ZIPSFX.BIN not found!");
    EXPECT_FALSE(fsx::fileExists(tmp.file("out.exe")));
    EXPECT_TRUE(zip.FSpecArgs.empty());
    EXPECT_TRUE(dumps().empty());
    EXPECT_EQ(zip.SuccessCount, 0);
}

TEST_F(EngineIfaceTest, SpannedAddFailsCleanlyAndLeavesNoTemporaryArchive) {
    useEngine("v160");
    zip.SetZipFileName(tmp.file("out.zip"));
    zip.TempDir = tmp.file("spool");
    ASSERT_TRUE(fsx::forceDirectories(zip.TempDir));
    zip.Verbose = true;
    zip.AddOptions = {AddOptsEnum::AddDiskSpan};
    zip.FSpecArgs = {"a.txt"};
    zip.Add();
    Dump d = single();
    EXPECT_EQ(d["archive"].rfind(tmp.file("spool/zip"), 0), 0u) << d["archive"];
    EXPECT_EQ(d["archive"].substr(d["archive"].size() - 4), ".zip");
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages[0], (std::pair<int, std::string>{0, "Temporary zipfile: " + d["archive"]}));
    EXPECT_EQ(zip.SuccessCount, 0);
    EXPECT_TRUE(fsx::listDirectory(tmp.file("spool"), "*").empty());
    EXPECT_FALSE(fsx::fileExists(tmp.file("out.zip")));
}

TEST_F(EngineIfaceTest, ExtractNeedsAnExistingArchive) {
    useEngine("v160");
    zip.FSpecArgs = {"x.txt"};
    zip.Extract();
    EXPECT_TRUE(reported(10102));
    EXPECT_TRUE(zip.FSpecArgs.empty());
    EXPECT_TRUE(dumps().empty());
}

// The base folder becomes current, made first when missing; one that cannot be made
// extracts nothing, never into whatever folder is current.
TEST_F(EngineIfaceTest, ExtrBaseDirIsMadeAndBecomesCurrent) {
    useEngine("v160");
    useArchive();
    tmp.write("file", "in the way");
    zip.ExtrBaseDir = tmp.file("file/below");
    zip.Extract();
    EXPECT_TRUE(reported(10401));
    EXPECT_TRUE(dumps().empty());
    zip.ExtrBaseDir = tmp.file("missing/target");
    zip.Extract();
    auto d = dumps();
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0]["cwd"], tmp.file("missing/target"));
    EXPECT_EQ(fsx::currentDirectory(), d[0]["cwd"]);  // not restored
}

TEST_F(EngineIfaceTest, NestedRequestsOnTheSameComponentReturnAtOnce) {
    useEngine("v160");
    useArchive();
    int nested = 0;
    zip.OnProgress = [&](TZipArchiver* z, ProgressType, const std::string&, int64_t) {
        if (nested++ > 0) return;
        z->FSpecArgs = {"again.txt"};
        z->Extract();
        z->Add();  // the compression engine is free: this one runs
        EXPECT_EQ(z->ExtractToStream("x.txt"), nullptr);
    };
    callbacks("1,0,1,x.txt");
    zip.FSpecArgs = {"x.txt"};
    zip.Extract();
    // The nested Add finishes (and writes its record) before the outer extraction.
    auto d = dumps();
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d[0]["engine"], "zip");
    EXPECT_EQ(d[0]["spec0.pattern"], "again.txt");
    EXPECT_EQ(d[1]["engine"], "unzip");
    EXPECT_EQ(d[1]["spec0"], "x.txt");
    EXPECT_FALSE(zip.UnzipBusy());
    EXPECT_FALSE(zip.ZipBusy());
}

TEST_F(EngineIfaceTest, AddRereadsTheDirectoryOnlyAfterSuccessAndExtractNever) {
    useEngine("v160");
    useArchive();
    int rereads = 0;
    zip.OnDirUpdate = [&](TZipArchiver*) { ++rereads; };
    zip.FSpecArgs = {"x.txt"};
    zip.Extract();
    EXPECT_EQ(zip.SuccessCount, 1);
    EXPECT_EQ(rereads, 0);

    zip.FSpecArgs = {"a.txt"};
    setenv("TM_FAKE_RESULT", "0", 1);
    zip.Add();
    EXPECT_EQ(rereads, 0);
    unsetenv("TM_FAKE_RESULT");
    zip.FSpecArgs = {"a.txt"};
    zip.Add();
    EXPECT_EQ(zip.SuccessCount, 1);
    EXPECT_EQ(rereads, 1);
    EXPECT_EQ(zip.Count(), 1);  // the stand-in wrote nothing: the old member is still listed
}

TEST_F(EngineIfaceTest, StreamRequestNeedsEngine160) {
    useEngine("v152");
    useArchive();
    EXPECT_EQ(zip.ExtractToStream("x.txt"), nullptr);
    EXPECT_TRUE(reported(10503));
    EXPECT_TRUE(dumps().empty());
    EXPECT_EQ(zip.MemberStream().Size(), 0);
}

// --- Callbacks -------------------------------------------------------------------------

struct ProgressCall {
    ProgressType type;
    std::string name;
    int64_t size;
};

TEST_F(EngineIfaceTest, ProgressAndMessageActions) {
    useEngine("v160");
    zip.SetZipFileName(tmp.file("out.zip"));
    std::vector<ProgressCall> progress;
    zip.OnProgress = [&](TZipArchiver*, ProgressType t, const std::string& n, int64_t s) {
        progress.push_back({t, n, s});
    };
    callbacks(
        "5,0,2,|6,0,5000000000,|1,0,4000000000,dir/sub/a.txt \t |2,0,3000000000,|"
        "4,0x1234,0,engine says hi|11,0x2A05,0x0304,dir/b.txt|3,0,0,|99,0,0,");
    zip.FSpecArgs = {"a.txt"};
    setenv("TM_FAKE_RESULT", "0", 1);
    zip.Add();

    ASSERT_EQ(progress.size(), 5u);
    EXPECT_EQ(progress[0].type, progTotalFiles);
    EXPECT_EQ(progress[0].size, 2);
    EXPECT_EQ(progress[1].type, progTotalSize);
    EXPECT_EQ(progress[1].size, 5000000000LL);
    EXPECT_EQ(progress[2].type, progNewFile);
    EXPECT_EQ(progress[2].name, "dir\\sub\\a.txt");
    EXPECT_EQ(progress[2].size, 4000000000LL);  // unsigned 32-bit value
    EXPECT_EQ(progress[3].type, progAdvance);
    EXPECT_EQ(progress[3].name, "");
    EXPECT_EQ(progress[3].size, 3000000000LL);
    EXPECT_EQ(progress[4].type, progEndOfBatch);
    EXPECT_EQ(progress[4].size, 0);

    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages[0], (std::pair<int, std::string>{0x1234, "engine says hi"}));
    // The skipped file came last with an error code: it is the one kept.
    EXPECT_EQ(zip.ErrCode, 0x05);
    EXPECT_EQ(zip.FullErrCode, 0x2A05);
    EXPECT_EQ(zip.Message, "engine says hi");
    EXPECT_GE(prompts.processEventsCalls, 7);
}

TEST_F(EngineIfaceTest, QuestionActionsWithoutHandlers) {
    useEngine("v160");
    zip.SetZipFileName(tmp.file("out.zip"));
    callbacks(
        "7,5,0,name.txt|9,0x11,0x22,a.txt|10,1,1,a.txt|12,7,9,a.txt|8,0,3,a.txt|"
        "8,1,3,a.txt");
    zip.FSpecArgs = {"a.txt"};
    setenv("TM_FAKE_RESULT", "0", 1);
    zip.Add();
    Dump d = single();
    EXPECT_EQ(d["cb0"], "0,5,0,name.txt");  // untouched
    EXPECT_EQ(d["cb1"], "0,2,34,a.txt");    // CRC: 2 without handler
    EXPECT_EQ(d["cb2"], "0,1,1,a.txt");
    EXPECT_EQ(d["cb3"], "0,7,9,a.txt");
    EXPECT_EQ(d["cb4"], "0,0,0,a.txt");  // no password: 0 and no repeats
    EXPECT_EQ(d["cb5"], "0,0,0,a.txt");
    EXPECT_TRUE(reported(10151));  // unattended extract prompt
    EXPECT_TRUE(reported(10150));  // unattended add prompt
    EXPECT_TRUE(prompts.passwordPrompts.empty());
}

TEST_F(EngineIfaceTest, QuestionActionsWithHandlers) {
    useEngine("v160");
    zip.SetZipFileName(tmp.file("out.zip"));
    std::vector<std::string> seen;
    zip.OnSetNewName = [&](TZipArchiver*, std::string& name, bool& changed) {
        seen.push_back("name:" + name);
        name = "renamed\\" + name;
        changed = true;
    };
    zip.OnCRC32Error = [&](TZipArchiver*, const std::string& f, uint32_t found, uint32_t expected,
                           bool& doExtract) {
        seen.push_back("crc:" + f + ":" + std::to_string(found) + ":" + std::to_string(expected));
        EXPECT_TRUE(doExtract);
        doExtract = false;
    };
    zip.OnExtractOverwrite = [&](TZipArchiver*, const std::string& f, bool older, bool& ow) {
        seen.push_back("ow:" + f + ":" + std::to_string(older) + ":" + std::to_string(ow));
        ow = !ow;
    };
    zip.OnFileComment = [&](TZipArchiver*, const std::string& f, std::string& c, bool& changed) {
        seen.push_back("comment:" + f + ":" + c);
        c = f == "long.txt" ? std::string(600, 'c') : "note";
        changed = f != "keep.txt";
    };
    zip.OnPasswordError = [&](TZipArchiver*, std::string& pw, const std::string& f,
                              uint32_t& repeat) {
        seen.push_back("pw:" + f + ":" + std::to_string(repeat));
        pw = f == "none.txt" ? "" : std::string(100, 'p');
        repeat = 40;
    };
    callbacks(
        "7,0,0,old.txt|9,0x11,0x22,a.txt|10,3,0x100,b.txt|10,0,0x201,c.txt|"
        "12,0,0,d.txt|12,0,0,keep.txt|12,0,0,long.txt|8,1,2,e.txt|8,0,2,none.txt");
    zip.FSpecArgs = {"a.txt"};
    setenv("TM_FAKE_RESULT", "0", 1);
    zip.Add();
    Dump d = single();
    EXPECT_EQ(d["cb0"], "0,1,0,renamed\\old.txt");
    EXPECT_EQ(d["cb1"], "0,0,34,a.txt");
    EXPECT_EQ(d["cb2"], "0,3,1,b.txt");  // low byte 0 -> false, flipped to true
    EXPECT_EQ(d["cb3"], "0,0,0,c.txt");
    EXPECT_EQ(d["cb4"], "0,1,4,note");
    EXPECT_EQ(d["cb5"], "0,0,0,");
    EXPECT_EQ(d["cb6"], "0,1,511," + std::string(511, 'c'));
    EXPECT_EQ(d["cb7"], "0,1,15," + std::string(80, 'p'));
    EXPECT_EQ(d["cb8"], "0,0,0,none.txt");
    EXPECT_EQ(zip.Password, "");  // never stored
    const std::vector<std::string> expected = {
        "name:old.txt",      "crc:a.txt:17:34",   "ow:b.txt:1:0", "ow:c.txt:0:1", "comment:d.txt:",
        "comment:keep.txt:", "comment:long.txt:", "pw:e.txt:2",   "pw:none.txt:2"};
    EXPECT_EQ(seen, expected);
}

TEST_F(EngineIfaceTest, AttendedPasswordRequestUsesThePrompts) {
    useEngine("v160");
    useArchive();
    zip.Unattended = false;
    prompts.passwords = {{true, "typed"}};
    callbacks("8,0,1,x.txt");
    zip.Password = "given";  // so no unattended warning; the engine still asks
    zip.Extract();
    EXPECT_EQ(single()["cb0"], "0,1,1,typed");
    ASSERT_EQ(prompts.passwordPrompts.size(), 1u);
    EXPECT_EQ(prompts.passwordPrompts[0].prompt, ZipMessageText(10155));
    EXPECT_EQ(zip.Password, "given");
}

TEST_F(EngineIfaceTest, CancelFromProgressStopsAtTheNextCallback) {
    useEngine("v160");
    zip.SetZipFileName(tmp.file("out.zip"));
    int calls = 0;
    zip.OnProgress = [&](TZipArchiver* z, ProgressType, const std::string&, int64_t) {
        if (++calls == 1) z->Cancel = true;
    };
    callbacks("5,0,2,|1,0,10,a.txt|2,0,10,|3,0,0,");
    zip.FSpecArgs = {"a.txt"};
    zip.Cancel = true;  // cleared when the request starts
    zip.Add();
    Dump d = single();
    EXPECT_EQ(d["cb0"].substr(0, 2), "-1");  // the handler set Cancel in this very call
    EXPECT_EQ(d.count("cb1"), 0u);
    EXPECT_EQ(d["stopped"], "1");
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(zip.Cancel);
    EXPECT_EQ(zip.SuccessCount, 0);
}

TEST_F(EngineIfaceTest, FailureInAHandlerStopsTheEngineAndIsReported) {
    useEngine("v160");
    useArchive();
    zip.OnProgress = [](TZipArchiver*, ProgressType, const std::string&, int64_t) {
        throw std::runtime_error("handler failed");
    };
    callbacks("1,0,10,x.txt|2,0,10,");
    zip.FSpecArgs = {"x.txt"};
    zip.Extract();
    Dump d = single();
    EXPECT_EQ(d["cb0"].substr(0, 2), "-1");
    EXPECT_EQ(zip.SuccessCount, 0);
    EXPECT_EQ(zip.ErrCode, 10501);
    EXPECT_FALSE(zip.UnzipBusy());

    zip.SetZipFileName(tmp.file("out.zip"));
    zip.FSpecArgs = {"x.txt"};
    zip.Add();
    EXPECT_EQ(zip.ErrCode, 10101);
    EXPECT_TRUE(zip.FSpecArgs.empty());
}

}  // namespace
