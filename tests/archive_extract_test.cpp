// Add and Extract with the real engines: round trips, archives of Info-ZIP, the options the
// program relies on, progress, and the zipop tool.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "archive/ZipArchiver.h"
#include "platform/FileSystem.h"
#include "support/TestSupport.h"

namespace {

const std::string kBin = TM_TEST_BIN_DIR;

bool haveEngine(const char* file) {
    return fsx::fileExists(kBin + "/" + file);
}

std::string streamTextOf(TZipStream& s) {
    std::string out(static_cast<size_t>(s.Size()), '\0');
    s.SetPosition(0);
    s.Read(out.data(), s.Size());
    return out;
}

class ExtractTest : public ::testing::Test {
  protected:
    void SetUp() override {
        cwd_ = fsx::currentDirectory();
        zip.Unattended = true;
        zip.OnMessage = [this](TZipArchiver*, int, const std::string& text) {
            messages.push_back(text);
        };
        zip.OnProgress = [this](TZipArchiver*, ProgressType t, const std::string& name,
                                int64_t size) {
            if (t == progNewFile) {
                started.push_back(name);
                announced += size;
            } else if (t == progAdvance) {
                advanced += size;
            } else if (t == progEndOfBatch) {
                ++batchesEnded;
            }
        };
        zip.OnExtractSkipped = [this](TZipArchiver*, const std::string& f, int, int) {
            skipped.push_back(f);
        };
    }
    void TearDown() override { fsx::setCurrentDirectory(cwd_); }

    // A small mission-like tree under src/.
    void makeTree() {
        tmp.write("src/miss20.mis", std::string(50000, 'm') + "end");
        tmp.write("src/intrface/miss20/english/goals.str", "Goal 0: \"Find the key\"\r\n");
        tmp.write("src/strings/titles.str", "title_20: \"A Test\"\r\n");
        tmp.write("src/fam/stone.gif", "GIF89a fake image");
    }
    std::string extracted(const std::string& rel) const {
        const std::string p = tmp.file("out/" + rel);
        return fsx::fileExists(p) ? readFile(p) : "<missing>";
    }

    TempDir tmp;
    ScriptedPrompter prompts;
    TZipArchiver zip;
    std::vector<std::string> messages, started, skipped;
    int64_t announced = 0, advanced = 0;
    int batchesEnded = 0;

  private:
    std::string cwd_;
};

TEST_F(ExtractTest, InfoZipArchiveExtractsWithDirectoryNamesAndProgress) {
    if (!haveEngine("UNZENG.DLL")) GTEST_SKIP() << "UNZENG.DLL not built";
    if (!haveProgram("zip")) GTEST_SKIP() << "Info-ZIP zip not installed";
    makeTree();
    ASSERT_EQ(runCommand("cd '" + tmp.file("src") + "' && zip -qr '" + tmp.file("m.zip") + "' ."),
              0);
    zip.SetZipFileName(tmp.file("m.zip"));
    ASSERT_TRUE(fsx::forceDirectories(tmp.file("out")));
    zip.ExtrBaseDir = tmp.file("out");
    zip.ExtrOptions = {ExtrOptsEnum::ExtrDirNames, ExtrOptsEnum::ExtrOverWrite};
    zip.Password = "unused";  // no unattended warning
    zip.Extract();
    EXPECT_EQ(zip.SuccessCount, 4) << (messages.empty() ? "" : messages.back());
    EXPECT_EQ(extracted("miss20.mis"), std::string(50000, 'm') + "end");
    EXPECT_EQ(extracted("intrface/miss20/english/goals.str"), "Goal 0: \"Find the key\"\r\n");
    EXPECT_EQ(extracted("fam/stone.gif"), "GIF89a fake image");
    EXPECT_EQ(started.size(), 4u);
    for (const std::string& s : started) EXPECT_EQ(s.find('/'), std::string::npos) << s;
    EXPECT_EQ(advanced, announced);
    EXPECT_GE(batchesEnded, 1);
    EXPECT_TRUE(zip.FSpecArgs.empty());
    EXPECT_FALSE(zip.UnzipBusy());
}

TEST_F(ExtractTest, OverwriteAndDirectoryNameOptions) {
    if (!haveEngine("UNZENG.DLL")) GTEST_SKIP() << "UNZENG.DLL not built";
    ASSERT_TRUE(makeZip(tmp.file("m.zip"), {{"a/one.txt", "new one"}, {"b/two.txt", "new two"}}));
    tmp.write("out/one.txt", "old one");
    zip.SetZipFileName(tmp.file("m.zip"));
    zip.ExtrBaseDir = tmp.file("out");
    zip.Password = "unused";

    // Without directory names members land flat; without overwrite the old file stays.
    zip.Extract();
    EXPECT_EQ(zip.SuccessCount, 1);
    EXPECT_EQ(extracted("one.txt"), "old one");
    EXPECT_EQ(extracted("two.txt"), "new two");
    EXPECT_EQ(skipped, std::vector<std::string>{"a\\one.txt"});

    zip.ExtrOptions = {ExtrOptsEnum::ExtrOverWrite};
    zip.FSpecArgs = {"a\\one.txt"};
    zip.Extract();
    EXPECT_EQ(zip.SuccessCount, 1);
    EXPECT_EQ(extracted("one.txt"), "new one");
    EXPECT_EQ(extracted("a/one.txt"), "<missing>");
}

TEST_F(ExtractTest, AddThenExtractRoundTrip) {
    if (!haveEngine("ZIPENG.DLL") || !haveEngine("UNZENG.DLL")) GTEST_SKIP() << "engines not built";
    makeTree();
    ASSERT_TRUE(fsx::setCurrentDirectory(tmp.file("src")));
    zip.SetZipFileName(tmp.file("backup.zip"));
    zip.AddCompLevel = 5;
    zip.AddStoreSuffixes = {AddStoreSuffixEnum::assGIF, AddStoreSuffixEnum::assZIP};
    zip.AddOptions = {AddOptsEnum::AddDirNames, AddOptsEnum::AddMove};
    zip.FSpecArgs = {"miss20.mis", "intrface\\miss20\\english\\goals.str", "fam\\stone.gif"};
    zip.Add();
    ASSERT_EQ(zip.SuccessCount, 3) << (messages.empty() ? "" : messages.back());
    EXPECT_TRUE(zip.FSpecArgs.empty());
    // The directory was read again; moved sources are gone.
    ASSERT_EQ(zip.Count(), 3);
    std::map<std::string, ZipDirEntry> byName;
    for (const ZipDirEntry& e : zip.Entries()) byName[e.FileName] = e;
    ASSERT_TRUE(byName.count("intrface\\miss20\\english\\goals.str"));
    EXPECT_EQ(byName["fam\\stone.gif"].CompressionMethod, 0);  // stored by suffix
    EXPECT_EQ(byName["miss20.mis"].CompressionMethod, 8);
    EXPECT_FALSE(fsx::fileExists(tmp.file("src/miss20.mis")));
    EXPECT_TRUE(fsx::fileExists(tmp.file("src/strings/titles.str")));

    // Adding with recursion and no directory names to the same archive.
    zip.AddOptions = {AddOptsEnum::AddRecurseDirs};
    zip.FSpecArgs = {"*.str"};
    zip.Add();
    EXPECT_EQ(zip.SuccessCount, 1);
    EXPECT_EQ(zip.Count(), 4);

    if (haveProgram("unzip")) {
        EXPECT_EQ(runCommand("unzip -tq '" + tmp.file("backup.zip") + "' >/dev/null"), 0);
    }

    zip.ExtrBaseDir = tmp.file("out");
    ASSERT_TRUE(fsx::forceDirectories(zip.ExtrBaseDir));
    zip.ExtrOptions = {ExtrOptsEnum::ExtrDirNames, ExtrOptsEnum::ExtrOverWrite};
    zip.Password = "unused";
    zip.Extract();
    EXPECT_EQ(zip.SuccessCount, 4);
    EXPECT_EQ(extracted("miss20.mis"), std::string(50000, 'm') + "end");
    EXPECT_EQ(extracted("intrface/miss20/english/goals.str"), "Goal 0: \"Find the key\"\r\n");
    EXPECT_EQ(extracted("titles.str"), "title_20: \"A Test\"\r\n");
    EXPECT_NE(zip.ExtractToStream("FAM\\STONE.GIF"), nullptr);
    EXPECT_EQ(streamTextOf(zip.MemberStream()), "GIF89a fake image");
}

mode_t modeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

TEST_F(ExtractTest, RoundTripKeepsEveryNameAndPermission) {
    if (!haveEngine("ZIPENG.DLL") || !haveEngine("UNZENG.DLL")) GTEST_SKIP() << "engines not built";
    struct Row {
        std::string name;
        mode_t stored, restored;
    };
    const std::vector<Row> rows = {
        {"caf\xE9.txt", 0750, 0750},       // not UTF-8: the bytes are the name
        {"na\xC3\xAFve.txt", 0644, 0644},  // UTF-8
        {"bin/run.sh", 04755, 0755},       // never setuid
    };
    for (const Row& r : rows) {
        tmp.write("src/" + r.name, "data of " + r.name);
        ASSERT_EQ(::chmod(tmp.file("src/" + r.name).c_str(), r.stored), 0);
    }
    ASSERT_TRUE(fsx::setCurrentDirectory(tmp.file("src")));
    zip.SetZipFileName(tmp.file("backup.zip"));
    zip.AddOptions = {AddOptsEnum::AddDirNames, AddOptsEnum::AddRecurseDirs};
    zip.FSpecArgs = {"*.*"};
    zip.Add();
    ASSERT_EQ(zip.SuccessCount, 3) << (messages.empty() ? "" : messages.back());
    std::set<std::string> listed;
    for (const ZipDirEntry& e : zip.Entries()) listed.insert(e.FileName);

    zip.ExtrBaseDir = tmp.file("out");
    ASSERT_TRUE(fsx::forceDirectories(zip.ExtrBaseDir));
    zip.ExtrOptions = {ExtrOptsEnum::ExtrDirNames};
    zip.Extract();
    EXPECT_EQ(zip.SuccessCount, 3);
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        std::string shown = r.name;
        std::replace(shown.begin(), shown.end(), '/', '\\');
        EXPECT_TRUE(listed.count(shown));
        EXPECT_EQ(extracted(r.name), "data of " + r.name);
        EXPECT_EQ(modeOf(tmp.file("out/" + r.name)), r.restored);
    }

    // Info-ZIP reads the modes back, and ours reads those Info-ZIP stores.
    if (!haveProgram("unzip") || !haveProgram("zip")) return;
    std::string listing;
    EXPECT_EQ(runCommand("unzip -tqq '" + tmp.file("backup.zip") + "'"), 0);
    EXPECT_EQ(runCommand("zipinfo '" + tmp.file("backup.zip") + "' bin/run.sh", &listing), 0);
    EXPECT_EQ(listing.rfind("-rwsr-xr-x", 0), 0u) << listing;
    EXPECT_EQ(runCommand("unzip -qo '" + tmp.file("backup.zip") + "' -d '" + tmp.file("unz") + "'"),
              0);
    EXPECT_EQ(modeOf(tmp.file("unz/caf\xE9.txt")), 0750u);
    ASSERT_EQ(runCommand("cd '" + tmp.file("src") + "' && zip -qX '" + tmp.file("iz.zip") +
                         "' 'caf\xE9.txt'"),
              0);
    zip.SetZipFileName(tmp.file("iz.zip"));
    zip.ExtrBaseDir = tmp.file("iz");
    ASSERT_TRUE(fsx::forceDirectories(zip.ExtrBaseDir));
    zip.Extract();
    EXPECT_EQ(modeOf(tmp.file("iz/caf\xE9.txt")), 0750u);

    // A mode that would lock the owner out gets the owner's read bit.
    ASSERT_EQ(runCommand("python3 -c \"import zipfile; z = zipfile.ZipFile('" + tmp.file("py.zip") +
                         "', 'w'); i = zipfile.ZipInfo('locked.txt'); i.create_system = 3; "
                         "i.external_attr = 0o100200 << 16; z.writestr(i, b'l'); z.close()\""),
              0);
    zip.SetZipFileName(tmp.file("py.zip"));
    zip.Extract();
    EXPECT_EQ(modeOf(tmp.file("iz/locked.txt")), 0600u);
}

// Writes one member per row with the given host, version and flags, its name stored as
// the given bytes, the way other tools on other systems write them.
bool makeForeignNames(const std::string& zipPath,
                      const std::vector<std::tuple<int, int, int, std::string>>& rows) {
    std::string script =
        "import sys, zipfile\n"
        "class Raw(zipfile.ZipInfo):\n"
        "    def _encodeFilenameFlags(self):\n"
        "        return self.filename.encode('latin-1'), self.flag_bits | self.name_flags\n"
        "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n";
    for (const auto& [host, version, flags, name] : rows) {
        std::string hex;
        for (unsigned char c : name)
            hex += "\\x" + std::string(1, "0123456789abcdef"[c >> 4]) + "0123456789abcdef"[c & 15];
        script += "    i = Raw(b'" + hex +
                  "'.decode('latin-1'))\n    i.create_system = " + std::to_string(host) +
                  "\n    i.create_version = " + std::to_string(version) +
                  "\n    i.name_flags = " + std::to_string(flags) + "\n    z.writestr(i, b'x')\n";
    }
    writeFile(zipPath + ".py", script);
    return runCommand("python3 '" + zipPath + ".py' '" + zipPath + "'") == 0;
}

TEST_F(ExtractTest, ListedNamesAreTheNamesExtractionWrites) {
    if (!haveEngine("UNZENG.DLL")) GTEST_SKIP() << "UNZENG.DLL not built";
    // host, version, flags, stored name -> listed (and written) name
    const std::vector<std::pair<std::tuple<int, int, int, std::string>, std::string>> rows = {
        {{0, 20, 0, "dos\x82.txt"}, "dos\xC3\xA9.txt"},          // OEM converted
        {{3, 30, 0, "unix\xE9.txt"}, "unix\xE9.txt"},            // bytes kept
        {{11, 50, 0, "nt\x81.txt"}, "nt\xC3\xBC.txt"},           // OEM converted
        {{11, 20, 0, "nt20\x81.txt"}, "nt20\x81.txt"},           // bytes kept
        {{10, 63, 0, "ntfs\xE9.txt"}, "ntfs\xE9.txt"},           // bytes kept
        {{0, 20, 0x800, "utf\xC3\xA9.txt"}, "utf\xC3\xA9.txt"},  // marked UTF-8
    };
    std::vector<std::tuple<int, int, int, std::string>> stored;
    for (const auto& r : rows) stored.push_back(r.first);
    ASSERT_TRUE(makeForeignNames(tmp.file("foreign.zip"), stored));
    zip.SetZipFileName(tmp.file("foreign.zip"));
    ASSERT_EQ(zip.Count(), int(rows.size()));
    zip.ExtrBaseDir = tmp.file("out");
    ASSERT_TRUE(fsx::forceDirectories(zip.ExtrBaseDir));
    zip.Extract();
    EXPECT_EQ(zip.SuccessCount, int(rows.size()));
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(rows[i].second);
        EXPECT_EQ(zip.Entries()[i].FileName, rows[i].second);
        EXPECT_EQ(extracted(rows[i].second), "x");
    }
}

TEST_F(ExtractTest, AddingKeepsAStubOrPrefixInFront) {
    if (!haveEngine("ZIPENG.DLL") || !haveEngine("UNZENG.DLL")) GTEST_SKIP() << "engines not built";
    if (!haveProgram("zip") || !haveProgram("unzip")) GTEST_SKIP() << "Info-ZIP not installed";
    const std::string stub = "MZ a stub of some kind\n";
    tmp.write("stub.bin", stub);
    tmp.write("src/first.txt", "first");
    tmp.write("src/second.txt", "second");
    const std::string src = tmp.file("src");
    // x.exe: our own new self-extractor; a.exe: adjusted by zip -A; p.zip: bytes prepended.
    ASSERT_EQ(runCommand("cd '" + src + "' && zip -q '" + tmp.file("a.zip") +
                         "' first.txt && cat '" + tmp.file("stub.bin") + "' '" + tmp.file("a.zip") +
                         "' > '" + tmp.file("a.exe") + "' && cp '" + tmp.file("a.exe") + "' '" +
                         tmp.file("p.zip") + "' && zip -qA '" + tmp.file("a.exe") + "'"),
              0);
    zip.SFXPath = tmp.file("stub.bin");
    ASSERT_TRUE(fsx::setCurrentDirectory(src));
    for (const char* name : {"x.exe", "a.exe", "p.zip"}) {
        SCOPED_TRACE(name);
        const std::string archive = tmp.file(name);
        zip.SetZipFileName(archive);
        zip.FSpecArgs = {"second.txt"};
        zip.Add();
        EXPECT_EQ(zip.SuccessCount, 1) << (messages.empty() ? "" : messages.back());
        EXPECT_EQ(readFile(archive).substr(0, stub.size()), stub);
        EXPECT_EQ(runCommand("unzip -tqq '" + archive + "'"), 0);
        zip.ExtrBaseDir = tmp.file(std::string("out-") + name);
        ASSERT_TRUE(fsx::forceDirectories(zip.ExtrBaseDir));
        zip.Extract();
        EXPECT_EQ(readFile(zip.ExtrBaseDir + "/second.txt"), "second");
        ASSERT_TRUE(fsx::setCurrentDirectory(src));
    }
}

TEST_F(ExtractTest, RelativeArchiveNameWithAnExtractionDirectory) {
    if (!haveEngine("UNZENG.DLL")) GTEST_SKIP() << "UNZENG.DLL not built";
    ASSERT_TRUE(makeZip(tmp.file("rel.zip"), {{"one.txt", "1"}}));
    ASSERT_TRUE(fsx::forceDirectories(tmp.file("out")));
    ASSERT_TRUE(fsx::setCurrentDirectory(tmp.path()));
    zip.SetZipFileName("rel.zip");
    zip.ExtrBaseDir = tmp.file("out");
    zip.Extract();
    EXPECT_EQ(zip.SuccessCount, 1) << (messages.empty() ? "" : messages.back());
    EXPECT_EQ(extracted("one.txt"), "1");
}

TEST_F(ExtractTest, ZipopToolRunsEachRequest) {
    const std::string zipop = kBin + "/zipop";
    if (!fsx::fileExists(zipop) || !haveEngine("UNZENG.DLL")) GTEST_SKIP() << "not built";
    ASSERT_TRUE(makeZip(tmp.file("m.zip"), {{"d/a.txt", "alpha"}, {"b.txt", "beta"}}));
    // "stream" writes the member to standard output and its report to standard error.
    std::string out;
    EXPECT_EQ(runCommand("('" + zipop + "' stream '" + tmp.file("m.zip") + "' 'D\\A.TXT' >'" +
                         tmp.file("s1") + "')"),
              0);
    EXPECT_EQ(readFile(tmp.file("s1")), "alpha");
    EXPECT_EQ(runCommand("'" + zipop + "' extract '" + tmp.file("m.zip") + "' --dir '" +
                             tmp.path() + "' --dirnames b.txt 'd\\a.txt'",
                         &out),
              0);
    EXPECT_NE(out.find("SuccessCount: 2"), std::string::npos) << out;
    EXPECT_EQ(readFile(tmp.file("d/a.txt")), "alpha");
    EXPECT_EQ(runCommand("'" + zipop + "' extract '" + tmp.file("m.zip") + "' --dir '" +
                             tmp.path() + "' b.txt",
                         &out),
              1);
    EXPECT_NE(out.find("skipped: b.txt"), std::string::npos) << out;
    EXPECT_EQ(runCommand("'" + zipop + "' frobnicate x 2>/dev/null"), 2);

    if (!haveEngine("ZIPENG.DLL")) return;
    tmp.write("new/c.txt", "gamma");
    EXPECT_EQ(runCommand("cd '" + tmp.file("new") + "' && '" + zipop + "' add '" +
                             tmp.file("m.zip") + "' c.txt",
                         &out),
              0)
        << out;
    EXPECT_EQ(runCommand("('" + zipop + "' stream '" + tmp.file("m.zip") + "' c.txt >'" +
                         tmp.file("s2") + "')"),
              0);
    EXPECT_EQ(readFile(tmp.file("s2")), "gamma");
}

}  // namespace
