#pragma once
// What the read-me fuzz targets share: the bounds readmeFromBytes promises for plain text
// checked on its result, and rich text handed to Qt's own parser and layout
// (QTextDocument::setHtml, then a layout at the memo's width), so that a page Qt takes
// long for shows as a timeout of the run.

#include <QGuiApplication>
#include <QTextDocument>
#include <cstdlib>
#include <string>

#include "inspect/ReadmeText.h"

// Fontconfig, under Qt's font database, keeps allocations of its own to the end.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\n";
}

namespace fuzzreadme {

inline void ensureApplication() {
    static int argc = 1;
    static char name[] = "fuzz_readme";
    static char* argv[] = {name, nullptr};
    static QGuiApplication* application = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QGuiApplication(argc, argv);
    }();
    (void)application;
}

// Rich text laid out by Qt; plain text checked against its bounds.
inline void show(const ReadmeText& readme) {
    if (readme.html) {
        ensureApplication();
        QTextDocument document;
        document.setHtml(QString::fromStdString(readme.text));
        document.setTextWidth(600);
        const QSizeF laidOut = document.size();
        if (!(laidOut.width() >= 0)) __builtin_trap();
        return;
    }
    size_t lineEnds = 0, column = 0;
    for (char c : readme.text) {
        if (c == '\n' || c == '\r') {
            ++lineEnds;
            column = 0;
        } else if (++column > kReadmeLineBytes + 4) {
            __builtin_trap();
        }
    }
    if (lineEnds > 2 * kReadmePlainLines + 8 || readme.text.size() > kReadmePlainBytes + 64)
        __builtin_trap();
}

}  // namespace fuzzreadme
