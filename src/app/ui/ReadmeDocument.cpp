#include "app/ui/ReadmeDocument.h"

#include <QBuffer>
#include <QDesktopServices>
#include <QFontDatabase>
#include <QImageReader>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextFrame>
#include <QTextTable>
#include <QUrl>
#include <algorithm>
#include <cmath>
#include <vector>

#include "inspect/ReadmeText.h"

ReadmeDocument::ReadmeDocument(QObject* parent) : QTextDocument(parent) {
    setResourceProvider([](const QUrl&) { return QVariant(); });
}

void ReadmeDocument::setPictures(QHash<QString, QImage> pictures) {
    pictures_ = std::move(pictures);
    fitted_.clear();
}

QVariant ReadmeDocument::loadResource(int type, const QUrl& name) {
    if (type != QTextDocument::ImageResource) return QVariant();
    const QString key = name.toString();
    const auto found = pictures_.constFind(key);
    if (found != pictures_.constEnd()) {
        // Room for the picture beside the margins (and a cursor's width).
        const qreal width = std::floor(textWidth() - 2 * documentMargin() - 2);
        if (width < 1 || found->width() <= width) return *found;
        if (width != fittedWidth_) {
            fitted_.clear();
            fittedWidth_ = width;
        }
        auto fitted = fitted_.find(key);
        if (fitted == fitted_.end())
            fitted = fitted_.insert(
                key, found->scaledToWidth(static_cast<int>(width), Qt::SmoothTransformation));
        return *fitted;
    }
    // An image that comes back without data may be read from its name by Qt's image
    // handler itself: it gets a blank one.
    QImage blank(1, 1, QImage::Format_ARGB32);
    blank.fill(Qt::transparent);
    return blank;
}

namespace {

// Decoded pixels all pictures of a page may take together.
constexpr qint64 kShownPixels = qint64(32) << 20;

// The picture in `bytes` when it is a PNG, JPEG, GIF or BMP picture within the bounds of
// a read-me's pictures; a null image otherwise.
QImage decodePicture(const std::string& bytes) {
    if (bytes.size() > kReadmePictureBytes) return QImage();
    QByteArray data = QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QByteArray format = reader.format();
    if (format != "png" && format != "jpeg" && format != "gif" && format != "bmp") return QImage();
    const QSize size = reader.size();
    if (!size.isValid() || size.width() > kReadmePictureSide || size.height() > kReadmePictureSide)
        return QImage();
    QImage image = reader.read();
    if (image.width() > kReadmePictureSide || image.height() > kReadmePictureSide) return QImage();
    return image;
}

// The colour of a brush that paints one, without its transparency.
bool solidColour(const QBrush& brush, QColor& colour) {
    if (brush.style() != Qt::SolidPattern || !brush.color().isValid()) return false;
    colour = brush.color();
    colour.setAlpha(255);
    return true;
}

// Black or white, whichever reads better on `background`.
QColor readableOn(const QColor& background) {
    const QColor black(Qt::black), white(Qt::white);
    return contrastRatio(black, background) >= contrastRatio(white, background) ? black : white;
}

// The background a block's text is shown on: the block's own, its table cell's or frame's
// (the innermost that has one), else the page's.
QColor backgroundOf(const QTextBlock& block, const QColor& page) {
    QColor colour;
    if (solidColour(block.blockFormat().background(), colour)) return colour;
    const QTextFrame* root = block.document()->rootFrame();
    int position = block.position();
    for (QTextFrame* frame = QTextCursor(block).currentFrame(); frame && frame != root;
         frame = frame->parentFrame()) {
        if (const auto* table = qobject_cast<const QTextTable*>(frame)) {
            const QTextTableCell cell = table->cellAt(position);
            if (cell.isValid() && solidColour(cell.format().background(), colour)) return colour;
        }
        if (solidColour(frame->frameFormat().background(), colour)) return colour;
        position = std::max(0, frame->firstPosition() - 1);  // in the enclosing cell
    }
    return page;
}

}  // namespace

ReadmeView::ReadmeView(QWidget* parent) : QTextBrowser(parent) {
    setReadOnly(true);
    setOpenLinks(false);
    setOpenExternalLinks(false);
    setLineWrapMode(QTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setDocument(freshDocument(font()));
    // A web link opens in the browser; nothing else a read-me names is opened.
    connect(this, &QTextBrowser::anchorClicked, this, [](const QUrl& url) {
        const QString scheme = url.scheme().toLower();
        if (scheme == "http" || scheme == "https") QDesktopServices::openUrl(url);
    });
}

ReadmeDocument* ReadmeView::freshDocument(const QFont& font) {
    auto* doc = new ReadmeDocument(this);
    doc->setDefaultFont(font);
    return doc;
}

void ReadmeView::showPlain(const QString& text) {
    // The window's size in a fixed-width font: plain read-mes are laid out in columns.
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setStyleHint(QFont::Monospace);
    fixed.setFixedPitch(true);
    if (font().pixelSize() > 0)
        fixed.setPixelSize(font().pixelSize());
    else
        fixed.setPointSizeF(font().pointSizeF());
    ReadmeDocument* doc = freshDocument(fixed);
    display(*doc);
    viewport()->setPalette(QPalette());
    doc->setPlainText(text);
}

void ReadmeView::display(ReadmeDocument& doc) {
    // Filled once shown, the document is laid out as far as the view shows it, the rest
    // bit by bit afterwards.
    QTextDocument* old = document();
    setDocument(&doc);
    if (old && old->parent() == this) delete old;
}

void ReadmeView::showRich(const QString& html, const std::map<std::string, std::string>& pictures) {
    QHash<QString, QImage> images;
    qint64 pixels = 0;
    for (const auto& [key, bytes] : pictures) {
        const QImage image = decodePicture(bytes);
        if (image.isNull()) continue;
        pixels += qint64(image.width()) * image.height();
        if (pixels > kShownPixels) break;
        images.insert(QString::fromStdString(key), image);
    }
    // A picture that does not show is its alt text, as the read-me's conversion wrote it.
    static const QRegularExpression picture(
        QStringLiteral("<img src=\"([^\"]*)\" alt=\"([^\"]*)\">"));
    QString page;
    page.reserve(html.size());
    qsizetype from = 0;
    for (auto it = picture.globalMatch(html); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        if (images.contains(m.captured(1))) continue;
        page += QStringView(html).mid(from, m.capturedStart() - from);
        page += m.captured(2);
        from = m.capturedEnd();
    }
    page += QStringView(html).mid(from);

    // The colours are made legible in a document of their own, which the view shows as
    // written again by Qt (Qt's own HTML reads back as it was) when any had to change.
    ReadmeDocument colours;
    colours.setDefaultFont(font());
    colours.setHtml(page);
    if (readableColours(colours)) page = colours.toHtml();
    ReadmeDocument* doc = freshDocument(font());
    doc->setPictures(std::move(images));
    display(*doc);
    doc->setHtml(page);
}

bool ReadmeView::readableColours(QTextDocument& doc) {
    // The page's background is kept: the view shows it beyond the text too.
    QColor page = palette().color(QPalette::Base);
    if (solidColour(doc.rootFrame()->frameFormat().background(), page)) {
        QPalette shown = palette();
        shown.setColor(QPalette::Base, page);
        viewport()->setPalette(shown);
    } else {
        viewport()->setPalette(QPalette());
    }
    const QColor text = palette().color(QPalette::Text);
    struct Fix {
        int start, length;
        QColor colour;
        bool block;  // the block's own format (its list mark)
    };
    std::vector<Fix> fixes;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        const QColor background = backgroundOf(block, page);
        QColor foreground = text;
        solidColour(block.charFormat().foreground(), foreground);
        if (contrastRatio(foreground, background) < 3.0)
            fixes.push_back({block.position(), 0, readableOn(background), true});
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.isValid()) continue;
            const QTextCharFormat format = fragment.charFormat();
            QColor shownOn = background;
            solidColour(format.background(), shownOn);
            foreground = text;
            solidColour(format.foreground(), foreground);
            if (contrastRatio(foreground, shownOn) < 3.0)
                fixes.push_back(
                    {fragment.position(), fragment.length(), readableOn(shownOn), false});
        }
    }
    if (fixes.empty()) return false;
    QTextCursor cursor(&doc);
    for (const Fix& fix : fixes) {
        QTextCharFormat format;
        format.setForeground(fix.colour);
        cursor.setPosition(fix.start);
        if (fix.block) {
            cursor.mergeBlockCharFormat(format);
            continue;
        }
        cursor.setPosition(fix.start + fix.length, QTextCursor::KeepAnchor);
        cursor.mergeCharFormat(format);
    }
    return true;
}

double relativeLuminance(const QColor& c) {
    auto linear = [](double v) {
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
}

double contrastRatio(const QColor& a, const QColor& b) {
    const double la = relativeLuminance(a), lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}
