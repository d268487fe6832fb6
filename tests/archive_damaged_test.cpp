// Damaged and hostile archives kept as files under tests/data/damaged/ (fuzzer finds
// among them): each one is listed by the directory reader, tested by the extraction
// engine (which reads the directory itself) and read member by member into memory.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <set>
#include <string>

#include "archive/ZipArchiver.h"
#include "platform/FileSystem.h"
#include "support/TestSupport.h"

namespace {

const std::string kDamaged = std::string(TM_SOURCE_DIR) + "/tests/data/damaged/";

struct Expected {
    const char* file;
    int listed;    // Count after List
    int tested;    // SuccessCount of a test extraction by the engine
    int streamed;  // members ExtractToStream returns
};

const Expected kArchives[] = {
    // A stored member declaring 0xFFFFFFFE bytes in a 123-byte archive.
    {"declares-4g-stored.zip", 1, 0, 0},
    // An end record at the very end whose comment would run past the file.
    {"comment-past-end.zip", 1, 1, 1},
    // A ZIP64 offset that wraps around onto the first member's data.
    {"offset-wraps-onto-another-member.zip", 2, 1, 1},
    // Fuzzer finds: a ZIP64 directory offset far past the end, with a member of 4 GB
    // stored "between"; the same archive with its directory on disk 0xFFFFFFFF.
    {"zip64-directory-offset-past-the-end.zip", 1, 0, 0},
    {"zip64-central-directory-on-disk-4g.zip", 0, 0, 0},
};

int64_t peakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

TEST(DamagedArchives, EveryKeptArchiveListsTestsAndStreamsAsExpected) {
    if (!fsx::fileExists(std::string(TM_TEST_BIN_DIR) + "/UNZENG.DLL"))
        GTEST_SKIP() << "UNZENG.DLL not built";
    ScriptedPrompter prompts;
    std::set<std::string> covered;
    for (const Expected& x : kArchives) {
        SCOPED_TRACE(x.file);
        covered.insert(x.file);
        TZipArchiver zip;
        zip.Unattended = true;
        zip.SetDLLDirectory(TM_TEST_BIN_DIR);
        zip.SetZipFileName(kDamaged + x.file);
        EXPECT_EQ(zip.Count(), x.listed) << zip.Message;

        const int64_t before = peakKilobytes();
        int streamed = 0;
        const std::vector<ZipDirEntry> entries = zip.Entries();
        for (const ZipDirEntry& e : entries) {
            if (TZipStream* s = zip.ExtractToStream(e.FileName)) {
                EXPECT_EQ(uint64_t(s->Size()), e.UncompressedSize64);
                ++streamed;
            }
        }
        EXPECT_EQ(streamed, x.streamed);
        EXPECT_LT(peakKilobytes() - before, 64 * 1024) << "memory grew by more than 64 MB";

        zip.ExtrOptions = {ExtrOptsEnum::ExtrTest};
        zip.Extract();
        EXPECT_EQ(zip.SuccessCount, x.tested);
    }
    // A file added to the folder without a row here is not forgotten.
    for (const fsx::DirEntry& f : fsx::listDirectory(kDamaged, "*"))
        EXPECT_TRUE(covered.count(f.name)) << f.name << " has no expected result";
}

}  // namespace
