// Read-mes as authors write them: each code page, byte-order marks, RTF, HTML and GLML.

#include <gtest/gtest.h>
#include <iconv.h>

#include "app/AppState.h"
#include "app/Operations.h"
#include "archive/ZipArchiver.h"
#include "inspect/ContentAnalysis.h"
#include "inspect/ReadmeText.h"
#include "platform/FileSystem.h"
#include "support/TestSupport.h"

namespace {

// UTF-8 text in the code page `page`.
std::string encoded(const std::string& utf8, const char* page) {
    iconv_t cd = iconv_open(page, "UTF-8");
    std::string in = utf8, out(utf8.size() * 4 + 4, '\0');
    char* src = in.data();
    char* dst = out.data();
    size_t left = in.size(), room = out.size();
    iconv(cd, &src, &left, &dst, &room);
    iconv_close(cd);
    out.resize(out.size() - room);
    return out;
}

const std::string kPolish =
    "Misja: Zamek w górach. Złodziej musi się dostać do środka, ukraść księgę i uciec "
    "zanim straż się zorientuje. Żółć, gęś, jaźń, źrebię. Powodzenia!\r\n";
const std::string kCzech =
    "Mise: Příliš žluťoučký kůň úpěl ďábelské ódy. Zloděj se musí dostat do hradu, ukrást "
    "knihu a utéct dřív, než si stráže všimnou. Hodně štěstí!\r\n";
const std::string kRussian =
    "Миссия: Съешь же ещё этих мягких французских булок, да выпей чаю. Вор должен "
    "проникнуть в замок, украсть книгу и уйти незамеченным. Удачи!\r\n";
const std::string kGerman =
    "Mission: Die Burg im Gebirge. Der Dieb muss hineingelangen, das Buch stehlen und "
    "fliehen, bevor die Wachen es bemerken. Viel Glück und schöne Grüße!\r\n";

TEST(Readme, EveryEncodingAndFormatShowsItsText) {
    struct Case {
        std::string file, bytes;
        std::string expected;  // UTF-8, or a part of it for rich text
        bool html;
    };
    const Case cases[] = {
        {"a.txt", kGerman, kGerman, false},
        {"a.txt", "\xEF\xBB\xBF" + kGerman, kGerman, false},
        {"a.txt", encoded(kGerman, "WINDOWS-1252"), kGerman, false},
        {"a.txt", encoded(kPolish, "WINDOWS-1250"), kPolish, false},
        {"a.txt", encoded(kCzech, "WINDOWS-1250"), kCzech, false},
        {"a.txt", encoded(kRussian, "WINDOWS-1251"), kRussian, false},
        {"a.txt", "\xFF\xFE" + encoded(kRussian, "UTF-16LE"), kRussian, false},
        {"a.txt", "\xFE\xFF" + encoded(kPolish, "UTF-16BE"), kPolish, false},
        {"a.rtf",
         "{\\rtf1\\ansi\\ansicpg1252{\\fonttbl{\\f0 Arial;}}{\\*\\generator Pad;}"
         "Caf\\'e9\\par \\uc1\\u1078?\\u-3913?x\\par\\{end\\}}",
         "Café\nж\xEF\x82\xB7x\n{end}", false},
        {"a.rtf", "{\\rtf1\\ansi\\ansicpg1251 \\'cc\\'e8\\'f1\\'f1\\'e8\\'ff\\line ok}",
         "Миссия\nok", false},
        {"a.htm",
         "<html><body><h1>Vault</h1><img src=\"http://example.invalid/x.png\">"
         "<script>alert(1)</script><p>S\xC3\xBC\x64</p></body></html>",
         "<h1>Vault</h1>x.png<p>Süd</p>", true},
        {"a.glml",
         "[GLTITLE]Lost Vault[/GLTITLE]\r\n[GLSUBTITLE]By Me[/GLSUBTITLE]Line one[GLNL]two",
         "<h1>Lost Vault</h1> <h2>By Me</h2>Line one<br>two", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file + ": " + c.expected.substr(0, 30));
        const ReadmeText readme = readmeFromBytes(c.file, c.bytes);
        EXPECT_EQ(readme.html, c.html);
        if (c.file == "a.rtf" || c.file == "a.txt")
            EXPECT_EQ(readme.text, c.expected);
        else
            EXPECT_NE(readme.text.find(c.expected), std::string::npos) << readme.text;
        EXPECT_EQ(readme.text.find("alert"), std::string::npos);
        EXPECT_EQ(readme.text.find("<img"), std::string::npos);
    }
}

std::string repeat(const std::string& s, size_t n) {
    std::string out;
    for (size_t i = 0; i < n; ++i) out += s;
    return out;
}

// Damaged and hostile read-mes never throw, and come out small enough for the memo to
// show at once: rich text only within its bounds, plain text cut.
TEST(Readme, HostileReadmesAreShownQuicklyOrAsPlainText) {
    struct Case {
        std::string file, bytes;
        bool html;
        std::string shown;  // a part of the text
    };
    const Case cases[] = {
        {"a.rtf", "{\\rtf1 Vault \\'zz of \\'4 the \\'", false, "Vault zz of 4 the "},
        {"a.rtf", repeat("{", 100000) + "deep" + "\\u99999999?\\bin999999", false,
         "deep\xEF\xBF\xBD"},
        {"a.htm", repeat("<div>", 50000) + "deep" + repeat("</div>", 50000), false, "deep"},
        {"a.htm", "<p>a &amp; b<td colspan=99999>c", false, "a & b\tc"},
        {"a.htm", repeat("<table><tr><td>", 3) + "nested" + repeat("</td></tr></table>", 3), false,
         "nested"},
        {"a.htm", "<<!-- x --><img width=1>i<table><td><img width=5>t</table>", true,
         "&lt;i<table><td>t</table>"},
        {"a.htm", "<p title='x>y' a\"<b=1>z", true, "<p title=\"x&gt;y\" ab=\"1\">z"},
        {"a.htm", "<style>" + repeat("a{b:c}", 60) + "</style><p>x", true, "<p>x"},
        {"a.htm", "<p>" + repeat("w", 500), false, "www"},
        {"a.glml", repeat("[GLWARNING]", 30000), false, ""},
        {"a.txt", repeat("w", 5000), false, repeat("w", kReadmeLineBytes) + "\n"},
        {"a.txt", repeat("line\r\n", 100000), false, "line\r\n\n[\xE2\x80\xA6]\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file + ": " + c.bytes.substr(0, 40));
        ReadmeText readme;
        ASSERT_NO_THROW(readme = readmeFromBytes(c.file, c.bytes));
        EXPECT_EQ(readme.html, c.html) << readme.text.substr(0, 200);
        EXPECT_NE(readme.text.find(c.shown), std::string::npos) << readme.text.substr(0, 200);
        EXPECT_EQ(readme.text.find("<img"), std::string::npos);
        if (!readme.html) {
            EXPECT_LE(readme.text.size(), kReadmePlainBytes + 16);
        }
    }
}

// The same read-mes inside a mission archive, selected as a player would: the analysis
// goes through and the memo gets the bounded text.
TEST(Readme, HostileReadmeInAnArchiveIsAnalysed) {
    if (!fsx::fileExists(std::string(TM_TEST_BIN_DIR) + "/UNZENG.DLL"))
        GTEST_SKIP() << "extraction engine not built";
    TempDir dir;
    openAppFiles(dir.path());
    app().thiefdata[1].gameDir = dir.path() + "T1/";
    const std::pair<std::string, std::string> readmes[] = {
        {"Vault.rtf", "{\\rtf1\\ansi Caf\\'zz \\'e9}"},
        {"Vault.htm", repeat("<div>", 50000) + "deep"},
        {"Vault.txt", repeat("w", 1 << 20)},
    };
    for (const auto& [name, bytes] : readmes) {
        SCOPED_TRACE(name);
        const std::string path = dir.path() + "Vault.zip";
        std::remove(path.c_str());
        ASSERT_TRUE(makeZip(path, {{"miss20.mis", "SKYOBJVAR"}, {name, bytes}}));
        TZipArchiver zip;
        zip.Unattended = true;
        zip.SetDLLDirectory(TM_TEST_BIN_DIR);
        zip.SetZipFileName(path);
        InfoPanel panel;
        SelectedMission mission;
        ProgressSink progress;
        ASSERT_NO_THROW(AnalyseArchive(programContext(), zip,
                                       "Vault." + std::to_string(fsx::fileSize(path)), panel,
                                       mission, progress));
        EXPECT_FALSE(panel.questMemoHtml);
        EXPECT_FALSE(panel.questMemo.empty());
        EXPECT_LE(panel.questMemo.size(), kReadmePlainBytes + 16);
    }
    closeAppFiles();
}

}  // namespace
