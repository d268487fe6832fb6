// ExtractToStream: which member is asked for, how the memory block is sized and guarded
// against hostile sizes (stand-in engine), and real extraction into memory.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "archive/ZipArchiver.h"
#include "platform/FileSystem.h"
#include "support/TestSupport.h"

namespace {

using Dump = std::map<std::string, std::string>;

std::string streamText(TZipStream* s) {
    if (!s) return "<null>";
    std::string out(static_cast<size_t>(s->Size()), '\0');
    s->SetPosition(0);
    s->Read(out.data(), s->Size());
    return out;
}

// Sets the uncompressed size in the central header of member `index`.
void patchDeclaredSize(const std::string& path, int index, uint32_t size) {
    std::string bytes = readFile(path);
    size_t pos = 0;
    for (int i = 0; i <= index; ++i) {
        pos = bytes.find(std::string("PK\x01\x02", 4), i == 0 ? 0 : pos + 4);
        ASSERT_NE(pos, std::string::npos);
    }
    for (int b = 0; b < 4; ++b) bytes[pos + 24 + size_t(b)] = char((size >> (8 * b)) & 0xFF);
    writeFile(path, bytes);
}

class StreamTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* v :
             {"TM_FAKE_DUMP", "TM_FAKE_CALLBACKS", "TM_FAKE_RESULT", "TM_FAKE_FILL"})
            unsetenv(v);
        cwd_ = fsx::currentDirectory();
        zip.Unattended = true;
        zip.OnMessage = [this](TZipArchiver*, int, const std::string& text) {
            messages.push_back(text);
        };
    }
    void TearDown() override {
        for (const char* v :
             {"TM_FAKE_DUMP", "TM_FAKE_CALLBACKS", "TM_FAKE_RESULT", "TM_FAKE_FILL"})
            unsetenv(v);
        fsx::setCurrentDirectory(cwd_);
    }
    void useFake() {
        zip.SetDLLDirectory(std::string(TM_FAKE_ENGINE_DIR) + "/v160");
        setenv("TM_FAKE_DUMP", tmp.file("dump.txt").c_str(), 1);
        setenv("TM_FAKE_FILL", "ab", 1);
    }
    std::vector<Dump> dumps() const {
        std::vector<Dump> out;
        if (!fsx::fileExists(tmp.file("dump.txt"))) return out;
        std::istringstream in(readFile(tmp.file("dump.txt")));
        std::string line;
        while (std::getline(in, line)) {
            size_t eq = line.find('=');
            if (eq == std::string::npos) continue;
            if (line.substr(0, eq) == "engine") out.emplace_back();
            if (!out.empty()) out.back()[line.substr(0, eq)] = line.substr(eq + 1);
        }
        return out;
    }
    bool reported(int id) const {
        for (const auto& m : messages)
            if (m.rfind(ZipMessageText(id), 0) == 0) return true;
        return false;
    }
    static bool haveRealEngine() {
        return fsx::fileExists(std::string(TM_TEST_BIN_DIR) + "/UNZENG.DLL");
    }

    TempDir tmp;
    ScriptedPrompter prompts;
    TZipArchiver zip;
    std::vector<std::string> messages;

  private:
    std::string cwd_;
};

// --- Stand-in engine ---------------------------------------------------------------------

TEST_F(StreamTest, FirstMatchIgnoringCaseSizesTheBlock) {
    useFake();
    ASSERT_TRUE(makeZip(tmp.file("a.zip"),
                        {{"docs/Readme.TXT", "hello"}, {"docs/README.txt", "much longer text"}}));
    zip.SetZipFileName(tmp.file("a.zip"));
    zip.FSpecArgs = {"other"};
    TZipStream* s = zip.ExtractToStream("DOCS\\readme.txt");
    ASSERT_EQ(s, &zip.MemberStream());
    EXPECT_EQ(s->Position(), 0);
    EXPECT_EQ(streamText(s), "ababa");
    auto d = dumps();
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0]["toMemory"], "-1");
    EXPECT_EQ(d[0]["memory"], "set");
    EXPECT_EQ(d[0]["memorySize"], "5");
    EXPECT_EQ(d[0]["argc"], "1");
    EXPECT_EQ(d[0]["spec0"], "docs\\Readme.TXT");  // as the directory has it
    EXPECT_TRUE(zip.FSpecArgs.empty());
}

TEST_F(StreamTest, EmptyNameKeepsTheFirstSpec) {
    useFake();
    ASSERT_TRUE(makeZip(tmp.file("a.zip"), {{"one.txt", "1"}, {"two.txt", "22"}}));
    zip.SetZipFileName(tmp.file("a.zip"));
    zip.FSpecArgs = {"TWO.TXT", "one.txt"};
    EXPECT_EQ(streamText(zip.ExtractToStream("")), "ab");
}

TEST_F(StreamTest, UnknownNameEndsWithNothingAndWritesNothing) {
    useFake();
    ASSERT_TRUE(makeZip(tmp.file("a.zip"), {{"one.txt", "1"}}));
    zip.SetZipFileName(tmp.file("a.zip"));
    ASSERT_TRUE(fsx::forceDirectories(tmp.file("out")));
    zip.ExtrBaseDir = tmp.file("out");
    EXPECT_EQ(zip.ExtractToStream("*.txt"), nullptr);
    EXPECT_EQ(zip.ExtractToStream("missing.txt"), nullptr);
    EXPECT_TRUE(dumps().empty());
    EXPECT_TRUE(fsx::listDirectory(tmp.file("out"), "*").empty());
    EXPECT_EQ(zip.SuccessCount, 0);
}

TEST_F(StreamTest, NothingExtractedEmptiesTheStream) {
    useFake();
    ASSERT_TRUE(makeZip(tmp.file("a.zip"), {{"one.txt", "12345"}}));
    zip.SetZipFileName(tmp.file("a.zip"));
    ASSERT_NE(zip.ExtractToStream("one.txt"), nullptr);
    setenv("TM_FAKE_RESULT", "0", 1);
    EXPECT_EQ(zip.ExtractToStream("one.txt"), nullptr);
    EXPECT_EQ(zip.MemberStream().Size(), 0);
    EXPECT_EQ(zip.MemberStream().Memory(), nullptr);
}

TEST_F(StreamTest, HostileDeclaredSizesAreRefusedBeforeAllocating) {
    useFake();
    // Stored: the data cannot be larger than what is stored.
    ASSERT_TRUE(makeZip(tmp.file("s.zip"), {{"a.bin", std::string(100, 'x')}}, true));
    patchDeclaredSize(tmp.file("s.zip"), 0, 101);
    zip.SetZipFileName(tmp.file("s.zip"));
    EXPECT_EQ(zip.ExtractToStream("a.bin"), nullptr);
    EXPECT_TRUE(reported(10203));

    // Deflated: no more than deflate's best ratio over the member's own data.
    messages.clear();
    ASSERT_TRUE(makeZip(tmp.file("d.zip"), {{"a.bin", std::string(1000, 'x')}}));
    zip.SetZipFileName(tmp.file("d.zip"));
    const uint64_t bound = (zip.Entries()[0].CompressedSize64 + 1) * 1032;
    patchDeclaredSize(tmp.file("d.zip"), 0, uint32_t(bound + 1));
    zip.SetZipFileName(tmp.file("d.zip"));
    EXPECT_EQ(zip.ExtractToStream("a.bin"), nullptr);
    EXPECT_TRUE(reported(10203));
    patchDeclaredSize(tmp.file("d.zip"), 0, 0xFFFFFFFFu);
    zip.SetZipFileName(tmp.file("d.zip"));
    EXPECT_EQ(zip.ExtractToStream("a.bin"), nullptr);
    EXPECT_TRUE(dumps().empty());
    EXPECT_EQ(zip.MemberStream().Size(), 0);
    EXPECT_FALSE(zip.UnzipBusy());

    // At the bound the block is made and the engine runs.
    patchDeclaredSize(tmp.file("d.zip"), 0, uint32_t(bound));
    zip.SetZipFileName(tmp.file("d.zip"));
    TZipStream* s = zip.ExtractToStream("a.bin");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(uint64_t(s->Size()), bound);
}

// --- Real extraction engine ----------------------------------------------------------------

TEST_F(StreamTest, RealEngineExtractsMembersIntoMemory) {
    if (!haveRealEngine()) GTEST_SKIP() << "UNZENG.DLL not built";
    std::string big;
    for (int i = 0; i < 20000; ++i) big += "line " + std::to_string(i) + "\r\n";
    ASSERT_TRUE(makeZip(tmp.file("m.zip"), {{"intrface/Titles.STR", "first"},
                                            {"INTRFACE/titles.str", "second, longer"},
                                            {"empty.txt", ""},
                                            {"strings/big.txt", big}}));
    zip.SetZipFileName(tmp.file("m.zip"));
    ASSERT_EQ(zip.Count(), 4);

    TZipStream* s = zip.ExtractToStream("intrface\\titles.str");
    ASSERT_NE(s, nullptr) << (messages.empty() ? "" : messages.back());
    EXPECT_EQ(streamText(s), "first");

    TZipStream* again = zip.ExtractToStream("STRINGS\\BIG.TXT");
    EXPECT_EQ(again, s);  // the same stream, refilled
    EXPECT_EQ(streamText(s), big);
    EXPECT_EQ(s->Lines().size(), 20000u);

    // An empty member counts as extracted: an empty stream, not nothing.
    TZipStream* empty = zip.ExtractToStream("empty.txt");
    ASSERT_EQ(empty, s);
    EXPECT_EQ(empty->Size(), 0);
    EXPECT_EQ(empty->Position(), 0);

    EXPECT_EQ(zip.ExtractToStream("nothere.txt"), nullptr);
    EXPECT_EQ(zip.MemberStream().Size(), 0);
    EXPECT_FALSE(fsx::fileExists(fsx::currentDirectory() + "/nothere.txt"));
}

TEST_F(StreamTest, RealEngineEncryptedMemberAsksForThePassword) {
    if (!haveRealEngine()) GTEST_SKIP() << "UNZENG.DLL not built";
    if (!haveProgram("zip")) GTEST_SKIP() << "Info-ZIP zip not installed";
    tmp.write("src/secret.txt", "top secret");
    ASSERT_EQ(runCommand("cd '" + tmp.file("src") + "' && zip -q -P pw '" + tmp.file("e.zip") +
                         "' secret.txt"),
              0);
    zip.SetZipFileName(tmp.file("e.zip"));
    std::vector<std::string> asked;
    zip.OnPasswordError = [&](TZipArchiver*, std::string& pw, const std::string& file, uint32_t&) {
        asked.push_back(file);
        pw = "pw";
    };
    EXPECT_EQ(streamText(zip.ExtractToStream("secret.txt")), "top secret");
    EXPECT_FALSE(asked.empty());

    // Unattended without a password and without a handler: nothing, and the warning.
    zip.OnPasswordError = nullptr;
    messages.clear();
    EXPECT_EQ(zip.ExtractToStream("secret.txt"), nullptr);
    EXPECT_TRUE(reported(10502));
}

}  // namespace
