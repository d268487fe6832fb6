#include "archive/SevenZipHeader.h"

#include <lzma.h>
#include <zlib.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <vector>

namespace sevenzip {

namespace {

constexpr char kSignature[] = {'7', 'z', '\xBC', '\xAF', '\x27', '\x1C'};
constexpr uint64_t kStartHeaderSize = 32;
// A folder of more coders or streams than this is not one 7-Zip writes (libarchive takes
// at most four coders).
constexpr uint64_t kMaxCoders = 64;
// A header larger than this describes no mission (a member list of hundreds of thousands
// of names takes a few megabytes).
constexpr uint64_t kMaxHeader = 64 << 20;

// Property ids of the header.
enum : uint8_t {
    kEnd = 0x00,
    kHeader = 0x01,
    kArchiveProperties = 0x02,
    kAdditionalStreamsInfo = 0x03,
    kMainStreamsInfo = 0x04,
    kPackInfo = 0x06,
    kUnpackInfo = 0x07,
    kSize = 0x09,
    kCrc = 0x0A,
    kFolder = 0x0B,
    kCodersUnpackSize = 0x0C,
    kEncodedHeader = 0x17,
};

// Reads `size` bytes at `offset` of the archive; false when it holds fewer.
using ReadAt = std::function<bool(uint64_t offset, uint64_t size, std::string& out)>;

// A bounded reader over header bytes with a sticky error: once a read runs past the end,
// every later read yields 0 and ok() stays false.
class Cursor {
  public:
    explicit Cursor(const std::string& bytes) : data_(bytes) {}
    bool ok() const { return ok_; }
    uint8_t byte() {
        if (!ok_ || pos_ >= data_.size()) return fail();
        return static_cast<uint8_t>(data_[pos_++]);
    }
    // 7z's variable-length number: the leading one bits of the first byte count the
    // bytes that follow, little-endian, above the first byte's remaining bits.
    uint64_t number() {
        const uint8_t first = byte();
        uint64_t value = 0;
        for (int i = 0; i < 8; ++i) {
            const uint8_t mask = static_cast<uint8_t>(0x80u >> i);
            if ((first & mask) == 0) {
                const uint64_t high = first & (mask - 1u);
                return value | (high << (8 * i));
            }
            value |= static_cast<uint64_t>(byte()) << (8 * i);
        }
        return value;
    }
    void skip(uint64_t n) {
        if (!ok_ || n > data_.size() - pos_) {
            fail();
            return;
        }
        pos_ += static_cast<size_t>(n);
    }
    std::string bytes(uint64_t n) {
        const size_t at = pos_;
        skip(n);
        return ok_ ? data_.substr(at, static_cast<size_t>(n)) : std::string();
    }
    uint64_t left() const { return data_.size() - pos_; }

  private:
    uint8_t fail() {
        ok_ = false;
        return 0;
    }
    const std::string& data_;
    size_t pos_ = 0;
    bool ok_ = true;
};

struct Coder {
    std::string id;
    std::string props;
    uint64_t outStreams = 1;
};

struct Folder {
    std::vector<Coder> coders;
    std::vector<uint64_t> unpackSizes;  // one per out stream, in coder order
    uint64_t boundPairs = 0;
    uint64_t packedStreams = 1;
};

struct StreamsInfo {
    uint64_t packPos = 0;
    std::vector<uint64_t> packSizes;
    std::vector<Folder> folders;
    bool external = false;
};

uint32_t le32(const std::string& s, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<uint8_t>(s[at + static_cast<size_t>(i)]);
    return v;
}

uint64_t le64(const std::string& s, size_t at) {
    return le32(s, at) | (static_cast<uint64_t>(le32(s, at + 4)) << 32);
}

void skipDigests(Cursor& in, uint64_t count) {
    if (count > in.left() * 8) {
        in.skip(in.left() + 1);
        return;
    }
    uint64_t defined = count;
    if (in.byte() == 0) {
        defined = 0;
        for (uint64_t i = 0; i < (count + 7) / 8; ++i)
            defined += static_cast<uint64_t>(__builtin_popcount(in.byte()));
    }
    in.skip(defined * 4);
}

void readPackInfo(Cursor& in, StreamsInfo& info) {
    info.packPos = in.number();
    const uint64_t count = in.number();
    if (count > in.left()) return in.skip(in.left() + 1);
    for (uint8_t id = in.byte(); in.ok() && id != kEnd; id = in.byte()) {
        if (id == kSize) {
            for (uint64_t i = 0; i < count && in.ok(); ++i) info.packSizes.push_back(in.number());
        } else if (id == kCrc) {
            skipDigests(in, count);
        } else {
            in.skip(in.number());
        }
    }
}

void readFolder(Cursor& in, Folder& folder) {
    const uint64_t coders = in.number();
    if (coders == 0 || coders > kMaxCoders) return in.skip(in.left() + 1);
    uint64_t inStreams = 0, outStreams = 0;
    for (uint64_t i = 0; i < coders && in.ok(); ++i) {
        const uint8_t flags = in.byte();
        Coder coder;
        coder.id = in.bytes(flags & 0x0F);
        uint64_t ins = 1;
        if (flags & 0x10) {
            ins = in.number();
            coder.outStreams = in.number();
        }
        if (flags & 0x20) coder.props = in.bytes(in.number());
        if (flags & 0x80 || ins > kMaxCoders || coder.outStreams > kMaxCoders)
            return in.skip(in.left() + 1);
        inStreams += ins;
        outStreams += coder.outStreams;
        folder.coders.push_back(std::move(coder));
    }
    if (outStreams == 0 || inStreams < outStreams - 1) return in.skip(in.left() + 1);
    folder.boundPairs = outStreams - 1;
    for (uint64_t i = 0; i < folder.boundPairs; ++i) {
        in.number();
        in.number();
    }
    folder.packedStreams = inStreams - folder.boundPairs;
    if (folder.packedStreams > 1) {
        for (uint64_t i = 0; i < folder.packedStreams; ++i) in.number();
    }
}

void readUnpackInfo(Cursor& in, StreamsInfo& info) {
    if (in.byte() != kFolder) return in.skip(in.left() + 1);
    const uint64_t count = in.number();
    if (count > in.left()) return in.skip(in.left() + 1);
    info.external = in.byte() != 0;
    if (info.external) return;
    info.folders.resize(static_cast<size_t>(count));
    for (Folder& folder : info.folders) {
        if (!in.ok()) return;
        readFolder(in, folder);
    }
    if (in.byte() != kCodersUnpackSize) return in.skip(in.left() + 1);
    for (Folder& folder : info.folders) {
        for (const Coder& coder : folder.coders) {
            for (uint64_t i = 0; i < coder.outStreams && in.ok(); ++i)
                folder.unpackSizes.push_back(in.number());
        }
    }
    for (uint8_t id = in.byte(); in.ok() && id != kEnd; id = in.byte()) {
        if (id == kCrc) {
            skipDigests(in, count);
        } else {
            in.skip(in.number());
        }
    }
}

// Pack and coder information of a streams-info block; the sub-streams that may follow
// are not needed and not read.
StreamsInfo readStreamsInfo(Cursor& in) {
    StreamsInfo info;
    uint8_t id = in.byte();
    if (id == kPackInfo) {
        readPackInfo(in, info);
        id = in.byte();
    }
    if (id == kUnpackInfo) readUnpackInfo(in, info);
    return info;
}

// The memory one coder takes. The dictionary is allocated whole, whatever the data.
void measure(const Coder& coder, Demand& demand) {
    uint64_t memory = 0;
    const char* what = nullptr;
    const std::string& p = coder.props;
    if (coder.id == std::string("\x03\x01\x01", 3) && p.size() >= 5) {
        memory = le32(p, 1);
        what = "LZMA dictionary";
    } else if (coder.id == "\x21" && p.size() >= 1) {
        const uint8_t bits = static_cast<uint8_t>(p[0]);
        const uint64_t dict = bits >= 40 ? 0xFFFFFFFFull : (2ull | (bits & 1u)) << (bits / 2 + 11);
        memory = dict;
        what = "LZMA dictionary";
    } else if (coder.id == std::string("\x03\x04\x01", 3) && p.size() >= 5) {
        memory = le32(p, 1);
        what = "PPMd model";
    }
    if (what != nullptr && memory > demand.memory) {
        demand.memory = memory;
        demand.coder = what;
    }
}

void measureFolders(const StreamsInfo& info, Demand& demand) {
    for (const Folder& folder : info.folders) {
        for (const Coder& coder : folder.coders) measure(coder, demand);
    }
}

// Output grows with what the decoder actually produces, never with what the header
// declares, up to `size` bytes.
constexpr size_t kChunk = 1 << 16;

bool unpackLzma(const Coder& coder, const std::string& packed, uint64_t size, std::string& out) {
    lzma_filter filters[2] = {{LZMA_VLI_UNKNOWN, nullptr}, {LZMA_VLI_UNKNOWN, nullptr}};
    filters[0].id = coder.id == "\x21" ? LZMA_FILTER_LZMA2 : LZMA_FILTER_LZMA1;
    if (lzma_properties_decode(&filters[0], nullptr,
                               reinterpret_cast<const uint8_t*>(coder.props.data()),
                               coder.props.size()) != LZMA_OK)
        return false;
    lzma_stream stream = LZMA_STREAM_INIT;
    lzma_ret ret = lzma_raw_decoder(&stream, filters);
    free(filters[0].options);
    if (ret != LZMA_OK) return false;
    stream.next_in = reinterpret_cast<const uint8_t*>(packed.data());
    stream.avail_in = packed.size();
    out.clear();
    while (ret == LZMA_OK && out.size() < size) {
        const size_t done = out.size();
        out.resize(done + static_cast<size_t>(std::min<uint64_t>(kChunk, size - done)));
        stream.next_out = reinterpret_cast<uint8_t*>(out.data() + done);
        stream.avail_out = out.size() - done;
        ret = lzma_code(&stream, LZMA_RUN);
        out.resize(out.size() - stream.avail_out);
        if (ret == LZMA_OK && out.size() == done && stream.avail_in == 0) break;  // starved
    }
    lzma_end(&stream);
    return out.size() == size && (ret == LZMA_OK || ret == LZMA_STREAM_END);
}

bool unpackDeflate(const std::string& packed, uint64_t size, std::string& out) {
    z_stream stream{};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) return false;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
    stream.avail_in = static_cast<uInt>(packed.size());
    out.clear();
    int ret = Z_OK;
    while (ret == Z_OK && out.size() < size) {
        const size_t done = out.size();
        out.resize(done + static_cast<size_t>(std::min<uint64_t>(kChunk, size - done)));
        stream.next_out = reinterpret_cast<Bytef*>(out.data() + done);
        stream.avail_out = static_cast<uInt>(out.size() - done);
        ret = inflate(&stream, Z_NO_FLUSH);
        out.resize(out.size() - stream.avail_out);
        if (out.size() == done) break;
    }
    inflateEnd(&stream);
    return out.size() == size && (ret == Z_OK || ret == Z_STREAM_END);
}

// The header a compressed header unpacks to, when its one coder is one that can be
// unpacked here (7-Zip writes LZMA; Copy, LZMA2 and Deflate are taken too).
Demand::Verdict unpackHeader(const StreamsInfo& info, const ReadAt& readAt, uint64_t limit,
                             std::string& header) {
    if (info.external || info.folders.size() != 1 || info.packSizes.empty())
        return Demand::Unchecked;
    const Folder& folder = info.folders[0];
    if (folder.coders.size() != 1 || folder.unpackSizes.size() != 1 || folder.packedStreams != 1)
        return Demand::Unchecked;
    const uint64_t size = folder.unpackSizes[0];
    const uint64_t packedSize = info.packSizes[0];
    if (size > std::min(limit, kMaxHeader) || packedSize > limit) return Demand::TooLarge;
    if (info.packPos > UINT64_MAX - kStartHeaderSize) return Demand::Unreadable;
    std::string packed;
    if (!readAt(kStartHeaderSize + info.packPos, packedSize, packed)) return Demand::Unreadable;
    const Coder& coder = folder.coders[0];
    bool unpacked = false;
    if (coder.id == std::string(1, '\0')) {
        header = packed.substr(0, static_cast<size_t>(size));
        unpacked = header.size() == size;
    } else if (coder.id == std::string("\x03\x01\x01", 3) || coder.id == "\x21") {
        unpacked = unpackLzma(coder, packed, size, header);
    } else if (coder.id == std::string("\x04\x01\x08", 3)) {
        unpacked = unpackDeflate(packed, size, header);
    } else {
        return Demand::Unchecked;
    }
    return unpacked ? Demand::Fits : Demand::Unreadable;
}

// The main streams of a plain header: every folder of the archive's data.
Demand::Verdict readHeader(Cursor& in, Demand& demand) {
    uint8_t id = in.byte();
    if (id == kArchiveProperties) {
        for (uint8_t type = in.byte(); in.ok() && type != kEnd; type = in.byte())
            in.skip(in.number());
        id = in.byte();
    }
    if (id == kAdditionalStreamsInfo) return Demand::Unchecked;
    if (id == kMainStreamsInfo) {
        const StreamsInfo info = readStreamsInfo(in);
        if (!in.ok()) return Demand::Unreadable;
        if (info.external) return Demand::Unchecked;
        measureFolders(info, demand);
    }
    return in.ok() ? Demand::Fits : Demand::Unreadable;
}

Demand demandOf(const ReadAt& readAt, uint64_t limit) {
    Demand demand;
    std::string start;
    if (!readAt(0, kStartHeaderSize, start) || !hasSignature(start)) return demand;
    const uint64_t offset = le64(start, 12);
    const uint64_t size = le64(start, 20);
    if (size == 0) {
        demand.verdict = Demand::Fits;  // an empty archive
        return demand;
    }
    if (size > std::min(limit, kMaxHeader)) {
        demand.verdict = Demand::TooLarge;
        demand.memory = size;
        demand.coder = "header";
        return demand;
    }
    std::string header;
    if (offset > UINT64_MAX - kStartHeaderSize - size ||
        !readAt(kStartHeaderSize + offset, size, header))
        return demand;
    Cursor in(header);
    uint8_t id = in.byte();
    if (id == kEncodedHeader) {
        const StreamsInfo info = readStreamsInfo(in);
        if (!in.ok()) return demand;
        measureFolders(info, demand);
        if (demand.memory > limit) {
            demand.verdict = Demand::TooLarge;
            return demand;
        }
        std::string unpacked;
        demand.verdict = unpackHeader(info, readAt, limit, unpacked);
        if (demand.verdict != Demand::Fits) {
            if (demand.verdict == Demand::TooLarge) demand.coder = "header";
            return demand;
        }
        header.swap(unpacked);
        Cursor inner(header);
        if (inner.byte() != kHeader) {
            demand.verdict = Demand::Unreadable;
            return demand;
        }
        demand.verdict = readHeader(inner, demand);
    } else if (id == kHeader) {
        demand.verdict = readHeader(in, demand);
    }
    if (demand.verdict == Demand::Fits && demand.memory > limit) demand.verdict = Demand::TooLarge;
    return demand;
}

}  // namespace

bool hasSignature(const std::string& head) {
    return head.size() >= sizeof kSignature &&
           std::equal(kSignature, kSignature + sizeof kSignature, head.begin());
}

Demand decoderDemandOfBytes(const std::string& data, uint64_t limit) {
    return demandOf(
        [&data](uint64_t offset, uint64_t size, std::string& out) {
            if (offset > data.size() || size > data.size() - offset) return false;
            out = data.substr(static_cast<size_t>(offset), static_cast<size_t>(size));
            return true;
        },
        limit);
}

Demand decoderDemand(const std::string& path, uint64_t limit) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file) return Demand{};
    const auto end = static_cast<uint64_t>(std::max<std::streamoff>(0, file.tellg()));
    return demandOf(
        [&file, end](uint64_t offset, uint64_t size, std::string& out) {
            if (offset > end || size > end - offset) return false;
            out.assign(static_cast<size_t>(size), '\0');
            file.clear();
            file.seekg(static_cast<std::streamoff>(offset));
            file.read(out.data(), static_cast<std::streamsize>(size));
            return static_cast<uint64_t>(file.gcount()) == size;
        },
        limit);
}

}  // namespace sevenzip
