// Spanned sets (writing, joining, extracting from the last part) and self-extractor stubs.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "archive/ZipArchiver.h"
#include "platform/FileSystem.h"
#include "support/TestSupport.h"

class ZipArchiverTestAccess {
  public:
    static int writeSpan(TZipArchiver& z, const std::string& source) { return z.WriteSpan(source); }
    static bool join(TZipArchiver& z, std::string& out) { return z.JoinSpannedSet(out); }
    static int stub(TZipArchiver& z, const std::string& archive) { return z.WriteSFXStub(archive); }
    // What an Extract sees when it is pointed at a part without a List before.
    static void setName(TZipArchiver& z, const std::string& n) { z.zipFileName_ = n; }
    static void setIcon(TZipArchiver& z, const std::string& icon) { z.SFXIcon = icon; }
};
using Access = ZipArchiverTestAccess;

namespace {

const std::string kBin = TM_TEST_BIN_DIR;

uint32_t le32(const std::string& s, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s[at + size_t(i)]);
    return v;
}
uint16_t le16(const std::string& s, size_t at) {
    return static_cast<uint16_t>(static_cast<unsigned char>(s[at]) |
                                 (static_cast<unsigned char>(s[at + 1]) << 8));
}

// Members big enough (and random enough to stay big when deflated) to need several parts.
std::vector<std::pair<std::string, std::string>> members() {
    std::string noise;
    uint32_t x = 12345;
    for (int i = 0; i < 6000; ++i) {
        x = x * 1103515245u + 12345u;
        noise += static_cast<char>(x >> 24);
    }
    return {{"miss20.mis", noise},
            {"strings/titles.str", "title_20: \"A Test\"\r\n"},
            {"intrface/goals.str", noise.substr(0, 3000) + "end"},
            {"Books/a.str", std::string(2000, 'b')}};
}

class SpanTest : public ::testing::Test {
  protected:
    void SetUp() override {
        zip.Unattended = true;
        zip.MinFreeVolumeSize = 0;
        zip.TempDir = tmp.file("temp");
        fsx::forceDirectories(zip.TempDir);
        zip.OnMessage = [this](TZipArchiver*, int, const std::string& text) {
            messages.push_back(text);
        };
    }
    // A set "set001.zip".. written by WriteSpan from a python-made archive.
    int writeSet(int64_t maxVolume) {
        EXPECT_TRUE(makeZip(tmp.file("built.zip"), members()));
        zip.SetZipFileName(tmp.file("set.zip"));
        zip.MaxVolumeSize = maxVolume;
        return Access::writeSpan(zip, tmp.file("built.zip"));
    }
    bool unzipTests(const std::string& archive) {
        if (!haveProgram("unzip")) return true;
        return runCommand("unzip -tqq '" + archive + "' >/dev/null 2>&1") == 0;
    }
    int tempFiles() { return static_cast<int>(fsx::listDirectory(zip.TempDir, "*").size()); }

    TempDir tmp;
    ScriptedPrompter prompts;
    TZipArchiver zip;
    std::vector<std::string> messages;
};

TEST_F(SpanTest, WrittenSetHasSmallPartsAndJoinsBack) {
    ASSERT_EQ(writeSet(4000), 0) << zip.Message;
    int parts = 0;
    while (fsx::fileExists(tmp.file("set00" + std::to_string(parts + 1) + ".zip"))) ++parts;
    ASSERT_GE(parts, 3);
    EXPECT_FALSE(fsx::fileExists(tmp.file("set.zip")));
    for (int i = 1; i <= parts; ++i) {
        const std::string p = readFile(tmp.file("set00" + std::to_string(i) + ".zip"));
        EXPECT_LE(p.size(), 4000u);
    }
    EXPECT_TRUE(fsx::listDirectory(tmp.path(), "*.tmp").empty());
    EXPECT_EQ(le32(readFile(tmp.file("set001.zip")), 0), 0x08074B50u);
    EXPECT_NE(std::find(messages.begin(), messages.end(), "Copying: Central directory"),
              messages.end());

    // The last part lists the whole set; joining gives a plain archive unzip accepts.
    const std::string last = tmp.file("set00" + std::to_string(parts) + ".zip");
    zip.SetZipFileName(last);
    ASSERT_EQ(zip.Count(), 4) << zip.Message;
    EXPECT_EQ(zip.LastDisk(), parts - 1);
    std::string joined;
    messages.clear();
    ASSERT_TRUE(Access::join(zip, joined)) << zip.Message;
    EXPECT_TRUE(unzipTests(joined));
    EXPECT_NE(std::find(messages.begin(), messages.end(), "Copying: Books/a.str"), messages.end());
    TZipArchiver check;
    check.Unattended = true;
    check.SetZipFileName(joined);
    EXPECT_EQ(check.Count(), 4);
    EXPECT_EQ(check.LastDisk(), 0);
    EXPECT_EQ(check.SFXOffset(), 0);
}

TEST_F(SpanTest, HandSplitSetWithRecordsCutAcrossPartsJoins) {
    if (!haveProgram("unzip")) GTEST_SKIP() << "unzip not installed";
    ASSERT_TRUE(makeZip(tmp.file("src.zip"), members()));
    // Parts of 3000 bytes cut anywhere (also inside headers); the end record alone in the
    // last part, with a comment.
    const std::string script = R"PY(
import struct, sys, zipfile
src, base = sys.argv[1], sys.argv[2]
data = open(src, 'rb').read()
zf = zipfile.ZipFile(src)
end = data.rfind(b'PK\x05\x06')
cd_size, cd_off = struct.unpack('<II', data[end+12:end+20])
body = b'PK\x07\x08' + data[:cd_off]
N = 3000
def where(pos): return pos // N, pos % N
cd = bytearray(data[cd_off:cd_off+cd_size])
p = 0
while p < len(cd):
    nl, xl, cl = struct.unpack('<HHH', cd[p+28:p+34])
    off = struct.unpack('<I', cd[p+42:p+46])[0] + 4
    d, o = where(off)
    struct.pack_into('<HxxxxxxI', cd, p+34, d, o)
    p += 46 + nl + xl + cl
cd_disk, cd_rel = where(len(body))
stream = body + bytes(cd)
parts = [stream[i:i+N] for i in range(0, len(stream), N)]
comment = b'set comment'
parts.append(struct.pack('<IHHHHIIH', 0x06054B50, len(parts), cd_disk, 0,
                         len(zf.infolist()), cd_size, cd_rel, len(comment)) + comment)
for i, part in enumerate(parts):
    open('%s%03d.zip' % (base, i + 1), 'wb').write(part)
print(len(parts))
)PY";
    tmp.write("split.py", script);
    std::string out;
    ASSERT_EQ(runCommand("python3 '" + tmp.file("split.py") + "' '" + tmp.file("src.zip") + "' '" +
                             tmp.file("hand") + "'",
                         &out),
              0);
    const int parts = std::stoi(out);
    ASSERT_GE(parts, 4);
    zip.SetZipFileName(tmp.file("hand00" + std::to_string(parts) + ".zip"));
    ASSERT_EQ(zip.Count(), 4) << zip.Message;
    std::string joined;
    ASSERT_TRUE(Access::join(zip, joined)) << zip.Message;
    EXPECT_TRUE(unzipTests(joined));
    std::string listing;
    runCommand("unzip -p '" + joined + "' Books/a.str", &listing);
    EXPECT_EQ(listing, std::string(2000, 'b'));
    TZipArchiver check;
    check.Unattended = true;
    check.SetZipFileName(joined);
    EXPECT_EQ(check.ArchiveComment(), "set comment");
}

TEST_F(SpanTest, JoiningFromAnEarlierPartNamesThatPartAndLeavesNothing) {
    ASSERT_EQ(writeSet(4000), 0) << zip.Message;
    std::string joined;
    Access::setName(zip, tmp.file("set001.zip"));
    EXPECT_FALSE(Access::join(zip, joined));
    EXPECT_EQ(zip.ErrCode, 11037);
    Access::setName(zip, tmp.file("set002.zip"));
    EXPECT_FALSE(Access::join(zip, joined));
    EXPECT_EQ(zip.ErrCode, 11038);
    EXPECT_NE(zip.Message.find("2th disk"), std::string::npos) << zip.Message;
    EXPECT_TRUE(joined.empty());
    EXPECT_EQ(tempFiles(), 0);

    // A missing middle part ends the join with a message, and nothing stays behind.
    ASSERT_TRUE(fsx::deleteFile(tmp.file("set002.zip")));
    zip.SetZipFileName(tmp.file("set003.zip"));
    EXPECT_FALSE(Access::join(zip, joined));
    EXPECT_EQ(zip.ErrCode, 11001);
    EXPECT_EQ(tempFiles(), 0);
}

TEST_F(SpanTest, ExistingPartIsNotOverwrittenUnattendedOrWhenRefused) {
    tmp.write("set002.zip", "precious");
    EXPECT_NE(writeSet(4000), 0);
    EXPECT_EQ(zip.ErrCode, 11025);
    EXPECT_EQ(readFile(tmp.file("set002.zip")), "precious");
    EXPECT_FALSE(fsx::fileExists(tmp.file("set001.zip")));  // no half set stays behind

    zip.Unattended = false;
    std::vector<int> statuses;
    zip.OnStatusDisk = [&](TZipArchiver*, int, const std::string&, int status, int& action) {
        statuses.push_back(status);
        action = 3;
    };
    EXPECT_NE(writeSet(4000), 0);
    EXPECT_EQ(zip.ErrCode, 11007);
    EXPECT_EQ(statuses, std::vector<int>{10});
    EXPECT_EQ(readFile(tmp.file("set002.zip")), "precious");

    zip.OnStatusDisk = [](TZipArchiver*, int, const std::string&, int, int& action) { action = 1; };
    EXPECT_EQ(writeSet(4000), 0) << zip.Message;
    EXPECT_NE(readFile(tmp.file("set002.zip")), "precious");
}

TEST_F(SpanTest, ExistingPartQuestionDefaultsToNoAndNoOtherFileIsEmptied) {
    tmp.write("set002.zip", "precious");
    tmp.write("set001.zip.tmp", "someone else's file");
    zip.Unattended = false;
    EXPECT_NE(writeSet(4000), 0);  // the question is answered with its default button
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].caption, "Confirm");
    EXPECT_EQ(zip.ErrCode, 11007);
    EXPECT_EQ(readFile(tmp.file("set002.zip")), "precious");

    prompts.answers = {PromptResult::Yes};
    EXPECT_EQ(writeSet(4000), 0) << zip.Message;
    EXPECT_EQ(readFile(tmp.file("set001.zip.tmp")), "someone else's file");
    EXPECT_NE(readFile(tmp.file("set002.zip")), "precious");
}

TEST_F(SpanTest, RecordLargerThanAPartFailsInsteadOfLooping) {
    EXPECT_NE(writeSet(40), 0);
    EXPECT_EQ(zip.ErrCode, 11032);
    EXPECT_TRUE(fsx::listDirectory(tmp.path(), "set*").empty());
}

TEST_F(SpanTest, AddSpanningWithFreshenWritesNothing) {
    tmp.write("in/a.txt", "a");
    zip.SetZipFileName(tmp.file("out.zip"));
    zip.FSpecArgs = {tmp.file("in/a.txt")};
    zip.AddOptions = {AddOptsEnum::AddDiskSpan, AddOptsEnum::AddFreshen};
    zip.Add();
    EXPECT_EQ(zip.ErrCode, 10303);
    EXPECT_EQ(zip.SuccessCount, 0);
    EXPECT_TRUE(fsx::listDirectory(tmp.path(), "out*").empty());
}

TEST_F(SpanTest, ExtractFromLastPartJoinsAndCleansUp) {
    if (!fsx::fileExists(kBin + "/UNZENG.DLL")) GTEST_SKIP() << "UNZENG.DLL not built";
    ASSERT_EQ(writeSet(4000), 0) << zip.Message;
    ASSERT_TRUE(fsx::fileExists(tmp.file("set003.zip")));
    ASSERT_FALSE(fsx::fileExists(tmp.file("set004.zip")));
    zip.SetZipFileName(tmp.file("set003.zip"));
    ASSERT_EQ(zip.Count(), 4);
    fsx::forceDirectories(tmp.file("out"));
    zip.ExtrBaseDir = tmp.file("out");
    zip.ExtrOptions = {ExtrOptsEnum::ExtrDirNames};
    zip.Password = "unused";
    const std::string cwd = fsx::currentDirectory();
    zip.Extract();
    fsx::setCurrentDirectory(cwd);
    EXPECT_EQ(zip.SuccessCount, 4) << zip.Message;
    EXPECT_EQ(readFile(tmp.file("out/Books/a.str")), std::string(2000, 'b'));
    EXPECT_TRUE(prompts.messages.empty());
    EXPECT_EQ(tempFiles(), 0);
}

TEST_F(SpanTest, AddWithSpanningWritesASetTheEnginesReadBack) {
    if (!fsx::fileExists(kBin + "/ZIPENG.DLL") || !fsx::fileExists(kBin + "/UNZENG.DLL"))
        GTEST_SKIP() << "engines not built";
    for (const auto& m : members()) tmp.write("src/" + m.first, m.second);
    const std::string cwd = fsx::currentDirectory();
    ASSERT_TRUE(fsx::setCurrentDirectory(tmp.file("src")));
    zip.SetZipFileName(tmp.file("made.zip"));
    zip.AddOptions = {AddOptsEnum::AddDiskSpan, AddOptsEnum::AddDirNames,
                      AddOptsEnum::AddRecurseDirs};
    zip.AddStoreSuffixes = {AddStoreSuffixEnum::assZIP};
    zip.MaxVolumeSize = 4000;
    zip.FSpecArgs = {"*.*"};
    zip.Add();
    fsx::setCurrentDirectory(cwd);
    EXPECT_EQ(zip.SuccessCount, 4) << zip.Message;
    EXPECT_EQ(tempFiles(), 0);
    ASSERT_TRUE(fsx::fileExists(tmp.file("made002.zip")));
    EXPECT_FALSE(fsx::fileExists(tmp.file("made.zip")));
    int last = 2;
    while (fsx::fileExists(tmp.file("made00" + std::to_string(last + 1) + ".zip"))) ++last;

    zip.SetZipFileName(tmp.file("made00" + std::to_string(last) + ".zip"));
    ASSERT_EQ(zip.Count(), 4) << zip.Message;
    std::string joined;
    ASSERT_TRUE(Access::join(zip, joined)) << zip.Message;
    EXPECT_TRUE(unzipTests(joined));
    fsx::deleteFile(joined);
}

// --- Self-extractor stub -----------------------------------------------------------------

// A minimal PE image whose resource section holds one icon (type 3, name 1) of `iconSize`.
std::string makePe(uint32_t iconSize) {
    std::string pe(0x400 + 0x100 + iconSize, '\0');
    auto put16 = [&](size_t at, uint32_t v) {
        pe[at] = char(v);
        pe[at + 1] = char(v >> 8);
    };
    auto put32 = [&](size_t at, uint32_t v) {
        put16(at, v & 0xFFFF);
        put16(at + 2, v >> 16);
    };
    pe[0] = 'M';
    pe[1] = 'Z';
    put32(0x3C, 0x80);
    std::memcpy(&pe[0x80], "PE\0\0", 4);
    put16(0x86, 1);     // one section
    put16(0x94, 0xE0);  // optional header size
    const size_t sec = 0x80 + 24 + 0xE0;
    std::memcpy(&pe[sec], ".rsrc", 5);
    put32(sec + 12, 0x1000);  // virtual address
    put32(sec + 16, 0x100 + iconSize);
    put32(sec + 20, 0x400);  // raw data
    const size_t r = 0x400;
    put16(r + 14, 1);  // type directory: one id entry, type 3
    put32(r + 16, 3);
    put32(r + 20, 0x80000000u | 0x18);
    put16(r + 0x18 + 14, 1);  // name directory: name 1
    put32(r + 0x18 + 16, 1);
    put32(r + 0x18 + 20, 0x80000000u | 0x30);
    put16(r + 0x30 + 14, 1);  // language directory
    put32(r + 0x30 + 16, 0x409);
    put32(r + 0x30 + 20, 0x48);
    put32(r + 0x48, 0x1000 + 0x100);  // data entry: RVA, size
    put32(r + 0x48 + 4, iconSize);
    return pe;
}

class StubTest : public SpanTest {
  protected:
    std::string header(const std::string& exe, size_t stubSize) {
        const std::string s = readFile(exe);
        return s.substr(stubSize, le16(s, stubSize + 6));
    }
};

TEST_F(StubTest, DefaultHeaderLayoutAndEmptyEndRecord) {
    tmp.write("stub.bin", "STUBSTUB!");  // 9 bytes
    zip.SFXPath = tmp.file("stub.bin");
    zip.SFXCaption = "Cap";
    zip.SFXMessage = "Hi";
    ASSERT_EQ(Access::stub(zip, tmp.file("m.exe")), 0);
    const std::string s = readFile(tmp.file("m.exe"));
    // 3 + 0 + 0 + 2 text bytes + 12 = 17, rounded up to 20.
    ASSERT_EQ(s.size(), 9u + 20u + 22u);
    EXPECT_EQ(s.substr(0, 9), "STUBSTUB!");
    EXPECT_EQ(s.substr(9, 3), "MPV");
    EXPECT_EQ(s[12], '\0');  // flags for the default options
    EXPECT_EQ(s[13], '\0');
    EXPECT_EQ(s[14], '\1');
    EXPECT_EQ(le16(s, 15), 20);
    EXPECT_EQ(s.substr(17, 12), std::string("\3Cap\0\0\2Hi\0\0\0", 12));
    EXPECT_EQ(le32(s, 29), 0x06054B50u);
    EXPECT_EQ(le32(s, 29 + 16), 29u);  // central directory right after the header
    // The result is an empty archive the reader accepts.
    zip.SetZipFileName(tmp.file("m.exe"));
    EXPECT_EQ(zip.Count(), 0);
    EXPECT_TRUE(zip.Message.empty()) << zip.Message;
}

TEST_F(StubTest, FlagsFollowTheOptions) {
    tmp.write("stub.bin", "S");
    zip.SFXPath = tmp.file("stub.bin");
    zip.SFXOptions = {SFXOptsEnum::SFXAskCmdLine, SFXOptsEnum::SFXAskFiles,
                      SFXOptsEnum::SFXHideOverWriteBox, SFXOptsEnum::SFXAutoRun,
                      SFXOptsEnum::SFXNoSuccessMsg};
    zip.SFXOverWriteMode = OvrOpts::OvrAlways;
    ASSERT_EQ(Access::stub(zip, tmp.file("a.exe")), 0);
    EXPECT_EQ(static_cast<unsigned char>(header(tmp.file("a.exe"), 1)[3]), 0xEFu);
    zip.SFXOptions = {SFXOptsEnum::SFXCheckSize};
    zip.SFXOverWriteMode = OvrOpts::OvrNever;
    ASSERT_EQ(Access::stub(zip, tmp.file("b.exe")), 0);
    EXPECT_EQ(header(tmp.file("b.exe"), 1)[3], 0x10);
}

TEST_F(StubTest, FailuresLeaveNoOutput) {
    zip.SFXPath = tmp.file("missing.bin");
    zip.SetDLLDirectory(tmp.file("nowhere"));
    try {
        Access::stub(zip, tmp.file("m.exe"));
        ADD_FAILURE() << "no failure";
    } catch (const EZipArchiver& e) {
        EXPECT_EQ(e.MessageId, 10802);
    }
    zip.SFXPath = tmp.write("stub.bin", "S");
    zip.SFXCommandLine = std::string(256, 'c');
    try {
        Access::stub(zip, tmp.file("m.exe"));
        ADD_FAILURE() << "no failure";
    } catch (const EZipArchiver& e) {
        EXPECT_EQ(e.MessageId, 10801);
        EXPECT_NE(std::string(e.what()).find("SFXMessage = 279"), std::string::npos);
    }
    zip.SFXCommandLine.clear();
    EXPECT_EQ(Access::stub(zip, tmp.file("no/such/dir/m.exe")), -1);
    EXPECT_FALSE(fsx::fileExists(tmp.file("m.exe")));
}

TEST_F(StubTest, IconReplacedOnlyWhenSizesMatch) {
    const std::string pe = makePe(744);
    tmp.write("stub.bin", pe);
    zip.SFXPath = tmp.file("stub.bin");
    std::string icon(22, 'h');
    icon += std::string(744, 'I');
    Access::setIcon(zip, icon);
    ASSERT_EQ(Access::stub(zip, tmp.file("i.exe")), 0);
    const std::string s = readFile(tmp.file("i.exe"));
    EXPECT_EQ(s.substr(0x500, 744), std::string(744, 'I'));
    EXPECT_EQ(s.substr(0, 0x500), pe.substr(0, 0x500));

    // A resource of another size, or an icon file of another size: the stub stays as is.
    tmp.write("stub.bin", makePe(700));
    ASSERT_EQ(Access::stub(zip, tmp.file("j.exe")), 0);
    EXPECT_EQ(readFile(tmp.file("j.exe")).substr(0, 0x500 + 700), makePe(700));
    tmp.write("stub.bin", pe);
    Access::setIcon(zip, icon + "x");
    ASSERT_EQ(Access::stub(zip, tmp.file("k.exe")), 0);
    EXPECT_EQ(readFile(tmp.file("k.exe")).substr(0, pe.size()), pe);
}

}  // namespace
