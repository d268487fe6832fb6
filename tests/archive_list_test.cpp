// The ZIP directory reader: listings of hand-built archives for the edge cases, of hostile
// archives, and of archives made by other tools (Info-ZIP zip, 7-Zip, bsdtar, Python).

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "archive/ZipArchiver.h"
#include "platform/FileSystem.h"
#include "support/TestSupport.h"

namespace {

void put16(std::string& s, uint32_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
}
void put32(std::string& s, uint32_t v) {
    put16(s, v & 0xFFFF);
    put16(s, v >> 16);
}
void put64(std::string& s, uint64_t v) {
    put32(s, static_cast<uint32_t>(v));
    put32(s, static_cast<uint32_t>(v >> 32));
}

uint32_t crcOf(const std::string& data) {
    return static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

struct Member {
    std::string name;
    std::string data;
    uint8_t host = 0;
    uint8_t version = 20;
    uint16_t flag = 0;
    std::string extra;
    std::string comment;
    // When set, written into the central header instead of the real values.
    int64_t fakeUncompressed = -1;
    int64_t fakeCompressed = -1;
    int64_t fakeOffset = -1;
};

constexpr uint32_t kDosTime =
    (40u << 25) | (5u << 21) | (17u << 16) | (12u << 11) | (30u << 5) | 5u;

struct Built {
    std::string bytes;
    uint32_t centralOffset = 0;
    uint32_t centralSize = 0;
};

// A stored (uncompressed) archive with exact control over every field.
struct ArchiveSpec {
    std::vector<Member> members;
    std::string comment;
    int64_t entryCount = -1;   // EOCD total entries; -1 = real count
    int64_t centralSize = -1;  // EOCD central directory size; -1 = real size
    int64_t commentLength = -1;
};

Built buildSpec(const ArchiveSpec& spec) {
    Built b;
    std::string central;
    for (const Member& m : spec.members) {
        const uint32_t offset = static_cast<uint32_t>(b.bytes.size());
        std::string& s = b.bytes;
        put32(s, 0x04034B50);
        put16(s, 20);
        put16(s, m.flag);
        put16(s, 0);
        put32(s, kDosTime);
        put32(s, crcOf(m.data));
        put32(s, static_cast<uint32_t>(m.data.size()));
        put32(s, static_cast<uint32_t>(m.data.size()));
        put16(s, static_cast<uint32_t>(m.name.size()));
        put16(s, 0);
        s += m.name;
        s += m.data;

        put32(central, 0x02014B50);
        central += static_cast<char>(m.version);
        central += static_cast<char>(m.host);
        put16(central, 20);
        put16(central, m.flag);
        put16(central, 0);
        put32(central, kDosTime);
        put32(central, crcOf(m.data));
        put32(central, m.fakeCompressed >= 0 ? static_cast<uint32_t>(m.fakeCompressed)
                                             : static_cast<uint32_t>(m.data.size()));
        put32(central, m.fakeUncompressed >= 0 ? static_cast<uint32_t>(m.fakeUncompressed)
                                               : static_cast<uint32_t>(m.data.size()));
        put16(central, static_cast<uint32_t>(m.name.size()));
        put16(central, static_cast<uint32_t>(m.extra.size()));
        put16(central, static_cast<uint32_t>(m.comment.size()));
        put16(central, 0);
        put16(central, 0);
        put32(central, 0x20);
        put32(central, m.fakeOffset >= 0 ? static_cast<uint32_t>(m.fakeOffset) : offset);
        central += m.name;
        central += m.extra;
        central += m.comment;
    }
    b.centralOffset = static_cast<uint32_t>(b.bytes.size());
    b.centralSize = static_cast<uint32_t>(central.size());
    b.bytes += central;
    const uint32_t count =
        spec.entryCount >= 0 ? static_cast<uint32_t>(spec.entryCount) : spec.members.size();
    put32(b.bytes, 0x06054B50);
    put16(b.bytes, 0);
    put16(b.bytes, 0);
    put16(b.bytes, count);
    put16(b.bytes, count);
    put32(b.bytes, spec.centralSize >= 0 ? static_cast<uint32_t>(spec.centralSize) : b.centralSize);
    put32(b.bytes, b.centralOffset);
    put16(b.bytes, spec.commentLength >= 0 ? static_cast<uint32_t>(spec.commentLength)
                                           : static_cast<uint32_t>(spec.comment.size()));
    b.bytes += spec.comment;
    return b;
}

std::string build(const std::vector<Member>& members, const std::string& comment = {}) {
    ArchiveSpec spec;
    spec.members = members;
    spec.comment = comment;
    return buildSpec(spec).bytes;
}

std::vector<Member> threeMembers() {
    return {{"maps/intro.pcx", "picture"}, {"books/", ""}, {"books/note.str", "text"}};
}

// Lists one archive and records what the component told.
struct Listing {
    ScriptedPrompter prompts;
    TZipArchiver zip;
    std::vector<int> seqNos;
    std::vector<std::string> newNames;
    int dirUpdates = 0;
    std::vector<std::pair<int, std::string>> messages;  // ErrCode, text

    Listing() {
        zip.OnNewName = [this](TZipArchiver*, int seq, const ZipDirEntry& e) {
            seqNos.push_back(seq);
            newNames.push_back(e.FileName);
        };
        zip.OnDirUpdate = [this](TZipArchiver*) { ++dirUpdates; };
        zip.OnMessage = [this](TZipArchiver* z, int code, const std::string& text) {
            EXPECT_EQ(code, 0);
            messages.emplace_back(z->ErrCode, text);
        };
    }
    void list(const std::string& path) { zip.SetZipFileName(path); }
    std::vector<int> ids() const {
        std::vector<int> v;
        for (const auto& m : messages) v.push_back(m.first);
        return v;
    }
    std::vector<std::string> names() const {
        std::vector<std::string> v;
        for (const auto& e : zip.Entries()) v.push_back(e.FileName);
        return v;
    }
};

using Ids = std::vector<int>;
using Names = std::vector<std::string>;

// --- The end record ---------------------------------------------------------------------

TEST(ZipList, ArchiveOfOnlyAnEndRecord) {
    TempDir dir;
    const std::string path = dir.write("empty.zip", build(std::vector<Member>{}));
    ASSERT_EQ(fsx::fileSize64(path), 22);
    Listing l;
    l.list(path);
    EXPECT_EQ(l.zip.Count(), 0);
    EXPECT_EQ(l.zip.SFXOffset(), 0);
    EXPECT_EQ(l.zip.ZipEnd(), 22);
    EXPECT_EQ(l.zip.ZipFileName(), path);
    EXPECT_TRUE(l.messages.empty());
    EXPECT_TRUE(l.prompts.messages.empty());
    EXPECT_EQ(l.dirUpdates, 1);
    EXPECT_EQ(l.prompts.busyDepth, 0);
}

TEST(ZipList, MissingFileKeepsTheNameSilently) {
    TempDir dir;
    Listing l;
    l.list(dir.file("new.zip"));
    EXPECT_EQ(l.zip.ZipFileName(), dir.file("new.zip"));
    EXPECT_EQ(l.zip.Count(), 0);
    EXPECT_TRUE(l.messages.empty());
    EXPECT_TRUE(l.prompts.messages.empty());
    EXPECT_EQ(l.dirUpdates, 1);
    EXPECT_EQ(l.prompts.busyDepth, 0);

    // A directory is no archive either; an empty name lists nothing.
    l.list(dir.path());
    EXPECT_TRUE(l.messages.empty());
    l.list("");
    EXPECT_EQ(l.zip.Count(), 0);
    EXPECT_EQ(l.dirUpdates, 3);
}

TEST(ZipList, FileWithoutEndRecordIsNotAnArchive) {
    TempDir dir;
    for (size_t size : {size_t{0}, size_t{5}, size_t{21}, size_t{1000}, size_t{70000}}) {
        std::string junk(size, 'x');
        if (size > 100) junk.replace(10, 4, "PK\x05\x07");  // close to, but not a signature
        const std::string path = dir.write("junk.zip", junk);
        Listing l;
        l.list(path);
        EXPECT_EQ(l.ids(), Ids{11036}) << size;
        ASSERT_EQ(l.prompts.messages.size(), 1u);
        EXPECT_EQ(l.prompts.messages[0].text, "'" + path + "' is not a valid Zip archive");
        EXPECT_EQ(l.prompts.messages[0].caption, "");
        EXPECT_EQ(l.zip.ZipFileName(), "");
        EXPECT_EQ(l.zip.Count(), 0);
        EXPECT_EQ(l.zip.SFXOffset(), 0);
        EXPECT_EQ(l.dirUpdates, 1);
        EXPECT_EQ(l.prompts.busyDepth, 0);
    }
}

TEST(ZipList, FirstPartOfASpannedSetAsksForTheLast) {
    TempDir dir;
    std::string part = "PK\x07\x08PK\x03\x04";
    part += std::string(100, 'a');
    Listing l;
    l.list(dir.write("part.zip", part));
    EXPECT_EQ(l.ids(), Ids{11045});
    EXPECT_TRUE(l.zip.IsSpanned());
}

TEST(ZipList, ArchiveCommentOfTheLargestLengthIsFound) {
    TempDir dir;
    std::string comment(65535, 'c');
    comment[0] = 'P';  // a lone "P" in the comment must not confuse the search
    const std::string path = dir.write("c.zip", build(threeMembers(), comment));
    Listing l;
    l.list(path);
    EXPECT_TRUE(l.messages.empty());
    EXPECT_EQ(l.zip.ArchiveComment(), comment);
    EXPECT_EQ(l.zip.Count(), 2);
    EXPECT_EQ(l.zip.ZipEnd(), fsx::fileSize64(path));

    // One byte more of comment than the field can say: the record is out of reach.
    std::string tooFar = build(threeMembers(), comment) + "x";
    Listing l2;
    l2.list(dir.write("far.zip", tooFar));
    EXPECT_EQ(l2.ids(), (Ids{11036}));
    EXPECT_EQ(l2.zip.Count(), 0);
}

TEST(ZipList, ArchiveCommentStopsAtAZeroByteAndAtTheEndOfFile) {
    TempDir dir;
    Listing l;
    l.list(dir.write("z.zip", build(threeMembers(), std::string("abc\0def", 7))));
    EXPECT_EQ(l.zip.ArchiveComment(), "abc");
    EXPECT_TRUE(l.messages.empty());

    // The length field promises more than the file holds.
    ArchiveSpec spec;
    spec.members = threeMembers();
    spec.comment = "short";
    spec.commentLength = 40;
    Listing l2;
    l2.list(dir.write("s.zip", buildSpec(spec).bytes));
    EXPECT_EQ(l2.zip.ArchiveComment(), "short");
    EXPECT_EQ(l2.zip.Count(), 2);
}

TEST(ZipList, PrefixIsFoundAndWarnedAbout) {
    TempDir dir;
    const std::string prefix(1000, '\x90');
    const Built plain = buildSpec(ArchiveSpec{threeMembers()});
    const std::string path = dir.write("sfx.exe", prefix + plain.bytes);
    Listing l;
    l.list(path);
    EXPECT_EQ(l.ids(), Ids{10203});
    ASSERT_EQ(l.prompts.messages.size(), 1u);
    EXPECT_EQ(l.prompts.messages[0].text, "Warning - Error in zip structure!");
    EXPECT_EQ(l.zip.Count(), 2);
    EXPECT_EQ(l.zip.SFXOffset(), 1000);
    EXPECT_EQ(l.zip.CentralDirOffset(), 1000 + plain.centralOffset);
    EXPECT_EQ(l.zip.Entries()[0].LocalHeaderOffset, 0u);  // as stored
    EXPECT_EQ(l.zip.ZipFileName(), path);

    // A prefix in front of an archive with no members at all.
    Listing l2;
    l2.list(dir.write("e.exe", prefix + build(std::vector<Member>{})));
    EXPECT_EQ(l2.ids(), Ids{10203});
    EXPECT_EQ(l2.zip.SFXOffset(), 1000);

    // Offsets adjusted by the tool that prepended the stub: no warning.
    Listing l3;
    const std::string adjusted = dir.file("adj.exe");
    writeFile(adjusted, prefix + plain.bytes);
    if (haveProgram("zip") && runCommand("zip -qA " + adjusted) == 0) {
        l3.list(adjusted);
        EXPECT_TRUE(l3.messages.empty());
        EXPECT_EQ(l3.zip.SFXOffset(), 1000);
        EXPECT_EQ(l3.zip.Entries()[0].LocalHeaderOffset, 1000u);
    }
}

TEST(ZipList, ZeroPaddingToABlockIsNotGarbage) {
    TempDir dir;
    std::string bytes = build(threeMembers());
    const size_t pad = 512 - bytes.size() % 512;
    ASSERT_GE(pad, 1u);
    std::string padded = bytes + std::string(pad < 200 ? pad + 512 : pad, '\0');
    if (padded.size() - bytes.size() >= 512) padded.resize(padded.size() - 512);
    ASSERT_EQ(padded.size() % 512, 0u);

    Listing ok;
    ok.list(dir.write("pad.zip", padded));
    EXPECT_TRUE(ok.messages.empty());
    EXPECT_EQ(ok.zip.Count(), 2);

    std::string dirty = padded;
    dirty[dirty.size() - 7] = '\x01';
    Listing bad;
    bad.list(dir.write("dirty.zip", dirty));
    EXPECT_EQ(bad.ids(), Ids{10204});
    ASSERT_EQ(bad.prompts.messages.size(), 1u);
    EXPECT_EQ(bad.prompts.messages[0].text, "Warning - Garbage at the end of the zipfile!");
    EXPECT_EQ(bad.names(), (Names{"maps\\intro.pcx", "books\\note.str"}));
    EXPECT_EQ(bad.zip.ZipFileName(), dir.file("dirty.zip"));

    // Zeros that do not end on a block boundary, or a whole block of them, are garbage.
    Listing odd;
    odd.list(dir.write("odd.zip", padded + std::string(3, '\0')));
    EXPECT_EQ(odd.ids(), Ids{10204});
    Listing block;
    block.list(dir.write("block.zip", padded + std::string(512, '\0')));
    EXPECT_EQ(block.ids(), Ids{10204});
}

// --- Central headers --------------------------------------------------------------------

TEST(ZipList, DirectoryEntriesAreLeftOutButCounted) {
    TempDir dir;
    const std::string path = dir.write("d.zip", build(threeMembers()));
    Listing l;
    l.list(path);
    EXPECT_EQ(l.names(), (Names{"maps\\intro.pcx", "books\\note.str"}));
    EXPECT_EQ(l.newNames, l.names());
    EXPECT_EQ(l.seqNos, (std::vector<int>{1, 3}));
    EXPECT_EQ(l.zip.DirOnlyCount(), 1);
    EXPECT_EQ(l.zip.Count(), 2);
    const ZipDirEntry& e = l.zip.Entries()[0];
    EXPECT_EQ(e.UncompressedSize, 7u);
    EXPECT_EQ(e.CRC32, crcOf("picture"));
    EXPECT_EQ(e.DateTime, kDosTime);
    EXPECT_EQ(e.FileNameLength, 14u);
    EXPECT_EQ(e.ExternalAttributes, 0x20u);
    EXPECT_TRUE(e.ExtraData.empty());

    Listing all;
    all.zip.UseDirOnlyEntries = true;
    all.list(path);
    EXPECT_EQ(all.names(), (Names{"maps\\intro.pcx", "books\\", "books\\note.str"}));
    EXPECT_EQ(all.seqNos, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(all.zip.DirOnlyCount(), 0);

    // A drive-relative name ending in ":" names no file either.
    Listing colon;
    colon.list(dir.write("c.zip", build(std::vector<Member>{{"c:", ""}, {"a.txt", "a"}})));
    EXPECT_EQ(colon.names(), Names{"a.txt"});
    EXPECT_EQ(colon.seqNos, std::vector<int>{2});
}

TEST(ZipList, ExtraFieldAndMemberCommentAreKept) {
    TempDir dir;
    Member m{"a.txt", "abc"};
    m.extra = std::string("\x55\x54\x05\x00\x01\x02\x03\x04\x05", 9);
    m.comment = "about a";
    Listing l;
    l.list(dir.write("x.zip", build({m})));
    ASSERT_EQ(l.zip.Count(), 1);
    EXPECT_EQ(l.zip.Entries()[0].ExtraData, m.extra);
    EXPECT_EQ(l.zip.Entries()[0].ExtraFieldLength, 9u);
    EXPECT_EQ(l.zip.Entries()[0].FileComment, "about a");
}

TEST(ZipList, NamesAreConvertedFromTheOemCodePageWhereTheArchiveSaysSo) {
    TempDir dir;
    const std::string raw = "m\x81sli.txt";
    const std::string converted = "m\xC3\xBCsli.txt";  // cp437 0x81 is u with diaeresis
    struct Case {
        uint8_t host, version;
        uint16_t flag;
        CodePageOpts cp;
        bool convert;
    };
    const Case cases[] = {
        {0, 20, 0, CodePageOpts::cpAuto, true},     {3, 20, 0, CodePageOpts::cpAuto, false},
        {0, 20, 0, CodePageOpts::cpNone, false},    {3, 20, 0, CodePageOpts::cpOEM, true},
        {6, 20, 0, CodePageOpts::cpNone, true},     {11, 50, 0, CodePageOpts::cpAuto, true},
        {11, 20, 0, CodePageOpts::cpAuto, false},   {0, 20, 0x800, CodePageOpts::cpAuto, false},
        {0, 20, 0x800, CodePageOpts::cpOEM, false},
    };
    for (const Case& c : cases) {
        Member m{raw, "x"};
        m.host = c.host;
        m.version = c.version;
        m.flag = c.flag;
        m.comment = "\x8E";
        Listing l;
        l.zip.CodePage = c.cp;
        l.list(dir.write("oem.zip", build({m})));
        ASSERT_EQ(l.zip.Count(), 1);
        EXPECT_EQ(l.zip.Entries()[0].FileName, c.convert ? converted : raw)
            << int(c.host) << " " << int(c.version) << " " << c.flag;
        EXPECT_EQ(l.zip.Entries()[0].FileComment, c.convert ? "\xC3\x84" : "\x8E");
        EXPECT_EQ(l.zip.Entries()[0].FileNameLength, raw.size());
    }
}

TEST(ZipList, EncryptedFlagAndBackslashes) {
    TempDir dir;
    Member m{"a/b/c.txt", "x"};
    m.flag = 1;
    Listing l;
    l.list(dir.write("e.zip", build({m, {"plain\\name.txt", "y"}})));
    ASSERT_EQ(l.zip.Count(), 2);
    EXPECT_TRUE(l.zip.Entries()[0].Encrypted);
    EXPECT_EQ(l.zip.Entries()[0].FileName, "a\\b\\c.txt");
    EXPECT_FALSE(l.zip.Entries()[1].Encrypted);
    EXPECT_EQ(l.zip.Entries()[1].FileName, "plain\\name.txt");
}

// --- Damaged and hostile archives -------------------------------------------------------

// Corrupts byte `at` of the central directory.
std::string withCentralByte(size_t at, char value) {
    Built b = buildSpec(ArchiveSpec{threeMembers()});
    b.bytes[b.centralOffset + at] = value;
    return b.bytes;
}

TEST(ZipList, DamagedCentralSignature) {
    TempDir dir;
    Listing l;
    l.list(dir.write("bad.zip", withCentralByte(1, 'X')));
    EXPECT_EQ(l.ids(), Ids{11015});
    ASSERT_EQ(l.prompts.messages.size(), 1u);
    EXPECT_EQ(l.prompts.messages[0].text, "A central header signature is wrong");
    EXPECT_EQ(l.zip.ZipFileName(), "");
    EXPECT_EQ(l.zip.Count(), 0);
    EXPECT_EQ(l.zip.SFXOffset(), 0);
    EXPECT_EQ(l.dirUpdates, 1);
    EXPECT_EQ(l.prompts.busyDepth, 0);
}

// The main window re-reads an archive it has changed by assigning the same name again.
TEST(ZipList, AssigningTheSameNameReadsAgain) {
    TempDir dir;
    const std::string path = dir.write("m.zip", build({{"a.txt", "a"}}));
    Listing l;
    l.list(path);
    EXPECT_EQ(l.names(), Names{"a.txt"});

    writeFile(path, build({{"a.txt", "a"}, {"b.txt", "b"}}));
    l.list(path);
    EXPECT_EQ(l.names(), (Names{"a.txt", "b.txt"}));
    EXPECT_EQ(l.dirUpdates, 2);

    // A later failure leaves nothing of the earlier listing.
    writeFile(path, withCentralByte(0, 'X'));
    l.list(path);
    EXPECT_EQ(l.ids(), Ids{11015});
    EXPECT_TRUE(l.zip.Entries().empty());
    EXPECT_EQ(l.zip.Count(), 0);
    EXPECT_EQ(l.zip.ZipFileName(), "");
    EXPECT_EQ(l.dirUpdates, 3);
}

// Failures that are not the component's own end the listing the same way, with their text.
TEST(ZipList, OtherFailuresAreReportedAtTheBoundary) {
    TempDir dir;
    const std::string path = dir.write("h.zip", build(threeMembers()));
    {
        Listing l;
        l.zip.OnNewName = [](TZipArchiver*, int seq, const ZipDirEntry&) {
            if (seq == 3) throw std::runtime_error("handler broke");
        };
        l.list(path);
        EXPECT_EQ(l.ids(), Ids{10202});
        ASSERT_EQ(l.prompts.messages.size(), 1u);
        EXPECT_EQ(l.prompts.messages[0].text, "Unknown error in List() function\nhandler broke");
        EXPECT_EQ(l.zip.ZipFileName(), "");
        EXPECT_EQ(l.zip.Count(), 0);
        EXPECT_EQ(l.zip.SFXOffset(), 0);
        EXPECT_EQ(l.dirUpdates, 1);
        EXPECT_EQ(l.prompts.busyDepth, 0);
    }
    {
        Listing l;
        l.zip.OnNewName = [](TZipArchiver*, int, const ZipDirEntry&) { throw std::bad_alloc(); };
        l.list(path);
        EXPECT_EQ(l.ids(), Ids{10103});
        EXPECT_EQ(l.zip.Message, "Requested memory not available");
        EXPECT_EQ(l.zip.ZipFileName(), "");
        EXPECT_EQ(l.dirUpdates, 1);
        EXPECT_EQ(l.prompts.busyDepth, 0);
    }
}

TEST(ZipList, UnattendedReportsWithoutABox) {
    TempDir dir;
    Listing l;
    l.zip.Unattended = true;
    l.list(dir.write("bad.zip", withCentralByte(0, 'X')));
    EXPECT_TRUE(l.prompts.messages.empty());
    EXPECT_EQ(l.zip.ErrCode, 11015);
    EXPECT_EQ(l.zip.Message, "A central header signature is wrong");
    EXPECT_EQ(l.messages.size(), 1u);

    l.list(dir.write("pad.zip", build(threeMembers()) + "junk"));
    EXPECT_TRUE(l.prompts.messages.empty());
    EXPECT_EQ(l.zip.ErrCode, 10204);
    EXPECT_EQ(l.zip.Count(), 2);
}

TEST(ZipList, TruncatedAndInconsistentDirectoriesEndInTheirMessage) {
    TempDir dir;
    auto idsOf = [&](const std::string& bytes) {
        Listing l;
        l.zip.Unattended = true;
        l.list(dir.write("t.zip", bytes));
        EXPECT_EQ(l.zip.Count(), 0);
        EXPECT_EQ(l.dirUpdates, 1);
        return l.ids();
    };

    {  // More entries declared than headers present: the walk runs into the end record.
        ArchiveSpec s{threeMembers()};
        s.entryCount = 4;
        s.centralSize = buildSpec(s).centralSize;
        EXPECT_EQ(idsOf(buildSpec(s).bytes), (Ids{11013}));
        s.comment = std::string(40, 'c');  // now 46 bytes can be read: a wrong signature
        EXPECT_EQ(idsOf(buildSpec(s).bytes), (Ids{11015}));
    }
    {  // A name that runs past the end of the file.
        std::vector<Member> m = threeMembers();
        Built b = buildSpec(ArchiveSpec{m});
        std::string bytes = b.bytes;
        const size_t lastHeader = b.centralOffset + 46 + 14 + 46 + 6;
        bytes[lastHeader + 28] = '\xFF';  // name length 0x??FF
        bytes[lastHeader + 29] = '\x00';
        bytes.resize(bytes.size());  // directory size stays: the 10203 warning comes first
        EXPECT_EQ(idsOf(bytes), (Ids{11017}));
    }
    {  // An extra field that runs past the end of the file.
        Built b = buildSpec(ArchiveSpec{{{"a.txt", "a"}}});
        std::string bytes = b.bytes;
        bytes[b.centralOffset + 30] = '\x00';
        bytes[b.centralOffset + 31] = '\x10';
        EXPECT_EQ(idsOf(bytes), (Ids{10201}));
    }
    {  // A member comment that runs past the end of the file.
        Built b = buildSpec(ArchiveSpec{{{"a.txt", "a"}}});
        std::string bytes = b.bytes;
        bytes[b.centralOffset + 32] = '\x00';
        bytes[b.centralOffset + 33] = '\x10';
        EXPECT_EQ(idsOf(bytes), (Ids{11022}));
    }
    {  // A directory larger than the file: it cannot start before the file does.
        ArchiveSpec s{threeMembers()};
        s.centralSize = 0x7FFFFFFF;
        EXPECT_EQ(idsOf(buildSpec(s).bytes), (Ids{10203, 10201}));
    }
    {  // A directory size too small: the walk starts inside a member and meets no header.
        ArchiveSpec s{threeMembers()};
        s.centralSize = buildSpec(s).centralSize - 10;
        EXPECT_EQ(idsOf(buildSpec(s).bytes), (Ids{10203, 11015}));
    }
}

TEST(ZipList, HugeEntryCountInATinyFile) {
    TempDir dir;
    // 65,535 entries declared in a 22-byte directory.
    ArchiveSpec s{{{"a.txt", "a"}}};
    s.entryCount = 0xFFFF;
    Listing l;
    l.zip.Unattended = true;
    l.list(dir.write("many.zip", buildSpec(s).bytes));
    EXPECT_EQ(l.ids(), Ids{11013});

    // A ZIP64 end record declaring 2^60 entries and an exabyte directory.
    Built b = buildSpec(ArchiveSpec{{{"a.txt", "a"}}});
    std::string bytes = b.bytes.substr(0, b.bytes.size() - 22);
    const uint64_t recPos = bytes.size();
    put32(bytes, 0x06064B50);
    put64(bytes, 44);
    put16(bytes, 45);
    put16(bytes, 45);
    put32(bytes, 0);
    put32(bytes, 0);
    put64(bytes, uint64_t{1} << 60);
    put64(bytes, uint64_t{1} << 60);
    put64(bytes, b.centralSize);
    put64(bytes, b.centralOffset);
    put32(bytes, 0x07064B50);
    put32(bytes, 0);
    put64(bytes, recPos);
    put32(bytes, 1);
    put32(bytes, 0x06054B50);
    put16(bytes, 0);
    put16(bytes, 0);
    put16(bytes, 0xFFFF);
    put16(bytes, 0xFFFF);
    put32(bytes, 0xFFFFFFFF);
    put32(bytes, 0xFFFFFFFF);
    put16(bytes, 0);
    Listing l2;
    l2.zip.Unattended = true;
    l2.list(dir.write("z64.zip", bytes));
    // The second "header" is the ZIP64 end record; nothing was reserved for 2^60 entries
    // (that would have ended in 10103).
    EXPECT_EQ(l2.ids(), Ids{11015});

    // The same with an absurd directory size as well.
    std::string worse = bytes;
    for (int i = 0; i < 8; ++i) worse[recPos + 40 + i] = '\x7F';
    Listing l3;
    l3.zip.Unattended = true;
    l3.list(dir.write("z64b.zip", worse));
    EXPECT_EQ(l3.ids(), (Ids{10203, 10201}));
}

TEST(ZipList, MemberDeclaringFourGigabytesIsSimplyListed) {
    TempDir dir;
    Member big{"huge.bin", "tiny"};
    big.fakeUncompressed = 0xFFFFFFFE;
    big.fakeCompressed = 0xFFFFFFF0;
    Listing l;
    l.list(dir.write("big.zip", build({big, {"b.txt", "b"}})));
    EXPECT_TRUE(l.messages.empty());
    ASSERT_EQ(l.zip.Count(), 2);
    EXPECT_EQ(l.zip.Entries()[0].UncompressedSize, 0xFFFFFFFEu);
    EXPECT_EQ(l.zip.Entries()[0].UncompressedSize64, 0xFFFFFFFEu);
    EXPECT_EQ(l.zip.Entries()[0].CompressedSize, 0xFFFFFFF0u);
}

TEST(ZipList, Zip64ExtraFieldGivesTheFullSizes) {
    TempDir dir;
    Member m{"huge.bin", "tiny"};
    m.fakeUncompressed = 0xFFFFFFFF;
    m.fakeCompressed = 0xFFFFFFFF;
    m.fakeOffset = 0xFFFFFFFF;
    std::string extra;
    put16(extra, 0x000A);  // an unrelated block first
    put16(extra, 4);
    extra += "abcd";
    put16(extra, 0x0001);
    put16(extra, 24);
    put64(extra, 6000000000ull);
    put64(extra, 5000000000ull);
    put64(extra, 0);
    m.extra = extra;
    Listing l;
    l.list(dir.write("x64.zip", build({m})));
    EXPECT_TRUE(l.messages.empty());
    ASSERT_EQ(l.zip.Count(), 1);
    const ZipDirEntry& e = l.zip.Entries()[0];
    EXPECT_EQ(e.UncompressedSize, 0xFFFFFFFFu);
    EXPECT_EQ(e.UncompressedSize64, 6000000000ull);
    EXPECT_EQ(e.CompressedSize64, 5000000000ull);
    EXPECT_EQ(e.LocalHeaderOffset64, 0u);
    EXPECT_EQ(l.zip.SFXOffset(), 0);

    // A ZIP64 block cut short keeps the stored values.
    std::string cut;
    put16(cut, 0x0001);
    put16(cut, 30);  // longer than what follows
    put64(cut, 1);
    m.extra = cut;
    Listing l2;
    l2.list(dir.write("cut.zip", build({m})));
    ASSERT_EQ(l2.zip.Count(), 1);
    EXPECT_EQ(l2.zip.Entries()[0].UncompressedSize64, 0xFFFFFFFFu);
}

// Random damage of a valid archive never crashes and always ends the listing.
TEST(ZipList, RandomDamageNeverCrashes) {
    TempDir dir;
    std::vector<Member> members = threeMembers();
    members.push_back({"x/y.txt", std::string(300, 'y')});
    const std::string good = build(members, "comment");
    uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
    for (int round = 0; round < 400; ++round) {
        std::string bytes = good;
        const int flips = 1 + static_cast<int>(next() % 8);
        for (int i = 0; i < flips; ++i)
            bytes[next() % bytes.size()] = static_cast<char>(next() >> 16);
        if (round % 5 == 0) bytes.resize(next() % bytes.size());
        Listing l;
        l.zip.Unattended = true;
        l.list(dir.write("r.zip", bytes));
        EXPECT_EQ(l.dirUpdates, 1);
        EXPECT_EQ(l.prompts.busyDepth, 0);
        EXPECT_LE(l.zip.Entries().size(), bytes.size() / 46);
    }
}

// --- Archives made by other tools -------------------------------------------------------

struct SourceFile {
    std::string rel;  // "/" separators
    std::string content;
};

std::vector<SourceFile> sourceTree() {
    std::string big;
    for (int i = 0; i < 5000; ++i) big += "line " + std::to_string(i * 7919 % 1000) + "\n";
    return {{"mission.mis", big},
            {"intrface/miss20/english/goals.str", "goal_0: \"Steal the thing\"\n"},
            {"books/empty.txt", ""},
            {"readme.txt", "Readme\r\n"}};
}

// Writes the tree with an even-second modification time, so DOS times compare exactly.
std::string writeTree(const TempDir& dir) {
    for (const SourceFile& f : sourceTree()) dir.write("src/" + f.rel, f.content);
    runCommand("find '" + dir.file("src") + "' -exec touch -d '2021-03-04 05:06:08' {} +");
    return dir.file("src");
}

void expectTreeListed(const TZipArchiver& zip, const TempDir& dir, const std::string& tool) {
    std::vector<SourceFile> files = sourceTree();
    ASSERT_EQ(zip.Count(), static_cast<int>(files.size())) << tool;
    for (const SourceFile& f : files) {
        std::string want = f.rel;
        std::replace(want.begin(), want.end(), '/', '\\');
        const ZipDirEntry* found = nullptr;
        for (const ZipDirEntry& e : zip.Entries())
            if (e.FileName == want) found = &e;
        ASSERT_NE(found, nullptr) << tool << " " << want;
        EXPECT_EQ(found->UncompressedSize, f.content.size()) << tool << " " << want;
        EXPECT_EQ(found->UncompressedSize64, f.content.size()) << tool << " " << want;
        EXPECT_EQ(found->CRC32, crcOf(f.content)) << tool << " " << want;
        EXPECT_EQ(found->DateTime, static_cast<uint32_t>(fsx::fileAgeDos(dir.file("src/" + f.rel))))
            << tool << " " << want;
        EXPECT_FALSE(found->Encrypted);
    }
}

TEST(ZipListInterop, ArchivesOfOtherToolsListCorrectly) {
    TempDir dir;
    const std::string src = writeTree(dir);
    const std::string files = "mission.mis intrface books readme.txt";
    struct Tool {
        std::string program, command;
    };
    const std::vector<Tool> tools = {
        {"zip", "cd '" + src + "' && zip -qr -D '" + dir.file("iz.zip") + "' " + files},
        {"zip", "cd '" + src + "' && zip -qr '" + dir.file("izd.zip") + "' " + files},
        {"7z", "cd '" + src + "' && 7z a -tzip -bd '" + dir.file("7z.zip") + "' " + files +
                   " >/dev/null"},
        {"bsdtar",
         "cd '" + src + "' && bsdtar --format zip -cf '" + dir.file("bsd.zip") + "' " + files},
        {"python3", "cd '" + src + "' && python3 -c \"import zipfile,os\nwith zipfile.ZipFile('" +
                        dir.file("py.zip") +
                        "','w',zipfile.ZIP_DEFLATED) as z:\n for r,d,f in os.walk('.'):\n  "
                        "[z.write(os.path.join(r,n)) for n in f]\""},
    };
    for (const Tool& t : tools) {
        if (!haveProgram(t.program)) continue;
        ASSERT_EQ(runCommand(t.command), 0) << t.command;
    }
    for (const char* name : {"iz.zip", "izd.zip", "7z.zip", "bsd.zip", "py.zip"}) {
        if (!fsx::fileExists(dir.file(name))) continue;
        Listing l;
        l.list(dir.file(name));
        EXPECT_TRUE(l.messages.empty()) << name << ": " << l.messages[0].second;
        expectTreeListed(l.zip, dir, name);
        EXPECT_EQ(l.zip.SFXOffset(), 0) << name;
        EXPECT_EQ(l.zip.ZipEnd(), fsx::fileSize64(dir.file(name))) << name;
    }
}

TEST(ZipListInterop, InfoZipCommentsAndDirectories) {
    if (!haveProgram("zip")) GTEST_SKIP() << "no zip";
    TempDir dir;
    const std::string src = writeTree(dir);
    const std::string zipPath = dir.file("c.zip");
    ASSERT_EQ(runCommand("cd '" + src + "' && zip -qr '" + zipPath + "' books readme.txt && " +
                         "printf 'archive note\\n' | zip -qz '" + zipPath + "'"),
              0);
    Listing l;
    l.list(zipPath);
    EXPECT_EQ(l.zip.ArchiveComment(), "archive note");
    EXPECT_EQ(l.zip.DirOnlyCount(), 1);  // books/
    EXPECT_EQ(l.names(), (Names{"books\\empty.txt", "readme.txt"}));
    EXPECT_EQ(l.seqNos, (std::vector<int>{2, 3}));
}

TEST(ZipListInterop, PythonZip64RecordsAndExtraFields) {
    if (!haveProgram("python3")) GTEST_SKIP() << "no python3";
    TempDir dir;
    // Lowering the module's limits makes zipfile write every ZIP64 structure for a small
    // archive: the end record and locator, and the extra field of each member.
    const std::string script = dir.write("z64.py", R"(import zipfile, sys
zipfile.ZIP64_LIMIT = 4
zipfile.ZIP_FILECOUNT_LIMIT = 1
with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:
    z.comment = b'sixty-four'
    i = zipfile.ZipInfo('maps/big.txt', (2020, 5, 17, 12, 30, 10))
    i.compress_type = zipfile.ZIP_DEFLATED
    z.writestr(i, b'hello world' * 100)
    z.writestr(zipfile.ZipInfo('b.txt', (2020, 5, 17, 12, 30, 10)), b'xyz')
)");
    const std::string path = dir.file("z64.zip");
    ASSERT_EQ(runCommand("python3 '" + script + "' '" + path + "'"), 0);
    Listing l;
    l.list(path);
    EXPECT_TRUE(l.messages.empty());
    ASSERT_EQ(l.zip.Count(), 2);
    EXPECT_EQ(l.zip.ArchiveComment(), "sixty-four");
    const ZipDirEntry& big = l.zip.Entries()[0];
    EXPECT_EQ(big.FileName, "maps\\big.txt");
    EXPECT_EQ(big.UncompressedSize, 0xFFFFFFFFu);
    EXPECT_EQ(big.UncompressedSize64, 1100u);
    EXPECT_LT(big.CompressedSize64, 1100u);
    EXPECT_EQ(big.CRC32, crcOf([] {
                  std::string s;
                  for (int i = 0; i < 100; ++i) s += "hello world";
                  return s;
              }()));
    EXPECT_EQ(l.zip.Entries()[1].LocalHeaderOffset, 0xFFFFFFFFu);  // as stored
    EXPECT_GT(l.zip.Entries()[1].LocalHeaderOffset64, big.CompressedSize64);
    EXPECT_LT(l.zip.Entries()[1].LocalHeaderOffset64, 0xFFFFFFFFu);
    EXPECT_EQ(l.zip.SFXOffset(), 0);

    // Behind a prefix the ZIP64 end record is still found.
    const std::string prefixed = dir.write("pre.zip", std::string(777, 'S') + readFile(path));
    Listing p;
    p.list(prefixed);
    EXPECT_EQ(p.ids(), Ids{10203});
    EXPECT_EQ(p.zip.Count(), 2);
    EXPECT_EQ(p.zip.SFXOffset(), 777);
}

TEST(ZipListInterop, MoreThan65535Members) {
    if (!haveProgram("python3")) GTEST_SKIP() << "no python3";
    TempDir dir;
    const std::string path = dir.file("many.zip");
    ASSERT_EQ(runCommand("python3 -c \"import zipfile\nwith zipfile.ZipFile('" + path +
                         "','w') as z:\n for i in range(66000): "
                         "z.writestr(zipfile.ZipInfo('d/f%05d' % i,(2020,1,1,0,0,0)), b'')\""),
              0);
    Listing l;
    l.zip.OnNewName = nullptr;
    l.list(path);
    EXPECT_TRUE(l.messages.empty());
    ASSERT_EQ(l.zip.Count(), 66000);
    EXPECT_EQ(l.zip.Entries()[65999].FileName, "d\\f65999");
}

TEST(ZipListInterop, CaseOfThePathDoesNotMatter) {
    TempDir dir;
    dir.write("Missions/MyMission.ZIP", build(threeMembers()));
    Listing l;
    const std::string asked = dir.file("missions/mymission.zip");
    l.list(asked);
    EXPECT_EQ(l.zip.Count(), 2);
    EXPECT_EQ(l.zip.ZipFileName(), asked);
}

}  // namespace
