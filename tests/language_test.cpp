#include <gtest/gtest.h>

#include <QString>
#include <set>
#include <string>
#include <vector>

#include "app/AppState.h"
#include "state/LanguageTable.h"
#include "support/TestSupport.h"

namespace {

// Opens the app files of a temporary directory and closes them again.
class LanguageTable : public ::testing::Test {
  protected:
    void open() { openAppFiles(dir.path()); }
    void TearDown() override {
        setLanguageApplyHook(nullptr);
        closeAppFiles();
        app().languageSlots = {};
    }
    void writeDat(const std::string& content) { dir.write("Tallowmere.dat", content); }
    void chooseLanguage(const std::string& n) {
        dir.write("Tallowmere.ini", "[options]\nlanguage=" + n + "\n");
    }

    TempDir dir;
};

// A small language file: English 1..80 as "en<n>", German 1..80 as "de<n>" except 40.
std::string twoLanguages() {
    std::string s = "[languages]\n1=English\n2=German\n[English]\n";
    for (int n = 1; n <= 80; ++n) s += std::to_string(n) + "=en" + std::to_string(n) + "\n";
    s += "[German]\n";
    for (int n = 1; n <= 80; ++n)
        if (n != 40) s += std::to_string(n) + "=de" + std::to_string(n) + "\n";
    return s;
}

TEST_F(LanguageTable, ChosenLanguageWithPerSlotEnglishFallback) {
    writeDat(twoLanguages());
    chooseLanguage("2");
    open();
    LoadLanguageTable();
    EXPECT_EQ(slot(1), "de1");
    EXPECT_EQ(slot(39), "de39");
    EXPECT_EQ(slot(40), "en40");
    EXPECT_EQ(slot(80), "de80");
    EXPECT_EQ(slot(0), "");
    EXPECT_EQ(slot(81), "");
}

TEST_F(LanguageTable, UnknownOrMissingChoiceMeansEnglish) {
    writeDat(twoLanguages());
    chooseLanguage("7");
    open();
    LoadLanguageTable();
    for (int n = 1; n <= 80; ++n) EXPECT_EQ(slot(n), "en" + std::to_string(n));

    dir.write("Tallowmere.ini", "[options]\n");
    LoadLanguageTable();
    EXPECT_EQ(slot(40), "en40");
    EXPECT_EQ(slot(1), "en1");
}

TEST_F(LanguageTable, NamedSectionMissingFromFileFallsBackPerSlot) {
    // "languages" names a section the file does not have: every slot falls back.
    writeDat("[languages]\n1=English\n2=Klingon\n[English]\n3=three\n");
    chooseLanguage("2");
    open();
    LoadLanguageTable();
    EXPECT_EQ(slot(3), "three");
    EXPECT_EQ(slot(4), "");  // neither has it
}

TEST_F(LanguageTable, NoLanguageFileLeavesEverySlotEmpty) {
    open();
    app().languageSlots[6] = "stale";
    LoadLanguageTable();
    for (int n = 1; n <= 80; ++n) EXPECT_EQ(slot(n), "") << n;
}

TEST_F(LanguageTable, ReloadReplacesTheTableAndRunsTheApplyHookAfterwards) {
    writeDat(twoLanguages());
    open();
    std::vector<std::string> seen;
    setLanguageApplyHook([&] { seen.push_back(slot(11)); });
    LoadLanguageTable();
    chooseLanguage("2");
    LoadLanguageTable();
    EXPECT_EQ(seen, (std::vector<std::string>{"en11", "de11"}));
}

// --- The shipped language file ------------------------------------------------------

class ShippedLanguageFile : public ::testing::Test {
  protected:
    void SetUp() override {
        dir.write("Tallowmere.dat", readFile(std::string(TM_SOURCE_DIR) + "/data/Tallowmere.dat"));
        openAppFiles(dir.path());
    }
    void TearDown() override {
        closeAppFiles();
        app().languageSlots = {};
    }
    void load(int language) {
        dir.write("Tallowmere.ini", "[options]\nlanguage=" + std::to_string(language) + "\n");
        LoadLanguageTable();
    }
    TempDir dir;
};

const std::set<int> kUnused = {4, 5, 13, 48, 49, 50};

TEST_F(ShippedLanguageFile, ListsFourLanguagesAndIsUtf8) {
    const IniFile& f = *app().languageFile;
    EXPECT_EQ(f.ReadString("languages", "1", "@"), "English");
    EXPECT_EQ(f.ReadString("languages", "2", "@"), "German");
    EXPECT_EQ(f.ReadString("languages", "3", "@"), "French");
    EXPECT_EQ(f.ReadString("languages", "4", "@"), "Spanish");
    EXPECT_EQ(f.ReadString("languages", "5", "@"), "@");
    const std::string raw = readFile(dir.file("Tallowmere.dat"));
    const QString decoded = QString::fromUtf8(raw.data(), static_cast<qsizetype>(raw.size()));
    EXPECT_FALSE(decoded.contains(QChar::ReplacementCharacter));
}

// Every text English has, and every text of the original table and the library, is in every
// language.
TEST_F(ShippedLanguageFile, EveryLanguageFillsEveryUsedSlotByItself) {
    const char* sections[] = {"English", "German", "French", "Spanish"};
    const auto text = [](const char* section, int n) {
        return app().languageFile->ReadString(section, std::to_string(n), "");
    };
    for (const char* section : sections) {
        for (int n = 1; n <= kLanguageSlotCount; ++n) {
            const bool used = (n <= 80 && !kUnused.count(n)) ||
                              (n >= libraryslot::kFinishedOn && n <= libraryslot::kNotFinished) ||
                              !text("English", n).empty();
            if (used) {
                EXPECT_FALSE(text(section, n).empty()) << section << " slot " << n;
            }
        }
    }
}

TEST_F(ShippedLanguageFile, ButtonCaptionsCarryDistinctAccelerators) {
    for (int language = 1; language <= 4; ++language) {
        load(language);
        std::set<char> keys = {'d'};  // "&DromEd"
        for (int n : {6, 8, 11, 14, 72, 140}) {
            const std::string& caption = slot(n);
            const size_t amp = caption.find('&');
            ASSERT_NE(amp, std::string::npos) << language << " slot " << n;
            ASSERT_LT(amp + 1, caption.size());
            const QString key = QString::fromUtf8(caption.substr(amp + 1, 2)).left(1).toLower();
            EXPECT_TRUE(keys.insert(key.toLatin1().at(0)).second) << language << " slot " << n;
        }
        // Slots shown only as window captions or column titles carry none.
        for (int n : {31, 73, 75, 76, 77, 78, 79, 80})
            EXPECT_EQ(slot(n).find('&'), std::string::npos) << language << " slot " << n;
    }
}

TEST_F(ShippedLanguageFile, PiecedMessagesJoinIntoCleanSentences) {
    for (int language = 1; language <= 4; ++language) {
        load(language);
        const std::vector<std::string> joined = {
            slot(62) + "thief.exe" + slot(63) + " 1 " + slot(64),
            slot(60) + " " + "2" + " " + slot(61),
            slot(1) + " " + slot(74) + " " + "snd/ambient.mp3" + "...",
            slot(1) + " " + slot(18) + " " + "miss20.mis" + "...",
            slot(28) + " " + slot(19) + " " + "strings/goals.str" + "...",
            slot(23) + ":" + " " + slot(18) + " " + "game0001.sav" + "...",
            slot(2) + "\n" + slot(3),
            slot(34) + "\n" + slot(35),
        };
        for (const std::string& s : joined) {
            EXPECT_EQ(s.find("  "), std::string::npos) << language << ": " << s;
            EXPECT_EQ(s.find(" ."), std::string::npos) << language << ": " << s;
            EXPECT_NE(s.front(), ' ') << language << ": " << s;
        }
        // The quoted values keep their inner blanks.
        EXPECT_EQ(slot(62).back(), ' ') << language;
        EXPECT_EQ(slot(63).front(), ' ') << language;
        // The operation texts do not end in a colon where one is appended.
        EXPECT_NE(slot(23).back(), ':') << language;
    }
}

}  // namespace
