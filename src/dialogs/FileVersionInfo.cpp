#include "dialogs/FileVersionInfo.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "platform/FileSystem.h"
#include "platform/TextUtil.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

constexpr const char* kEntryKeys[kVersionEntryCount] = {
    "Comments",     "CompanyName",    "FileDescription", "FileVersion",
    "InternalName", "LegalCopyright", "LegalTrademarks", "OriginalFileName",
    "PrivateBuild", "ProductName",    "ProductVersion",  "SpecialBuild"};

// The string table path of entry `key` for a language and code page.
std::string StringPath(uint16_t language, uint16_t codePage, const char* key) {
    char table[16];
    std::snprintf(table, sizeof table, "%4.4x%4.4x", unsigned(language), unsigned(codePage));
    return std::string("\\StringFileInfo\\") + table + "\\" + key;
}

}  // namespace

const char* VersionEntryKey(int n) {
    if (n < 0 || n >= kVersionEntryCount) return nullptr;
    return kEntryKeys[n];
}

namespace versioninfo {

namespace {

uint16_t Rd16(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}

uint32_t Rd32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

size_t Align4(size_t n) {
    return (n + 3) & ~size_t(3);
}

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

// One node of a VS_VERSIONINFO tree: wLength, wValueLength, wType, a zero-terminated
// UTF-16 key, padding to 32 bits, the value, padding, the children.
struct Node {
    size_t end = 0;  // one past the node's last byte (within its parent)
    uint16_t valueLength = 0;
    uint16_t type = 0;
    std::string key;  // UTF-8
    size_t valueStart = 0;
    size_t valueEnd = 0;
    size_t childrenStart = 0;
};

// Parses the node at `start`, which must lie within [start, limit).
bool ParseNode(const std::vector<uint8_t>& b, size_t start, size_t limit, Node& n) {
    if (limit > b.size() || start > limit || limit - start < 6) return false;
    const uint16_t length = Rd16(&b[start]);
    if (length < 6) return false;
    n.end = std::min(limit, start + length);
    n.valueLength = Rd16(&b[start + 2]);
    n.type = Rd16(&b[start + 4]);
    size_t pos = start + 6;
    size_t keyUnits = 0;
    for (;;) {
        if (n.end - pos < 2) return false;  // key without terminator
        if (Rd16(&b[pos]) == 0) break;
        pos += 2;
        ++keyUnits;
    }
    n.key = Utf16ToUtf8(&b[start + 6], keyUnits);
    pos += 2;
    n.valueStart = std::min(n.end, Align4(pos));
    const size_t valueBytes = n.type == 1 ? size_t(n.valueLength) * 2 : n.valueLength;
    n.valueEnd = std::min(n.end, n.valueStart + valueBytes);
    n.childrenStart = std::min(n.end, Align4(n.valueEnd));
    return true;
}

bool SameKey(const std::string& a, const std::string& b) {
    return text::equalsNoCase(a, b);
}

bool FindChild(const std::vector<uint8_t>& b, const Node& parent, const std::string& key,
               Node& child) {
    size_t pos = parent.childrenStart;
    while (pos < parent.end && parent.end - pos >= 6) {
        Node c;
        if (!ParseNode(b, pos, parent.end, c)) return false;
        if (SameKey(c.key, key)) {
            child = std::move(c);
            return true;
        }
        pos = Align4(c.end);  // every node is at least 6 bytes long: always advances
    }
    return false;
}

// UTF-8 to UTF-16 code units (for the build's own resource; its texts are valid UTF-8).
std::u16string Utf8ToUtf16(const std::string& s) {
    std::u16string out;
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        uint32_t cp = 0xFFFD;
        size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0) == 0xC0 && i + 1 < s.size()) {
            cp = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(s[i + 1]) & 0x3Fu);
            len = 2;
        } else if ((c & 0xF0) == 0xE0 && i + 2 < s.size()) {
            cp = ((c & 0x0Fu) << 12) | ((static_cast<unsigned char>(s[i + 1]) & 0x3Fu) << 6) |
                 (static_cast<unsigned char>(s[i + 2]) & 0x3Fu);
            len = 3;
        } else if ((c & 0xF8) == 0xF0 && i + 3 < s.size()) {
            cp = ((c & 0x07u) << 18) | ((static_cast<unsigned char>(s[i + 1]) & 0x3Fu) << 12) |
                 ((static_cast<unsigned char>(s[i + 2]) & 0x3Fu) << 6) |
                 (static_cast<unsigned char>(s[i + 3]) & 0x3Fu);
            len = 4;
        }
        i += len;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += char16_t(0xD800 + (cp >> 10));
            out += char16_t(0xDC00 + (cp & 0x3FF));
        } else {
            out += char16_t(cp);
        }
    }
    return out;
}

// Writes a VS_VERSIONINFO tree node by node.
class TreeWriter {
  public:
    // Starts a node; returns its offset for End().
    size_t Begin(const std::string& key, uint16_t type, const std::vector<uint8_t>& value,
                 uint16_t valueLength) {
        Pad();
        const size_t start = b_.size();
        Put16(0);  // wLength, set by End()
        Put16(valueLength);
        Put16(type);
        for (char16_t u : Utf8ToUtf16(key)) Put16(u);
        Put16(0);
        Pad();
        b_.insert(b_.end(), value.begin(), value.end());
        return start;
    }
    void End(size_t start) {
        const size_t length = b_.size() - start;
        b_[start] = uint8_t(length & 0xFF);
        b_[start + 1] = uint8_t(length >> 8);
    }
    void String(const std::string& key, const std::string& text) {
        std::vector<uint8_t> value;
        std::u16string units = Utf8ToUtf16(text);
        units += char16_t(0);
        for (char16_t u : units) {
            value.push_back(uint8_t(u & 0xFF));
            value.push_back(uint8_t(u >> 8));
        }
        End(Begin(key, 1, value, uint16_t(units.size())));
    }
    std::vector<uint8_t> Take() { return std::move(b_); }

  private:
    void Put16(uint16_t v) {
        b_.push_back(uint8_t(v & 0xFF));
        b_.push_back(uint8_t(v >> 8));
    }
    void Pad() {
        while (b_.size() % 4) b_.push_back(0);
    }
    std::vector<uint8_t> b_;
};

void Put32(std::vector<uint8_t>& v, uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(uint8_t(x >> (8 * i)));
}

// "a.b.c.d" (missing parts 0) as the two 32-bit halves of a version number.
void VersionNumber(const std::string& text, uint32_t& ms, uint32_t& ls) {
    uint32_t part[4] = {0, 0, 0, 0};
    size_t i = 0;
    for (char c : text) {
        if (c == '.') {
            if (++i == 4) break;
        } else if (c >= '0' && c <= '9') {
            part[i] = std::min<uint32_t>(0xFFFF, part[i] * 10 + uint32_t(c - '0'));
        } else {
            break;
        }
    }
    ms = (part[0] << 16) | part[1];
    ls = (part[2] << 16) | part[3];
}

// Reads byte ranges of a file, every range checked against the file's size.
class RangeReader {
  public:
    explicit RangeReader(const std::string& path)
        : in_(path, std::ios::binary), size_(fsx::fileSize64(path)) {}
    bool Ok() const { return bool(in_) && size_ > 0; }
    uint64_t Size() const { return uint64_t(size_); }
    bool Read(uint64_t offset, size_t count, std::vector<uint8_t>& out) {
        if (offset > Size() || count > Size() - offset) return false;
        out.assign(count, 0);
        if (count == 0) return true;
        in_.clear();
        in_.seekg(std::streamoff(offset));
        return bool(in_.read(reinterpret_cast<char*>(out.data()), std::streamsize(count)));
    }

  private:
    std::ifstream in_;
    int64_t size_;
};

struct Section {
    uint32_t virtualAddress = 0;
    uint32_t rawSize = 0;
    uint32_t rawPointer = 0;
};

// File offset of a relative virtual address, and the bytes of its section from there on.
bool RvaToOffset(const std::vector<Section>& sections, uint32_t rva, uint64_t& offset,
                 uint64_t& available) {
    for (const Section& s : sections) {
        if (rva >= s.virtualAddress && uint64_t(rva) - s.virtualAddress < s.rawSize) {
            const uint64_t delta = uint64_t(rva) - s.virtualAddress;
            offset = uint64_t(s.rawPointer) + delta;
            available = s.rawSize - delta;
            return true;
        }
    }
    return false;
}

struct DirEntry {
    uint32_t name = 0;  // high bit: a named entry
    uint32_t data = 0;  // high bit: a subdirectory
};

// The entries of the resource directory at `offset` within the resource section.
bool ReadResourceDir(RangeReader& r, uint64_t base, uint64_t limit, uint32_t offset,
                     std::vector<DirEntry>& entries) {
    std::vector<uint8_t> head;
    if (offset > limit || limit - offset < 16 || !r.Read(base + offset, 16, head)) return false;
    const size_t count = size_t(Rd16(&head[12])) + Rd16(&head[14]);
    if ((limit - offset - 16) / 8 < count) return false;
    std::vector<uint8_t> raw;
    if (!r.Read(base + offset + 16, count * 8, raw)) return false;
    entries.clear();
    for (size_t i = 0; i < count; ++i)
        entries.push_back({Rd32(&raw[i * 8]), Rd32(&raw[i * 8 + 4])});
    return true;
}

constexpr uint32_t kHighBit = 0x80000000u;
constexpr uint32_t kRtVersion = 16;
constexpr uint32_t kVersionResourceId = 1;

}  // namespace

std::string Utf16ToUtf8(const uint8_t* data, size_t units) {
    std::string out;
    for (size_t i = 0; i < units; ++i) {
        uint32_t u = Rd16(data + 2 * i);
        if (u == 0) break;
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
            const uint32_t low = Rd16(data + 2 * (i + 1));
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        if (u >= 0xD800 && u <= 0xDFFF) u = 0xFFFD;
        AppendUtf8(out, u);
    }
    return out;
}

QueryValue Query(const std::vector<uint8_t>& buffer, const std::string& path) {
    QueryValue result;
    Node node;
    if (!ParseNode(buffer, 0, buffer.size(), node)) return result;
    size_t pos = 0;
    while (pos < path.size()) {
        const size_t sep = path.find('\\', pos);
        const std::string part =
            path.substr(pos, sep == std::string::npos ? std::string::npos : sep - pos);
        pos = sep == std::string::npos ? path.size() : sep + 1;
        if (part.empty()) continue;
        Node child;
        if (!FindChild(buffer, node, part, child)) return result;
        node = std::move(child);
    }
    result.found = true;
    result.text = node.type == 1;
    if (result.text) {
        // Text runs to its terminating zero; some resource compilers count wValueLength
        // in bytes, so the node's end bounds it rather than the stated length.
        if (node.valueLength != 0) {
            for (size_t p = node.valueStart; node.end - p >= 2; p += 2) {
                if (Rd16(&buffer[p]) == 0) break;
                result.bytes.push_back(buffer[p]);
                result.bytes.push_back(buffer[p + 1]);
            }
        }
    } else {
        result.bytes.assign(buffer.begin() + std::ptrdiff_t(node.valueStart),
                            buffer.begin() + std::ptrdiff_t(node.valueEnd));
    }
    return result;
}

std::vector<uint8_t> ReadPeVersionResource(const std::string& path) {
    const std::string file = fsx::resolve(path);
    if (!fsx::fileExists(file)) return {};
    RangeReader r(file);
    if (!r.Ok()) return {};

    std::vector<uint8_t> dos;
    if (!r.Read(0, 64, dos) || dos[0] != 'M' || dos[1] != 'Z') return {};
    const uint64_t pe = Rd32(&dos[0x3C]);
    std::vector<uint8_t> coff;
    if (!r.Read(pe, 24, coff) || std::memcmp(coff.data(), "PE\0\0", 4) != 0) return {};
    const size_t sectionCount = Rd16(&coff[6]);
    const size_t optionalSize = Rd16(&coff[20]);

    std::vector<uint8_t> opt;
    if (optionalSize < 2 || !r.Read(pe + 24, optionalSize, opt)) return {};
    size_t countAt = 0;
    switch (Rd16(&opt[0])) {
        case 0x10B:
            countAt = 92;
            break;  // PE32
        case 0x20B:
            countAt = 108;
            break;  // PE32+
        default:
            return {};
    }
    const size_t dirsAt = countAt + 4;
    const size_t resourceDirAt = dirsAt + 2 * 8;  // data directory 2: resources
    if (opt.size() < resourceDirAt + 8 || Rd32(&opt[countAt]) <= 2) return {};
    const uint32_t resourceRva = Rd32(&opt[resourceDirAt]);
    if (resourceRva == 0) return {};

    std::vector<uint8_t> table;
    if (!r.Read(pe + 24 + optionalSize, sectionCount * 40, table)) return {};
    std::vector<Section> sections;
    for (size_t i = 0; i < sectionCount; ++i) {
        const uint8_t* s = &table[i * 40];
        sections.push_back({Rd32(s + 12), Rd32(s + 16), Rd32(s + 20)});
    }

    uint64_t base = 0, limit = 0;
    if (!RvaToOffset(sections, resourceRva, base, limit)) return {};
    limit = std::min(limit, r.Size() - std::min(r.Size(), base));

    // Type RT_VERSION, then the resource numbered 1 (else the first), then its first
    // language.
    std::vector<DirEntry> entries;
    if (!ReadResourceDir(r, base, limit, 0, entries)) return {};
    auto type = std::find_if(entries.begin(), entries.end(), [](const DirEntry& e) {
        return e.name == kRtVersion && (e.data & kHighBit);
    });
    if (type == entries.end()) return {};
    if (!ReadResourceDir(r, base, limit, type->data & ~kHighBit, entries) || entries.empty())
        return {};
    auto name = std::find_if(entries.begin(), entries.end(),
                             [](const DirEntry& e) { return e.name == kVersionResourceId; });
    if (name == entries.end()) name = entries.begin();
    if (!(name->data & kHighBit)) return {};
    if (!ReadResourceDir(r, base, limit, name->data & ~kHighBit, entries) || entries.empty())
        return {};
    const uint32_t dataEntry = entries.front().data;
    if (dataEntry & kHighBit) return {};

    std::vector<uint8_t> entry;
    if (dataEntry > limit || limit - dataEntry < 16 || !r.Read(base + dataEntry, 16, entry))
        return {};
    uint64_t dataOffset = 0, available = 0;
    if (!RvaToOffset(sections, Rd32(&entry[0]), dataOffset, available)) return {};
    // A version resource states its own length in 16 bits.
    size_t size = size_t(std::min<uint64_t>({Rd32(&entry[4]), available, 0xFFFF}));
    std::vector<uint8_t> data;
    if (size < 6 || !r.Read(dataOffset, size, data)) return {};
    size = std::min<size_t>(size, Rd16(&data[0]));
    data.resize(size);
    Node root;
    if (!ParseNode(data, 0, data.size(), root)) return {};
    return data;
}

std::vector<uint8_t> BuildVersionResource() {
    const std::string version = TM_VERSION;
    std::vector<uint8_t> fixed;
    uint32_t ms = 0, ls = 0;
    VersionNumber(version, ms, ls);
#ifdef NDEBUG
    const uint32_t flags = 0;
#else
    const uint32_t flags = 0x1;  // VS_FF_DEBUG
#endif
    for (uint32_t v : {kFixedInfoSignature, 0x00010000u, ms, ls, ms, ls, 0x3Fu, flags,
                       0u /* VOS_UNKNOWN */, 1u /* VFT_APP */, 0u, 0u, 0u})
        Put32(fixed, v);

    TreeWriter w;
    const size_t root = w.Begin("VS_VERSION_INFO", 0, fixed, uint16_t(fixed.size()));
    const size_t strings = w.Begin("StringFileInfo", 1, {}, 0);
    const size_t table = w.Begin("040904b0", 1, {}, 0);
    w.String("Comments", "Loader for Thief 1, Thief 2 and System Shock 2 fan missions");
    w.String("CompanyName", "The Tallowmere developers");
    w.String("FileDescription", "Tallowmere fan mission loader");
    w.String("FileVersion", version);
    w.String("InternalName", "Tallowmere");
    w.String("LegalCopyright", "Copyright \xC2\xA9 2026 the Tallowmere developers");
    w.String("OriginalFileName", "Tallowmere");
    w.String("ProductName", TM_PRODUCT);
    w.String("ProductVersion", version);
    w.End(table);
    w.End(strings);
    const size_t vars = w.Begin("VarFileInfo", 1, {}, 0);
    std::vector<uint8_t> translation;
    Put32(translation, 0x04B00409u);  // U.S. English, Unicode
    w.End(w.Begin("Translation", 0, translation, uint16_t(translation.size())));
    w.End(vars);
    w.End(root);
    return w.Take();
}

}  // namespace versioninfo

TFileVersionInfo::TFileVersionInfo(const std::string& fileName) {
    SetFileName(fileName);
}

void TFileVersionInfo::SetFileName(const std::string& fileName) {
    fileName_ = fileName;
    read();
}

void TFileVersionInfo::read() {
    valid_ = false;
    buffer_.clear();
    fixed_ = TFixedFileInfo{};
    language_ = codePage_ = 0;
    hasTranslation_ = false;
#ifdef _WIN32
    std::string name = fileName_;
    if (name.empty()) {
        char own[MAX_PATH + 1] = {};
        const DWORD n = GetModuleFileNameA(nullptr, own, MAX_PATH);
        if (n == 0 || n >= MAX_PATH) return;
        name.assign(own, n);
    }
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(name.c_str(), &handle);
    if (size == 0) return;
    buffer_.assign(size, 0);
    if (!GetFileVersionInfoA(name.c_str(), 0, size, buffer_.data())) return;
    valid_ = true;
    void* value = nullptr;
    UINT length = 0;
    if (VerQueryValueA(buffer_.data(), "\\", &value, &length) && value)
        std::memcpy(&fixed_, value, std::min<size_t>(length, sizeof fixed_));
    if (VerQueryValueA(buffer_.data(), "\\VarFileInfo\\Translation", &value, &length) && value &&
        length >= 4) {
        const auto* halves = static_cast<const WORD*>(value);
        language_ = halves[0];
        codePage_ = halves[1];
        hasTranslation_ = true;
    }
#else
    buffer_ = fileName_.empty() ? versioninfo::BuildVersionResource()
                                : versioninfo::ReadPeVersionResource(fileName_);
    if (buffer_.empty()) return;
    valid_ = true;
    const versioninfo::QueryValue fixed = versioninfo::Query(buffer_, "\\");
    if (fixed.found && !fixed.text && !fixed.bytes.empty())
        std::memcpy(&fixed_, fixed.bytes.data(), std::min(fixed.bytes.size(), sizeof fixed_));
    const versioninfo::QueryValue translation =
        versioninfo::Query(buffer_, "\\VarFileInfo\\Translation");
    if (translation.found && translation.bytes.size() >= 4) {
        language_ = uint16_t(translation.bytes[0] | (translation.bytes[1] << 8));
        codePage_ = uint16_t(translation.bytes[2] | (translation.bytes[3] << 8));
        hasTranslation_ = true;
    }
#endif
}

std::string TFileVersionInfo::Entry(int n) const {
    const char* key = VersionEntryKey(n);
    if (!valid_ || !key || !hasTranslation_) return std::string();
    const std::string path = StringPath(language_, codePage_, key);
#ifdef _WIN32
    void* value = nullptr;
    UINT length = 0;
    // VerQueryValueA only reads the buffer, but is declared with a non-const one.
    auto* buffer = const_cast<uint8_t*>(buffer_.data());
    if (!VerQueryValueA(buffer, path.c_str(), &value, &length) || !value || length == 0)
        return std::string();
    const char* text = static_cast<const char*>(value);
    return std::string(text, strnlen(text, length));
#else
    const versioninfo::QueryValue v = versioninfo::Query(buffer_, path);
    if (!v.found) return std::string();
    return versioninfo::Utf16ToUtf8(v.bytes.data(), v.bytes.size() / 2);
#endif
}

TFileVersionInfo& ProgramVersionInfo() {
    static TFileVersionInfo info;
    return info;
}
