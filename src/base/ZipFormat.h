#pragma once
// The ZIP format as the program, the engines and the archive component read and write it:
// record signatures and sizes, a bounded little-endian cursor with a sticky error, the
// little-endian writers, the central header and its ZIP64 extra field, and the search for
// the end record. Every bound is written by subtraction (`n > size - pos`), so that no sum
// of untrusted values can wrap. Header-only and free of Qt.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace zipfmt {

inline constexpr uint32_t kSigLocal = 0x04034B50;
inline constexpr uint32_t kSigCentral = 0x02014B50;
inline constexpr uint32_t kSigEnd = 0x06054B50;
inline constexpr uint32_t kSigEnd64 = 0x06064B50;
inline constexpr uint32_t kSigLocator64 = 0x07064B50;
// The data descriptor's signature, which also opens the first part of a spanned set.
inline constexpr uint32_t kSigDescriptor = 0x08074B50;

inline constexpr size_t kLocalHeaderSize = 30;
inline constexpr size_t kCentralHeaderSize = 46;
inline constexpr size_t kEndSize = 22;
inline constexpr size_t kLocator64Size = 20;
inline constexpr size_t kEnd64Size = 56;
// The end record and the longest comment it can announce.
inline constexpr size_t kMaxEndWindow = 65535 + kEndSize;
inline constexpr uint16_t kZip64ExtraId = 0x0001;

// Reads little-endian values from a buffer of known size. A read that does not fit fails:
// it yields zeros and clears ok() for good, so that a record's fields are all read first
// and ok() tested once.
class Cursor {
  public:
    Cursor(const void* data, size_t size)
        : data_(static_cast<const unsigned char*>(data)), size_(size) {}
    explicit Cursor(std::string_view bytes) : Cursor(bytes.data(), bytes.size()) {}

    bool ok() const { return ok_; }
    size_t offset() const { return pos_; }
    size_t left() const { return size_ - pos_; }

    uint8_t u8() {
        const unsigned char* p = take(1);
        return p ? p[0] : 0;
    }
    uint16_t u16() {
        const unsigned char* p = take(2);
        return p ? static_cast<uint16_t>(p[0] | (p[1] << 8)) : 0;
    }
    uint32_t u32() {
        const unsigned char* p = take(4);
        return p ? load32(p) : 0;
    }
    uint64_t u64() {
        const unsigned char* p = take(8);
        return p ? load32(p) | static_cast<uint64_t>(load32(p + 4)) << 32 : 0;
    }
    // The next n bytes; empty (and ok() false) when fewer are left.
    std::string_view bytes(size_t n) {
        const unsigned char* p = take(n);
        return p ? std::string_view(reinterpret_cast<const char*>(p), n) : std::string_view();
    }
    void skip(size_t n) { take(n); }
    // Moves to `offset` from the start; past the end fails.
    void seek(size_t offset) {
        if (offset > size_)
            ok_ = false;
        else
            pos_ = offset;
    }

  private:
    static uint32_t load32(const unsigned char* p) {
        return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
               static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
    }
    const unsigned char* take(size_t n) {
        if (!ok_ || n > size_ - pos_) {
            ok_ = false;
            return nullptr;
        }
        const unsigned char* p = data_ + pos_;
        pos_ += n;
        return p;
    }

    const unsigned char* data_;
    size_t size_;
    size_t pos_ = 0;
    bool ok_ = true;
};

// The little-endian value at p, for a record whose size has been checked.
inline uint16_t load16(const void* p) {
    return Cursor(p, 2).u16();
}
inline uint32_t load32(const void* p) {
    return Cursor(p, 4).u32();
}
inline uint64_t load64(const void* p) {
    return Cursor(p, 8).u64();
}

// Stores little-endian values in place.
inline void store16(void* p, uint16_t v) {
    auto* b = static_cast<unsigned char*>(p);
    b[0] = static_cast<unsigned char>(v);
    b[1] = static_cast<unsigned char>(v >> 8);
}
inline void store32(void* p, uint32_t v) {
    store16(p, static_cast<uint16_t>(v & 0xFFFF));
    store16(static_cast<unsigned char*>(p) + 2, static_cast<uint16_t>(v >> 16));
}

// Appends little-endian values.
inline void append16(std::string& s, uint16_t v) {
    s.push_back(static_cast<char>(v & 0xFF));
    s.push_back(static_cast<char>(v >> 8));
}
inline void append32(std::string& s, uint32_t v) {
    append16(s, static_cast<uint16_t>(v & 0xFFFF));
    append16(s, static_cast<uint16_t>(v >> 16));
}
inline void append64(std::string& s, uint64_t v) {
    append32(s, static_cast<uint32_t>(v));
    append32(s, static_cast<uint32_t>(v >> 32));
}

// The fixed part of a central header, as stored (32-bit values possibly saturated).
struct CentralHeader {
    uint32_t signature = 0;
    uint8_t madeByVersion = 0;
    uint8_t hostSystem = 0;
    uint16_t versionNeeded = 0;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint32_t dosTime = 0;
    uint32_t crc = 0;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
    uint16_t nameLength = 0;
    uint16_t extraLength = 0;
    uint16_t commentLength = 0;
    uint16_t diskStart = 0;
    uint16_t internalAttributes = 0;
    uint32_t externalAttributes = 0;
    uint32_t localHeaderOffset = 0;

    bool hasSignature() const { return signature == kSigCentral; }
    // Bytes of name, extra field and comment after the fixed part.
    size_t variableLength() const {
        return size_t(nameLength) + size_t(extraLength) + size_t(commentLength);
    }
};

// Decodes the fixed 46 bytes at the cursor; false when they are not all there (the
// signature is left for the caller to judge).
inline bool decodeCentralHeader(Cursor& in, CentralHeader& h) {
    h.signature = in.u32();
    h.madeByVersion = in.u8();
    h.hostSystem = in.u8();
    h.versionNeeded = in.u16();
    h.flags = in.u16();
    h.method = in.u16();
    h.dosTime = in.u32();
    h.crc = in.u32();
    h.compressedSize = in.u32();
    h.uncompressedSize = in.u32();
    h.nameLength = in.u16();
    h.extraLength = in.u16();
    h.commentLength = in.u16();
    h.diskStart = in.u16();
    h.internalAttributes = in.u16();
    h.externalAttributes = in.u32();
    h.localHeaderOffset = in.u32();
    return in.ok();
}
inline bool decodeCentralHeader(const void* fixed46, CentralHeader& h) {
    Cursor in(fixed46, kCentralHeaderSize);
    return decodeCentralHeader(in, h);
}

// One central header with the name, extra field and comment behind it, as stored.
struct CentralEntry {
    CentralHeader header;
    std::string fixed;  // the header's 46 bytes
    std::string name;
    std::string extra;
    std::string comment;
};

// How reading a central entry ended; the first piece that did not come whole is named.
enum class EntryRead { Ok, ShortHeader, BadSignature, ShortName, ShortExtra, ShortComment };

// The walk of a central directory, one entry at a time: reads the next header and what
// follows it through `read(buffer, n, fixedPart)`, which answers the bytes it got
// (`fixedPart`: the header's 46 bytes rather than a piece behind them). Stops at the first
// piece that is short, or at a header without its signature. Every reader of a central
// directory (the component's listing, its spanned-set code, the engines) walks with this.
template <class Read>
EntryRead readCentralEntry(Read&& read, CentralEntry& e) {
    e.fixed.resize(kCentralHeaderSize);
    if (read(e.fixed.data(), kCentralHeaderSize, true) != kCentralHeaderSize)
        return EntryRead::ShortHeader;
    decodeCentralHeader(e.fixed.data(), e.header);
    if (!e.header.hasSignature()) return EntryRead::BadSignature;
    auto piece = [&read](std::string& s, size_t n) {
        s.resize(n);
        return read(s.data(), n, false) == n;
    };
    if (!piece(e.name, e.header.nameLength)) return EntryRead::ShortName;
    if (!piece(e.extra, e.header.extraLength)) return EntryRead::ShortExtra;
    if (!piece(e.comment, e.header.commentLength)) return EntryRead::ShortComment;
    return EntryRead::Ok;
}

// Sizes, offset and disk of a member: the header's values, widened by its ZIP64 field.
struct WideValues {
    uint64_t uncompressedSize = 0;
    uint64_t compressedSize = 0;
    uint64_t localHeaderOffset = 0;
    uint32_t diskStart = 0;
};

// The header's values, those saturated in it replaced from the ZIP64 extended information
// field of `extra` (present in this order, each only when saturated; one that does not fit
// is left as it is). The disk number is widened only when `wideDisk` is set.
inline WideValues widenWithZip64(const CentralHeader& h, std::string_view extra, bool wideDisk) {
    WideValues v{h.uncompressedSize, h.compressedSize, h.localHeaderOffset, h.diskStart};
    Cursor fields(extra);
    while (fields.left() >= 4) {
        const uint16_t id = fields.u16();
        const uint16_t size = fields.u16();
        if (size > fields.left()) break;
        Cursor body(fields.bytes(size));
        if (id != kZip64ExtraId) continue;
        auto take64 = [&body](uint64_t& value) {
            if (body.left() >= 8) value = body.u64();
        };
        if (h.uncompressedSize == 0xFFFFFFFFu) take64(v.uncompressedSize);
        if (h.compressedSize == 0xFFFFFFFFu) take64(v.compressedSize);
        if (h.localHeaderOffset == 0xFFFFFFFFu) take64(v.localHeaderOffset);
        if (wideDisk && h.diskStart == 0xFFFF && body.left() >= 4) v.diskStart = body.u32();
        break;
    }
    return v;
}

// The fields of an end record (22 bytes, signature included) or of a ZIP64 end record
// (56 bytes), widened to one form.
struct EndRecord {
    uint32_t thisDisk = 0;
    uint32_t centralDisk = 0;
    uint64_t entriesHere = 0;
    uint64_t totalEntries = 0;
    uint64_t centralSize = 0;
    uint64_t centralOffset = 0;
    uint16_t commentLength = 0;
};

inline EndRecord decodeEndRecord(const void* record22) {
    Cursor in(record22, kEndSize);
    EndRecord e;
    in.skip(4);
    e.thisDisk = in.u16();
    e.centralDisk = in.u16();
    e.entriesHere = in.u16();
    e.totalEntries = in.u16();
    e.centralSize = in.u32();
    e.centralOffset = in.u32();
    e.commentLength = in.u16();
    return e;
}

// The ZIP64 end record; its own size field is at bytes 4..11 (44 for the fixed form).
inline EndRecord decodeEnd64Record(const void* record56, uint16_t commentLength) {
    Cursor in(record56, kEnd64Size);
    EndRecord e;
    in.skip(16);
    e.thisDisk = in.u32();
    e.centralDisk = in.u32();
    e.entriesHere = in.u64();
    e.totalEntries = in.u64();
    e.centralSize = in.u64();
    e.centralOffset = in.u64();
    e.commentLength = commentLength;
    return e;
}

// The last end-record signature in `window` starting at or before `from` (an offset from
// which kEndSize bytes fit) that `accept(offset)` takes; -1 when none.
template <class Accept>
long findEndSignature(const unsigned char* window, size_t size, long from, Accept accept) {
    if (size < kEndSize) return -1;
    if (from > long(size - kEndSize)) from = long(size - kEndSize);
    for (long i = from; i >= 0; --i)
        if (load32(window + i) == kSigEnd && accept(size_t(i))) return i;
    return -1;
}

}  // namespace zipfmt
