#include "platform/TextUtil.h"

#include <array>
#include <cstdint>

#include "platform/FileSystem.h"

namespace text {

namespace {

// Unicode code points of the OEM code page 437 bytes 0x80 to 0xFF.
constexpr std::array<char16_t, 128> kCp437 = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,  // 80
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,  // 88
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,  // 90
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,  // 98
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,  // A0
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,  // A8
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,  // B0
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,  // B8
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,  // C0
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,  // C8
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,  // D0
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,  // D8
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,  // E0
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,  // E8
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,  // F0
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,  // F8
};

// Unicode code points of the Windows-1252 bytes 0x80 to 0x9F; the five unassigned bytes
// keep their C1 control code points. 0xA0 to 0xFF equal their code points.
constexpr std::array<char16_t, 32> kCp1252 = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98
};

char32_t cp1252ToUnicode(unsigned char b) {
    if (b >= 0x80 && b < 0xA0) return kCp1252[b - 0x80];
    return b;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Decodes one UTF-8 sequence at s[i] (strictly: no overlong forms, no surrogates, nothing
// above U+10FFFF). Returns its length, 0 when the bytes there are not valid UTF-8.
size_t decodeUtf8(std::string_view s, size_t i, char32_t& c) {
    auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char b0 = b(i);
    if (b0 < 0x80) {
        c = b0;
        return 1;
    }
    size_t len;
    char32_t min;
    if ((b0 & 0xE0) == 0xC0) {
        len = 2, c = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3, c = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4, c = b0 & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (i + len > s.size()) return 0;
    for (size_t k = 1; k < len; ++k) {
        if ((b(i + k) & 0xC0) != 0x80) return 0;
        c = (c << 6) | (b(i + k) & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
    return len;
}

bool isValidUtf8(std::string_view s) {
    char32_t c;
    for (size_t i = 0; i < s.size();) {
        size_t n = decodeUtf8(s, i, c);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

bool isDelim(char c) {
    return c == '\\' || c == '/' || c == ':';
}

}  // namespace

std::string removeFirst(const std::string& pattern, const std::string& s) {
    if (pattern.empty()) return s;
    size_t at = s.find(pattern);
    if (at == std::string::npos) return s;
    std::string out = s;
    out.erase(at, pattern.size());
    return out;
}

std::string removeChars(const std::string& s, std::string_view chars) {
    std::string out;
    out.reserve(s.size());
    for (char c : s)
        if (chars.find(c) == std::string_view::npos) out += c;
    return out;
}

std::string withTrailingDelim(const std::string& path) {
    if (path.empty() || path.back() == fsx::kPathDelim) return path;
    return path + fsx::kPathDelim;
}

std::string extractFileName(const std::string& path) {
    for (size_t i = path.size(); i > 0; --i)
        if (isDelim(path[i - 1])) return path.substr(i);
    return path;
}

std::string extractFileExt(const std::string& path) {
    for (size_t i = path.size(); i > 0; --i) {
        char c = path[i - 1];
        if (c == '.') return path.substr(i - 1);
        if (isDelim(c)) break;
    }
    return {};
}

std::string lowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
    return s;
}

std::string upperAscii(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - ('a' - 'A'));
    return s;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + ('a' - 'A'));
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + ('a' - 'A'));
        if (x != y) return false;
    }
    return true;
}

std::string withArgument(std::string text, const std::string& argument) {
    const size_t at = text.find("%s");
    if (at != std::string::npos) text.replace(at, 2, argument);
    return text;
}

std::string withoutKeyMark(const std::string& caption) {
    std::string out;
    out.reserve(caption.size());
    for (size_t i = 0; i < caption.size(); ++i) {
        if (caption[i] != '&') {
            out += caption[i];
        } else if (i + 1 < caption.size() && caption[i + 1] == '&') {
            out += '&';
            ++i;
        }
    }
    return out;
}

std::string trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= 0x20) ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= 0x20) --e;
    return s.substr(b, e - b);
}

std::string oemToAnsi(const std::string& s) {
    std::string out;
    out.reserve(s.size() + s.size() / 2);
    for (char ch : s) {
        auto b = static_cast<unsigned char>(ch);
        if (b < 0x80)
            out += ch;
        else
            appendUtf8(out, kCp437[b - 0x80]);
    }
    return out;
}

std::string ansiToOem(const std::string& s) {
    // Texts that are not valid UTF-8 are taken as Windows-1252, as on screen.
    const bool utf8 = isValidUtf8(s);
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        char32_t c;
        if (utf8) {
            i += decodeUtf8(s, i, c);
        } else {
            c = cp1252ToUnicode(static_cast<unsigned char>(s[i]));
            ++i;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
            continue;
        }
        char mapped = '_';
        for (size_t k = 0; k < kCp437.size(); ++k) {
            if (kCp437[k] == c) {
                mapped = static_cast<char>(0x80 + k);
                break;
            }
        }
        out += mapped;
    }
    return out;
}

QString display(std::string_view s) {
    if (isValidUtf8(s)) return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
    QString out;
    out.reserve(static_cast<qsizetype>(s.size()));
    for (char ch : s)
        out += QChar(static_cast<char16_t>(cp1252ToUnicode(static_cast<unsigned char>(ch))));
    return out;
}

std::string fromDisplay(const QString& s) {
    return s.toUtf8().toStdString();
}

bool tryStrToInt(std::string_view s, int32_t& out) {
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        // Hexadecimal: up to 32 significant bits, taken as the bit pattern of the value.
        uint64_t v = 0;
        for (size_t i = 2; i < s.size(); ++i) {
            char c = s[i];
            unsigned d;
            if (c >= '0' && c <= '9')
                d = static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f')
                d = static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                d = static_cast<unsigned>(c - 'A' + 10);
            else
                return false;
            v = v * 16 + d;
            if (v > 0xFFFFFFFFu) return false;
        }
        out = static_cast<int32_t>(static_cast<uint32_t>(v));
        return true;
    }
    size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    if (i == s.size()) return false;
    int64_t v = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        v = v * 10 + (s[i] - '0');
        if (v > int64_t{INT32_MAX} + 1) return false;
    }
    if (negative) v = -v;
    if (v > INT32_MAX || v < INT32_MIN) return false;
    out = static_cast<int32_t>(v);
    return true;
}

}  // namespace text
