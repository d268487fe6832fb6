// The directory reader: finds the end-of-central-directory record (and its ZIP64 form) and
// walks the central directory into Entries. Every count and length read from the file is
// treated as untrusted: memory is only reserved when the file can hold what is declared,
// and every loop consumes file bytes, so a damaged archive ends in a message.

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <optional>
#include <vector>

#include "archive/ZipArchiver.h"
#include "archive/ZipEocdInfo.h"
#include "base/ZipFormat.h"
#include "base/ZipNames.h"
#include "platform/FileSystem.h"
#include "platform/Prompter.h"
#include "platform/TextUtil.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <share.h>
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using zipfmt::kSigCentral;
using zipfmt::kSigDescriptor;
using zipfmt::kSigEnd;
using zipfmt::kSigEnd64;
using zipfmt::kSigLocal;
using zipfmt::kSigLocator64;
using zipfmt::load32;
using zipfmt::load64;
constexpr int64_t kEocdSize = zipfmt::kEndSize;
constexpr int64_t kCentralHeaderSize = zipfmt::kCentralHeaderSize;
constexpr int64_t kZip64LocatorSize = zipfmt::kLocator64Size;
constexpr int64_t kZip64EocdSize = zipfmt::kEnd64Size;
constexpr int64_t kMaxEocdWindow = zipfmt::kMaxEndWindow;

// The end of the archive being read, kept in memory: it holds the end record and, in most
// archives, the whole central directory, so listing one takes a handful of system calls.
// Reads and seeks within it only move `pos`; anything else goes to the stream, which is
// first put where `pos` says.
struct Tail {
    std::FILE* file = nullptr;
    int64_t start = 0;
    int64_t pos = -1;  // the stream's logical position while it lies in here, else -1
    std::vector<unsigned char> bytes;
};
thread_local Tail tail;
constexpr int64_t kTailSize = 4 * 1024;
constexpr int64_t kMaxTailSize = 4 * 1024 * 1024;

// The stream List() opened and the length it found, for the end-record search to take over.
struct Opened {
    std::FILE* file = nullptr;
    int64_t length = 0;
};
thread_local Opened opened;

bool inTail(std::FILE* f) {
    return f != nullptr && f == tail.file && tail.pos >= 0;
}

bool seekStream(std::FILE* f, int64_t pos) {
#ifdef _WIN32
    return _fseeki64(f, pos, SEEK_SET) == 0;
#else
    return fseeko(f, static_cast<off_t>(pos), SEEK_SET) == 0;
#endif
}

bool seekTo(std::FILE* f, int64_t pos) {
    if (f == nullptr || pos < 0) return false;
    if (f == tail.file && pos >= tail.start &&
        pos - tail.start <= static_cast<int64_t>(tail.bytes.size())) {
        tail.pos = pos;
        return true;
    }
    if (f == tail.file) tail.pos = -1;
    return seekStream(f, pos);
}

int64_t lengthOf(std::FILE* f) {
#ifdef _WIN32
    if (_fseeki64(f, 0, SEEK_END) != 0) return -1;
    return _ftelli64(f);
#else
    struct stat st;
    if (fstat(fileno(f), &st) != 0) return -1;
    return static_cast<int64_t>(st.st_size);
#endif
}

size_t readBytes(std::FILE* f, void* buffer, size_t n) {
    if (n == 0) return 0;
    if (inTail(f)) {
        const int64_t end = tail.start + static_cast<int64_t>(tail.bytes.size());
        const size_t got =
            static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(n), end - tail.pos));
        if (got != 0) std::memcpy(buffer, tail.bytes.data() + (tail.pos - tail.start), got);
        tail.pos += static_cast<int64_t>(got);
        return got;  // the tail ends where the file does
    }
    return std::fread(buffer, 1, n, f);
}

// Reads n bytes at pos. Afterwards the stream's position is undefined: seek before the next
// readBytes.
bool readAt(std::FILE* f, int64_t pos, void* buffer, size_t n) {
    if (f == nullptr || pos < 0) return false;
#ifndef _WIN32
    if (f != tail.file || pos < tail.start) {
        if (f == tail.file) tail.pos = -1;
        return pread(fileno(f), buffer, n, static_cast<off_t>(pos)) == static_cast<ssize_t>(n);
    }
#endif
    return seekTo(f, pos) && readBytes(f, buffer, n) == n;
}

// Reads the last bytes of `f` (of `length` bytes) into the tail in one piece.
void loadTail(std::FILE* f, int64_t length) {
    tail.file = nullptr;
    tail.pos = -1;
    const int64_t size = std::clamp<int64_t>(length, 0, kTailSize);
    if (size == 0) return;
    tail.bytes.resize(static_cast<size_t>(size));
#ifdef _WIN32
    if (!seekStream(f, length - size) ||
        std::fread(tail.bytes.data(), 1, tail.bytes.size(), f) != tail.bytes.size())
        return;
#else
    if (pread(fileno(f), tail.bytes.data(), tail.bytes.size(), static_cast<off_t>(length - size)) !=
        size)
        return;
#endif
    tail.file = f;
    tail.start = length - size;
}

// Puts the bytes from `from` up to the tail in front of it, so that a central directory
// larger than the first read is read in one piece too.
void extendTail(std::FILE* f, int64_t from) {
    if (f != tail.file || from >= tail.start || from < 0 || tail.start - from > kMaxTailSize)
        return;
    std::vector<unsigned char> head(static_cast<size_t>(tail.start - from));
    if (!readAt(f, from, head.data(), head.size())) return;
    tail.bytes.insert(tail.bytes.begin(), head.begin(), head.end());
    tail.start = from;
}

// An existing file (not a folder), its path already resolved.
bool isFile(const std::string& resolved) {
#ifdef _WIN32
    return fsx::fileExists(resolved);
#else
    struct stat st;
    return !resolved.empty() && stat(resolved.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
#endif
}

int clampToInt(uint64_t v) {
    return v > INT_MAX ? INT_MAX : static_cast<int>(v);
}

// The drive part of a path with a trailing separator: "C:\", "\\server\share\", or "/" for
// the single tree of a POSIX system.
std::string driveRootOf(const std::string& path) {
#ifdef _WIN32
    char full[MAX_PATH * 2];
    DWORD n = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    std::string p = (n > 0 && n < sizeof full) ? std::string(full, n) : path;
    if (p.size() >= 2 && p[1] == ':') return p.substr(0, 2) + "\\";
    if (p.size() >= 2 && p[0] == '\\' && p[1] == '\\') {
        size_t server = p.find('\\', 2);
        if (server == std::string::npos) return p + "\\";
        size_t share = p.find('\\', server + 1);
        return (share == std::string::npos ? p : p.substr(0, share)) + "\\";
    }
    return p.substr(0, std::min<size_t>(p.size(), 2)) + "\\";
#else
    (void)path;
    return "/";
#endif
}

}  // namespace

bool TZipArchiver::OpenInput(const std::string& path) {
    CloseInput();
#ifdef _WIN32
    inFile_ = _fsopen(path.c_str(), "rb", _SH_DENYWR);
#else
    inFile_ = std::fopen(path.c_str(), "rb");
#endif
    return inFile_ != nullptr;
}

void TZipArchiver::CloseInput() {
    if (inFile_ != nullptr && inFile_ == tail.file) {
        tail.file = nullptr;
        tail.pos = -1;
    }
    if (inFile_ != nullptr && inFile_ == opened.file) opened.file = nullptr;
    if (inFile_ != nullptr) std::fclose(inFile_);
    inFile_ = nullptr;
}

void TZipArchiver::OpenPart(int disk) {
    std::string name = fsx::resolve(zipFileName_);
    if (disk != lastDisk_) {
        // Parts on a fixed drive carry their 1-based number in the three characters before
        // the extension.
        size_t nameStart = name.find_last_of("/\\");
        nameStart = nameStart == std::string::npos ? 0 : nameStart + 1;
        size_t dot = name.rfind('.');
        if (dot == std::string::npos || dot < nameStart) dot = name.size();
        if (dot - nameStart >= 3) {
            char digits[16];
            std::snprintf(digits, sizeof digits, "%03d", int((int64_t{disk} + 1) % 1000));
            name.replace(dot - 3, 3, digits);
            name = fsx::resolve(name);
        }
    }
    if (!OpenInput(name)) throw EZipArchiver(11001, true);
    currentDisk_ = disk;
}

bool TZipArchiver::DriveCheck() {
    volumeLabel_.clear();
    volumeSerial_ = 0;
    diskTotal_ = -1;
    diskFree_ = -1;
#ifdef _WIN32
    std::string root = text::upperAscii(driveRoot_);
    if (root.empty() || root[0] != '\\') {
        if (root.empty() || root[0] < 'A' || root[0] > 'Z') throw EZipArchiver(11003, root);
        if ((GetLogicalDrives() & (1u << (root[0] - 'A'))) == 0) throw EZipArchiver(11004, root);
    }
    UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS);
    char label[256] = {};
    DWORD serial = 0, maxComponent = 0, fsFlags = 0;
    if (!GetVolumeInformationA(root.c_str(), label, sizeof label, &serial, &maxComponent, &fsFlags,
                               nullptr, 0)) {
        DWORD err = GetLastError();
        SetErrorMode(oldMode);
        return err == ERROR_GEN_FAILURE && AddOptions.has(AddOptsEnum::AddDiskSpanErase);
    }
    volumeLabel_ = label;
    volumeSerial_ = serial;
    ULARGE_INTEGER avail, total, freeBytes;
    if (GetDiskFreeSpaceExA(root.c_str(), &avail, &total, &freeBytes)) {
        diskTotal_ = static_cast<int64_t>(total.QuadPart);
        diskFree_ = static_cast<int64_t>(avail.QuadPart);
    }
    SetErrorMode(oldMode);
    return root[0] == '\\' || diskTotal_ != -1;
#else
    // Mounted volumes stand for drives; the tree's root always passes. Nothing here reads
    // the disk figures (the spanned-set writer asks for free space when it opens a part),
    // so listing does not ask the file system for them.
    return true;
#endif
}

std::string TZipArchiver::ConvertOemName(const std::string& s, uint16_t flags, uint8_t hostSystem,
                                         uint8_t specVersion) const {
    const auto codePage = CodePage == CodePageOpts::cpOEM    ? zipnames::CodePage::Oem
                          : CodePage == CodePageOpts::cpNone ? zipnames::CodePage::None
                                                             : zipnames::CodePage::Auto;
    return zipnames::localName(s, flags, hostSystem, specVersion, codePage);
}

namespace {

// The number in a "PKBACK# nnn" volume label: up to three digits after the prefix (a label
// cut short still counts); 0 for any other label.
int volumeNumberOf(const std::string& label) {
    if (label.compare(0, 8, "PKBACK# ") != 0) return 0;
    const std::string number = label.substr(8, 3);
    int n = 0;
    bool digits = !number.empty();
    for (char c : number) {
        if (c < '0' || c > '9') digits = false;
        n = n * 10 + (c - '0');
    }
    return digits ? n : 0;
}

// The first part of a spanned set starts with the span marker and a local header.
bool startsSpannedSet(std::FILE* f) {
    unsigned char head[8];
    return readAt(f, 0, head, 8) && load32(head) == kSigDescriptor && load32(head + 4) == kSigLocal;
}

// An end record found behind a comment (or garbage) in the last bytes of the file.
struct EndScan {
    bool found = false;
    int64_t position = 0;
    unsigned char record[kEocdSize] = {};
    int64_t zipEnd = 0;    // where the record's comment ends
    bool garbage = false;  // bytes behind the comment that are not a block's zero padding
    std::string comment;   // up to its first zero byte
};

// Searches the last bytes of the file for the end record; the message id of a failure to
// read them, else 0.
int scanForEndRecord(std::FILE* f, int64_t length, EndScan& scan) {
    const int64_t window = std::clamp<int64_t>(length, 0, kMaxEocdWindow);
    std::string buf(static_cast<size_t>(window), '\0');
    if (length < 0 || !seekTo(f, length - window)) return 11008;
    if (readBytes(f, buf.data(), buf.size()) != buf.size()) return 11011;
    const auto* b = reinterpret_cast<const unsigned char*>(buf.data());
    const long i = zipfmt::findEndSignature(b, buf.size(), long(window - kEocdSize - 1),
                                            [](size_t) { return true; });
    if (i < 0) return 0;
    scan.found = true;
    scan.position = length - window + i;
    std::memcpy(scan.record, b + i, kEocdSize);
    const uint16_t commentLength = zipfmt::load16(scan.record + 20);
    scan.zipEnd = scan.position + kEocdSize + commentLength;
    if (scan.zipEnd != length) {
        // A block device pads the last block with zeros: that is not garbage.
        bool padding = length % 512 == 0 && scan.zipEnd < length && length - scan.zipEnd < 512;
        for (int64_t k = scan.zipEnd - (length - window); padding && k < window; ++k)
            if (b[k] != 0) padding = false;
        scan.garbage = !padding;
    }
    if (commentLength != 0) {
        const int64_t from = i + kEocdSize;
        const int64_t to = std::min<int64_t>(from + commentLength, window);
        const void* zero = std::memchr(b + from, 0, static_cast<size_t>(to - from));
        const int64_t stop =
            zero ? static_cast<const unsigned char*>(zero) - b : static_cast<int64_t>(to);
        scan.comment.assign(buf, static_cast<size_t>(from), static_cast<size_t>(stop - from));
    }
    return 0;
}

// No end record: a part of a spanned set other than the last, or no archive at all.
[[noreturn]] void throwNoEndRecord(bool firstPartMarker, int volumeNumber,
                                   const std::string& zipFileName) {
    if (!firstPartMarker) {
        if (volumeNumber != 0) throw EZipArchiver(11038, volumeNumber);
        throw EZipArchiver(11036, zipFileName);
    }
    if (volumeNumber == 1) throw EZipArchiver(11037, true);
    throw EZipArchiver(11045, true);
}

// ZIP64: a locator right before the end record (at `position`) points at the ZIP64 end
// record, whose values replace the 16- and 32-bit ones. Its position, when there is one.
std::optional<int64_t> findZip64End(std::FILE* f, int64_t position,
                                    unsigned char (&z)[kZip64EocdSize]) {
    unsigned char loc[kZip64LocatorSize];
    const int64_t locPos = position - kZip64LocatorSize;
    if (locPos < 0 || !readAt(f, locPos, loc, sizeof loc) || load32(loc) != kSigLocator64)
        return std::nullopt;
    // Usually the record lies right before the locator (also behind a prefix, where the
    // stored offset is off); else where the locator says.
    const int64_t guess = locPos - kZip64EocdSize;
    if (guess >= 0 && readAt(f, guess, z, sizeof z) && load32(z) == kSigEnd64 &&
        load64(z + 4) == static_cast<uint64_t>(kZip64EocdSize - 12))
        return guess;
    const uint64_t stored = load64(loc + 8);
    if (locPos >= kZip64EocdSize && stored <= static_cast<uint64_t>(locPos - kZip64EocdSize) &&
        readAt(f, static_cast<int64_t>(stored), z, sizeof z) && load32(z) == kSigEnd64)
        return static_cast<int64_t>(stored);
    return std::nullopt;
}

}  // namespace

bool TZipArchiver::LocateEOCD(bool raising, EocdInfo& out) {
    archiveComment_.clear();
    out = EocdInfo{};
    firstPartMarker_ = false;
    volumeNumber_ = 0;

    const bool reuse = inFile_ != nullptr && inFile_ == opened.file;
    opened.file = nullptr;
    if (!reuse && !OpenInput(inFileName_)) {
        if (raising) throw EZipArchiver(11001, true);
        ReportMessage(11002);
        return false;
    }
    volumeNumber_ = volumeNumberOf(volumeLabel_);

    const int64_t length = reuse ? opened.length : lengthOf(inFile_);
    loadTail(inFile_, length);
    if (startsSpannedSet(inFile_)) {
        firstPartMarker_ = true;
        isSpanned_ = true;
    }

    // An archive without a comment ends with the record. A record there whose comment
    // would run past the end of the file is taken too, its comment cut at the end.
    bool found = false;
    unsigned char rec[kEocdSize];
    if (length >= kEocdSize && readAt(inFile_, length - kEocdSize, rec, kEocdSize)) {
        zipEnd_ = length;
        fileLength_ = length;
        if (load32(rec) == kSigEnd) {
            out.position = length - kEocdSize;
            found = true;
        }
    }
    if (!found) {
        EndScan scan;
        if (const int failure = scanForEndRecord(inFile_, length, scan); failure != 0) {
            if (!raising) return false;
            throw EZipArchiver(failure, true);
        }
        if (scan.found) {
            out.position = scan.position;
            std::memcpy(rec, scan.record, kEocdSize);
            zipEnd_ = scan.zipEnd;
            fileLength_ = length;
            if (scan.garbage) ReportMessage(10204);
            archiveComment_ = std::move(scan.comment);
            found = true;
        }
    }
    if (!found) {
        if (!raising) return false;
        throwNoEndRecord(firstPartMarker_, volumeNumber_, zipFileName_);
    }
    const zipfmt::EndRecord end = zipfmt::decodeEndRecord(rec);
    out.thisDisk = end.thisDisk;
    out.centralDisk = end.centralDisk;
    out.totalEntries = end.totalEntries;
    out.centralSize = end.centralSize;
    out.centralOffset = end.centralOffset;
    out.commentLength = end.commentLength;
    unsigned char z[kZip64EocdSize];
    if (const std::optional<int64_t> at = findZip64End(inFile_, out.position, z)) {
        const zipfmt::EndRecord end64 = zipfmt::decodeEnd64Record(z, out.commentLength);
        out.zip64 = true;
        out.zip64Position = *at;
        out.thisDisk = end64.thisDisk;
        out.centralDisk = end64.centralDisk;
        out.totalEntries = end64.totalEntries;
        out.centralSize = end64.centralSize;
        out.centralOffset = end64.centralOffset;
    }
    return true;
}

namespace {

// The message id of a central entry that could not be read whole; 0 when it was.
int entryReadFailure(zipfmt::EntryRead got) {
    switch (got) {
        case zipfmt::EntryRead::Ok:
            return 0;
        case zipfmt::EntryRead::ShortHeader:
            return 11013;
        case zipfmt::EntryRead::BadSignature:
            return 11015;
        case zipfmt::EntryRead::ShortName:
            return 11017;
        case zipfmt::EntryRead::ShortExtra:
            return 10201;
        case zipfmt::EntryRead::ShortComment:
            return 11022;
    }
    return 10201;
}

ZipDirEntry entryFrom(const zipfmt::CentralHeader& h) {
    ZipDirEntry e;
    e.MadeByVersion = h.madeByVersion;
    e.HostSystem = h.hostSystem;
    e.VersionNeeded = h.versionNeeded;
    e.Flag = h.flags;
    e.CompressionMethod = h.method;
    e.DateTime = h.dosTime;
    e.CRC32 = h.crc;
    e.CompressedSize = h.compressedSize;
    e.UncompressedSize = h.uncompressedSize;
    e.FileNameLength = h.nameLength;
    e.ExtraFieldLength = h.extraLength;
    e.FileCommentLength = h.commentLength;
    e.DiskNumberStart = h.diskStart;
    e.InternalAttributes = h.internalAttributes;
    e.ExternalAttributes = h.externalAttributes;
    e.LocalHeaderOffset = h.localHeaderOffset;
    e.Encrypted = (e.Flag & 1) != 0;
    return e;
}

// Sizes and offset widened by the ZIP64 extended information field: only the fields whose
// 32-bit form is saturated are present, in this order. The disk number stays 16 bits.
void widenWithZip64(const zipfmt::CentralHeader& h, ZipDirEntry& e) {
    const zipfmt::WideValues wide = zipfmt::widenWithZip64(h, e.ExtraData, false);
    e.CompressedSize64 = wide.compressedSize;
    e.UncompressedSize64 = wide.uncompressedSize;
    e.LocalHeaderOffset64 = wide.localHeaderOffset;
}

}  // namespace

uint64_t TZipArchiver::ReadCentralDirectory(const EocdInfo& eocd, uint64_t lowest) {
    // Reserve only what the file can hold: every header takes at least 46 bytes.
    if (eocd.totalEntries <= eocd.centralSize / kCentralHeaderSize &&
        eocd.centralSize <= static_cast<uint64_t>(std::max<int64_t>(fileLength_, 0)))
        entries_.reserve(static_cast<size_t>(eocd.totalEntries));

    // The fixed part of a header that starts in the next part of a set is read there.
    auto read = [this](void* buf, size_t n, bool fixedPart) {
        size_t got = readBytes(inFile_, buf, n);
        while (fixedPart && got < n) {
            if (currentDisk_ >= lastDisk_) throw EZipArchiver(11013, true);
            OpenPart(currentDisk_ + 1);
            got = readBytes(inFile_, buf, n);
        }
        return got;
    };
    zipfmt::CentralEntry central;
    for (uint64_t k = 0; k < eocd.totalEntries; ++k) {
        if (const int failure = entryReadFailure(zipfmt::readCentralEntry(read, central)))
            throw EZipArchiver(failure, true);
        ZipDirEntry e = entryFrom(central.header);
        e.FileName = ConvertOemName(central.name, e.Flag, e.HostSystem, e.MadeByVersion);
        std::replace(e.FileName.begin(), e.FileName.end(), '/', '\\');
        e.ExtraData = central.extra;
        if (e.FileCommentLength != 0)
            e.FileComment = ConvertOemName(central.comment, e.Flag, e.HostSystem, e.MadeByVersion);
        widenWithZip64(central.header, e);

        lowest = std::min(lowest, e.LocalHeaderOffset64);

        const size_t cut = e.FileName.find_last_of("\\:");
        const bool namesFile =
            cut == std::string::npos ? !e.FileName.empty() : cut + 1 < e.FileName.size();
        if (UseDirOnlyEntries || namesFile) {
            entries_.push_back(std::move(e));
            if (OnNewName)
                OnNewName(this, static_cast<int>(std::min<uint64_t>(k + 1, INT_MAX)),
                          entries_.back());
        } else {
            ++dirOnlyCount_;
        }
    }
    return lowest;
}

namespace {

// Reports what ended a listing, from within the handler that caught it.
void reportListFailure(TZipArchiver& zip) {
    try {
        throw;
    } catch (const EZipArchiver& e) {
        zip.ReportException(e);
    } catch (const std::bad_alloc&) {
        zip.ReportMessage(10103);
    } catch (const std::exception& e) {
        zip.ReportMessage(10202, e.what());
    } catch (...) {
        zip.ReportMessage(10202);
    }
}

}  // namespace

// Opened here where that can be done before the end-record search, which then reads from
// this stream: false when there is no such file.
bool TZipArchiver::OpenForList(const std::string& resolved) {
#ifndef _WIN32
    if (!OpenInput(resolved)) return isFile(resolved);  // the search reports the failure
    struct stat st;
    if (fstat(fileno(inFile_), &st) != 0 || S_ISDIR(st.st_mode)) {
        CloseInput();
        return false;
    }
    opened.file = inFile_;
    opened.length = static_cast<int64_t>(st.st_size);
    return true;
#else
    return isFile(resolved);
#endif
}

// Where the central directory starts; -1 when it cannot lie where the end record says.
int64_t TZipArchiver::CentralDirectoryStart(const EocdInfo& eocd) {
    if (eocd.centralDisk == eocd.thisDisk) {
        // Counted back from the end record, so that a prefix (a stub) does not matter.
        const int64_t base = eocd.zip64 ? eocd.zip64Position : eocd.position;
        return eocd.centralSize > static_cast<uint64_t>(base)
                   ? -1
                   : base - static_cast<int64_t>(eocd.centralSize);
    }
    OpenPart(clampToInt(eocd.centralDisk));
    zipEnd_ = lengthOf(inFile_);
    fileLength_ = zipEnd_;
    const uint64_t stored = eocd.centralOffset;
    return stored > static_cast<uint64_t>(INT64_MAX) ? -1 : static_cast<int64_t>(stored);
}

void TZipArchiver::List() {
    entries_.clear();
    centralDirOffset_ = 0;
    sfxOffset_ = 0;
    dirOnlyCount_ = 0;
    fileLength_ = 0;
    centralStoredOffset_ = 0;
    archiveComment_.clear();
    isSpanned_ = false;
    structureWarning_ = false;
    bool failed = false;

    const std::string resolved = fsx::resolve(zipFileName_);
    if (!OpenForList(resolved)) {
        if (OnDirUpdate) OnDirUpdate(this);
        return;
    }

    std::optional<BusyCursor> busy;
    busy.emplace();
    int64_t start = 0;
    uint64_t stored = 0;
    uint64_t lowest = 0;
    try {
        inFileName_ = resolved;
        driveRoot_ = driveRootOf(inFileName_);
        if (!DriveCheck()) throw EZipArchiver(11004, driveRoot_);

        EocdInfo eocd;
        LocateEOCD(true, eocd);
        lastDisk_ = clampToInt(eocd.thisDisk);
        if (lastDisk_ != 0) isSpanned_ = true;
        currentDisk_ = lastDisk_;

        stored = eocd.centralOffset;
        centralStoredOffset_ = stored;
        start = CentralDirectoryStart(eocd);
        if (start >= 0) centralDirOffset_ = start;
        // The lowest local header offset; with no members the central directory's own.
        lowest = stored;

        if (start < 0 || stored != static_cast<uint64_t>(start)) {
            structureWarning_ = true;
            ReportMessage(10203);
        }
        extendTail(inFile_, start);
        if (!seekTo(inFile_, start)) throw EZipArchiver(10201, true);

        lowest = ReadCentralDirectory(eocd, lowest);
        lastDisk_ = clampToInt(eocd.thisDisk);
    } catch (...) {
        failed = true;
        reportListFailure(*this);
    }

    busy.reset();
    CloseInput();
    if (failed) {
        zipFileName_.clear();
        sfxOffset_ = 0;
        entries_.clear();
    } else {
        // The members' real position: their stored offsets moved by as much as the
        // central directory was found away from where it says it is.
        const uint64_t before = stored - lowest;  // lowest <= stored
        sfxOffset_ =
            before >= static_cast<uint64_t>(start) ? 0 : start - static_cast<int64_t>(before);
    }
    if (OnDirUpdate) OnDirUpdate(this);
}
