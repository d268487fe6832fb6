#include <gtest/gtest.h>

#include "install/MissionFlags.h"
#include "platform/Errors.h"
#include "support/TestSupport.h"

namespace {

std::string flagsFor(uint8_t n, uint8_t game) {
    TempDir dir;
    const std::string path = dir.file("missflag.str");
    WriteMissionFlags(path, n, game);
    return readFile(path);
}

std::string skipLines(int from, int to) {
    std::string s;
    for (int k = from; k <= to; ++k) s += "miss_" + std::to_string(k) + ": \"skip\"\r\n";
    return s;
}

const char* kLast20 = "miss_20: \"no_briefing, no_loadout, end\"\r\n";

TEST(MissionFlags, ThiefTwoSkipsEveryMissionBeforeTheLast) {
    EXPECT_EQ(flagsFor(20, 2), skipLines(1, 19) + kLast20);
}

TEST(MissionFlags, ThiefOneStartsWithoutLoadout) {
    EXPECT_EQ(flagsFor(20, 1), "miss_1: \"no_loadout\"\r\n" + skipLines(2, 19) + kLast20);
}

TEST(MissionFlags, SmallNumbers) {
    EXPECT_EQ(flagsFor(2, 2), "miss_1: \"skip\"\r\nmiss_2: \"no_briefing, no_loadout, end\"\r\n");
    // Mission 1 itself: the first line still comes, then the end line for the same number.
    EXPECT_EQ(flagsFor(1, 1),
              "miss_1: \"no_loadout\"\r\nmiss_1: \"no_briefing, no_loadout, end\"\r\n");
    EXPECT_EQ(flagsFor(1, 2), "miss_1: \"skip\"\r\nmiss_1: \"no_briefing, no_loadout, end\"\r\n");
}

TEST(MissionFlags, HighestNumberAndReplacedContent) {
    TempDir dir;
    const std::string path = dir.write("missflag.str", std::string(20000, 'x'));
    WriteMissionFlags(path, 255, 2);
    const std::string text = readFile(path);
    EXPECT_EQ(text, skipLines(1, 254) + "miss_255: \"no_briefing, no_loadout, end\"\r\n");
}

TEST(MissionFlags, MissingFolderRaises) {
    TempDir dir;
    EXPECT_THROW(WriteMissionFlags(dir.path() + "strings/missflag.str", 20, 2), EInOutError);
}

}  // namespace
