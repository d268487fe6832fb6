#include "platform/TextDecode.h"

#include <uchardet/uchardet.h>

#include <QString>
#include <QStringDecoder>
#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/TextUtil.h"

namespace text {

namespace {

bool startsWith(const std::string& s, const char* prefix, size_t n) {
    return s.size() >= n && memcmp(s.data(), prefix, n) == 0;
}

std::string detectedCodePage(const std::string& bytes) {
    std::unique_ptr<std::remove_pointer_t<uchardet_t>, void (*)(uchardet_t)> detector(
        uchardet_new(), uchardet_delete);
    if (uchardet_handle_data(detector.get(), bytes.data(), bytes.size()) != 0) return "";
    uchardet_data_end(detector.get());
    const char* name = uchardet_get_charset(detector.get());
    return name ? name : "";
}

// ISO-8859 and Mac pages of the detector mapped to the Windows pages mission texts are
// written in: the detector cannot tell them apart in short texts, and the Windows pages add
// the letters and punctuation of 0x80 to 0x9F.
std::string windowsPageFor(const std::string& detected) {
    static const std::pair<const char*, const char*> pages[] = {
        {"ISO-8859-1", "WINDOWS-1252"},
        {"ISO-8859-15", "WINDOWS-1252"},
        {"ISO-8859-2", "WINDOWS-1250"},
        {"ISO-8859-5", "WINDOWS-1251"},
        {"MAC-CENTRALEUROPE", "WINDOWS-1250"},
        {"MAC-CYRILLIC", "WINDOWS-1251"},
        // DOS pages the detector takes a short Western text for ("C\xE9line" as IBM852);
        // real DOS text shows itself by its umlauts (looksLikeDosText) or its box drawing.
        {"IBM437", "WINDOWS-1252"},
        {"IBM850", "WINDOWS-1252"},
        {"IBM852", "WINDOWS-1252"},
        {"ASCII", "WINDOWS-1252"},
        {"", "WINDOWS-1252"}};
    for (const auto& [from, to] : pages) {
        if (detected == from) return to;
    }
    return detected;
}

bool isAsciiLetter(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The umlauts of code page 850 (and 437): ü ä Ä ö Ö Ü and ß.
bool isDosUmlaut(unsigned char c) {
    return c == 0x81 || c == 0x84 || c == 0x8E || c == 0x94 || c == 0x99 || c == 0x9A || c == 0xE1;
}

// Box-drawing art of code page 437: a line of one drawing character (░ ▒ ▓ ─ ═ █ ▄ ▀)
// three or more times in a row, which the letters and signs of the Windows pages at those
// places (° ± ² Ä Í Û Ü ß; Д Н Ы Ь Я) never make.
bool looksLikeBoxArt(const std::string& bytes) {
    int run = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        const bool drawing = (c >= 0xB0 && c <= 0xB2) || c == 0xC4 || c == 0xCD || c == 0xDB ||
                             c == 0xDC || c == 0xDF;
        run = drawing && i > 0 && bytes[i - 1] == bytes[i] ? run + 1 : (drawing ? 1 : 0);
        if (run >= 3) return true;
    }
    return false;
}

}  // namespace

bool validUtf8(const std::string& s) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                     QStringDecoder::Flag::ConvertInitialBom);
    const QString decoded = decoder(QByteArrayView(s.data(), static_cast<qsizetype>(s.size())));
    return !decoder.hasError();
}

bool looksLikeDosText(const std::string& bytes) {
    // Windows pages keep their letters at 0xC0 and above (but for ß's place, Windows-1252's
    // á); DOS keeps its accented letters from 0x80 to 0xA5. Inside a word a letter
    // follows an umlaut; Windows-1252's quotes and dashes at 0x91 to 0x97 mostly stand
    // before blanks and punctuation, and its opening quote „ (DOS ä) comes with a closing
    // one.
    int inWords = 0, punctuation = 0;
    const size_t n = bytes.size();
    for (size_t i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x80) continue;
        if (c > 0xA5 && c != 0xE1) return false;
        const bool letterAfter =
            i + 1 < n && isAsciiLetter(static_cast<unsigned char>(bytes[i + 1]));
        if (isDosUmlaut(c) && letterAfter)
            ++inWords;
        else if (c >= 0x91 && c <= 0x97)
            ++punctuation;
    }
    return inWords > punctuation;
}

std::string fromCodePage(const std::string& bytes, const std::string& codePage) {
    std::string out;
    PageDecoder(codePage).append(bytes, out);
    return out;
}

std::string decodeText(const std::string& bytes) {
    if (startsWith(bytes, "\xEF\xBB\xBF", 3)) return bytes.substr(3);
    if (startsWith(bytes, "\xFF\xFE", 2)) return fromCodePage(bytes.substr(2), "UTF-16LE");
    if (startsWith(bytes, "\xFE\xFF", 2)) return fromCodePage(bytes.substr(2), "UTF-16BE");
    if (validUtf8(bytes)) return bytes;
    if (looksLikeDosText(bytes)) return fromCodePage(bytes, "CP850");
    if (looksLikeBoxArt(bytes)) return fromCodePage(bytes, "CP437");
    return fromCodePage(bytes, windowsPageFor(detectedCodePage(bytes)));
}

void PageDecoder::open(const std::string& codePage) {
    close();
    cd_ = iconv_open("UTF-8", codePage.c_str());
    if (cd_ == kNone) cd_ = iconv_open("UTF-8", "WINDOWS-1252");
}

void PageDecoder::append(const std::string& bytes, std::string& out) {
    // iconv lets some invalid UTF-8 through (code points beyond U+10FFFF from a "UTF-8"
    // page), so what it gives is made valid UTF-8.
    std::string converted;
    convert(bytes, converted);
    out += QString::fromUtf8(converted).toStdString();
}

void PageDecoder::convert(const std::string& bytes, std::string& out) {
    if (cd_ == kNone) {
        out += display(bytes).toStdString();
        return;
    }
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    std::string in = bytes;
    char* src = in.data();
    size_t left = in.size();
    char buffer[4096];
    while (left > 0) {
        char* dst = buffer;
        size_t room = sizeof buffer;
        const size_t rc = iconv(cd_, &src, &left, &dst, &room);
        const int err = errno;
        out.append(buffer, static_cast<size_t>(dst - buffer));
        if (rc == static_cast<size_t>(-1) && err != E2BIG) {
            out += "\xEF\xBF\xBD";
            ++src;
            --left;
        }
    }
}

void PageDecoder::close() {
    if (cd_ != kNone) iconv_close(cd_);
    cd_ = kNone;
}

}  // namespace text
