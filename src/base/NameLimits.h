#pragma once
// The longest name a directory entry may have, and the names of the temporary files the
// program's writers (and the engines) put beside the file they replace: one rule for all
// of them, so that every temporary name fits wherever its file fits. Header-only and
// free of Qt: the engines build it in too.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace fsx {

// Bytes in the name of one directory entry (Linux and Windows file systems alike).
inline constexpr size_t kMaxNameBytes = 255;

// `name` cut so that `reserve` more bytes still fit into kMaxNameBytes; a cut never splits
// a UTF-8 sequence.
inline std::string fitName(const std::string& name, size_t reserve) {
    const size_t room = reserve < kMaxNameBytes ? kMaxNameBytes - reserve : 0;
    if (name.size() <= room) return name;
    size_t cut = room;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    return name.substr(0, cut);
}

// The temporary file beside `path` (a file path, "/" or the platform's separator): its
// last component, cut to leave room, followed by `suffix` (".tm" + 12 hexadecimal digits
// + ".tmp" for the program's writers).
inline std::string temporarySibling(const std::string& path, const std::string& suffix) {
#ifdef _WIN32
    const size_t cut = path.find_last_of("\\/");
#else
    const size_t cut = path.rfind('/');
#endif
    const size_t start = cut == std::string::npos ? 0 : cut + 1;
    return path.substr(0, start) + fitName(path.substr(start), suffix.size()) + suffix;
}

// The suffix of the program's temporary names: ".tm" + the low 48 bits of `random` as 12
// hexadecimal digits + ".tmp". The start-up clean-up knows this pattern.
inline std::string temporarySuffix(uint64_t random) {
    char buf[24];
    std::snprintf(buf, sizeof buf, ".tm%012llx.tmp",
                  static_cast<unsigned long long>(random & 0xFFFFFFFFFFFFull));
    return buf;
}

}  // namespace fsx
