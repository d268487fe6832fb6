#pragma once
// Text bytes of unknown origin to UTF-8: the one decoding of every text read from a
// mission (read-mes, titles), whatever code page its author's system used.

#include <iconv.h>

#include <string>

namespace text {

// Strictly valid UTF-8 (a byte-order mark at the start is a character like any other).
bool validUtf8(const std::string& s);

// Text bytes to UTF-8: a byte-order mark wins, then valid UTF-8, then old DOS text (code
// page 850, as German DOS editors wrote umlauts), then the detected code page,
// Windows-1252 when nothing is detected.
std::string decodeText(const std::string& bytes);
// Bytes of the given code page (an iconv name such as "WINDOWS-1251") to UTF-8.
std::string fromCodePage(const std::string& bytes, const std::string& codePage);

// True when 8-bit text reads as DOS text: its only bytes above 0x7F are letters of code
// page 850's lower half and ß, and umlauts of that page followed by a letter outnumber
// Windows-1252 punctuation (curly quotes, dashes).
bool looksLikeDosText(const std::string& bytes);

// Bytes of one code page to UTF-8, piece by piece; a page iconv does not know is read as
// Windows-1252, a byte the page does not define becomes the replacement character.
class PageDecoder {
  public:
    explicit PageDecoder(const std::string& codePage) { open(codePage); }
    ~PageDecoder() { close(); }
    PageDecoder(const PageDecoder&) = delete;
    PageDecoder& operator=(const PageDecoder&) = delete;

    void open(const std::string& codePage);
    // Appends the bytes' text, always valid UTF-8.
    void append(const std::string& bytes, std::string& out);

  private:
    void convert(const std::string& bytes, std::string& out);
    void close();

    static inline const iconv_t kNone = reinterpret_cast<iconv_t>(-1);
    iconv_t cd_ = kNone;
};

}  // namespace text
