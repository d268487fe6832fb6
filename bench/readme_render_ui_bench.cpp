// How long a read-me takes from its bytes to the painted memo: the conversion
// (readmeFromBytes) and the memo's own work as the main window does it (a fresh document
// of the read-me view: rich text through ReadmeView::showRich, plain text through
// showPlain), then one paint of the visible part. Goal: under 100 ms for any read-me, the worst
// ones included.
//
//   readme_render_ui_bench [FILE...]
//
// Without files it makes the worst read-mes it knows (deep nesting, huge tag and
// attribute counts, huge tables, long lines, the size cap of a read-me) and measures each;
// with files it measures those (the extension decides the kind). Exit status 1 when one
// takes 100 ms or more. Run on the offscreen platform: QT_QPA_PLATFORM=offscreen.

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPixmap>
#include <QTextDocument>
#include <cstdio>
#include <string>
#include <vector>

#include "app/ui/ReadmeDocument.h"
#include "inspect/ReadmeText.h"
#include "platform/TextUtil.h"

namespace {

constexpr size_t kReadmeCap = 16 << 20;  // the largest text member the analysis reads

std::string repeat(const std::string& s, size_t n) {
    std::string out;
    out.reserve(s.size() * n);
    for (size_t i = 0; i < n; ++i) out += s;
    return out;
}

// Up to the size cap of a read-me.
std::string filled(const std::string& unit) {
    return repeat(unit, kReadmeCap / unit.size());
}

std::string nested(const std::string& open, const std::string& close, size_t depth) {
    return repeat(open, depth) + "x" + repeat(close, depth);
}

struct Input {
    std::string name;  // member name: its extension decides the kind
    std::string bytes;
};

std::vector<Input> worstInputs() {
    std::string attributes = "<p";
    for (int i = 0; i < 200000; ++i) attributes += " a" + std::to_string(i) + "=\"v\"";
    attributes += ">x</p>";
    std::string table = "<table>";
    for (int r = 0; r < 400; ++r) table += "<tr>" + repeat("<td>cell</td>", 400) + "</tr>";
    table += "</table>";
    // The largest pages still shown as rich text: many elements, nesting, cells, text.
    std::string deepRich = repeat(nested("<div>", "</div>", 30) + "\n", 40);
    std::string cells = "<table>";
    for (int r = 0; r < 8; ++r) cells += "<tr>" + repeat("<td>" + repeat("word ", 8) + "</td>", 25);
    cells += "</table>";
    std::string textRich = repeat("<p>" + repeat("wordy ", 100), 200);
    std::string tables =
        nested("<table border=9 cellpadding=9><tr><td colspan=60>", "</td></tr></table>", 2);
    std::string rtfNested = repeat("{", 200000) + "text" + repeat("}", 200000);
    return {
        {"rich-deep.htm", deepRich},
        {"rich-cells.htm", cells},
        {"rich-text.htm", textRich},
        {"rich-words.htm", repeat("<p>" + repeat("<b>" + std::string(160, 'w') + "</b> ", 24), 30)},
        {"rich-breaks.htm", "<p>" + repeat("word word<br>", 2400)},
        {"rich-paragraphs.htm", repeat("<p>" + repeat("wordy ", 660), 30)},
        {"rich-tables.htm", repeat(tables, 8)},
        {"rich-style.htm", "<style>" + repeat("p.c{color:red;margin:0}", 5000) + "</style><p>x"},
        {"div50k.htm", nested("<div>", "</div>", 50000)},
        {"div50k-open.htm", repeat("<div>", 50000) + "x"},
        {"div-cap.htm", filled("<div>")},
        {"b-cap.htm", filled("<b>")},
        {"span-font-cap.htm", filled("<span><font color=red>")},
        {"table-nest2k.htm", nested("<table><tr><td>", "</td></tr></table>", 2000)},
        {"ul-li-nest.htm", nested("<ul><li>", "</li></ul>", 20000)},
        {"blockquote-nest.htm", nested("<blockquote>", "</blockquote>", 20000)},
        {"p-cap.htm", filled("<p>x")},
        {"br-cap.htm", filled("<br>")},
        {"entities-cap.htm", filled("&#65;&amp;")},
        {"attributes.htm", attributes},
        {"style-cap.htm", "<p style=\"" + filled("color:red;") + "\">x</p>"},
        {"table400.htm", table},
        {"td-cap.htm", "<table><tr>" + filled("<td>") + "</table>"},
        {"colspan.htm", "<table><tr><td colspan=2000000000 rowspan=2000000000>x</td></tr></table>"},
        {"img-size.htm", "<img width=100000 height=100000 src=\"none.png\">"},
        {"font-size.htm", "<p style=\"font-size:100000px\">x</p><font size=1000000>y</font>"},
        {"longline.htm", "<p>" + filled("word ") + "</p>"},
        {"longword.htm", "<p>" + filled("w") + "</p>"},
        {"pre-cap.htm", "<pre>" + filled("line\n") + "</pre>"},
        {"text-cap.txt", filled("A line of a read-me.\r\n")},
        {"longline.txt", filled("w")},
        {"rtf-cap.rtf", "{\\rtf1 " + filled("text\\par ") + "}"},
        {"rtf-groups.rtf", rtfNested},
        {"glml-cap.glml", filled("[GLCENTER]")},
        {"glml-title-cap.glml", filled("[GLTITLE]t[GLNL]")},
    };
}

// The memo as the main window shows a read-me.
double renderMs(ReadmeView& memo, const ReadmeText& readme) {
    QElapsedTimer timer;
    timer.start();
    if (readme.html) {
        memo.showRich(QString::fromStdString(readme.text), {});
    } else {
        QString t = text::display(readme.text);
        t.replace("\r\n", "\n");
        t.replace('\r', '\n');
        memo.showPlain(t);
    }
    const QPixmap painted = memo.grab();
    QApplication::processEvents();
    if (painted.isNull()) std::fprintf(stderr, "nothing painted\n");
    return double(timer.nsecsElapsed()) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    std::vector<Input> inputs;
    if (argc > 1) {
        for (int i = 1; i < argc; ++i) {
            QFile f(argv[i]);
            if (!f.open(QIODevice::ReadOnly)) {
                std::fprintf(stderr, "cannot read %s\n", argv[i]);
                return 2;
            }
            const QByteArray bytes = f.readAll();
            inputs.push_back({QFileInfo(argv[i]).fileName().toStdString(), bytes.toStdString()});
        }
    } else {
        inputs = worstInputs();
    }
    ReadmeView memo;
    memo.resize(600, 300);
    memo.show();
    std::printf("%-22s %9s %6s %9s %9s %9s\n", "read-me", "bytes", "kind", "convert", "memo",
                "total ms");
    bool slow = false;
    for (const Input& input : inputs) {
        QElapsedTimer timer;
        timer.start();
        const ReadmeText readme = readmeFromBytes(input.name, input.bytes);
        const double convertMs = double(timer.nsecsElapsed()) / 1e6;
        const double memoMs = renderMs(memo, readme);
        const double total = convertMs + memoMs;
        slow = slow || total >= 100;
        std::printf("%-22s %9zu %6s %9.1f %9.1f %9.1f%s\n", input.name.c_str(), input.bytes.size(),
                    readme.html ? "rich" : "plain", convertMs, memoMs, total,
                    total >= 100 ? "  SLOW" : "");
        std::fflush(stdout);
    }
    return slow ? 1 : 0;
}
