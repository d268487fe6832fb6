// The ZIP format's bounded cursor: a read that does not fit fails and stays failed, and a
// length from the file never wraps a bound.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "base/ZipFormat.h"

namespace {

using zipfmt::Cursor;

struct CursorCase {
    const char* what;
    size_t size;  // bytes in the buffer
    size_t skip;  // taken before the read
    size_t take;  // asked for by bytes()
    bool ok;      // the read fits
    size_t offsetAfter;
};

TEST(ZipFormatCursor, ReadsFitOrFailForGood) {
    const std::string data(64, 'x');
    const CursorCase cases[] = {
        {"whole buffer", 64, 0, 64, true, 64},
        {"up to the end", 64, 60, 4, true, 64},
        {"one past the end", 64, 61, 4, false, 61},
        {"empty buffer", 0, 0, 1, false, 0},
        {"length near SIZE_MAX does not wrap", 64, 8, SIZE_MAX - 4, false, 8},
        {"skip past the end", 64, 65, 0, false, 0},
    };
    for (const CursorCase& c : cases) {
        Cursor in(data.data(), c.size);
        in.skip(c.skip);
        const std::string_view got = in.bytes(c.take);
        EXPECT_EQ(in.ok(), c.ok) << c.what;
        EXPECT_EQ(got.size(), c.ok ? c.take : 0u) << c.what;
        EXPECT_EQ(in.offset(), c.offsetAfter) << c.what;
        // Sticky: after a failure even a read that would fit yields zero.
        if (!c.ok) {
            EXPECT_EQ(Cursor(in).u8(), 0u) << c.what;
        }
    }
}

TEST(ZipFormatCursor, ReadsLittleEndianAndWritesItBack) {
    std::string out;
    zipfmt::append16(out, 0x0102);
    zipfmt::append32(out, 0x03040506);
    zipfmt::append64(out, 0x0708090A0B0C0D0Eull);
    Cursor in(out);
    EXPECT_EQ(in.u16(), 0x0102u);
    EXPECT_EQ(in.u32(), 0x03040506u);
    EXPECT_EQ(in.u64(), 0x0708090A0B0C0D0Eull);
    EXPECT_TRUE(in.ok());
    EXPECT_EQ(in.u8(), 0u);
    EXPECT_FALSE(in.ok());
}

TEST(ZipFormatCentralHeader, Zip64FieldTooShortLeavesTheSaturatedValue) {
    zipfmt::CentralHeader h;
    h.uncompressedSize = 0xFFFFFFFFu;
    h.compressedSize = 0xFFFFFFFFu;
    std::string extra;
    zipfmt::append16(extra, zipfmt::kZip64ExtraId);
    zipfmt::append16(extra, 8);  // room for the first value only
    zipfmt::append64(extra, 5000000000ull);
    const zipfmt::WideValues wide = zipfmt::widenWithZip64(h, extra, true);
    EXPECT_EQ(wide.uncompressedSize, 5000000000ull);
    EXPECT_EQ(wide.compressedSize, 0xFFFFFFFFu);

    // A field whose announced size runs past the extra data is not read.
    extra.resize(extra.size() - 1);
    EXPECT_EQ(zipfmt::widenWithZip64(h, extra, true).uncompressedSize, 0xFFFFFFFFu);
}

}  // namespace
