#include "EngineCommon.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

namespace tmeng {

void put16(std::string& s, uint16_t v) {
    s.push_back(char(v & 0xFF));
    s.push_back(char(v >> 8));
}
void put32(std::string& s, uint32_t v) {
    put16(s, uint16_t(v & 0xFFFF));
    put16(s, uint16_t(v >> 16));
}
void put64(std::string& s, uint64_t v) {
    put32(s, uint32_t(v));
    put32(s, uint32_t(v >> 32));
}

// --- File ----------------------------------------------------------------------------

File::~File() {
    close();
}

bool File::openRead(const std::string& path) {
    close();
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    return fd_ >= 0;
}

bool File::createNew(const std::string& path) {
    close();
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    return fd_ >= 0;
}

bool File::readAt(void* buf, size_t n, uint64_t off) const {
    auto* p = static_cast<uint8_t*>(buf);
    while (n > 0) {
        ssize_t r = ::pread(fd_, p, std::min<size_t>(n, size_t(1) << 30), off_t(off));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        p += r;
        n -= size_t(r);
        off += uint64_t(r);
    }
    return true;
}

bool File::writeAll(const void* buf, size_t n) {
    auto* p = static_cast<const uint8_t*>(buf);
    while (n > 0) {
        ssize_t r = ::write(fd_, p, std::min<size_t>(n, size_t(1) << 30));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        p += r;
        n -= size_t(r);
    }
    return true;
}

bool File::writeAt(const void* buf, size_t n, uint64_t off) {
    auto* p = static_cast<const uint8_t*>(buf);
    while (n > 0) {
        ssize_t r = ::pwrite(fd_, p, std::min<size_t>(n, size_t(1) << 30), off_t(off));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        p += r;
        n -= size_t(r);
        off += uint64_t(r);
    }
    return true;
}

uint64_t File::size() const {
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) return 0;
    return uint64_t(st.st_size);
}

bool File::sync() {
    return fd_ >= 0 && ::fsync(fd_) == 0;
}

bool File::close() {
    if (fd_ < 0) return true;
    int r = ::close(fd_);
    fd_ = -1;
    return r == 0;
}

// --- Directory reader ----------------------------------------------------------------

namespace {

// Applies a ZIP64 extended information field to the values saturated in the header.
void applyZip64(Entry& e, uint32_t usize32, uint32_t csize32, uint32_t off32, uint16_t disk16) {
    const auto* p = reinterpret_cast<const uint8_t*>(e.extra.data());
    size_t n = e.extra.size();
    size_t i = 0;
    while (i + 4 <= n) {
        uint16_t id = rd16(p + i);
        uint16_t len = rd16(p + i + 2);
        if (i + 4 + len > n) break;
        if (id == 0x0001) {
            const uint8_t* q = p + i + 4;
            size_t left = len;
            auto take64 = [&](uint64_t& v) {
                if (left >= 8) {
                    v = rd64(q);
                    q += 8;
                    left -= 8;
                }
            };
            if (usize32 == 0xFFFFFFFF) take64(e.usize);
            if (csize32 == 0xFFFFFFFF) take64(e.csize);
            if (off32 == 0xFFFFFFFF) take64(e.offset);
            if (disk16 == 0xFFFF && left >= 4) e.disk = rd32(q);
            return;
        }
        i += 4 + size_t(len);
    }
}

}  // namespace

std::string readDirectory(const File& file, Directory& dir) {
    dir = Directory{};
    const uint64_t fileSize = file.size();
    if (fileSize < 22) return "not a ZIP archive (end of central directory not found)";
    const size_t tailLen = size_t(std::min<uint64_t>(fileSize, 22 + 65535 + 64));
    std::vector<uint8_t> tail(tailLen);
    if (!file.readAt(tail.data(), tailLen, fileSize - tailLen)) return "cannot read the archive";
    // A record that ends the file is taken whatever its comment length says (a comment
    // running past the end is cut there); further in, the comment must reach the end.
    long found = -1;
    for (long i = long(tailLen) - 22; i >= 0; --i) {
        const uint8_t* p = tail.data() + i;
        const size_t after = tailLen - size_t(i) - 22;
        if (rd32(p) == kSigEnd && (after == 0 || rd16(p + 20) <= after)) {
            found = i;
            break;
        }
    }
    if (found < 0) return "not a ZIP archive (end of central directory not found)";
    const uint8_t* end = tail.data() + found;
    const uint64_t endPos = fileSize - tailLen + uint64_t(found);
    const size_t commentRoom = tailLen - size_t(found) - 22;
    dir.comment.assign(reinterpret_cast<const char*>(end + 22),
                       std::min<size_t>(rd16(end + 20), commentRoom));
    uint64_t total = rd16(end + 10);
    uint64_t cdSize = rd32(end + 12);
    uint64_t cdOff = rd32(end + 16);
    bool zip64 = false;
    uint64_t recordPos = endPos;  // the central directory ends where this record starts

    if (endPos >= 20) {
        uint8_t loc[20];
        if (file.readAt(loc, 20, endPos - 20) && rd32(loc) == kSigLocator64) {
            uint64_t stored = rd64(loc + 8);
            uint8_t rec[56];
            uint64_t candidates[2] = {stored, endPos >= 76 ? endPos - 76 : UINT64_MAX};
            for (uint64_t pos : candidates) {
                if (pos == UINT64_MAX || pos > endPos - 20 || endPos - 20 - pos < 56) continue;
                if (file.readAt(rec, 56, pos) && rd32(rec) == kSigEnd64) {
                    zip64 = true;
                    recordPos = pos;
                    total = rd64(rec + 32);
                    cdSize = rd64(rec + 40);
                    cdOff = rd64(rec + 48);
                    break;
                }
            }
            if (!zip64) return "damaged archive: ZIP64 end of central directory not found";
        }
    }
    if (!zip64 && (rd16(end + 4) != 0 || rd16(end + 6) != 0))
        return "multi-part (spanned) archives are not supported here";
    if (cdSize > recordPos) return "damaged archive: central directory larger than the file";
    const uint64_t cdStart = recordPos - cdSize;
    if (cdOff > cdStart) return "damaged archive: central directory is truncated or misplaced";
    if (total > cdSize / 46)
        return "damaged archive: entry count does not fit the central directory";
    dir.prefix = cdStart - cdOff;
    dir.cdStart = cdStart;
    dir.cdSize = cdSize;

    std::vector<uint8_t> cd;
    try {
        cd.resize(size_t(cdSize));
        dir.entries.reserve(size_t(total));
    } catch (const std::bad_alloc&) {
        return "not enough memory for the central directory";
    }
    if (cdSize && !file.readAt(cd.data(), cd.size(), cdStart))
        return "cannot read the central directory";
    size_t pos = 0;
    while (pos + 46 <= cd.size() && rd32(cd.data() + pos) == kSigCentral) {
        const uint8_t* h = cd.data() + pos;
        size_t n = rd16(h + 28), m = rd16(h + 30), k = rd16(h + 32);
        if (pos + 46 + n + m + k > cd.size())
            return "damaged archive: truncated central directory entry";
        Entry e;
        e.madeByVersion = h[4];
        e.hostSystem = h[5];
        e.needed = rd16(h + 6);
        e.flags = rd16(h + 8);
        e.method = rd16(h + 10);
        e.dosTime = rd32(h + 12);
        e.crc = rd32(h + 16);
        uint32_t c32 = rd32(h + 20), u32 = rd32(h + 24), o32 = rd32(h + 42);
        uint16_t d16 = rd16(h + 34);
        e.csize = c32;
        e.usize = u32;
        e.offset = o32;
        e.disk = d16;
        e.internalAttr = rd16(h + 36);
        e.externalAttr = rd32(h + 38);
        e.name.assign(reinterpret_cast<const char*>(h + 46), n);
        e.extra.assign(reinterpret_cast<const char*>(h + 46 + n), m);
        e.comment.assign(reinterpret_cast<const char*>(h + 46 + n + m), k);
        if (c32 == 0xFFFFFFFF || u32 == 0xFFFFFFFF || o32 == 0xFFFFFFFF || d16 == 0xFFFF)
            applyZip64(e, u32, c32, o32, d16);
        dir.entries.push_back(std::move(e));
        pos += 46 + n + m + k;
    }
    const uint64_t got = dir.entries.size();
    if (got != total) {
        // Writers without ZIP64 records keep only the low 16 bits of a large count.
        bool wrapped = !zip64 && pos == cd.size() && (got & 0xFFFF) == total;
        if (!wrapped)
            return "damaged archive: central directory holds " + std::to_string(got) +
                   " entries, the end record announces " + std::to_string(total);
    }
    return {};
}

// --- Names ---------------------------------------------------------------------------

char foldChar(char c) {
    if (c >= 'A' && c <= 'Z') return char(c - 'A' + 'a');
    if (c == '\\') return '/';
    return c;
}

std::string foldCase(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return r;
}

std::string nameKey(std::string_view s) {
    std::string r(s);
    for (char& c : r) c = foldChar(c);
    return r;
}

bool matchSpec(std::string_view pattern, std::string_view name) {
    if (pattern == "*.*" || pattern == "*") return true;
    // Iterative matcher: on a mismatch return to the last "*" and let it take one more
    // character. Linear in practice, never exponential.
    size_t p = 0, n = 0, starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == '?' || foldChar(pattern[p]) == foldChar(name[n]))) {
            ++p;
            ++n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

bool isAscii(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return uint8_t(c) < 0x80; });
}

bool isValidUtf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        uint8_t c = uint8_t(s[i]);
        size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (len == 0 || i + len > s.size()) return false;
        if (len == 2 && c < 0xC2) return false;
        for (size_t k = 1; k < len; ++k)
            if ((uint8_t(s[i + k]) & 0xC0) != 0x80) return false;
        i += len;
    }
    return true;
}

std::string displayName(std::string_view name) {
    std::string r(name);
    std::replace(r.begin(), r.end(), '/', '\\');
    return r;
}

// --- DOS times -----------------------------------------------------------------------

std::time_t dosToTime(uint32_t dos) {
    std::tm tm{};
    uint32_t date = dos >> 16, time = dos & 0xFFFF;
    tm.tm_year = int((date >> 9) & 0x7F) + 80;
    tm.tm_mon = std::max(int((date >> 5) & 0x0F), 1) - 1;
    tm.tm_mday = std::max(int(date & 0x1F), 1);
    tm.tm_hour = int(time >> 11);
    tm.tm_min = int((time >> 5) & 0x3F);
    tm.tm_sec = int((time & 0x1F) * 2);
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

uint32_t timeToDos(std::time_t t) {
    t = (t + 1) & ~std::time_t(1);  // DOS keeps even seconds; round up like other writers
    std::tm tm{};
    if (!localtime_r(&t, &tm) || tm.tm_year < 80)
        return (0u << 25) | (1u << 21) | (1u << 16);  // 1980-01-01 00:00:00
    if (tm.tm_year > 207) tm.tm_year = 207;
    uint32_t date = uint32_t((tm.tm_year - 80) << 9 | (tm.tm_mon + 1) << 5 | tm.tm_mday);
    uint32_t time = uint32_t(tm.tm_hour << 11 | tm.tm_min << 5 | tm.tm_sec / 2);
    return date << 16 | time;
}

// --- Cipher --------------------------------------------------------------------------

ZipCrypto::ZipCrypto(std::string_view password)
    : keys_{0x12345678, 0x23456789, 0x34567890},
      table_(reinterpret_cast<const uint32_t*>(get_crc_table())) {
    for (char c : password) update(uint8_t(c));
}

void ZipCrypto::update(uint8_t c) {
    keys_[0] = table_[(keys_[0] ^ c) & 0xFF] ^ (keys_[0] >> 8);
    keys_[1] = (keys_[1] + (keys_[0] & 0xFF)) * 134775813u + 1;
    keys_[2] = table_[(keys_[2] ^ (keys_[1] >> 24)) & 0xFF] ^ (keys_[2] >> 8);
}

// --- Callback ------------------------------------------------------------------------

Callback::Callback(engine::EngineCallback fn, void* caller) : fn_(fn) {
    rec_.caller = caller;
    rec_.version = engine::kInterfaceVersion;
}

bool Callback::send(int32_t action, int32_t arg1, int64_t arg2, std::string_view text) {
    if (stopped_ || !fn_) return !stopped_;
    rec_.actionCode = action;
    rec_.arg1 = arg1;
    if (arg2 > INT32_MAX || arg2 < INT32_MIN) {
        rec_.arg2 = arg2 > 0 ? INT32_MAX : INT32_MIN;
        rec_.arg2Wide = arg2;
    } else {
        rec_.arg2 = int32_t(arg2);
        rec_.arg2Wide = 0;
    }
    size_t n = std::min(text.size(), sizeof(rec_.text) - 1);
    if (n) std::memcpy(rec_.text, text.data(), n);
    std::memset(rec_.text + n, 0, sizeof(rec_.text) - n);
    if (fn_(&rec_) == -1) stopped_ = true;
    return !stopped_;
}

std::string Callback::text() const {
    return std::string(rec_.text, strnlen(rec_.text, sizeof(rec_.text)));
}

}  // namespace tmeng
