// Spanned sets and self-extractor stubs.
//
// A spanned set is one archive cut into numbered parts. Every drive here is a fixed drive:
// the parts are files in one directory named like the archive with the three-digit part
// number before the extension ("set001.zip", "set002.zip", ...), so no disk is ever asked
// for, labelled or formatted. The first part starts with 0x08074B50; local and central
// headers carry the part they start on and offsets within that part; the last part holds
// the end record.

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "archive/ZipArchiver.h"
#include "archive/ZipEocdInfo.h"
#include "platform/FileSystem.h"
#include "platform/Prompter.h"
#include "platform/TextUtil.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

constexpr uint32_t kEocdSig = 0x06054B50;
constexpr uint32_t kCentralSig = 0x02014B50;
constexpr uint32_t kLocalSig = 0x04034B50;
constexpr uint32_t kSpanSig = 0x08074B50;
constexpr size_t kLocalSize = 30;
constexpr size_t kCentralSize = 46;
constexpr size_t kEocdSize = 22;
constexpr int64_t kMaxEocdWindow = 65535 + 22;
constexpr size_t kCopyChunk = 65536;
constexpr int kMaxParts = 999;  // three digits in the part names

constexpr int kResultReported = -7;
constexpr int kResultNoMemory = -8;
constexpr int kResultOther = -9;

constexpr int kSfxCreateFailed = -1;
constexpr int kSfxWriteFailed = -2;
constexpr int kSfxStubUnreadable = -3;

constexpr int kIconDone = 0;
constexpr int kIconWrongSize = 244;
constexpr int kIconFailed = 245;
constexpr int kIconNoResource = 246;
constexpr size_t kIconImageSize = 744;
constexpr size_t kIconFileSize = 766;

// A failure whose text carries more than the table text.
class SpanFailure : public EZipArchiver {
  public:
    SpanFailure(int id, std::string text) : EZipArchiver(id, true), text_(std::move(text)) {}
    const char* what() const noexcept override { return text_.c_str(); }

  private:
    std::string text_;
};

uint16_t get16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t get32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
void put16(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
void put32(unsigned char* p, uint32_t v) {
    put16(p, v & 0xFFFF);
    put16(p + 2, v >> 16);
}
unsigned char* bytes(std::string& s, size_t at = 0) {
    return reinterpret_cast<unsigned char*>(s.data()) + at;
}

bool sameNameIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && text::lowerAscii(a) == text::lowerAscii(b);
}

// The part of an archive name after its directory: where the extension starts.
size_t extensionStart(const std::string& name) {
    size_t nameStart = name.find_last_of("/\\");
    nameStart = nameStart == std::string::npos ? 0 : nameStart + 1;
    size_t dot = name.rfind('.');
    return (dot == std::string::npos || dot < nameStart) ? name.size() : dot;
}

// The 1-based part number held in the three characters before the extension; 0 if none.
int partNumberOf(const std::string& name) {
    const size_t dot = extensionStart(name);
    if (dot < 3) return 0;
    int n = 0;
    for (size_t i = dot - 3; i < dot; ++i) {
        if (name[i] < '0' || name[i] > '9') return 0;
        n = n * 10 + (name[i] - '0');
    }
    return n;
}

// The name of part `number` (1-based) of a set written as `archive`.
std::string writtenPartName(const std::string& archive, int number) {
    // Three digits, zero-padded (more when a set ever has 1,000 parts or more).
    std::string digits = std::to_string(number);
    if (digits.size() < 3) digits.insert(0, 3 - digits.size(), '0');
    std::string name = archive;
    name.insert(extensionStart(name), digits);
    return name;
}

void copyFileTime(const std::string& from, const std::string& to) {
    std::error_code ec;
    auto t = std::filesystem::last_write_time(from, ec);
    if (!ec) std::filesystem::last_write_time(to, t, ec);
}

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f) std::fclose(f);
    }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

void writeOut(std::FILE* out, const void* p, size_t n, int id) {
    if (n != 0 && std::fwrite(p, 1, n, out) != n) throw EZipArchiver(id, true);
}

// One central header with its name, extra field and comment.
struct CentralRecord {
    std::string raw;
    std::string name;
    uint64_t compressedSize = 0;
    int64_t outputOffset = -1;
};

}  // namespace

// ---------------------------------------------------------------------------------------
// Joining

bool TZipArchiver::JoinSpannedSet(std::string& tempArchive) {
    tempArchive = MakeTempArchiveName();
    if (tempArchive.empty()) {
        ReportMessage(11027);
        return false;
    }
    if (ReadSpan(tempArchive) != 0) {
        tempArchive.clear();
        return false;
    }
    return true;
}

int TZipArchiver::ReadSpan(const std::string& output) {
    int result = 0;
    FilePtr out;
    std::string lastPart;
    prompter().setBusyCursor(true);
    try {
        if (fsx::fileExists(output)) fsx::deleteFile(output);
        out.reset(std::fopen(output.c_str(), "wb"));
        if (!out) throw EZipArchiver(11009, true);

        // The file named by ZipFileName must be the last part: it holds the end record.
        inFileName_ = fsx::resolve(zipFileName_);
        lastPart = inFileName_;
        if (!fsx::fileExists(inFileName_)) throw EZipArchiver(11001, true);
        EocdInfo eocd;
        if (!LocateEOCD(false, eocd)) {
            const int number = partNumberOf(inFileName_);
            if (number == 1) throw EZipArchiver(11037, true);
            throw EZipArchiver(11038, number);
        }
        if (eocd.zip64) throw SpanFailure(11024, ZipMessageText(11024) + "ZIP64 set");
        lastDisk_ = static_cast<int>(eocd.thisDisk);
        currentDisk_ = lastDisk_;
        std::string comment(eocd.commentLength, '\0');
        if (eocd.commentLength != 0) {
            if (std::fseek(inFile_, static_cast<long>(eocd.position + kEocdSize), SEEK_SET) != 0)
                throw EZipArchiver(11023, true);
            comment.resize(std::fread(comment.data(), 1, comment.size(), inFile_));
        }

        // Reads n bytes, going on in the following parts at the end of one.
        auto readSpanned = [this](void* buf, size_t n) {
            size_t got = 0;
            auto* p = static_cast<char*>(buf);
            while (got < n) {
                const size_t r = std::fread(p + got, 1, n - got, inFile_);
                got += r;
                if (got < n) {
                    if (currentDisk_ >= lastDisk_) break;
                    OpenPart(currentDisk_ + 1);
                }
            }
            return got;
        };

        // The central directory.
        OpenPart(static_cast<int>(eocd.centralDisk));
        if (std::fseek(inFile_, static_cast<long>(eocd.centralOffset), SEEK_SET) != 0)
            throw EZipArchiver(11008, true);
        std::vector<CentralRecord> central;
        uint64_t totalSize = 0;
        for (uint64_t k = 0; k < eocd.totalEntries; ++k) {
            CentralRecord rec;
            rec.raw.resize(kCentralSize);
            if (readSpanned(rec.raw.data(), kCentralSize) != kCentralSize)
                throw EZipArchiver(11013, true);
            const unsigned char* h = bytes(rec.raw);
            if (get32(h) != kCentralSig) throw EZipArchiver(11015, true);
            const size_t nameLength = get16(h + 28);
            const size_t rest = nameLength + get16(h + 30) + get16(h + 32);
            rec.compressedSize = get32(h + 20);
            rec.raw.resize(kCentralSize + rest);
            if (readSpanned(rec.raw.data() + kCentralSize, rest) != rest)
                throw EZipArchiver(11017, true);
            rec.name = rec.raw.substr(kCentralSize, nameLength);
            totalSize += rest + rec.compressedSize;
            central.push_back(std::move(rec));
        }

        // The members, from the first part on.
        OpenPart(0);
        if (OnProgress) {
            OnProgress(this, progTotalFiles, std::string(), static_cast<int64_t>(central.size()));
            OnProgress(this, progTotalSize, std::string(), static_cast<int64_t>(totalSize));
        }
        unsigned char sig[4];
        if (readSpanned(sig, 4) != 4 || get32(sig) != kSpanSig) throw EZipArchiver(11031, true);

        std::vector<char> chunk(kCopyChunk);
        auto copyData = [&](uint64_t n, int id) {
            while (n > 0) {
                prompter().processEvents();
                if (Cancel) throw EZipArchiver(11007, false);
                const size_t k = static_cast<size_t>(std::min<uint64_t>(n, chunk.size()));
                if (readSpanned(chunk.data(), k) != k) throw EZipArchiver(id, true);
                writeOut(out.get(), chunk.data(), k, id);
                if (OnProgress) OnProgress(this, progAdvance, std::string(), int64_t(k));
                n -= k;
            }
        };

        for (size_t m = 0; m < central.size(); ++m) {
            std::string local(kLocalSize, '\0');
            if (readSpanned(local.data(), kLocalSize) != kLocalSize)
                throw EZipArchiver(11012, true);
            if (get32(bytes(local)) != kLocalSig) throw EZipArchiver(11014, true);
            const size_t nameLength = get16(bytes(local, 26));
            const size_t extraLength = get16(bytes(local, 28));
            std::string name(nameLength, '\0');
            if (readSpanned(name.data(), nameLength) != nameLength) throw EZipArchiver(11016, true);
            CentralRecord* rec = nullptr;
            for (CentralRecord& c : central) {
                if (c.outputOffset < 0 && sameNameIgnoringCase(c.name, name)) {
                    rec = &c;
                    break;
                }
            }
            if (!rec) throw EZipArchiver(11026, true);
            rec->outputOffset = std::ftell(out.get());
            if (rec->outputOffset < 0 || rec->outputOffset > 0xFFFFFFFFll)
                throw EZipArchiver(11010, true);
            const uint16_t flags = get16(bytes(local, 6));
            uint64_t dataLength = get32(bytes(local, 18));
            if (dataLength == 0) dataLength = rec->compressedSize;
            if (OnMessage) OnMessage(this, 0, "Copying: " + name);
            if (OnProgress)
                OnProgress(this, progNewFile, name,
                           static_cast<int64_t>(kLocalSize + nameLength + extraLength + dataLength +
                                                ((flags & 8) ? 16 : 0)));
            writeOut(out.get(), local.data(), kLocalSize, 11028);
            writeOut(out.get(), name.data(), nameLength, 11028);
            copyData(extraLength, 11018);
            copyData(dataLength, 11021);
            if (flags & 8) {
                // The descriptor, with or without its signature.
                unsigned char d[16];
                if (readSpanned(d, 4) != 4) throw EZipArchiver(11020, true);
                const size_t more = get32(d) == kSpanSig ? 12 : 8;
                if (readSpanned(d + 4, more) != more) throw EZipArchiver(11020, true);
                writeOut(out.get(), d, 4 + more, 11020);
            }
        }
        CloseInput();

        // The central directory, every member on disk 0 at its new place.
        const long centralStart = std::ftell(out.get());
        if (centralStart < 0 || centralStart > 0xFFFFFFFFl) throw EZipArchiver(11010, true);
        for (CentralRecord& c : central) {
            if (c.outputOffset < 0) throw EZipArchiver(11026, true);
            put16(bytes(c.raw, 34), 0);
            put32(bytes(c.raw, 42), static_cast<uint32_t>(c.outputOffset));
            writeOut(out.get(), c.raw.data(), c.raw.size(), 11029);
        }
        const long centralEnd = std::ftell(out.get());
        unsigned char e[kEocdSize] = {};
        put32(e, kEocdSig);
        put16(e + 8, static_cast<uint32_t>(central.size()));
        put16(e + 10, static_cast<uint32_t>(central.size()));
        put32(e + 12, static_cast<uint32_t>(centralEnd - centralStart));
        put32(e + 16, static_cast<uint32_t>(centralStart));
        put16(e + 20, static_cast<uint32_t>(comment.size()));
        writeOut(out.get(), e, kEocdSize, 11030);
        writeOut(out.get(), comment.data(), comment.size(), 11023);
        if (std::fflush(out.get()) != 0) throw EZipArchiver(11010, true);
    } catch (const EZipArchiver& ex) {
        ReportException(ex);
        result = kResultReported;
    } catch (const std::bad_alloc&) {
        ReportMessage(10103);
        result = kResultNoMemory;
    } catch (const std::exception& ex) {
        ReportMessage(11024, ex.what());
        result = kResultOther;
    }
    if (OnProgress) OnProgress(this, progEndOfBatch, std::string(), 0);
    CloseInput();
    const bool closedWell = !out || std::fclose(out.release()) == 0;
    if (result == 0 && !closedWell) {
        ReportMessage(11010);
        result = kResultReported;
    }
    if (result == 0 && !lastPart.empty()) copyFileTime(lastPart, output);
    if (result != 0) fsx::deleteFile(output);
    prompter().setBusyCursor(false);
    return result;
}

// ---------------------------------------------------------------------------------------
// Writing

namespace {

// Writes the parts of a set one buffer at a time; a buffer that must stay together is
// never split over two parts. Each part is written under a temporary name and gets its
// own name when it is complete.
class PartWriter {
  public:
    PartWriter(TZipArchiver& zip, std::string archive, std::string dateSource)
        : zip_(zip), archive_(std::move(archive)), dateSource_(std::move(dateSource)) {}
    ~PartWriter() { abandon(); }

    int partIndex() const { return index_; }  // 0-based number of the part being written
    int64_t offset() const { return written_; }

    // Makes sure a part is open, so that partIndex() and offset() name where the next
    // buffer goes when it has `together` bytes that must stay together.
    void prepare(size_t together) {
        if (!file_) open();
        if (together > 0 && static_cast<int64_t>(together) > free_ - written_) {
            if (written_ == 0) throw EZipArchiver(11032, true);
            closePart();
            open();
            if (static_cast<int64_t>(together) > free_) throw EZipArchiver(11032, true);
        }
    }

    void write(const void* data, size_t length, bool together) {
        prompter().processEvents();
        if (zip_.Cancel) throw EZipArchiver(11007, false);
        prepare(together ? length : 0);
        const char* p = static_cast<const char*>(data);
        while (length > 0) {
            int64_t room = free_ - written_;
            if (room <= 0) {
                if (written_ == 0) throw EZipArchiver(11032, true);
                closePart();
                open();
                continue;
            }
            const size_t k = static_cast<size_t>(std::min<int64_t>(room, int64_t(length)));
            if (std::fwrite(p, 1, k, file_) != k) throw EZipArchiver(11010, true);
            if (zip_.OnProgress) zip_.OnProgress(&zip_, progAdvance, std::string(), int64_t(k));
            written_ += static_cast<int64_t>(k);
            p += k;
            length -= k;
        }
    }

    void finish() {
        if (file_) closePart();
        done_.clear();
    }

  private:
    void open() {
        if (index_ + 1 > kMaxParts) throw SpanFailure(11024, ZipMessageText(11024) + "> 999");
        const std::string name = fsx::resolve(writtenPartName(archive_, index_ + 1));
        if (fsx::fileExists(name)) confirmOverwrite(name);
        partName_ = name;
        for (;;) {
            openFreshTemp(name);
            int64_t space = fsx::freeDiskSpace(temp_);
            if (zip_.MaxVolumeSize > 0 && (space < 0 || space > zip_.MaxVolumeSize))
                space = zip_.MaxVolumeSize;
            if (index_ == 0) space -= zip_.KeepFreeOnDisk1;
            if (space >= zip_.MinFreeVolumeSize && space > 0) {
                free_ = space;
                written_ = 0;
                return;
            }
            std::fclose(file_);
            file_ = nullptr;
            fsx::deleteFile(temp_);
            if (zip_.Unattended) throw EZipArchiver(11025, true);
            bool retry;
            if (zip_.OnStatusDisk) {
                int action = 0;
                zip_.OnStatusDisk(&zip_, index_ + 1, name, 16, action);
                retry = action != 3;
            } else {
                retry =
                    prompter().message(ZipMessageText(11032), PromptButtons::RetryCancel,
                                       PromptIcon::Warning, std::string()) == PromptResult::Retry;
            }
            if (!retry) throw EZipArchiver(11007, false);
        }
    }

    // A new file beside the part, under a name no other file has: an existing file is
    // never emptied.
    void openFreshTemp(const std::string& name) {
        std::random_device seed;
        for (int attempt = 0; attempt < 16; ++attempt) {
            char suffix[24];
            std::snprintf(suffix, sizeof suffix, ".%08x.tmp", seed());
            temp_ = name + suffix;
            file_ = std::fopen(temp_.c_str(), "wbx");
            if (file_) return;
            if (!fsx::pathExists(temp_)) break;
        }
        temp_.clear();
        throw EZipArchiver(11009, true);
    }

    // An existing file of the part's name: a part of an earlier set, or anything else.
    void confirmOverwrite(const std::string& name) {
        if (zip_.Unattended) throw EZipArchiver(11025, true);
        const int status = 8 + (fsx::fileSize64(name) > 0 ? 2 : 1);
        bool overwrite;
        if (zip_.OnStatusDisk) {
            int action = 1;
            zip_.OnStatusDisk(&zip_, index_ + 1, name, status, action);
            // There is no other disk to turn to: anything but overwrite cancels.
            overwrite = action == 0 || action == 1;
        } else {
            overwrite = prompter().message(ZipFormat(ZipMessageText(11039), {name}),
                                           PromptButtons::YesNoCancel, PromptIcon::Warning,
                                           "Confirm", PromptResult::No) == PromptResult::Yes;
        }
        if (!overwrite) throw EZipArchiver(11007, false);
    }

    void closePart() {
        std::FILE* f = file_;
        file_ = nullptr;
        if (std::fclose(f) != 0) {
            fsx::deleteFile(temp_);
            throw EZipArchiver(11010, true);
        }
        const std::string name = partName_;
        copyFileTime(dateSource_, temp_);
        std::error_code ec;
        std::filesystem::rename(temp_, name, ec);
        if (ec) {
            fsx::deleteFile(temp_);
            throw EZipArchiver(11009, true);
        }
        done_.push_back(name);
        ++index_;
    }

    // After a failure nothing of the set stays behind: an incomplete set is of no use.
    void abandon() {
        if (file_) {
            std::fclose(file_);
            file_ = nullptr;
            fsx::deleteFile(temp_);
        }
        for (const std::string& n : done_) fsx::deleteFile(n);
        done_.clear();
    }

    TZipArchiver& zip_;
    std::string archive_;
    std::string dateSource_;
    std::FILE* file_ = nullptr;
    std::string partName_;
    std::string temp_;
    std::vector<std::string> done_;
    int index_ = 0;
    int64_t free_ = 0;
    int64_t written_ = 0;
};

}  // namespace

bool TZipArchiver::WriteSpannedSet(const std::string& tempArchive) {
    return WriteSpan(tempArchive) == 0;
}

int TZipArchiver::WriteSpan(const std::string& source) {
    int result = 0;
    prompter().setBusyCursor(true);
    try {
        FilePtr in(std::fopen(source.c_str(), "rb"));
        if (!in) throw EZipArchiver(11001, true);
        std::fseek(in.get(), 0, SEEK_END);
        const int64_t length = std::ftell(in.get());

        // The end record of the built archive.
        const int64_t window = std::min<int64_t>(std::max<int64_t>(length, 0), kMaxEocdWindow);
        std::string tail(static_cast<size_t>(window), '\0');
        if (std::fseek(in.get(), static_cast<long>(length - window), SEEK_SET) != 0 ||
            std::fread(tail.data(), 1, tail.size(), in.get()) != tail.size())
            throw EZipArchiver(11011, true);
        int64_t at = -1;
        for (int64_t i = window - int64_t(kEocdSize); i >= 0; --i) {
            if (get32(bytes(tail, size_t(i))) == kEocdSig) {
                at = i;
                break;
            }
        }
        if (at < 0) throw EZipArchiver(11011, true);
        const unsigned char* eocd = bytes(tail, size_t(at));
        const size_t entries = get16(eocd + 10);
        const uint32_t centralOffset = get32(eocd + 16);
        const size_t commentLength =
            std::min<size_t>(get16(eocd + 20), tail.size() - size_t(at) - kEocdSize);
        const std::string comment = tail.substr(size_t(at) + kEocdSize, commentLength);
        if (entries == 0xFFFF || centralOffset == 0xFFFFFFFFu)
            throw SpanFailure(11024, ZipMessageText(11024) + "ZIP64 archive");

        std::vector<CentralRecord> central;
        if (std::fseek(in.get(), static_cast<long>(centralOffset), SEEK_SET) != 0)
            throw EZipArchiver(11008, true);
        uint64_t totalSize = 0;
        for (size_t k = 0; k < entries; ++k) {
            CentralRecord rec;
            rec.raw.resize(kCentralSize);
            if (std::fread(rec.raw.data(), 1, kCentralSize, in.get()) != kCentralSize)
                throw EZipArchiver(11013, true);
            const unsigned char* h = bytes(rec.raw);
            if (get32(h) != kCentralSig) throw EZipArchiver(11015, true);
            const size_t nameLength = get16(h + 28);
            const size_t rest = nameLength + get16(h + 30) + get16(h + 32);
            rec.compressedSize = get32(h + 20);
            rec.outputOffset = get32(h + 42);  // its place in the built archive, for now
            rec.raw.resize(kCentralSize + rest);
            if (std::fread(rec.raw.data() + kCentralSize, 1, rest, in.get()) != rest)
                throw EZipArchiver(11017, true);
            rec.name = rec.raw.substr(kCentralSize, nameLength);
            totalSize += rest + rec.compressedSize;
            central.push_back(std::move(rec));
        }
        // The local headers are copied in the order they lie in the archive.
        std::vector<size_t> order(central.size());
        for (size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
            return central[a].outputOffset < central[b].outputOffset;
        });

        if (OnProgress) {
            OnProgress(this, progTotalFiles, std::string(), static_cast<int64_t>(entries));
            OnProgress(this, progTotalSize, std::string(), static_cast<int64_t>(totalSize));
        }
        PartWriter parts(*this, fsx::resolve(zipFileName_), source);
        unsigned char sig[4];
        put32(sig, kSpanSig);
        parts.write(sig, 4, true);

        std::vector<char> chunk(kCopyChunk);
        std::vector<int> memberDisk(central.size());
        std::vector<int64_t> memberOffset(central.size());
        for (size_t idx : order) {
            CentralRecord& c = central[idx];
            if (std::fseek(in.get(), static_cast<long>(c.outputOffset), SEEK_SET) != 0)
                throw EZipArchiver(11008, true);
            std::string local(kLocalSize, '\0');
            if (std::fread(local.data(), 1, kLocalSize, in.get()) != kLocalSize)
                throw EZipArchiver(11012, true);
            if (get32(bytes(local)) != kLocalSig) throw EZipArchiver(11014, true);
            const size_t variable = size_t(get16(bytes(local, 26))) + get16(bytes(local, 28));
            local.resize(kLocalSize + variable);
            if (std::fread(local.data() + kLocalSize, 1, variable, in.get()) != variable)
                throw EZipArchiver(11016, true);
            const uint16_t flags = get16(bytes(local, 6));
            if (OnMessage) OnMessage(this, 0, "Copying: " + c.name);
            if (OnProgress)
                OnProgress(
                    this, progNewFile, c.name,
                    static_cast<int64_t>(local.size() + c.compressedSize + ((flags & 8) ? 16 : 0)));
            parts.prepare(local.size());
            memberDisk[idx] = parts.partIndex();
            memberOffset[idx] = parts.offset();
            parts.write(local.data(), local.size(), true);
            for (uint64_t n = c.compressedSize; n > 0;) {
                const size_t k = static_cast<size_t>(std::min<uint64_t>(n, chunk.size()));
                if (std::fread(chunk.data(), 1, k, in.get()) != k) throw EZipArchiver(11021, true);
                parts.write(chunk.data(), k, false);
                n -= k;
            }
            if (flags & 8) {
                unsigned char d[16];
                if (std::fread(d, 1, 4, in.get()) != 4) throw EZipArchiver(11020, true);
                const size_t more = get32(d) == kSpanSig ? 12 : 8;
                if (std::fread(d + 4, 1, more, in.get()) != more) throw EZipArchiver(11020, true);
                parts.write(d, 4 + more, true);
            }
        }

        if (OnMessage) OnMessage(this, 0, "Copying: " + ZipMessageText(11047));
        int centralDisk = -1;
        int64_t centralStart = 0, centralSize = 0;
        std::vector<int> headerDisk(central.size());
        for (size_t i = 0; i < central.size(); ++i) {
            CentralRecord& c = central[i];
            if (memberOffset[i] > 0xFFFFFFFFll) throw EZipArchiver(11029, true);
            put16(bytes(c.raw, 34), static_cast<uint32_t>(memberDisk[i]));
            put32(bytes(c.raw, 42), static_cast<uint32_t>(memberOffset[i]));
            parts.prepare(c.raw.size());
            if (centralDisk < 0) {
                centralDisk = parts.partIndex();
                centralStart = parts.offset();
            }
            headerDisk[i] = parts.partIndex();
            parts.write(c.raw.data(), c.raw.size(), true);
            centralSize += static_cast<int64_t>(c.raw.size());
        }
        std::string end(kEocdSize, '\0');
        end += comment;
        parts.prepare(end.size());
        if (centralDisk < 0) {
            centralDisk = parts.partIndex();
            centralStart = parts.offset();
        }
        const auto onLastDisk = std::count(headerDisk.begin(), headerDisk.end(), parts.partIndex());
        unsigned char* e = bytes(end);
        put32(e, kEocdSig);
        put16(e + 4, static_cast<uint32_t>(parts.partIndex()));
        put16(e + 6, static_cast<uint32_t>(centralDisk));
        put16(e + 8, static_cast<uint32_t>(onLastDisk));
        put16(e + 10, static_cast<uint32_t>(central.size()));
        put32(e + 12, static_cast<uint32_t>(centralSize));
        put32(e + 16, static_cast<uint32_t>(centralStart));
        put16(e + 20, static_cast<uint32_t>(comment.size()));
        parts.write(end.data(), end.size(), true);
        parts.finish();
    } catch (const EZipArchiver& ex) {
        ReportException(ex);
        result = kResultReported;
    } catch (const std::bad_alloc&) {
        ReportMessage(10103);
        result = kResultNoMemory;
    } catch (const std::exception& ex) {
        ReportMessage(11024, ex.what());
        result = kResultOther;
    }
    if (OnProgress) OnProgress(this, progEndOfBatch, std::string(), 0);
    prompter().setBusyCursor(false);
    return result;
}

// ---------------------------------------------------------------------------------------
// Self-extractor stub

namespace {

// Puts the image of a one-image icon file into the stub's icon resource (type 3, name 1)
// of exactly the same size, in place.
int replaceStubIcon(std::string& pe, const std::string& icon) {
    if (icon.size() != kIconFileSize) return kIconWrongSize;
    auto in = [&](uint64_t at, uint64_t n) { return at + n <= pe.size(); };
    if (!in(0, 0x40) || pe[0] != 'M' || pe[1] != 'Z') return kIconFailed;
    const uint32_t peAt = get32(bytes(pe, 0x3C));
    if (!in(peAt, 24) || std::memcmp(pe.data() + peAt, "PE\0\0", 4) != 0) return kIconFailed;
    const uint16_t sections = get16(bytes(pe, peAt + 6));
    const uint64_t table = uint64_t(peAt) + 24 + get16(bytes(pe, peAt + 20));
    for (uint16_t s = 0; s < sections; ++s) {
        const uint64_t sec = table + uint64_t(s) * 40;
        if (!in(sec, 40)) return kIconFailed;
        if (std::memcmp(pe.data() + sec, ".rsrc\0\0", 8) != 0) continue;
        const uint32_t va = get32(bytes(pe, sec + 12));
        const uint32_t rawSize = get32(bytes(pe, sec + 16));
        const uint32_t rawAt = get32(bytes(pe, sec + 20));
        if (!in(rawAt, rawSize)) return kIconFailed;
        // Finds entry `id` in the resource directory at `dir` (offset in the section).
        auto find = [&](uint32_t dir, uint32_t id, bool any, uint32_t& target) {
            if (uint64_t(dir) + 16 > rawSize) return -1;
            const unsigned char* d = bytes(pe, rawAt + dir);
            const uint32_t count = uint32_t(get16(d + 12)) + get16(d + 14);
            for (uint32_t k = 0; k < count; ++k) {
                const uint64_t entry = uint64_t(dir) + 16 + uint64_t(k) * 8;
                if (entry + 8 > rawSize) return -1;
                const unsigned char* e = bytes(pe, rawAt + entry);
                if (any || get32(e) == id) {
                    target = get32(e + 4);
                    return 1;
                }
            }
            return 0;
        };
        uint32_t t = 0;
        int r = find(0, 3, false, t);
        if (r <= 0 || !(t & 0x80000000u)) return r < 0 ? kIconFailed : kIconNoResource;
        r = find(t & 0x7FFFFFFFu, 1, false, t);
        if (r <= 0 || !(t & 0x80000000u)) return r < 0 ? kIconFailed : kIconNoResource;
        r = find(t & 0x7FFFFFFFu, 0, true, t);
        if (r <= 0 || (t & 0x80000000u)) return r < 0 ? kIconFailed : kIconNoResource;
        if (uint64_t(t) + 16 > rawSize) return kIconFailed;
        const uint32_t dataRva = get32(bytes(pe, rawAt + t));
        const uint32_t dataSize = get32(bytes(pe, rawAt + t + 4));
        if (dataSize != kIconImageSize) return kIconNoResource;
        if (dataRva < va || uint64_t(dataRva - va) + dataSize > rawSize) return kIconFailed;
        std::memcpy(pe.data() + rawAt + (dataRva - va), icon.data() + 22, kIconImageSize);
        return kIconDone;
    }
    return kIconNoResource;
}

}  // namespace

int TZipArchiver::WriteSFXStub(const std::string& archive) {
    const std::string* texts[] = {&SFXCaption, &SFXDefaultDir, &SFXCommandLine, &SFXMessage};
    size_t sum = 0;
    bool tooLong = false;
    for (const std::string* t : texts) {
        sum += t->size();
        if (t->size() >= 256) tooLong = true;
    }
    if (tooLong)
        throw SpanFailure(10801, ZipMessageText(10801) +
                                     "\r\nSFXCaption + SFXDefaultDir + SFXCommandLine + "
                                     "SFXMessage = " +
                                     std::to_string(sum));

    // The stub file.
    std::vector<std::string> candidates;
    if (!SFXPath.empty()) candidates.push_back(SFXPath);
    candidates.push_back("ZIPSFX.BIN");
    candidates.push_back(fsx::exeDirectory() + "ZIPSFX.BIN");
#ifdef _WIN32
    char dir[MAX_PATH + 1];
    UINT n = GetSystemDirectoryA(dir, sizeof dir);
    if (n > 0 && n <= MAX_PATH) candidates.push_back(std::string(dir, n) + "\\ZIPSFX.BIN");
    n = GetWindowsDirectoryA(dir, sizeof dir);
    if (n > 0 && n <= MAX_PATH) candidates.push_back(std::string(dir, n) + "\\ZIPSFX.BIN");
#endif
    if (!DLLDirectory().empty())
        candidates.push_back(DLLDirectory() + fsx::kPathDelim + "ZIPSFX.BIN");
    std::string stubPath;
    for (const std::string& c : candidates) {
        if (fsx::fileExists(c)) {
            stubPath = fsx::resolve(c);
            break;
        }
    }
    if (stubPath.empty()) throw EZipArchiver(10802, true);

    // The header between the stub and the archive.
    uint8_t flags = 0;
    if (SFXOptions.has(SFXOptsEnum::SFXAskCmdLine)) flags |= 0x01;
    if (SFXOptions.has(SFXOptsEnum::SFXAskFiles)) flags |= 0x02;
    if (SFXOptions.has(SFXOptsEnum::SFXHideOverWriteBox)) flags |= 0x04;
    if (SFXOverWriteMode == OvrOpts::OvrAlways) flags |= 0x08;
    if (SFXOverWriteMode == OvrOpts::OvrNever) flags |= 0x10;
    if (!SFXOptions.has(SFXOptsEnum::SFXCheckSize)) flags |= 0x20;
    if (SFXOptions.has(SFXOptsEnum::SFXAutoRun)) flags |= 0x40;
    if (SFXOptions.has(SFXOptsEnum::SFXNoSuccessMsg)) flags |= 0x80;
    const size_t headerLength = (sum + 12 + 3) / 4 * 4;
    std::string header = "MPV";
    header += static_cast<char>(flags);
    header += '\0';
    header += '\1';
    header += static_cast<char>(headerLength & 0xFF);
    header += static_cast<char>(headerLength >> 8);
    for (const std::string* t : texts) {
        header += static_cast<char>(t->size());
        header += *t;
    }
    header.resize(headerLength, '\0');

    const std::string target = fsx::resolve(archive);
    int result = 0;
    {
        FilePtr out(std::fopen(target.c_str(), "wb"));
        if (!out) return kSfxCreateFailed;
        std::string stub;
        if (FilePtr in{std::fopen(stubPath.c_str(), "rb")}) {
            char buf[kCopyChunk];
            size_t r;
            while ((r = std::fread(buf, 1, sizeof buf, in.get())) > 0) stub.append(buf, r);
            if (std::ferror(in.get())) result = kSfxStubUnreadable;
        } else {
            result = kSfxStubUnreadable;
        }
        if (result == 0) {
            // An icon that does not fit leaves the stub's own icon in place.
            if (!SFXIcon.empty()) replaceStubIcon(stub, SFXIcon);
            unsigned char e[kEocdSize] = {};
            put32(e, kEocdSig);
            put32(e + 16, static_cast<uint32_t>(stub.size() + header.size()));
            if (std::fwrite(stub.data(), 1, stub.size(), out.get()) != stub.size() ||
                std::fwrite(header.data(), 1, header.size(), out.get()) != header.size() ||
                std::fwrite(e, 1, kEocdSize, out.get()) != kEocdSize)
                result = kSfxWriteFailed;
        }
        if (std::fclose(out.release()) != 0 && result == 0) result = kSfxWriteFailed;
    }
    if (result != 0) fsx::deleteFile(target);
    return result;
}

std::string TZipArchiver::MakeTempArchiveName() {
    std::string dir;
    if (!TempDir.empty()) {
        if (TempDir.back() != fsx::kPathDelim) TempDir += fsx::kPathDelim;
        dir = fsx::resolve(TempDir);
    } else {
#ifdef _WIN32
        char buf[MAX_PATH + 1];
        DWORD n = GetTempPathA(sizeof buf, buf);
        if (n > 0 && n <= MAX_PATH) dir.assign(buf, n);
#else
        const char* env = std::getenv("TMPDIR");
        dir = (env && *env) ? env : "/tmp";
#endif
        if (!dir.empty() && dir.back() != fsx::kPathDelim) dir += fsx::kPathDelim;
    }
#ifdef _WIN32
    char name[MAX_PATH + 1];
    if (GetTempFileNameA(dir.c_str(), "zip", 0, name) == 0) return std::string();
    std::string made = name;
#else
    std::string pattern = dir + "zipXXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    int fd = ::mkstemp(buf.data());
    if (fd < 0) return std::string();
    ::close(fd);
    std::string made = buf.data();
#endif
    // The name only reserves the place: the file itself goes, the name gets ".zip".
    fsx::deleteFile(made);
    size_t dot = made.rfind('.');
    size_t sep = made.find_last_of("\\/");
    if (dot != std::string::npos && (sep == std::string::npos || dot > sep)) made.erase(dot);
    return made + ".zip";
}
