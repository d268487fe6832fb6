#pragma once
// The read-me memo's document: rich text laid out without loading anything it names.

#include <QTextDocument>

// A plain-text-edit document (laid out as QPlainTextEdit needs) whose resources never come
// from anywhere: style sheets, imports and every other resource a read-me names load as
// nothing, and images as one blank pixel, so that no file, device or pipe is ever opened.
class ReadmeDocument final : public QTextDocument {
  public:
    explicit ReadmeDocument(QObject* parent = nullptr);

  protected:
    QVariant loadResource(int type, const QUrl& name) override;
};
