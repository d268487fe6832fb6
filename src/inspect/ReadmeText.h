#pragma once
// Read-me files as the panel shows them: plain text decoded from whatever code page the
// author's system used, RTF as its text with paragraphs, GLML and HTML as rich text.

#include <cstddef>
#include <string>

struct ReadmeText {
    std::string text;   // UTF-8
    bool html = false;  // rich text (Qt's HTML subset) rather than plain text
};

// Plain text from readmeFromBytes: at most this many bytes and lines (and a line "[…]"
// after them), no line longer than this many bytes (longer ones are broken).
inline constexpr size_t kReadmePlainBytes = 256 << 10;
inline constexpr size_t kReadmePlainLines = 4000;
inline constexpr size_t kReadmeLineBytes = 1000;

// The read-me kinds by extension, in the order they are chosen when no ".txt" is: ".rtf",
// ".html", ".htm", ".glml".
bool isRichReadmeExtension(const std::string& lowerExt);

// The read-me member `fileName` holding `bytes`, ready to show, and shown quickly: a page
// too large or too deeply nested for rich text comes as its plain text, and plain text
// ends after a few thousand lines with a line "[…]" for the rest. Scripts, embedded
// objects and images of a page are left out.
ReadmeText readmeFromBytes(const std::string& fileName, const std::string& bytes);

// Each converter takes any bytes: a damaged escape or tag is left out or shown as text.
std::string rtfToText(const std::string& rtf);
std::string glmlToHtml(const std::string& glml);
