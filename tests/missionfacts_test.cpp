// What a mission says of itself: fm.ini, the read-me's author and date lines, the members'
// dates, and all of it read from a real archive.

#include <gtest/gtest.h>
#include <utime.h>

#include <algorithm>
#include <ctime>
#include <memory>

#include "archive/MissionArchive.h"
#include "archive/ZipArchiver.h"
#include "inspect/MissionFacts.h"
#include "inspect/MissionPictures.h"
#include "platform/FileSystem.h"
#include "support/TestSupport.h"

namespace {

using Tags = std::vector<std::string>;

TEST(MissionFacts, FmIniGivesItsFields) {
    struct Case {
        std::string ini, title, author, date;
        Tags tags;
        std::string description, infoFile;
    };
    const Case cases[] = {
        {"[FM]\r\nNiceName=The Lost Vault\r\nReleaseDate=3EC5EC00\r\n"
         "Tags=author:Alice, genre:heist, length:short, Dark\r\n"
         "Descr=\"Steal it.\\nThen run.\\tNow.\"\r\nInfoFile=docs/Vault.txt\r\n",
         "The Lost Vault", "Alice", "2003-05-17",
         Tags{"author:Alice", "genre:heist", "length:short", "misc:Dark"},
         "Steal it.\nThen run.\tNow.", "docs\\Vault.txt"},
        {"\xEF\xBB\xBFnicename = \"Quoted Name\"\nreleasedate=1053158400\nunknown=x\n; Tags=no\n"
         "garbage line\nNiceName=Second",
         "Quoted Name", "", "2003-05-17", Tags{}, "", ""},
        {"ReleaseDate=0x3EC5EC00\rTAGS= Author : Bob ,GENRE:mansion,, :x, genre:\r", "", "Bob",
         "2003-05-17", Tags{"author:Bob", "genre:mansion", "misc:x"}, "", ""},
        {"ReleaseDate=17 May 2003\nTags=author:Alice, author:Bob\nDescr=a\\\\b \\\"c\\\" \\q", "",
         "Alice, Bob", "2003-05-17", Tags{"author:Alice", "author:Bob"}, "a\\b \"c\" \\q", ""},
        {"ReleaseDate=20030517", "", "", "2003-05-17", Tags{}, "", ""},
        {"ReleaseDate=2004", "", "", "2004", Tags{}, "", ""},
        {"ReleaseDate=soon\nReleaseDate=2003-01-01", "", "", "", Tags{}, "", ""},
        {"ReleaseDate=0x10", "", "", "", Tags{}, "", ""},
        {"", "", "", "", Tags{}, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ini);
        const MissionFacts f = factsFromFmIni(c.ini);
        EXPECT_EQ(f.title, c.title);
        EXPECT_EQ(f.author, c.author);
        EXPECT_EQ(f.releaseDate, c.date);
        EXPECT_EQ(f.tags, c.tags);
        EXPECT_EQ(f.description, c.description);
        EXPECT_EQ(infoFileFromFmIni(c.ini), c.infoFile);
    }
}

TEST(MissionFacts, ReadmeNamesTheAuthor) {
    const std::string deep = std::string(60 * 2, '\n');
    const std::pair<std::string, std::string> cases[] = {
        {"The Vault\nAuthor: Alice Smith\n", "Alice Smith"},
        {"  Author(s) : Bob & Carol <bc@example.com>", "Bob & Carol"},
        {"*** Autor: Jürgen Müller (jm@web.de) ***", "Jürgen Müller"},
        {"Auteur : Jean-Luc Picard.", "Jean-Luc Picard"},
        {"Title: The Vault\nAuthor:\n   Dave\n", "Dave"},
        {"Author: Kim   Date: 2003", "Kim"},
        {"Author: Lee - lee@example.com - www.example.com", "Lee"},
        {"Created by Eve for the 2003 contest", "Eve"},
        {"Made by gnartsch", "gnartsch"},
        {"Mission by Frank, 2004", "Frank"},
        {"Designed by Grace Hopper", "Grace Hopper"},
        {"Erstellt von Hans Wurst", "Hans Wurst"},
        {"Créé par Amélie Poulain", "Amélie Poulain"},
        {"The Lost Vault by Heidi\r\n\r\nStory...", "Heidi"},
        {"Return by Night\r\nby Ivan\r\n", "Ivan"},
        {"By the way, this mission is hard.", ""},
        {"Welcome!\nYou open doors by picking locks.", ""},
        {"Author: This mission was built over three long years, and I hope you like it.", ""},
        {"Author: unknown", ""},
        {"Thanks to the author of the textures: Bob", ""},
        {deep + "Author: Too Late", ""},
        {"", ""},
    };
    for (const auto& [readme, author] : cases) {
        SCOPED_TRACE(readme);
        EXPECT_EQ(authorFromReadme(readme), author);
    }
}

TEST(MissionFacts, ReadmeGivesTheTitle) {
    const std::pair<std::string, std::string> cases[] = {
        {"Arboretum\n\n   a fan mission for System Shock 2\n   by Thomas Green\n", "Arboretum"},
        {"### Proov (\"test\" in english) ###\n\na fan mission for System Shock 2\n",
         "Proov (\"test\" in english)"},
        {"\n\n*** Ponterbee Station ***\nby Christine Schneider\n", "Ponterbee Station"},
        {"The Lost Vault by Heidi, a fan mission for Thief 2\n", "The Lost Vault"},
        {"Readme\nTitle: The Vault\nAuthor: Alice\n", "The Vault"},
        {"Mission name:\n  Sector 9\n", "Sector 9"},
        {"Titel: Die Gruft\n", "Die Gruft"},
        {"Name: Alice\nA fan mission\n", ""},
        {"README for my mission\nby Bob\n", ""},
        {"System Shock 2\nA fan mission by Bob\n", ""},
        {"Welcome to my first mission, which took me three long years to build for you.\n"
         "by Bob\n",
         ""},
        {"Some Station\n\nStory\n\nIt was dark.\n\nYou wake up.\n", ""},
        {"", ""},
    };
    for (const auto& [readme, title] : cases) {
        SCOPED_TRACE(readme);
        EXPECT_EQ(titleFromReadme(readme), title);
    }
}

TEST(MissionFacts, ReadmeGivesTheReleaseDate) {
    const std::pair<std::string, std::string> cases[] = {
        {"Date: 2003-05-17", "2003-05-17"},
        {"Title: X\r\nRelease date: 17.05.2003\r\n", "2003-05-17"},
        {"Released: 05/17/2003", "2003-05-17"},
        {"Date: 04/05/2003", "2003-05-04"},
        {"Released: May 17, 2003", "2003-05-17"},
        {"== Date: 17th May 2003 ==", "2003-05-17"},
        {"Date: May 2003", "2003-05"},
        {"Release date:\n  Sep. 2009", "2009-09"},
        {"Datum: 17. Mai 2003", "2003-05-17"},
        {"Veröffentlicht: März 2004", "2004-03"},
        {"Date de sortie : 1er août 2005", "2005-08-01"},
        {"Sortie: décembre 2006", "2006-12"},
        {"Version 1.1 (June 2007)", "2007-06"},
        {"Date: 2003", "2003"},
        {"Date: 17.05.1985", ""},
        {"Date: 1985", ""},
        {"Date: 31.02.2003", ""},
        {"Last updated on 2003-05-17", ""},
        {"May 2003", ""},
    };
    for (const auto& [readme, date] : cases) {
        SCOPED_TRACE(readme);
        EXPECT_EQ(dateFromReadme(readme), date);
    }
}

uint32_t dos(int y, int m, int d, int seconds = 0) {
    return uint32_t((y - 1980) << 9 | m << 5 | d) << 16 | uint32_t(seconds / 2);
}

TEST(MissionFacts, MembersGiveTheNewestValidDate) {
    const std::pair<std::vector<uint32_t>, std::string> cases[] = {
        {{dos(2001, 3, 4), dos(2003, 5, 17, 10), dos(2003, 5, 17), dos(1999, 1, 1)}, "2003-05-17"},
        {{dos(2004, 13, 1), dos(2004, 2, 30), dos(2004, 1, 0), dos(2002, 2, 2)}, "2002-02-02"},
        {{dos(1990, 1, 1), dos(2035, 1, 1), 0}, ""},
        {{}, ""},
    };
    for (const auto& [times, date] : cases) {
        std::vector<ArchiveMember> members;
        for (uint32_t t : times) members.push_back({std::to_string(members.size()), 1, t});
        EXPECT_EQ(dateFromMembers(members), date);
    }
}

// An archive that counts what is read from it.
class CountingArchive : public MissionArchive {
  public:
    explicit CountingArchive(std::unique_ptr<MissionArchive> inner)
        : MissionArchive(inner->path()), inner_(std::move(inner)) {
        status_ = inner_->status();
        members_ = inner_->members();
    }
    bool sequential() const override { return inner_->sequential(); }
    ArchiveStatus readMembers(const std::set<std::string>& names, uint64_t cap,
                              const Take& take) override {
        ++passes;
        asked.insert(names.begin(), names.end());
        return inner_->readMembers(names, cap, take);
    }
    ExtractResult extract(const std::vector<std::string>& names, const std::string& target,
                          ExtractSink& sink) override {
        return inner_->extract(names, target, sink);
    }
    int passes = 0;
    std::set<std::string> asked;

  private:
    std::unique_ptr<MissionArchive> inner_;
};

TEST(MissionFacts, ArchiveGivesWhatItSaysOfItself) {
    using Members = std::vector<std::pair<std::string, std::string>>;
    const std::string mis = std::string(4000, 'm');
    struct Case {
        std::string file;
        Members members;
        std::string title, author, date;
        Tags tags;
        std::string description;
    };
    const Case cases[] = {
        // fm.ini wins over the read-me.
        {"Vault.zip",
         {{"miss20.mis", mis},
          {"fm.ini",
           "NiceName=Lost Vault\r\nReleaseDate=3EC5EC00\r\nTags=author:Alice, genre:heist\r\n"
           "Descr=Steal.\\nRun."},
          {"readme.txt", "Author: Somebody Else\r\nDate: 2001-01-01\r\n"},
          {"a.txt", "Author: A"},
          {"b.txt", "Author: B"},
          {"c.txt", "Author: C"}},
         "Lost Vault",
         "Alice",
         "2003-05-17",
         Tags{"author:Alice", "genre:heist"},
         "Steal.\nRun."},
        // No fm.ini: the read-me named as the archive, in Windows-1252, beats other texts.
        {"Keep.zip",
         {{"miss20.mis", mis},
          {"notes.txt", "Author: Wrong\r\nDate: 2001-01-01\r\n"},
          {"Keep.txt",
           "Die Festung\r\nErstellt von J\xFCrgen Wei\xDF\r\nDatum: 3. M\xE4rz 2004\r\n"}},
         "",
         "J\xC3\xBCrgen Wei\xC3\x9F",
         "2004-03-03",
         Tags{},
         ""},
        // A packing folder, FM.INI in upper case, and the RTF read-me it names first.
        {"Packed.zip",
         {{"Packed/miss20.mis", mis},
          {"Packed/FM.INI", "NiceName=Packed\nInfoFile=Info.rtf\n"},
          {"Packed/readme.txt", "Author: Readme Person\nDate: 2001-01-01\n"},
          {"Packed/Info.rtf", "{\\rtf1\\ansi Mission by Zed\\par Released: June 2007\\par}"}},
         "Packed",
         "Zed",
         "2007-06",
         Tags{},
         ""},
        // Nothing said: the members' date.
        {"Plain.zip",
         {{"miss20.mis", mis}, {"readme.txt", "Have fun.\n"}},
         "",
         "",
         "2020-05-17",
         Tags{},
         ""},
    };
    if (!fsx::fileExists(std::string(TM_TEST_BIN_DIR) + "/UNZENG.DLL"))
        GTEST_SKIP() << "extraction engine not built";
    TZipArchiver like;
    like.Unattended = true;
    like.SetDLLDirectory(TM_TEST_BIN_DIR);
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        ASSERT_TRUE(makeZip(dir.file(c.file), c.members));
        CountingArchive archive(openMissionArchive(dir.file(c.file), like, ""));
        ASSERT_EQ(archive.status(), ArchiveStatus::Ok);
        const MissionFacts f = findMissionFacts(archive);
        EXPECT_EQ(f.title, c.title);
        EXPECT_EQ(f.author, c.author);
        EXPECT_EQ(f.releaseDate, c.date);
        EXPECT_EQ(f.tags, c.tags);
        EXPECT_EQ(f.description, c.description);
        // One pass over fm.ini and at most three read-mes; never the mission itself.
        EXPECT_EQ(archive.passes, 1);
        EXPECT_LE(archive.asked.size(), 4u);
        for (const std::string& name : archive.asked)
            EXPECT_EQ(name.find(".mis"), std::string::npos);
    }
    // A damaged archive gives nothing and throws nothing.
    writeFile(dir.file("Broken.zip"), "PK\x03\x04 not really a zip");
    auto broken = openMissionArchive(dir.file("Broken.zip"), like, "");
    const MissionFacts f = findMissionFacts(*broken);
    EXPECT_TRUE(f.title.empty() && f.author.empty() && f.releaseDate.empty());
}

// Noon of 1 January of `year`, local time.
std::time_t newYear(int year) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mday = 1;
    t.tm_hour = 12;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

// The pictures of a mission from its archive, its folder, its saves archive (members dated
// 2020) and the game directory, in the order the strip shows them.
TEST(MissionPictures, SourcesGiveTheirPicturesInOrder) {
    using Members = std::vector<std::pair<std::string, std::string>>;
    using Files = std::vector<std::pair<std::string, int>>;  // file, year written
    struct Case {
        const char* label;
        Members archive, saves;
        Files folder, gameDir;
        int installedYear;
        std::vector<std::string> expected;  // "name origin"
    };
    const auto bytes = [](size_t n) { return std::string(n, 'p'); };
    Members packed = {{"Packed/miss20.mis", "m"}};
    std::vector<std::string> packedShown;
    for (char c = 'a'; c <= 'j'; ++c) {
        packed.push_back({std::string("Packed/Shots/") + c + ".JPG", bytes(1500)});
        if (packedShown.size() < kMaxShippedPictures)
            packedShown.push_back(std::string("Shots/") + c + ".JPG 0");
    }
    const Case cases[] = {
        {"every source",
         {{"miss20.mis", "m"},
          {"extras/art.png", bytes(2000)},
          {"title.png", bytes(2000)},
          {"Screens/view.jpeg", bytes(2000)},
          {"fam/stone/full.gif", bytes(2000)},
          {"obj/txt16/crate.png", bytes(2000)},
          {"intrface/page001.png", bytes(2000)},
          {"extras/thing.bmp", bytes(2000)},
          {"icon.png", bytes(100)}},
         {{"game0000.sav", "s"},
          {"screenshots\\dump000.png", bytes(3000)},
          {"screenshots\\dump001.png", bytes(3001)},
          {"older\\2020-01-01 10.00.00\\screenshots\\dump002.png", bytes(3002)}},
         {{"dump000.png", 2021}, {"notes.txt", 2021}},
         {{"dump005.png", 2021}, {"dump006.png", 2023}},
         2022,
         {"Screens/view.jpeg 0", "title.png 0", "extras/art.png 0", "dump006.png 3",
          "dump000.png 1", "dump001.png 2"}},
        {"packed in a folder, at most eight shipped", packed, {}, {}, {}, 2000, packedShown},
    };
    if (!fsx::fileExists(std::string(TM_TEST_BIN_DIR) + "/UNZENG.DLL"))
        GTEST_SKIP() << "extraction engine not built";
    TZipArchiver like;
    like.Unattended = true;
    like.SetDLLDirectory(TM_TEST_BIN_DIR);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        const auto place = [&](const std::string& folder, const Files& files) {
            for (const auto& [name, year] : files) {
                const std::string path = dir.write(folder + "/screenshots/" + name, bytes(3000));
                const utimbuf times{newYear(year), newYear(year)};
                ASSERT_EQ(utime(path.c_str(), &times), 0);
            }
        };
        place("Folder", c.folder);
        place("Game", c.gameDir);
        ASSERT_TRUE(makeZip(dir.file("Mission.zip"), c.archive));
        CountingArchive archive(openMissionArchive(dir.file("Mission.zip"), like, ""));
        std::unique_ptr<CountingArchive> saves;
        if (!c.saves.empty()) {
            ASSERT_TRUE(makeZip(dir.file("Mission_saves.zip"), c.saves));
            saves = std::make_unique<CountingArchive>(
                openMissionArchive(dir.file("Mission_saves.zip"), like, ""));
        }
        PictureSources sources;
        sources.archive = &archive;
        sources.missionFolder = c.folder.empty() ? "" : dir.file("Folder");
        sources.saves = saves.get();
        sources.gameDir = c.gameDir.empty() ? "" : dir.file("Game");
        sources.gameDirSince = fsx::unixToDos(newYear(c.installedYear));
        std::vector<std::string> shown;
        for (const MissionPicture& p : findMissionPictures(sources)) {
            shown.push_back(p.name + " " + std::to_string(static_cast<int>(p.origin)));
            EXPECT_GE(p.bytes.size(), 1500u) << p.name;
        }
        EXPECT_EQ(shown, c.expected);
        // One pass over each archive, for the pictures alone; never a kept older version.
        EXPECT_EQ(archive.passes, 1);
        EXPECT_EQ(archive.asked.size(),
                  static_cast<size_t>(std::count_if(
                      c.expected.begin(), c.expected.end(),
                      [](const std::string& e) { return e.substr(e.size() - 2) == " 0"; })));
        if (saves) {
            EXPECT_EQ(saves->passes, 1);
            EXPECT_EQ(saves->asked, (std::set<std::string>{"screenshots\\dump001.png"}));
        }
    }
}

}  // namespace
