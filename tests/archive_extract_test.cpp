// Add and Extract with the real engines: round trips, archives of Info-ZIP, the options the
// program relies on, progress, and the zipop tool.

#include <gtest/gtest.h>

#include <map>
#include <string>
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
