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

// --- File ----------------------------------------------------------------------------

File::~File() {
    close();
}

bool File::openRead(const std::string& path) {
    close();
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
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

uint64_t File::size() const {
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) return 0;
    return uint64_t(st.st_size);
}

bool File::close() {
    if (fd_ < 0) return true;
    int r = ::close(fd_);
    fd_ = -1;
    return r == 0;
}

// --- Directory reader ----------------------------------------------------------------

namespace {

using zipfmt::Cursor;

constexpr const char* kNoEndRecord = "not a ZIP archive (end of central directory not found)";

// Where the central directory lies, as the end record (or its ZIP64 form) says.
struct EndOfDirectory {
    zipfmt::EndRecord record;
    uint64_t recordPos = 0;  // the central directory ends where this record starts
    bool zip64 = false;
};

// Finds the end record in the last bytes of the file and takes the archive comment from
// behind it. A record that ends the file is taken whatever its comment length says (a
// comment running past the end is cut there); further in, the comment must reach the end.
std::string findEndRecord(const File& file, Directory& dir, EndOfDirectory& end) {
    const uint64_t fileSize = file.size();
    if (fileSize < zipfmt::kEndSize) return kNoEndRecord;
    const size_t tailLen = size_t(std::min<uint64_t>(fileSize, zipfmt::kMaxEndWindow + 64));
    std::vector<uint8_t> tail(tailLen);
    if (!file.readAt(tail.data(), tailLen, fileSize - tailLen)) return "cannot read the archive";
    const long found = zipfmt::findEndSignature(
        tail.data(), tailLen, long(tailLen - zipfmt::kEndSize), [&](size_t at) {
            const size_t after = tailLen - at - zipfmt::kEndSize;
            return after == 0 || zipfmt::load16(tail.data() + at + 20) <= after;
        });
    if (found < 0) return kNoEndRecord;
    const uint8_t* record = tail.data() + found;
    end.record = zipfmt::decodeEndRecord(record);
    end.recordPos = fileSize - tailLen + uint64_t(found);
    const size_t commentRoom = tailLen - size_t(found) - zipfmt::kEndSize;
    dir.comment.assign(reinterpret_cast<const char*>(record + zipfmt::kEndSize),
                       std::min<size_t>(end.record.commentLength, commentRoom));
    return {};
}

// A ZIP64 locator right before the end record points at the ZIP64 end record, whose
// values replace the record's; it is looked for where the locator says and right before
// the locator.
std::string readZip64End(const File& file, EndOfDirectory& end) {
    const uint64_t endPos = end.recordPos;
    uint8_t locator[zipfmt::kLocator64Size];
    if (endPos < zipfmt::kLocator64Size ||
        !file.readAt(locator, sizeof locator, endPos - zipfmt::kLocator64Size) ||
        zipfmt::load32(locator) != zipfmt::kSigLocator64)
        return {};
    const uint64_t locatorPos = endPos - zipfmt::kLocator64Size;
    const uint64_t candidates[2] = {zipfmt::load64(locator + 8),
                                    endPos >= 76 ? endPos - 76 : UINT64_MAX};
    uint8_t record[zipfmt::kEnd64Size];
    for (uint64_t pos : candidates) {
        if (pos == UINT64_MAX || pos > locatorPos || locatorPos - pos < zipfmt::kEnd64Size)
            continue;
        if (file.readAt(record, sizeof record, pos) &&
            zipfmt::load32(record) == zipfmt::kSigEnd64) {
            end.zip64 = true;
            end.recordPos = pos;
            end.record = zipfmt::decodeEnd64Record(record, end.record.commentLength);
            return {};
        }
    }
    return "damaged archive: ZIP64 end of central directory not found";
}

// Checks the end record's figures against the file and places the central directory.
std::string placeCentralDirectory(const EndOfDirectory& end, Directory& dir) {
    const zipfmt::EndRecord& record = end.record;
    if (!end.zip64 && (record.thisDisk != 0 || record.centralDisk != 0))
        return "multi-part (spanned) archives are not supported here";
    if (record.centralSize > end.recordPos)
        return "damaged archive: central directory larger than the file";
    const uint64_t cdStart = end.recordPos - record.centralSize;
    if (record.centralOffset > cdStart)
        return "damaged archive: central directory is truncated or misplaced";
    if (record.totalEntries > record.centralSize / zipfmt::kCentralHeaderSize)
        return "damaged archive: entry count does not fit the central directory";
    dir.prefix = cdStart - record.centralOffset;
    dir.cdStart = cdStart;
    dir.cdSize = record.centralSize;
    return {};
}

Entry entryFrom(zipfmt::CentralEntry& central) {
    const zipfmt::CentralHeader& h = central.header;
    Entry e;
    e.madeByVersion = h.madeByVersion;
    e.hostSystem = h.hostSystem;
    e.needed = h.versionNeeded;
    e.flags = h.flags;
    e.method = h.method;
    e.dosTime = h.dosTime;
    e.crc = h.crc;
    e.internalAttr = h.internalAttributes;
    e.externalAttr = h.externalAttributes;
    const zipfmt::WideValues wide = zipfmt::widenWithZip64(h, central.extra, true);
    e.csize = wide.compressedSize;
    e.usize = wide.uncompressedSize;
    e.offset = wide.localHeaderOffset;
    e.disk = wide.diskStart;
    e.name = std::move(central.name);
    e.extra = std::move(central.extra);
    e.comment = std::move(central.comment);
    return e;
}

// Reads the central headers up to the first that is not one; `walked` is where they end.
std::string readEntries(const std::vector<uint8_t>& cd, Directory& dir, size_t& walked) {
    walked = 0;
    zipfmt::CentralEntry central;
    for (;;) {
        Cursor in(cd.data() + walked, cd.size() - walked);
        auto read = [&in](void* buf, size_t n, bool) -> size_t {
            const std::string_view bytes = in.bytes(n);
            if (!in.ok()) return 0;
            if (n != 0) std::memcpy(buf, bytes.data(), n);
            return n;
        };
        const zipfmt::EntryRead got = zipfmt::readCentralEntry(read, central);
        if (got == zipfmt::EntryRead::ShortHeader || got == zipfmt::EntryRead::BadSignature)
            return {};
        if (got != zipfmt::EntryRead::Ok)
            return "damaged archive: truncated central directory entry";
        dir.entries.push_back(entryFrom(central));
        walked += in.offset();
    }
}

}  // namespace

std::string readDirectory(const File& file, Directory& dir) {
    dir = Directory{};
    EndOfDirectory end;
    std::string problem = findEndRecord(file, dir, end);
    if (problem.empty()) problem = readZip64End(file, end);
    if (problem.empty()) problem = placeCentralDirectory(end, dir);
    if (!problem.empty()) return problem;

    const uint64_t total = end.record.totalEntries;
    std::vector<uint8_t> cd;
    try {
        cd.resize(size_t(dir.cdSize));
        dir.entries.reserve(size_t(total));
    } catch (const std::bad_alloc&) {
        return "not enough memory for the central directory";
    }
    if (dir.cdSize && !file.readAt(cd.data(), cd.size(), dir.cdStart))
        return "cannot read the central directory";
    size_t walked = 0;
    problem = readEntries(cd, dir, walked);
    if (!problem.empty()) return problem;
    const uint64_t got = dir.entries.size();
    if (got != total) {
        // Writers without ZIP64 records keep only the low 16 bits of a large count.
        bool wrapped = !end.zip64 && walked == cd.size() && (got & 0xFFFF) == total;
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
