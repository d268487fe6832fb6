#pragma once
// The one rule for turning a member name (or comment) as stored in an archive into the
// name this program shows and writes. The directory reader and both engines use it, so
// the names in the listing are exactly the names extraction writes, and a name stored by
// the compression engine (host 3, its bytes as on disk) comes back unchanged.
//
// Names marked as UTF-8 (flag bit 11) are kept. Otherwise a name is taken as OEM code
// page 437 and converted to UTF-8 when the code page option is OEM, or when it is "auto"
// and the archive was made on DOS (host 0), or on OS/2 HPFS (host 6), or by version 5.0
// on host 11; every other name keeps its bytes.

#include <cstdint>
#include <string>
#include <string_view>

namespace zipnames {

enum class CodePage { Auto, None, Oem };

constexpr uint16_t kUtf8Flag = 0x0800;

inline bool isOemName(uint16_t flags, uint8_t host, uint8_t version,
                      CodePage codePage = CodePage::Auto) {
    if (flags & kUtf8Flag) return false;
    return (codePage == CodePage::Auto && host == 0) || host == 6 ||
           (host == 11 && version == 50) || codePage == CodePage::Oem;
}

// Code page 437 text as UTF-8; bytes below 0x80 stay.
inline std::string oemToUtf8(std::string_view s) {
    static constexpr char16_t kHigh[128] = {
        0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8,
        0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2,
        0x00FB, 0x00F9, 0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1,
        0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD,
        0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562,
        0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534,
        0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560,
        0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
        0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393,
        0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6,
        0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248, 0x00B0,
        0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};
    std::string r;
    r.reserve(s.size() + s.size() / 2);
    for (char ch : s) {
        const auto c = static_cast<uint8_t>(ch);
        if (c < 0x80) {
            r.push_back(ch);
            continue;
        }
        const char16_t u = kHigh[c - 0x80];
        if (u < 0x800) {
            r.push_back(static_cast<char>(0xC0 | (u >> 6)));
        } else {
            r.push_back(static_cast<char>(0xE0 | (u >> 12)));
            r.push_back(static_cast<char>(0x80 | ((u >> 6) & 0x3F)));
        }
        r.push_back(static_cast<char>(0x80 | (u & 0x3F)));
    }
    return r;
}

// The stored name (or comment) as this program uses it; separators are left alone.
inline std::string localName(std::string_view stored, uint16_t flags, uint8_t host, uint8_t version,
                             CodePage codePage = CodePage::Auto) {
    if (!isOemName(flags, host, version, codePage)) return std::string(stored);
    return oemToUtf8(stored);
}

}  // namespace zipnames
