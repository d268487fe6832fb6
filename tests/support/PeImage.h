#pragma once
// PE images with version resources, written byte by byte: the tree of a VS_VERSIONINFO and a
// minimal image holding it as its only resource.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace peimage {

using Bytes = std::string;

inline void put16(Bytes& b, uint32_t v) {
    b += char(v & 0xFF);
    b += char((v >> 8) & 0xFF);
}
inline void put32(Bytes& b, uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}
inline void set16(Bytes& b, size_t at, uint32_t v) {
    b[at] = char(v & 0xFF);
    b[at + 1] = char((v >> 8) & 0xFF);
}
inline void set32(Bytes& b, size_t at, uint32_t v) {
    set16(b, at, v & 0xFFFF);
    set16(b, at + 2, v >> 16);
}
inline void pad4(Bytes& b) {
    while (b.size() % 4) b += '\0';
}

// One node of a version resource tree.
struct VNode {
    std::u16string key;
    uint16_t type = 1;
    Bytes value;           // raw value bytes
    int valueLength = -1;  // wValueLength; -1: derived (bytes, or UTF-16 units for text)
    std::vector<VNode> kids;

    void write(Bytes& out) const {
        pad4(out);
        const size_t start = out.size();
        put16(out, 0);
        int vl = valueLength;
        if (vl < 0) vl = int(type == 1 ? value.size() / 2 : value.size());
        put16(out, uint32_t(vl));
        put16(out, type);
        for (char16_t c : key) put16(out, c);
        put16(out, 0);
        pad4(out);
        out += value;
        for (const VNode& k : kids) k.write(out);
        set16(out, start, uint32_t(out.size() - start));
    }
};

inline Bytes utf16z(const std::u16string& s) {
    Bytes b;
    for (char16_t c : s) put16(b, c);
    put16(b, 0);
    return b;
}

inline VNode str(const std::u16string& key, const std::u16string& value) {
    return VNode{key, 1, utf16z(value), -1, {}};
}

inline Bytes fixedInfo() {
    Bytes b;
    for (uint32_t v : {0xFEEF04BDu, 0x00010000u, 0x00020003u, 0x00040005u, 0x00060007u, 0x00080009u,
                       0x3Fu, 0x0u, 0x40004u, 0x1u, 0x0u, 0x0u, 0x0u})
        put32(b, v);
    return b;
}

inline VNode table(const std::u16string& name, std::vector<VNode> strings) {
    return VNode{name, 1, {}, -1, std::move(strings)};
}

// A complete VS_VERSIONINFO with the given string tables and translation pairs.
inline Bytes versionResource(std::vector<VNode> tables,
                             std::vector<std::pair<uint16_t, uint16_t>> translations) {
    VNode root{u"VS_VERSION_INFO", 0, fixedInfo(), -1, {}};
    root.kids.push_back(VNode{u"StringFileInfo", 1, {}, -1, std::move(tables)});
    Bytes list;
    for (auto [lang, cp] : translations) {
        put16(list, lang);
        put16(list, cp);
    }
    VNode var{u"VarFileInfo", 1, {}, -1, {VNode{u"Translation", 0, list, -1, {}}}};
    if (!translations.empty()) root.kids.push_back(var);
    Bytes out;
    root.write(out);
    return out;
}

struct PeOptions {
    bool pe64 = false;
    uint32_t resourceType = 16;  // RT_VERSION
    uint32_t resourceId = 1;
    bool withResourceDir = true;
};

// A minimal PE image with one section ".rsrc" at RVA 0x1000, file offset 0x200, holding
// the directory chain type -> name -> language -> data entry -> `resource`.
inline Bytes peFile(const Bytes& resource, const PeOptions& o = {}) {
    const uint32_t optSize = o.pe64 ? 240 : 224;
    Bytes f(0x200, '\0');
    f[0] = 'M';
    f[1] = 'Z';
    set32(f, 0x3C, 0x80);
    f.replace(0x80, 4, Bytes("PE\0\0", 4));
    set16(f, 0x84, o.pe64 ? 0x8664 : 0x14C);
    set16(f, 0x86, 1);  // sections
    set16(f, 0x94, optSize);
    const size_t opt = 0x98;
    set16(f, opt, o.pe64 ? 0x20B : 0x10B);
    const size_t count = opt + (o.pe64 ? 108 : 92);
    set32(f, count, 16);

    Bytes rsrc;
    put32(rsrc, 0);
    put32(rsrc, 0);
    put32(rsrc, 0);
    put16(rsrc, 0);
    put16(rsrc, 1);  // one id entry
    put32(rsrc, o.resourceType);
    put32(rsrc, 0x80000000u | 0x18);
    // name level at 0x18
    for (int i = 0; i < 3; ++i) put32(rsrc, 0);
    put16(rsrc, 0);
    put16(rsrc, 1);
    put32(rsrc, o.resourceId);
    put32(rsrc, 0x80000000u | 0x30);
    // language level at 0x30
    for (int i = 0; i < 3; ++i) put32(rsrc, 0);
    put16(rsrc, 0);
    put16(rsrc, 1);
    put32(rsrc, 0x409);
    put32(rsrc, 0x48);
    // data entry at 0x48, data at 0x58
    put32(rsrc, 0x1000 + 0x58);
    put32(rsrc, uint32_t(resource.size()));
    put32(rsrc, 0);
    put32(rsrc, 0);
    rsrc += resource;
    pad4(rsrc);

    if (o.withResourceDir) {
        set32(f, count + 4 + 16, 0x1000);
        set32(f, count + 4 + 20, uint32_t(rsrc.size()));
    }
    const size_t sec = opt + optSize;
    f.replace(sec, 5, ".rsrc");
    set32(f, sec + 8, uint32_t(rsrc.size()));
    set32(f, sec + 12, 0x1000);
    set32(f, sec + 16, uint32_t(rsrc.size()));
    set32(f, sec + 20, 0x200);
    return f + rsrc;
}

}  // namespace peimage
