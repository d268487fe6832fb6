#pragma once
// Text utilities shared by the catalogue, the inspection and the installer. Texts are
// 8-bit byte strings.

#include <QString>
#include <string>
#include <string_view>

namespace text {

// The text with the first occurrence of `pattern` (case-sensitive) removed.
std::string removeFirst(const std::string& pattern, const std::string& s);
// The text with every character of `chars` removed.
std::string removeChars(const std::string& s, std::string_view chars);
// The path with the platform separator appended unless empty or already ending in one.
std::string withTrailingDelim(const std::string& path);
// File-name part of a path: after the last "\", "/" or ":".
std::string extractFileName(const std::string& path);
// Extension of a path's file name, dot included ("" when none).
std::string extractFileExt(const std::string& path);
// ASCII lower/upper case (a-z only; other bytes stay).
std::string lowerAscii(std::string s);
std::string upperAscii(std::string s);
bool equalsNoCase(std::string_view a, std::string_view b);
// Leading and trailing blanks and control characters removed (bytes <= 0x20).
std::string trim(const std::string& s);
// `text` with its first "%s" replaced by `argument` (a language text with a blank to fill).
std::string withArgument(std::string text, const std::string& argument);
// A caption without its key mark, for places that show it as plain text: "&&" is one "&",
// a single "&" goes.
std::string withoutKeyMark(const std::string& caption);

// One OEM code page 437 byte string converted to the platform's file-name encoding
// (UTF-8 on Linux); bytes below 0x80 stay.
std::string oemToAnsi(const std::string& s);
// The reverse direction; characters without an OEM form become "_".
std::string ansiToOem(const std::string& s);

// How a program text is shown on screen: valid UTF-8 as UTF-8, anything else as
// Windows-1252.
QString display(std::string_view s);
// A text typed by the user, back to the program's 8-bit form (UTF-8).
std::string fromDisplay(const QString& s);

// Strict integer conversion (as a settings value read): signed decimal, or hexadecimal
// after "0x"/"0X" for texts longer than two characters. Returns false when it does not
// convert or does not fit in 32 bits.
bool tryStrToInt(std::string_view s, int32_t& out);

}  // namespace text
