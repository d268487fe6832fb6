#include "app/ui/ReadmeDocument.h"

#include <QImage>
#include <QPlainTextDocumentLayout>

ReadmeDocument::ReadmeDocument(QObject* parent) : QTextDocument(parent) {
    setDocumentLayout(new QPlainTextDocumentLayout(this));
    setResourceProvider([](const QUrl&) { return QVariant(); });
}

QVariant ReadmeDocument::loadResource(int type, const QUrl& /*name*/) {
    // An image that comes back without data may be read from its name by Qt's image
    // handler itself: it gets a blank one.
    if (type == QTextDocument::ImageResource) {
        QImage blank(1, 1, QImage::Format_ARGB32);
        blank.fill(Qt::transparent);
        return blank;
    }
    return QVariant();
}
