#pragma once
// Read-me files as the panel shows them: plain text decoded from whatever code page the
// author's system used, RTF as its text with paragraphs, GLML and HTML as rich text.

#include <cstddef>
#include <functional>
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

// Pictures a page may show, all of them members of the mission's archive: at most this
// many, each of at most this many bytes and pixels on a side, all of them together of at
// most this many bytes.
inline constexpr size_t kReadmePictures = 32;
inline constexpr size_t kReadmePictureBytes = 4 << 20;
inline constexpr size_t kReadmePicturesBytes = 16 << 20;
inline constexpr int kReadmePictureSide = 4096;

// Given the reference of a picture as a page writes it (an <img>'s "src"), the name the
// shown document loads the picture by, or "" when it is not shown.
using ReadmePictureKey = std::function<std::string(const std::string& src)>;

// The read-me member `fileName` holding `bytes`, ready to show, and shown quickly: a page
// too large or too deeply nested for rich text comes as its plain text, and plain text
// ends after a few thousand lines with a line "[…]" for the rest. Scripts and embedded
// objects of a page are left out. A picture of a page is shown when `picture` gives it a
// name; any other shows as its alt text (its file name when it has none).
ReadmeText readmeFromBytes(const std::string& fileName, const std::string& bytes,
                           const ReadmePictureKey& picture = {});

// The text of the read-me member `fileName` holding `bytes`, without markup and without the
// bounds of what the memo shows: RTF, GLML and HTML as their text, a Windows Write document
// as the text it holds, anything else decoded as plain text. Only the start of a large
// read-me is read (as readmeFromBytes reads it).
std::string readmePlainText(const std::string& fileName, const std::string& bytes);

// The archive member (path with "\" separators, in the page's own case) that the picture
// reference `src` of the read-me member `readmeMember` names, relative to the read-me's
// folder; "" when it names none that may be shown: a URL with a scheme ("file:", "http:",
// ...), an absolute path, a path leading out of the archive, or a file that is no PNG,
// JPEG, GIF or BMP picture by its extension.
std::string readmePicturePath(const std::string& readmeMember, const std::string& src);

// Each converter takes any bytes: a damaged escape or tag is left out or shown as text.
std::string rtfToText(const std::string& rtf);
std::string glmlToHtml(const std::string& glml);
