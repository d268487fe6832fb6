#pragma once
// Read-me files as the panel shows them: plain text decoded from whatever code page the
// author's system used, RTF as its text with paragraphs, GLML and HTML as rich text.

#include <string>

struct ReadmeText {
    std::string text;   // UTF-8
    bool html = false;  // rich text (Qt's HTML subset) rather than plain text
};

// The read-me kinds by extension, in the order they are chosen when no ".txt" is: ".rtf",
// ".html", ".htm", ".glml".
bool isRichReadmeExtension(const std::string& lowerExt);

// The read-me member `fileName` holding `bytes`, ready to show.
ReadmeText readmeFromBytes(const std::string& fileName, const std::string& bytes);

// Text bytes to UTF-8: a byte-order mark wins, then valid UTF-8, then the detected code
// page, Windows-1252 when nothing is detected.
std::string decodeText(const std::string& bytes);
// Bytes of the given code page (an iconv name such as "WINDOWS-1251") to UTF-8.
std::string fromCodePage(const std::string& bytes, const std::string& codePage);

std::string rtfToText(const std::string& rtf);
std::string glmlToHtml(const std::string& glml);
// The page with its scripts, styles' imports and objects removed; nothing is fetched.
std::string sanitizeHtml(const std::string& html);
