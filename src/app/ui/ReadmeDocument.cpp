#include "app/ui/ReadmeDocument.h"

#include <QImage>
#include <QPlainTextDocumentLayout>

ReadmeDocument::ReadmeDocument(QObject* parent) : QTextDocument(parent) {
    setDocumentLayout(new QPlainTextDocumentLayout(this));
    setResourceProvider([](const QUrl&) { return QVariant(); });
}

QVariant ReadmeDocument::loadResource(int type, const QUrl& /*name*/) {
    // An image without data would make the layout load the named file itself.
    if (type == QTextDocument::ImageResource) {
        QImage blank(1, 1, QImage::Format_ARGB32);
        blank.fill(Qt::transparent);
        return blank;
    }
    return QVariant();
}
