// Read-mes as authors write them: each code page, byte-order marks, RTF, HTML and GLML.

#include <gtest/gtest.h>
#include <iconv.h>

#include "inspect/ReadmeText.h"

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
         "<h1>Vault</h1><img src=\"http://example.invalid/x.png\"><p>Süd</p>", true},
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
    }
}

}  // namespace
