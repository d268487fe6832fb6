#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/TextDecode.h"
#include "platform/TextUtil.h"
#include "support/TestSupport.h"

namespace {

// One byte converted by iconv; "" when iconv does not know it.
std::string iconvByte(const std::string& from, unsigned char b, const TempDir& dir) {
    std::string in = dir.write("byte.bin", std::string(1, static_cast<char>(b)));
    std::string out;
    if (runCommand("iconv -f " + from + " -t UTF-8 '" + in + "' 2>/dev/null", &out) != 0) return {};
    return out;
}

TEST(TextOem, Cp437TableMatchesIconv) {
    if (!haveProgram("iconv")) GTEST_SKIP() << "iconv missing";
    TempDir dir;
    std::string all;
    for (int b = 0x80; b <= 0xFF; ++b) all += static_cast<char>(b);
    std::string expected;
    ASSERT_EQ(runCommand("iconv -f CP437 -t UTF-8 '" + dir.write("all.bin", all) + "'", &expected),
              0);
    EXPECT_EQ(text::oemToAnsi(all), expected);
    EXPECT_EQ(text::oemToAnsi("plain ASCII 123"), "plain ASCII 123");

    // Every OEM byte goes there and back.
    std::string everything;
    for (int b = 1; b <= 0xFF; ++b) everything += static_cast<char>(b);
    EXPECT_EQ(text::ansiToOem(text::oemToAnsi(everything)), everything);
}

TEST(TextOem, AnsiToOemUnmappedAndLegacyText) {
    EXPECT_EQ(text::ansiToOem("Gr\xC3\xBC\xC3\x9F"
                              "e"),
              "Gr\x81\xE1"
              "e");                                                  // Grüße
    EXPECT_EQ(text::ansiToOem("\xE2\x82\xAC x \xC5\x93"), "_ x _");  // € and œ
    EXPECT_EQ(text::ansiToOem("\xF0\x9F\x98\x80"), "_");             // one character
    // Not UTF-8: taken as Windows-1252 ("ä" is 0xE4 there, 0x84 in OEM).
    EXPECT_EQ(text::ansiToOem("M\xE4rz"), "M\x84rz");
}

// Titles and other mission texts, as players met them: each code page decodes to its
// letters, and old DOS umlauts only where the text is DOS text.
TEST(TextDecode, MissionTextsOfEveryPage) {
    const std::pair<std::string, std::string> cases[] = {
        {"Nocny z\xB3odziej z \xA3odzi", "Nocny złodziej z Łodzi"},  // 1250
        {"\xD2\xE5\xED\xFC \xE2\xEE\xF0\xE0 \xE8 \xF1\xF4\xE8\xED\xEA\xF1",
         "Тень вора и сфинкс"},                                  // 1251
        {"La c\xE1mara del ladr\xF3n", "La cámara del ladrón"},  // 1252
        {"\x93The Keeper\x92s Vault\x94 \x96 part 2", "“The Keeper’s Vault” – part 2"},
        {"Nocny złodziej z Łodzi, сфинкс", "Nocny złodziej z Łodzi, сфинкс"},  // UTF-8
        {"Der Schl\x81ssel zur H\x94hle", "Der Schlüssel zur Höhle"},          // DOS 850
        {"\x8Erger \x81"
         "ber Stra\xE1"
         "e",
         "Ärger über Straße"},
        // One accent in an English read-me: Windows-1252, not a DOS page.
        {"A mission for C\xE9line, tested by the usual crew.\r\nHave fun!\r\n",
         "A mission for Céline, tested by the usual crew.\r\nHave fun!\r\n"},
        // Box-drawing art of code page 437.
        {"\xC9\xCD\xCD\xCD\xCD\xCD\xCD\xBB\r\n\xBA Vault "
         "\xBA\r\n\xC8\xCD\xCD\xCD\xCD\xCD\xCD\xBC\r\n",
         "╔══════╗\r\n║ Vault ║\r\n╚══════╝\r\n"},
    };
    for (const auto& [bytes, expected] : cases) {
        SCOPED_TRACE(expected);
        EXPECT_EQ(text::decodeText(bytes), expected);
    }
}

TEST(TextDisplay, Utf8OrWindows1252) {
    EXPECT_EQ(text::display("Gr\xC3\xBC\xC3\x9F"
                            "e"),
              QString::fromUtf8("Grüße"));
    EXPECT_EQ(text::display("M\xE4rz \x80"), QString::fromUtf8("März €"));
    // Overlong forms, surrogates and cut sequences are not UTF-8.
    EXPECT_EQ(text::display("\xC0\xAF"), QString::fromUtf8("À¯"));
    EXPECT_EQ(text::display("\xED\xA0\x80"), QString::fromUtf8("í\u00A0€"));
    EXPECT_EQ(text::display("a\xC3"), QString::fromUtf8("aÃ"));
    EXPECT_EQ(text::display(std::string_view("a\0b", 3)).size(), 3);
    EXPECT_EQ(text::display("\x81").at(0).unicode(), 0x81);

    EXPECT_EQ(text::fromDisplay(QString::fromUtf8("Grüße €")),
              "Gr\xC3\xBC\xC3\x9F"
              "e \xE2\x82\xAC");
    EXPECT_EQ(text::fromDisplay(text::display("M\xE4rz")), "M\xC3\xA4rz");
}

TEST(TextDisplay, Windows1252MatchesIconv) {
    if (!haveProgram("iconv")) GTEST_SKIP() << "iconv missing";
    TempDir dir;
    for (int b = 0x80; b <= 0xFF; ++b) {
        std::string expected = iconvByte("CP1252", static_cast<unsigned char>(b), dir);
        if (expected.empty()) continue;  // unassigned in iconv's table
        // A lone high byte is never UTF-8, so it is shown as Windows-1252.
        std::string one(1, static_cast<char>(b));
        EXPECT_EQ(text::display(one), QString::fromUtf8(expected)) << std::hex << b;
    }
}

TEST(TextIntegers, StrictConversion) {
    struct Case {
        const char* text;
        bool ok;
        int32_t value;
    };
    const Case cases[] = {
        {"0", true, 0},
        {"00012", true, 12},
        {"-42", true, -42},
        {"+7", true, 7},
        {"2147483647", true, INT32_MAX},
        {"-2147483648", true, INT32_MIN},
        {"2147483648", false, 0},
        {"-2147483649", false, 0},
        {"99999999999999999999", false, 0},
        {"0x1F", true, 31},
        {"0X1f", true, 31},
        {"0x", false, 0},
        {"0X", false, 0},
        {"0x7FFFFFFF", true, INT32_MAX},
        {"0xFFFFFFFF", true, -1},
        {"0x00000000FF", true, 255},
        {"0x100000000", false, 0},
        {"0x-1", false, 0},
        {"-0x1F", false, 0},
        {"", false, 0},
        {"-", false, 0},
        {"+", false, 0},
        {" 1", false, 0},
        {"1 ", false, 0},
        {"1.5", false, 0},
        {"0x1G", false, 0},
        {"$1F", false, 0},
    };
    for (const Case& c : cases) {
        int32_t v = 12345;
        EXPECT_EQ(text::tryStrToInt(c.text, v), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(v, c.value) << c.text;
        }
    }
}

TEST(TextStrings, RemovalTrimAndCase) {
    EXPECT_EQ(text::removeFirst("ab", "xabyab"), "xyab");
    EXPECT_EQ(text::removeFirst("AB", "xabyab"), "xabyab");
    EXPECT_EQ(text::removeFirst("", "abc"), "abc");
    EXPECT_EQ(text::removeChars("a]b]c[", "]["), "abc");
    EXPECT_EQ(text::removeChars("", "x"), "");

    EXPECT_EQ(text::trim(" \t\r\n\x01 a b \x1F\x20"), "a b");
    EXPECT_EQ(text::trim("\xA0x\xA0"), "\xA0x\xA0");  // high bytes are text
    EXPECT_EQ(text::trim("   "), "");

    EXPECT_EQ(text::lowerAscii("AbZ\xC4@["), "abz\xC4@[");
    EXPECT_EQ(text::upperAscii("aBz\xE4`{"), "ABZ\xE4`{");
    EXPECT_TRUE(text::equalsNoCase("Mission Directories", "mission directories"));
    EXPECT_FALSE(text::equalsNoCase("\xC4", "\xE4"));
    EXPECT_FALSE(text::equalsNoCase("ab", "abc"));
    EXPECT_FALSE(text::equalsNoCase("@", "`"));

    for (const auto& [caption, plain] : std::vector<std::pair<std::string, std::string>>{
             {"Se&tup", "Setup"}, {"A && B", "A & B"}, {"&&&x&", "&x"}, {"", ""}})
        EXPECT_EQ(text::withoutKeyMark(caption), plain) << caption;
}

TEST(TextPaths, NamesExtensionsDelimiters) {
    EXPECT_EQ(text::extractFileName("C:\\games\\thief\\mission.zip"), "mission.zip");
    EXPECT_EQ(text::extractFileName("/home/u/fm/a b.ZIP"), "a b.ZIP");
    EXPECT_EQ(text::extractFileName("C:x.zip"), "x.zip");
    EXPECT_EQ(text::extractFileName("dir/"), "");
    EXPECT_EQ(text::extractFileName("plain"), "plain");

    EXPECT_EQ(text::extractFileExt("a/b.tar.gz"), ".gz");
    EXPECT_EQ(text::extractFileExt("a.d\\file"), "");
    EXPECT_EQ(text::extractFileExt("a.d/file"), "");
    EXPECT_EQ(text::extractFileExt("noext"), "");
    EXPECT_EQ(text::extractFileExt("end."), ".");

    const std::string d(1, fsx::kPathDelim);
    EXPECT_EQ(text::withTrailingDelim(""), "");
    EXPECT_EQ(text::withTrailingDelim("games"), "games" + d);
    EXPECT_EQ(text::withTrailingDelim("games" + d), "games" + d);
}

}  // namespace
