// Message table, formatting, reporting and the password prompts of the archive component;
// the member stream and the simple setters.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "archive/ZipArchiver.h"
#include "archive/ZipMessages.h"
#include "support/TestSupport.h"

namespace {

TEST(ZipMessages, TextsAreExact) {
    EXPECT_EQ(ZipMessageText(10104), "Error - passwords do NOT match\nPassword ignored");
    EXPECT_EQ(ZipMessageText(10105), "Copying: ");
    EXPECT_EQ(ZipMessageText(10152), "&Ok");
    EXPECT_EQ(ZipMessageText(10155), "Enter Password ");
    EXPECT_EQ(ZipMessageText(10156), "Confirm Password ");
    EXPECT_EQ(ZipMessageText(10202), "Unknown error in List() function\n");
    EXPECT_EQ(ZipMessageText(10503),
              "Error - your UNZENG.DLL can not use streams, please update to version >= 1.60");
    EXPECT_EQ(ZipMessageText(11024), "UnKnown error in function ReadSpan() or WriteSpan()\n");
    EXPECT_EQ(ZipMessageText(11035), "\nin drive: %s");
    EXPECT_EQ(ZipMessageText(11047), "Central directory");
}

TEST(ZipMessages, EveryIdOfTheRangeIsPresent) {
    const std::vector<std::pair<int, int>> ranges = {
        {10101, 10105}, {10140, 10143}, {10150, 10156}, {10180, 10185}, {10201, 10204},
        {10301, 10304}, {10401, 10401}, {10501, 10503}, {10601, 10604}, {10701, 10704},
        {10801, 10803}, {10901, 10903}, {11001, 11047}};
    int count = 0;
    for (auto [from, to] : ranges)
        for (int id = from; id <= to; ++id, ++count) {
            EXPECT_TRUE(ZipMessageExists(id)) << id;
            EXPECT_FALSE(ZipMessageText(id).empty()) << id;
        }
    EXPECT_EQ(count, 95);
    for (int id : {0, 10100, 10106, 10205, 11048, -1}) EXPECT_FALSE(ZipMessageExists(id)) << id;
}

TEST(ZipMessages, MissingIdFallsBackToANotice) {
    const std::string fallback =
        "The message table is probably not linked to the executable\nMissing String ID is: ";
    EXPECT_EQ(ZipMessageText(12345), fallback + "12345");
    EXPECT_EQ(ZipMessageTextOr(12345, "default"), "default");
    EXPECT_EQ(ZipMessageTextOr(10154, "default"), "Password");

    EZipArchiver e(12345, std::string("%s arg"));
    EXPECT_EQ(std::string(e.what()), fallback + "12345");
    EXPECT_EQ(e.MessageId, 12345);
    EXPECT_TRUE(e.ShowToUser);

    // A table without 10203: the warning shows the notice.
    SetZipMessageText(10203, std::nullopt);
    ScriptedPrompter prompts;
    TZipArchiver zip;
    zip.ReportMessage(10203);
    EXPECT_EQ(zip.Message, fallback + "10203");
    EXPECT_EQ(zip.ErrCode, 10203);
    ResetZipMessages();
    EXPECT_EQ(ZipMessageText(10203), "Warning - Error in zip structure!");

    // A translation replaces a text.
    SetZipMessageText(10154, std::string("Kennwort"));
    EXPECT_EQ(ZipMessageText(10154), "Kennwort");
    ResetZipMessages();
}

TEST(ZipMessages, ExceptionsFormatTheirArgumentSafely) {
    EZipArchiver plain(11013, false);
    EXPECT_EQ(std::string(plain.what()), "Error while reading a central header");
    EXPECT_FALSE(plain.ShowToUser);
    EXPECT_EQ(plain.MessageId, 11013);

    EXPECT_EQ(std::string(EZipArchiver(11038, 3).what()),
              "This is the 3th disk in a backup set,\nplease insert the last disk of this set");
    EXPECT_EQ(std::string(EZipArchiver(10304, int64_t{-7}).what()),
              "Error -7 occurred during Auto SFX creation.");
    // Conversion characters inside the argument are not interpreted.
    EXPECT_EQ(std::string(EZipArchiver(11036, std::string("/tmp/%s%d%n%.1d.zip")).what()),
              "'/tmp/%s%d%n%.1d.zip' is not a valid Zip archive");
    EXPECT_EQ(std::string(EZipArchiver(11004, "C:\\").what()), "Drive C:\\ is NOT defined");
    // An integer for a %s and a string for a %d both come out as text.
    EXPECT_EQ(std::string(EZipArchiver(11003, 5).what()), "Not a valid drive: 5");
    EXPECT_EQ(std::string(EZipArchiver(11040, "x").what()),
              "ATTENTION: This is previous disk no x!!!\nAre you sure you want to overwrite the "
              "contents");
}

TEST(ZipMessages, Formatter) {
    EXPECT_EQ(ZipFormat(ZipMessageText(11034), {"2", "5"}), "Please insert disk volume 2 of 5");
    EXPECT_EQ(ZipFormat("%d and %d", {"1"}), "1 and ");
    EXPECT_EQ(ZipFormat("100%% %q %", {}), "100% %q %");
    EXPECT_EQ(ZipFormat("[%5d|%-4d|%03d|%.3d|%x|%X]", {"42", "7", "9", "-5", "255", "255"}),
              "[   42|7   |009|-005|ff|FF]");
    EXPECT_EQ(ZipFormat("%.2s|%4s", {"abcdef", "ab"}), "ab|  ab");
    EXPECT_EQ(ZipFormat("%d", {"not a number"}), "not a number");
    EXPECT_EQ(ZipFormat("%99999999999999999999d", {"1"}).size() < 2000, true);
}

struct Reporting : ::testing::Test {
    ScriptedPrompter prompts;
    TZipArchiver zip;
    std::vector<std::pair<int, std::string>> events;
    void SetUp() override {
        zip.OnMessage = [this](TZipArchiver* sender, int code, const std::string& text) {
            EXPECT_EQ(sender, &zip);
            events.emplace_back(code, text);
        };
    }
};

TEST_F(Reporting, ReportMessageShowsStoresAndNotifies) {
    zip.ReportMessage(10202, "disk on fire");
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].text, "Unknown error in List() function\ndisk on fire");
    EXPECT_EQ(prompts.messages[0].caption, "");
    EXPECT_EQ(prompts.messages[0].buttons, PromptButtons::Ok);
    EXPECT_EQ(zip.ErrCode, 10202);
    EXPECT_EQ(zip.Message, "Unknown error in List() function\ndisk on fire");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0], std::make_pair(0, zip.Message));

    zip.Unattended = true;
    zip.ReportMessage(10204);
    EXPECT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(zip.ErrCode, 10204);
    EXPECT_EQ(events.size(), 2u);
}

TEST_F(Reporting, ReportExceptionHonoursTheShowFlag) {
    zip.ReportException(EZipArchiver(11007, false));
    EXPECT_TRUE(prompts.messages.empty());
    EXPECT_EQ(zip.ErrCode, 11007);
    EXPECT_EQ(zip.Message, "User canceled operation");
    ASSERT_EQ(events.size(), 1u);

    zip.ReportException(EZipArchiver(11036, std::string("a.zip")));
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].text, "'a.zip' is not a valid Zip archive");
    EXPECT_EQ(zip.ErrCode, 11036);

    zip.Unattended = true;
    zip.ReportException(EZipArchiver(11001, true));
    EXPECT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(zip.Message, "Input file does not exist");
    EXPECT_EQ(events.size(), 3u);
}

TEST_F(Reporting, AddPasswordIsAskedTwice) {
    prompts.passwords = {{true, "Secret"}, {true, "Secret"}};
    EXPECT_EQ(zip.AskAddPassword(), "Secret");
    ASSERT_EQ(prompts.passwordPrompts.size(), 2u);
    EXPECT_EQ(prompts.passwordPrompts[0].title, "Password");
    EXPECT_EQ(prompts.passwordPrompts[0].prompt, "Enter Password ");
    EXPECT_EQ(prompts.passwordPrompts[1].title, "Password");
    EXPECT_EQ(prompts.passwordPrompts[1].prompt, "Confirm Password ");
    EXPECT_TRUE(prompts.messages.empty());
    EXPECT_TRUE(zip.Password.empty());  // the property is left alone
}

TEST_F(Reporting, AddPasswordsThatDifferAreIgnored) {
    prompts.passwords = {{true, "Secret"}, {true, "secret"}};
    EXPECT_EQ(zip.AskAddPassword(), "");
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].text, "Error - passwords do NOT match\nPassword ignored");
    EXPECT_EQ(zip.ErrCode, 10104);
}

TEST_F(Reporting, CancelledOrEmptyAddPasswordAsksNoMore) {
    prompts.passwords = {{false, "typed"}};
    EXPECT_EQ(zip.AskAddPassword(), "");
    EXPECT_EQ(prompts.passwordPrompts.size(), 1u);
    EXPECT_TRUE(prompts.messages.empty());
    EXPECT_TRUE(events.empty());

    prompts.passwords = {{true, ""}};
    EXPECT_EQ(zip.AskAddPassword(), "");
    EXPECT_EQ(prompts.passwordPrompts.size(), 2u);

    prompts.passwords = {{true, "a"}, {false, "a"}};  // confirmation cancelled
    EXPECT_EQ(zip.AskAddPassword(), "");
    EXPECT_EQ(prompts.passwordPrompts.size(), 4u);
    EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(Reporting, UnattendedPasswordRequestsReportInstead) {
    zip.Unattended = true;
    EXPECT_EQ(zip.AskAddPassword(), "");
    EXPECT_EQ(zip.ErrCode, 10150);
    EXPECT_EQ(zip.Message, "Error - no add password given");
    EXPECT_EQ(zip.AskExtractPassword(), "");
    EXPECT_EQ(zip.ErrCode, 10151);
    EXPECT_EQ(zip.Message, "Error - no extract password given");
    EXPECT_TRUE(prompts.passwordPrompts.empty());
    EXPECT_TRUE(prompts.messages.empty());
    EXPECT_EQ(events.size(), 2u);
}

TEST_F(Reporting, ExtractPasswordIsAskedOnce) {
    prompts.passwords = {{true, "pw"}, {false, "ignored"}};
    EXPECT_EQ(zip.AskExtractPassword(), "pw");
    EXPECT_EQ(zip.AskExtractPassword(), "");
    ASSERT_EQ(prompts.passwordPrompts.size(), 2u);
    EXPECT_EQ(prompts.passwordPrompts[0].prompt, "Enter Password ");
    EXPECT_TRUE(prompts.messages.empty());
}

TEST(ZipArchiverProperties, Setters) {
    TZipArchiver zip;
    zip.SetDLLDirectory("C:\\engines\\");
    EXPECT_EQ(zip.DLLDirectory(), "C:\\engines");
    zip.SetDLLDirectory("/opt/engines/");
    EXPECT_EQ(zip.DLLDirectory(), "/opt/engines");
    zip.SetDLLDirectory("/opt/engines");
    EXPECT_EQ(zip.DLLDirectory(), "/opt/engines");
    zip.SetDLLDirectory("/");
    EXPECT_EQ(zip.DLLDirectory(), "/");
    EXPECT_EQ(zip.PasswordReqCount(), 1);
    zip.SetPasswordReqCount(20);
    EXPECT_EQ(zip.PasswordReqCount(), 15);
    zip.SetPasswordReqCount(3);
    EXPECT_EQ(zip.PasswordReqCount(), 3);
    EXPECT_EQ(zip.Count(), 0);
    EXPECT_EQ(zip.AddCompLevel, 9);
    EXPECT_EQ(zip.CodePage, CodePageOpts::cpAuto);
    EXPECT_EQ(zip.MemberStream().Size(), 0);
}

TEST(ZipStream, OutsideBlockOwnedBlockAndReading) {
    TZipStream s;
    EXPECT_EQ(s.Size(), 0);
    char block[] = "abcdefgh";
    s.SetPointer(block, 8);
    EXPECT_EQ(s.Memory(), block);  // no copy
    char buf[16] = {};
    EXPECT_EQ(s.Read(buf, 3), 3);
    EXPECT_EQ(std::string(buf, 3), "abc");
    EXPECT_EQ(s.Position(), 3);
    EXPECT_EQ(s.Read(buf, 100), 5);
    EXPECT_EQ(s.Read(buf, 1), 0);
    s.SetPosition(-4);
    EXPECT_EQ(s.Position(), 0);
    s.SetPosition(50);
    EXPECT_EQ(s.Position(), 8);

    // Growing leaves the outside block untouched and keeps the content.
    s.SetSize(12);
    EXPECT_NE(s.Memory(), block);
    EXPECT_EQ(std::string(s.Memory(), 8), "abcdefgh");
    s.Memory()[0] = 'X';
    EXPECT_EQ(block[0], 'a');
    EXPECT_EQ(s.Size(), 12);
    s.SetSize(2);
    EXPECT_EQ(s.Position(), 2);
    s.Clear();
    EXPECT_EQ(s.Size(), 0);
    EXPECT_EQ(s.Position(), 0);
    EXPECT_EQ(s.Read(buf, 1), 0);
    EXPECT_TRUE(s.Lines().empty());
}

TEST(ZipStream, LinesEndAtEveryKindOfBreak) {
    TZipStream s;
    const std::string text = std::string("one\r\ntwo\nthree\rfour\n\nsix\0seven\r\n", 32);
    s.SetSize(static_cast<int64_t>(text.size()));
    std::memcpy(s.Memory(), text.data(), text.size());
    EXPECT_EQ(s.Lines(), (std::vector<std::string>{"one", "two", "three", "four", "",
                                                   std::string("six\0seven", 9)}));
    const std::string noBreak = "last";
    s.SetPointer(const_cast<char*>(noBreak.data()), 4);
    EXPECT_EQ(s.Lines(), std::vector<std::string>{"last"});
    const std::string breakOnly = "\n";
    s.SetPointer(const_cast<char*>(breakOnly.data()), 1);
    EXPECT_EQ(s.Lines(), std::vector<std::string>{""});
}

}  // namespace
