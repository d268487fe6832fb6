// Mission archives of every format: archives made by 7-Zip and libarchive's own test
// archives listed and read; hostile archives extracted without harm.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <clocale>
#include <functional>
#include <map>

#include "archive/MissionArchive.h"
#include "archive/SevenZipHeader.h"
#include "platform/FileSystem.h"
#include "support/TestSupport.h"

namespace {

const std::string kFixtures = std::string(TM_SOURCE_DIR) + "/../shared/fixtures/archives/";

// A small mission tree on disk.
const std::vector<std::pair<std::string, std::string>> kMission = {
    {"miss20.mis", std::string(5000, 'm') + "SKYOBJVAR"},
    {"strings/titles.str", "title_20: \"Lost Vault\"\r\n"},
    {"intrface/english/page001.pcx", std::string(300, 'p')},
    {"Vault.txt", "Read me first.\r\n"},
};

std::string writeTree(const TempDir& dir, const std::string& folder,
                      const std::vector<std::pair<std::string, std::string>>& files) {
    for (const auto& [name, data] : files) dir.write(folder + "/" + name, data);
    return dir.file(folder);
}

// 7zz packs `folder` into `archive` with `switches`.
bool pack7z(const std::string& folder, const std::string& archive, const std::string& switches) {
    return runCommand("cd '" + folder + "' && 7zz a -bd -y " + switches + " '" + archive +
                      "' . >/dev/null 2>&1") == 0;
}

std::map<std::string, std::string> readAll(MissionArchive& archive) {
    std::set<std::string> names;
    for (const ArchiveMember& m : archive.members()) names.insert(m.name);
    std::map<std::string, std::string> out;
    archive.readMembers(names, 1 << 20, [&](const ArchiveMember& m, std::string& data) {
        out[m.name] = data;
        return true;
    });
    return out;
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

TEST(MissionArchive, ListsAndReadsEveryFormat) {
    if (!haveProgram("7zz")) GTEST_SKIP() << "7zz missing";
    TempDir dir;
    const std::string tree = writeTree(dir, "tree", kMission);
    struct Case {
        std::string file;  // made here (switches given) or a fixture
        std::string switches;
        ArchiveStatus status;
        std::string member;  // a member expected in the list
    };
    const Case cases[] = {
        {"solid.7z", "-mx5 -ms=on", ArchiveStatus::Ok, "strings\\titles.str"},
        {"plain.7z", "-mx1 -ms=off", ArchiveStatus::Ok, "intrface\\english\\page001.pcx"},
        {"ppmd.7z", "-m0=PPMd", ArchiveStatus::Ok, "Vault.txt"},
        {"bcj2.7z", "-m0=BCJ2 -m1=LZMA2 -m2=LZMA -m3=LZMA -mb0:1 -mb0s1:2 -mb0s2:3",
         ArchiveStatus::Ok, "miss20.mis"},
        {"locked.7z", "-mhe=on -pSecret", ArchiveStatus::Encrypted, ""},
        {"data-locked.7z", "-pSecret", ArchiveStatus::Encrypted, "miss20.mis"},
        {"7zip_lzma1_lzma2.7z", "", ArchiveStatus::Ok, "dir1\\file1"},
        {"7zip_bzip2.7z", "", ArchiveStatus::Ok, "file1"},
        {"7zip_delta_lzma2.7z", "", ArchiveStatus::Ok, "file1"},
        {"7zip_bcj2_lzma2_1.7z", "", ArchiveStatus::Ok, "x86exe"},
        {"7zip_encryption_header.7z", "", ArchiveStatus::Encrypted, ""},
        {"7zip_malformed.7z", "", ArchiveStatus::Damaged, ""},
        {"rar5_multiple_files_solid.rar", "", ArchiveStatus::Ok, "test3.bin"},
        {"rar5_unicode.rar", "", ArchiveStatus::Ok, "\xf0\x9f\x91\x8b\xf0\x9f\x8c\x8e.txt"},
        {"rar_windows.rar", "", ArchiveStatus::Ok, "testdir\\test.txt"},
        {"rar5_encrypted_filenames.rar", "", ArchiveStatus::Encrypted, ""},
        {"rar_invalid1.rar", "", ArchiveStatus::Damaged, ""},
        {"missing.7z", "", ArchiveStatus::NotFound, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        std::string path = dir.file(c.file);
        if (!c.switches.empty()) {
            ASSERT_TRUE(pack7z(tree, path, c.switches));
        } else if (c.status != ArchiveStatus::NotFound) {
            path = kFixtures + c.file;
            if (!fsx::fileExists(path)) continue;
        }
        std::unique_ptr<MissionArchive> archive = openMissionArchive(path);
        EXPECT_EQ(archive->status(), c.status);
        if (c.member.empty()) continue;
        std::vector<std::string> names;
        for (const ArchiveMember& m : archive->members()) names.push_back(m.name);
        EXPECT_NE(std::find(names.begin(), names.end(), c.member), names.end());
        if (c.status != ArchiveStatus::Ok) continue;
        std::string data;
        EXPECT_TRUE(archive->readMember(c.member, 1 << 20, data));
    }
}

// The same mission as ZIP (Info-ZIP and Python), solid 7z and 7z made by libarchive: the
// same member names, sizes and contents.
TEST(MissionArchive, SameMissionInEveryFormatReadsTheSame) {
    if (!haveProgram("7zz") || !haveProgram("zip")) GTEST_SKIP() << "7zz or zip missing";
    TempDir dir;
    const std::string tree = writeTree(dir, "tree", kMission);
    ASSERT_EQ(runCommand("cd '" + tree + "' && zip -qr '" + dir.file("info.zip") + "' ."), 0);
    ASSERT_TRUE(makeZip(dir.file("python.zip"), {kMission.begin(), kMission.end()}));
    ASSERT_TRUE(pack7z(tree, dir.file("solid.7z"), "-mx9 -ms=on"));
    ASSERT_EQ(
        runCommand("cd '" + tree + "' && bsdtar --format 7zip -cf '" + dir.file("bsd.7z") + "' *"),
        0);
    std::map<std::string, std::string> expected;
    for (const auto& [name, data] : kMission) {
        std::string member = name;
        std::replace(member.begin(), member.end(), '/', '\\');
        expected[member] = data;
    }
    for (const char* file : {"info.zip", "python.zip", "solid.7z", "bsd.7z"}) {
        SCOPED_TRACE(file);
        std::unique_ptr<MissionArchive> archive = openMissionArchive(dir.file(file));
        ASSERT_EQ(archive->status(), ArchiveStatus::Ok);
        std::map<std::string, uint64_t> sizes;
        for (const ArchiveMember& m : archive->members()) {
            sizes[m.name] = m.size;
            EXPECT_NE(m.dosTime, 0u);
        }
        EXPECT_EQ(sizes.size(), expected.size());
        if (std::string(file).find(".zip") != std::string::npos) continue;  // engine-less here
        EXPECT_EQ(readAll(*archive), expected);
        for (const auto& [name, data] : expected) EXPECT_EQ(sizes[name], data.size());
    }
}

// Members beyond the cap are not read; memory follows the data, not the headers.
TEST(MissionArchive, ReadCapSkipsLargeMembers) {
    if (!haveProgram("7zz")) GTEST_SKIP() << "7zz missing";
    TempDir dir;
    const std::string tree =
        writeTree(dir, "tree", {{"big.bin", std::string(300000, 'b')}, {"small.txt", "tiny"}});
    ASSERT_TRUE(pack7z(tree, dir.file("a.7z"), "-ms=on"));
    std::unique_ptr<MissionArchive> archive = openMissionArchive(dir.file("a.7z"));
    std::string data;
    EXPECT_FALSE(archive->readMember("big.bin", 100000, data));
    EXPECT_TRUE(archive->readMember("small.txt", 100000, data));
    EXPECT_EQ(data, "tiny");
}

// Hostile archives: nothing lands outside the target, no link is created or followed, and
// damage ends with a clear status.
TEST(MissionArchive, HostileArchivesExtractSafely) {
    if (!haveProgram("7zz") || !haveProgram("bsdtar")) GTEST_SKIP() << "7zz or bsdtar missing";
    TempDir dir;
    const std::string tree = writeTree(dir, "tree", {{"a.txt", "AAAA"}, {"b.txt", "BBBB"}});
    ASSERT_EQ(::symlink("/etc/passwd", (tree + "/link").c_str()), 0);
    auto bsd7z = [&](const std::string& name, const std::string& rename) {
        const std::string out = dir.file(name);
        runCommand("cd '" + tree + "' && bsdtar --format 7zip -P -cf '" + out + "' -s '" + rename +
                   "' a.txt b.txt link");
        return out;
    };
    // A plain 7z whose first member's data is cut short: its header still declares it all.
    ASSERT_TRUE(pack7z(tree, dir.file("plain.7z"), "-mx1 -ms=off -mhc=off -x!link"));
    ASSERT_EQ(runCommand("/usr/bin/env python3 - '" + dir.file("plain.7z") + "' '" +
                         dir.file("short.7z") +
                         "' <<'EOF'\n"
                         "import struct, sys, zlib\n"
                         "d = bytearray(open(sys.argv[1], 'rb').read())\n"
                         "off, size, crc = struct.unpack('<QQI', d[12:32])\n"
                         "d = d[:32] + d[34:]\n"
                         "d[12:20] = struct.pack('<Q', off - 2)\n"
                         "d[8:12] = struct.pack('<I', zlib.crc32(bytes(d[12:32])))\n"
                         "open(sys.argv[2], 'wb').write(d)\nEOF\n"),
              0);
    std::string damaged = readFile(dir.file("plain.7z"));
    damaged[damaged.size() - 20] ^= 0x55;  // the header at the end
    writeFile(dir.file("badheader.7z"), damaged);

    struct Case {
        std::string archive;
        ArchiveStatus status;
        std::vector<std::string> present;  // relative to the target, after extraction
    };
    const Case cases[] = {
        {bsd7z("dotdot.7z", ",^,../,"), ArchiveStatus::UnsafeName, {}},
        {bsd7z("deep.7z", ",^,x/../../,"), ArchiveStatus::UnsafeName, {}},
        {bsd7z("absolute.7z", ",^," + dir.path() + "abs_,"), ArchiveStatus::UnsafeName, {}},
        {bsd7z("drive.7z", ",^,C:/,"), ArchiveStatus::UnsafeName, {}},
        {bsd7z("links.7z", ",^,d/,"), ArchiveStatus::Ok, {"d/a.txt", "d/b.txt"}},
        {dir.file("short.7z"), ArchiveStatus::Damaged, {}},
        {dir.file("badheader.7z"), ArchiveStatus::Damaged, {}},
        {kFixtures + "rar.rar", ArchiveStatus::Ok, {"test.txt", "testdir/test.txt"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.archive);
        if (c.archive.rfind(kFixtures, 0) == 0 && !fsx::fileExists(c.archive)) continue;
        TempDir target;
        std::unique_ptr<MissionArchive> archive = openMissionArchive(c.archive);
        std::vector<std::string> names;
        for (const ArchiveMember& m : archive->members()) names.push_back(m.name);
        for (const char* extra : {"..\\a.txt", "link", "testlink"}) names.push_back(extra);
        ExtractSink sink;
        const ExtractResult result = archive->extract(names, target.path(), sink);
        const ArchiveStatus status =
            archive->status() != ArchiveStatus::Ok ? archive->status() : result.status;
        EXPECT_EQ(status, c.status) << result.detail;
        for (const std::string& file : c.present) EXPECT_TRUE(fsx::fileExists(target.file(file)));
        for (const char* never : {"link", "d/link", "testlink", "../a.txt", "../abs_a.txt"})
            EXPECT_FALSE(exists(target.file(never))) << never;
        EXPECT_FALSE(exists(dir.path() + "abs_a.txt"));
    }

    // A link already in the target is never written through, and in other case neither.
    TempDir target, outside;
    ASSERT_EQ(::symlink(outside.path().c_str(), target.file("D").c_str()), 0);
    std::unique_ptr<MissionArchive> archive = openMissionArchive(dir.file("links.7z"));
    ExtractSink sink;
    EXPECT_EQ(archive->extract({"d\\a.txt"}, target.path(), sink).status,
              ArchiveStatus::UnsafeName);
    EXPECT_FALSE(exists(outside.file("a.txt")));
}

// Extraction follows the folders on disk in any case, reports progress and stops on cancel.
TEST(MissionArchive, ExtractsIntoExistingFoldersWithProgressAndCancel) {
    if (!haveProgram("7zz")) GTEST_SKIP() << "7zz missing";
    TempDir dir;
    const std::string tree = writeTree(dir, "tree", kMission);
    ASSERT_TRUE(pack7z(tree, dir.file("m.7z"), "-ms=on"));
    std::unique_ptr<MissionArchive> archive = openMissionArchive(dir.file("m.7z"));
    std::vector<std::string> names;
    for (const ArchiveMember& m : archive->members()) names.push_back(m.name);

    struct Sink : ExtractSink {
        int members = 0, cancelAfter = 1000;
        uint64_t done = 0, total = 0;
        void member(const std::string&, uint64_t) override { ++members; }
        void progress(uint64_t d, uint64_t t) override { done = d, total = t; }
        bool cancelled() override { return members > cancelAfter; }
    };
    TempDir game;
    game.write("STRINGS/other.str", "keep");
    writeFile(game.file("vault.TXT"), "old");
    Sink sink;
    const ExtractResult result = archive->extract(names, game.path(), sink);
    EXPECT_EQ(result.status, ArchiveStatus::Ok);
    EXPECT_EQ(result.extracted, 4);
    EXPECT_EQ(sink.done, sink.total);
    EXPECT_EQ(readFile(game.file("STRINGS/titles.str")), kMission[1].second);
    EXPECT_EQ(readFile(game.file("vault.TXT")), kMission[3].second);
    EXPECT_FALSE(exists(game.file("strings")));
    EXPECT_FALSE(exists(game.file("Vault.txt")));

    TempDir second;
    Sink cancelling;
    cancelling.cancelAfter = 1;
    EXPECT_EQ(archive->extract(names, second.path(), cancelling).status, ArchiveStatus::Cancelled);
}

// Runs `body` in a child process; its exit status (0 when `body` holds), or -1 when it
// died. `peakMb` gets the child's peak resident memory.
int inChild(const std::function<bool()>& body, long* peakMb = nullptr) {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(body() ? 0 : 1);
    int status = 0;
    struct rusage usage {};
    if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid) return -1;
    if (peakMb != nullptr) *peakMb = usage.ru_maxrss / 1024;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Under a locale that is not UTF-8 (LC_ALL=C), names outside ASCII come out as they are
// stored, and their members extract under those names.
TEST(MissionArchive, NamesAreDecodedWhateverTheLocale) {
    if (!haveProgram("7zz")) GTEST_SKIP() << "7zz missing";
    TempDir dir;
    const std::string tree = writeTree(
        dir, "tree", {{"Gr\xc3\xbc\xc3\x9f\x65.txt", "hallo"}, {"\xe6\x97\xa5/\xc3\x9f.str", "x"}});
    ASSERT_TRUE(pack7z(tree, dir.file("u.7z"), ""));
    // A name made undecodable: "cd.txt" begins with half a UTF-16 surrogate pair.
    dir.write("two/ab.txt", "A");
    dir.write("two/cd.txt", "C");
    ASSERT_TRUE(pack7z(dir.file("two"), dir.file("two.7z"), "-mhc=off"));
    ASSERT_EQ(
        runCommand("/usr/bin/env python3 - '" + dir.file("two.7z") + "' '" + dir.file("bad.7z") +
                   "' <<'EOF'\n"
                   "import struct, sys, zlib\n"
                   "d = bytearray(open(sys.argv[1], 'rb').read())\n"
                   "off, size = struct.unpack('<QQ', d[12:28])\n"
                   "h = 32 + off\n"
                   "i = d.index('cd.txt'.encode('utf-16-le'), h)\n"
                   "d[i:i + 2] = b'\\x00\\xd8'\n"
                   "d[28:32] = struct.pack('<I', zlib.crc32(bytes(d[h:h + size])))\n"
                   "d[8:12] = struct.pack('<I', zlib.crc32(bytes(d[12:32])))\n"
                   "open(sys.argv[2], 'wb').write(d)\nEOF\n"),
        0);
    struct Case {
        std::string archive;
        std::string member;  // a name expected in the list and on disk after extraction
        size_t count;        // members listed, 0 when not checked
    };
    const Case cases[] = {
        {dir.file("u.7z"), "Gr\xc3\xbc\xc3\x9f\x65.txt", 2},
        {dir.file("u.7z"), "\xe6\x97\xa5\\\xc3\x9f.str", 2},
        {dir.file("bad.7z"), "ab.txt", 1},  // the undecodable name is left out
        {kFixtures + "rar5_unicode.rar", "\xf0\x9f\x91\x8b\xf0\x9f\x8c\x8e.txt", 0},
        {kFixtures + "rar_unicode.rar", "", 0},  // Japanese names in folders
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.archive + " " + c.member);
        if (!fsx::fileExists(c.archive)) continue;
        TempDir target;
        const int status = inChild([&] {
            ::setenv("LC_ALL", "C", 1);
            ::setenv("LANG", "C", 1);
            std::setlocale(LC_ALL, "");
            std::unique_ptr<MissionArchive> archive = openMissionArchive(c.archive);
            std::vector<std::string> names;
            for (const ArchiveMember& m : archive->members()) {
                if (m.name.empty() || m.name.find('?') != std::string::npos) return false;
                names.push_back(m.name);
            }
            ExtractSink sink;
            const bool found =
                c.member.empty() || std::find(names.begin(), names.end(), c.member) != names.end();
            return archive->status() == ArchiveStatus::Ok && !names.empty() && found &&
                   (c.count == 0 || names.size() == c.count) &&
                   archive->extract(names, target.path(), sink).status == ArchiveStatus::Ok;
        });
        EXPECT_EQ(status, 0);
        std::string onDisk = c.member;
        std::replace(onDisk.begin(), onDisk.end(), '\\', '/');
        EXPECT_TRUE(onDisk.empty() || fsx::fileExists(target.file(onDisk)));
    }
}

// RAR volume sets (RAR 4 in both namings, RAR 5), stored members split across volumes as
// RAR writes them: read and extracted as one archive from the first volume; the later
// ones are known.
TEST(MissionArchive, VolumeSetsReadAsOneArchive) {
    TempDir dir;
    const std::string tree = writeTree(dir, "tree",
                                       {{"miss20.mis", std::string(5000, 'm') + "SKYOBJVAR"},
                                        {"Vault.txt", std::string(1600, 'r')}});
    // RAR 4 in both namings, RAR 5 (which knows only the newer one).
    const std::pair<const char*, const char*> sets[] = {
        {"x.part1.rar", ""}, {"y.rar", ""}, {"z.part1.rar", " 5"}};
    for (const auto& [first, format] : sets) {
        ASSERT_EQ(
            runCommand(std::string("python3 '") + TM_SOURCE_DIR + "/tests/data/make_rar.py' '" +
                       dir.file(first) + "' '" + tree + "' 2000" + format),
            0);
    }
    writeFile(dir.file("single.part2.rar"), readFile(kFixtures + "rar.rar"));
    const std::string readme(1600, 'r');
    for (const auto& [first, format] : sets) {
        SCOPED_TRACE(first);
        const std::vector<std::string> volumes = archiveVolumes(dir.file(first));
        EXPECT_EQ(volumes.size(), 4u);
        std::unique_ptr<MissionArchive> archive = openMissionArchive(dir.file(first));
        ASSERT_EQ(archive->status(), ArchiveStatus::Ok) << archive->detail();
        ASSERT_EQ(archive->members().size(), 2u);
        std::string data;
        EXPECT_TRUE(archive->readMember("Vault.txt", 1 << 20, data));
        EXPECT_EQ(data, readme);
        TempDir target;
        ExtractSink sink;
        EXPECT_EQ(archive->extract({"miss20.mis", "Vault.txt"}, target.path(), sink).extracted, 2);
        EXPECT_EQ(readFile(target.file("Vault.txt")), readme);
    }
    const std::pair<const char*, bool> later[] = {
        {"x.part1.rar", false}, {"x.part2.rar", true}, {"X.PART4.RAR", true},
        {"y.rar", false},       {"y.r00", false},      {"single.part2.rar", false},
        {"z.part1.rar", false}, {"z.part3.rar", true}};
    ASSERT_EQ(::rename(dir.file("x.part4.rar").c_str(), dir.file("X.PART4.RAR").c_str()), 0);
    for (const auto& [name, isLater] : later)
        EXPECT_EQ(isLaterVolume(dir.path(), name), isLater) << name;
    EXPECT_EQ(archiveVolumes(dir.file("x.part1.rar")).size(), 4u);  // found in other case
}

// A .7z whose decoder would take more memory than allowed is refused before anything is
// unpacked (a 300 MB member under a declared 1.5 GB dictionary): listing, reading and
// extracting stay small, in a child process measured from outside.
TEST(MissionArchive, LargeDecoderMemoryIsRefused) {
    if (!haveProgram("7zz")) GTEST_SKIP() << "7zz missing";
    TempDir dir;
    ASSERT_EQ(runCommand("head -c 300M /dev/zero > '" + dir.file("zero.bin") + "'"), 0);
    ASSERT_EQ(runCommand("cd '" + dir.path() +
                         "' && 7zz a -bd -mx1 -m0=LZMA:d=1m -mhc=off plain.7z zero.bin >/dev/null"),
              0);
    ::unlink(dir.file("zero.bin").c_str());
    // The LZMA coder's dictionary (id 03 01 01, five property bytes) declared as 1536 MB.
    ASSERT_EQ(
        runCommand("/usr/bin/env python3 - '" + dir.file("plain.7z") + "' '" + dir.file("huge.7z") +
                   "' <<'EOF'\n"
                   "import struct, sys, zlib\n"
                   "d = bytearray(open(sys.argv[1], 'rb').read())\n"
                   "off, size = struct.unpack('<QQ', d[12:28])\n"
                   "h = 32 + off\n"
                   "at = d.index(b'\\x03\\x01\\x01\\x05', h) + 5\n"
                   "d[at:at + 4] = struct.pack('<I', 1536 << 20)\n"
                   "d[28:32] = struct.pack('<I', zlib.crc32(bytes(d[h:h + size])))\n"
                   "d[8:12] = struct.pack('<I', zlib.crc32(bytes(d[12:32])))\n"
                   "open(sys.argv[2], 'wb').write(d)\nEOF\n"),
        0);
    long peak = 0;
    TempDir target;
    const int status = inChild(
        [&] {
            std::unique_ptr<MissionArchive> archive = openMissionArchive(dir.file("huge.7z"));
            std::string data;
            ExtractSink sink;
            return archive->status() == ArchiveStatus::Unsupported &&
                   archive->detail().find("1536 MB") != std::string::npos &&
                   !archive->readMember("zero.bin", uint64_t(1) << 30, data) &&
                   archive->extract({"zero.bin"}, target.path(), sink).status ==
                       ArchiveStatus::Unsupported;
        },
        &peak);
    EXPECT_EQ(status, 0);
    EXPECT_LT(peak, 200);
    EXPECT_FALSE(fsx::fileExists(target.file("zero.bin")));
    // The same archive as 7-Zip made it reads.
    std::unique_ptr<MissionArchive> plain = openMissionArchive(dir.file("plain.7z"));
    EXPECT_EQ(plain->status(), ArchiveStatus::Ok);
    // Header checks of the archive as bytes: cut short or emptied, never a crash.
    const std::string bytes = readFile(dir.file("huge.7z"));
    EXPECT_EQ(sevenzip::decoderDemandOfBytes(bytes, kMaxDecoderMemory).verdict,
              sevenzip::Demand::TooLarge);
    for (size_t cut : {size_t(0), size_t(31), size_t(40), bytes.size() - 3})
        EXPECT_EQ(sevenzip::decoderDemandOfBytes(bytes.substr(0, cut), kMaxDecoderMemory).verdict,
                  sevenzip::Demand::Unreadable);
}

}  // namespace
