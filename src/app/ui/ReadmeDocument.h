#pragma once
// The read-me view of the main window and its document: rich text laid out as its author
// meant, with nothing loaded from anywhere but the mission's archive.

#include <QColor>
#include <QHash>
#include <QImage>
#include <QString>
#include <QTextBrowser>
#include <QTextDocument>
#include <map>
#include <string>

// The relative luminance of `c` (0 black, 1 white) and the contrast ratio of two colours
// (1 to 21), as the common rule for legible text measures them.
double relativeLuminance(const QColor& c);
double contrastRatio(const QColor& a, const QColor& b);

// A read-me's document. Its resources never come from anywhere: style sheets, imports and
// every other resource a read-me names load as nothing, and images as one blank pixel,
// except the pictures handed to it (read from the archive), so that no file, device or pipe
// is ever opened. A picture wider than the text is scaled down to the text's width.
class ReadmeDocument final : public QTextDocument {
  public:
    explicit ReadmeDocument(QObject* parent = nullptr);

    // The pictures by the names the page's <img> elements give.
    void setPictures(QHash<QString, QImage> pictures);

  protected:
    QVariant loadResource(int type, const QUrl& name) override;

  private:
    QHash<QString, QImage> pictures_;
    QHash<QString, QImage> fitted_;  // scaled to the width below
    qreal fittedWidth_ = -1;
};

// The read-me memo: a read-only rich-text viewer that follows no link and wraps at its
// width. Each read-me gets a fresh document, so nothing of one carries over to the next:
// plain text shows in a fixed-width font; a page keeps its background colour together with
// its text colours, and a text colour that would be hard to read against the background
// shown (contrast below 3:1) shows black or white, whichever reads better.
class ReadmeView final : public QTextBrowser {
  public:
    explicit ReadmeView(QWidget* parent = nullptr);

    void showPlain(const QString& text);
    // `pictures`: the bytes of the pictures the page names (see InfoPanel); one that does
    // not read as a PNG, JPEG, GIF or BMP within the bounds shows as its alt text.
    void showRich(const QString& html, const std::map<std::string, std::string>& pictures);

  private:
    ReadmeDocument* freshDocument(const QFont& font);
    void display(ReadmeDocument& doc);
    // Sets black or white where a text colour of `doc` reads badly (see above) and shows
    // the page's background; false when no colour changed.
    bool readableColours(QTextDocument& doc);
};
