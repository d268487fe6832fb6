#include <gtest/gtest.h>
#include <zlib.h>

#include <random>

#include "platform/Checksum.h"
#include "platform/Errors.h"
#include "support/TestSupport.h"

namespace {

TEST(HexText, NineCharactersLowerCase) {
    EXPECT_EQ(HexText(0), "$00000000");
    EXPECT_EQ(HexText(0x352441C2u), "$352441c2");
    EXPECT_EQ(HexText(0x0000ABCDu), "$0000abcd");
    EXPECT_EQ(HexText(0xFFFFFFFFu), "$ffffffff");
}

TEST(ChecksumText, KnownValues) {
    TempDir dir;
    EXPECT_EQ(ChecksumText(dir.write("abc.bin", "abc")), "$352441c2");
    EXPECT_EQ(ChecksumText(dir.write("check.bin", "123456789")), "$cbf43926");
    EXPECT_EQ(ChecksumText(dir.write("empty.bin", "")), "$00000000");
    EXPECT_EQ(ChecksumText(dir.file("missing.zip")), "$00000000");
    EXPECT_EQ(ChecksumText(dir.path()), "$00000000");  // a directory is not a file
    EXPECT_EQ(ChecksumText(""), "$00000000");
    // The name is found without regard to case.
    dir.write("Mission.ZIP", "abc");
    EXPECT_EQ(ChecksumText(dir.file("mission.zip")), "$352441c2");
}

TEST(ChecksumText, LargeFilesMatchZlibAndCksum) {
    TempDir dir;
    // Sizes around the read buffer (1 MiB) and not a multiple of anything.
    std::mt19937 rng(7);
    for (size_t size : {size_t{1} << 20, (size_t{1} << 20) + 1, size_t{3} * 1000 * 1000 + 17}) {
        std::string data(size, '\0');
        for (char& c : data) c = static_cast<char>(rng());
        std::string path = dir.write("data.bin", data);
        uLong expected =
            crc32(0L, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()));
        EXPECT_EQ(ChecksumText(path), HexText(static_cast<uint32_t>(expected))) << size;
    }
    // An outside tool agrees: Python's zlib over the same file.
    if (haveProgram("python3")) {
        std::string path = dir.file("data.bin");
        std::string out;
        ASSERT_EQ(runCommand("python3 -c \"import zlib,sys; print('$%08x' % "
                             "zlib.crc32(open(sys.argv[1],'rb').read()))\" '" +
                                 path + "'",
                             &out),
                  0);
        EXPECT_EQ(ChecksumText(path) + "\n", out);
    }
}

TEST(ChecksumText, ReadErrorAfterOpeningThrows) {
    // The process's own memory file opens, but reading at offset 0 fails.
    EXPECT_THROW(ChecksumText("/proc/self/mem"), EInOutError);
}

}  // namespace
