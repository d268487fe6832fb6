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
#include <string>
#include <system_error>
#include <vector>

#include "archive/ZipArchiver.h"
#include "archive/ZipEocdInfo.h"
#include "base/DurableWrite.h"
#include "base/ZipFormat.h"
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

using zipfmt::kSigCentral;
using zipfmt::kSigDescriptor;
using zipfmt::kSigEnd;
using zipfmt::kSigLocal;
using zipfmt::load16;
using zipfmt::load32;
using zipfmt::store16;
using zipfmt::store32;
constexpr size_t kLocalSize = zipfmt::kLocalHeaderSize;
constexpr size_t kCentralSize = zipfmt::kCentralHeaderSize;
constexpr size_t kEocdSize = zipfmt::kEndSize;
constexpr int64_t kMaxEocdWindow = zipfmt::kMaxEndWindow;
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
    uint32_t storedOffset = 0;  // of the local header, as the archive read says
    int64_t outputOffset = -1;
};

// One central header read with `read(buffer, n)` (answering the bytes it got); `totalSize`
// grows by what the member takes besides its local header.
template <class Read>
CentralRecord readCentralRecord(Read read, uint64_t& totalSize) {
    zipfmt::CentralEntry entry;
    auto readPiece = [&read](void* buf, size_t n, bool) { return read(buf, n); };
    switch (zipfmt::readCentralEntry(readPiece, entry)) {
        case zipfmt::EntryRead::Ok:
            break;
        case zipfmt::EntryRead::ShortHeader:
            throw EZipArchiver(11013, true);
        case zipfmt::EntryRead::BadSignature:
            throw EZipArchiver(11015, true);
        default:
            throw EZipArchiver(11017, true);
    }
    CentralRecord rec;
    rec.raw = entry.fixed + entry.name + entry.extra + entry.comment;
    rec.name = std::move(entry.name);
    rec.compressedSize = entry.header.compressedSize;
    rec.storedOffset = entry.header.localHeaderOffset;
    totalSize += entry.header.variableLength() + rec.compressedSize;
    return rec;
}

// The end of a failed join or split: the failure reported, the result code answered.
int reportSpanFailure(TZipArchiver& zip) {
    try {
        throw;
    } catch (const EZipArchiver& ex) {
        zip.ReportException(ex);
        return kResultReported;
    } catch (const std::bad_alloc&) {
        zip.ReportMessage(10103);
        return kResultNoMemory;
    } catch (const std::exception& ex) {
        zip.ReportMessage(11024, ex.what());
        return kResultOther;
    }
}

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

// The steps of joining: the end record and the central directory read from the set's
// last parts, the members copied from the first part on, and a new central directory and
// end record written behind them.
class TZipArchiver::SpanJoin {
  public:
    SpanJoin(TZipArchiver& zip, std::FILE* out) : zip_(zip), out_(out) {}

    // The end record in the file named by ZipFileName, which must be the last part; the
    // archive comment is answered.
    std::string readEndRecord(EocdInfo& eocd) {
        if (!fsx::fileExists(zip_.inFileName_)) throw EZipArchiver(11001, true);
        if (!zip_.LocateEOCD(false, eocd)) {
            const int number = partNumberOf(zip_.inFileName_);
            if (number == 1) throw EZipArchiver(11037, true);
            throw EZipArchiver(11038, number);
        }
        if (eocd.zip64) throw SpanFailure(11024, ZipMessageText(11024) + "ZIP64 set");
        zip_.lastDisk_ = static_cast<int>(eocd.thisDisk);
        zip_.currentDisk_ = zip_.lastDisk_;
        std::string comment(eocd.commentLength, '\0');
        if (eocd.commentLength != 0) {
            if (std::fseek(zip_.inFile_, static_cast<long>(eocd.position + kEocdSize), SEEK_SET) !=
                0)
                throw EZipArchiver(11023, true);
            comment.resize(std::fread(comment.data(), 1, comment.size(), zip_.inFile_));
        }
        return comment;
    }

    void readCentralDirectory(const EocdInfo& eocd) {
        zip_.OpenPart(static_cast<int>(eocd.centralDisk));
        if (std::fseek(zip_.inFile_, static_cast<long>(eocd.centralOffset), SEEK_SET) != 0)
            throw EZipArchiver(11008, true);
        auto read = [this](void* buf, size_t n) { return readSpanned(buf, n); };
        for (uint64_t k = 0; k < eocd.totalEntries; ++k)
            central_.push_back(readCentralRecord(read, totalSize_));
    }

    void copyMembers() {
        zip_.OpenPart(0);
        if (zip_.OnProgress) {
            zip_.OnProgress(&zip_, progTotalFiles, std::string(),
                            static_cast<int64_t>(central_.size()));
            zip_.OnProgress(&zip_, progTotalSize, std::string(), static_cast<int64_t>(totalSize_));
        }
        unsigned char sig[4];
        if (readSpanned(sig, 4) != 4 || load32(sig) != kSigDescriptor)
            throw EZipArchiver(11031, true);
        for (size_t m = 0; m < central_.size(); ++m) copyMember();
    }

    // The central directory, every member on disk 0 at its new place, and the end record.
    void writeCentralDirectory(const std::string& comment) {
        const long centralStart = std::ftell(out_);
        if (centralStart < 0 || centralStart > 0xFFFFFFFFl) throw EZipArchiver(11010, true);
        for (CentralRecord& c : central_) {
            if (c.outputOffset < 0) throw EZipArchiver(11026, true);
            store16(bytes(c.raw, 34), 0);
            store32(bytes(c.raw, 42), static_cast<uint32_t>(c.outputOffset));
            writeOut(out_, c.raw.data(), c.raw.size(), 11029);
        }
        const long centralEnd = std::ftell(out_);
        unsigned char e[kEocdSize] = {};
        store32(e, kSigEnd);
        store16(e + 8, static_cast<uint16_t>(central_.size()));
        store16(e + 10, static_cast<uint16_t>(central_.size()));
        store32(e + 12, static_cast<uint32_t>(centralEnd - centralStart));
        store32(e + 16, static_cast<uint32_t>(centralStart));
        store16(e + 20, static_cast<uint16_t>(comment.size()));
        writeOut(out_, e, kEocdSize, 11030);
        writeOut(out_, comment.data(), comment.size(), 11023);
    }

  private:
    // Reads n bytes, going on in the following parts at the end of one.
    size_t readSpanned(void* buf, size_t n) {
        size_t got = 0;
        auto* p = static_cast<char*>(buf);
        while (got < n) {
            got += std::fread(p + got, 1, n - got, zip_.inFile_);
            if (got < n) {
                if (zip_.currentDisk_ >= zip_.lastDisk_) break;
                zip_.OpenPart(zip_.currentDisk_ + 1);
            }
        }
        return got;
    }

    void copyData(uint64_t n, int id) {
        while (n > 0) {
            prompter().processEvents();
            if (zip_.Cancel) throw EZipArchiver(11007, false);
            const size_t k = static_cast<size_t>(std::min<uint64_t>(n, chunk_.size()));
            if (readSpanned(chunk_.data(), k) != k) throw EZipArchiver(id, true);
            writeOut(out_, chunk_.data(), k, id);
            if (zip_.OnProgress) zip_.OnProgress(&zip_, progAdvance, std::string(), int64_t(k));
            n -= k;
        }
    }

    // The first central header of that name (any case) not yet given a place.
    CentralRecord& claim(const std::string& name) {
        for (CentralRecord& c : central_)
            if (c.outputOffset < 0 && sameNameIgnoringCase(c.name, name)) return c;
        throw EZipArchiver(11026, true);
    }

    void copyMember() {
        std::string local(kLocalSize, '\0');
        if (readSpanned(local.data(), kLocalSize) != kLocalSize) throw EZipArchiver(11012, true);
        if (load32(bytes(local)) != kSigLocal) throw EZipArchiver(11014, true);
        const size_t nameLength = load16(bytes(local, 26));
        const size_t extraLength = load16(bytes(local, 28));
        std::string name(nameLength, '\0');
        if (readSpanned(name.data(), nameLength) != nameLength) throw EZipArchiver(11016, true);
        CentralRecord& rec = claim(name);
        rec.outputOffset = std::ftell(out_);
        if (rec.outputOffset < 0 || rec.outputOffset > 0xFFFFFFFFll)
            throw EZipArchiver(11010, true);
        const uint16_t flags = load16(bytes(local, 6));
        uint64_t dataLength = load32(bytes(local, 18));
        if (dataLength == 0) dataLength = rec.compressedSize;
        if (zip_.OnMessage) zip_.OnMessage(&zip_, 0, "Copying: " + name);
        if (zip_.OnProgress)
            zip_.OnProgress(&zip_, progNewFile, name,
                            static_cast<int64_t>(kLocalSize + nameLength + extraLength +
                                                 dataLength + ((flags & 8) ? 16 : 0)));
        writeOut(out_, local.data(), kLocalSize, 11028);
        writeOut(out_, name.data(), nameLength, 11028);
        copyData(extraLength, 11018);
        copyData(dataLength, 11021);
        if (flags & 8) copyDescriptor();
    }

    // The data descriptor, with or without its signature.
    void copyDescriptor() {
        unsigned char d[16];
        if (readSpanned(d, 4) != 4) throw EZipArchiver(11020, true);
        const size_t more = load32(d) == kSigDescriptor ? 12 : 8;
        if (readSpanned(d + 4, more) != more) throw EZipArchiver(11020, true);
        writeOut(out_, d, 4 + more, 11020);
    }

    TZipArchiver& zip_;
    std::FILE* out_;
    std::vector<CentralRecord> central_;
    uint64_t totalSize_ = 0;
    std::vector<char> chunk_ = std::vector<char>(kCopyChunk);
};

int TZipArchiver::ReadSpan(const std::string& output) {
    int result = 0;
    FilePtr out;
    std::string lastPart;
    prompter().setBusyCursor(true);
    try {
        if (fsx::fileExists(output)) fsx::deleteFile(output);
        out.reset(std::fopen(output.c_str(), "wb"));
        if (!out) throw EZipArchiver(11009, true);
        inFileName_ = fsx::resolve(zipFileName_);
        lastPart = inFileName_;
        SpanJoin join(*this, out.get());
        EocdInfo eocd;
        const std::string comment = join.readEndRecord(eocd);
        join.readCentralDirectory(eocd);
        join.copyMembers();
        CloseInput();
        join.writeCentralDirectory(comment);
        if (std::fflush(out.get()) != 0) throw EZipArchiver(11010, true);
    } catch (...) {
        result = reportSpanFailure(*this);
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
        if (!file_.isOpen()) open();
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
            if (!file_.write(p, k)) throw EZipArchiver(11010, true);
            if (zip_.OnProgress) zip_.OnProgress(&zip_, progAdvance, std::string(), int64_t(k));
            written_ += static_cast<int64_t>(k);
            p += k;
            length -= k;
        }
    }

    void finish() {
        if (file_.isOpen()) closePart();
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
            int64_t space = fsx::freeDiskSpace(file_.temporaryName());
            if (zip_.MaxVolumeSize > 0 && (space < 0 || space > zip_.MaxVolumeSize))
                space = zip_.MaxVolumeSize;
            if (index_ == 0) space -= zip_.KeepFreeOnDisk1;
            if (space >= zip_.MinFreeVolumeSize && space > 0) {
                free_ = space;
                written_ = 0;
                return;
            }
            file_.discard();
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
        if (!file_.open(name)) throw EZipArchiver(11009, true);
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
        if (!file_.finishWriting()) {
            file_.discard();
            throw EZipArchiver(11010, true);
        }
        copyFileTime(dateSource_, file_.temporaryName());
        if (!file_.commit() && !file_.renamed()) throw EZipArchiver(11009, true);
        done_.push_back(partName_);
        ++index_;
    }

    // After a failure nothing of the set stays behind: an incomplete set is of no use.
    void abandon() {
        file_.discard();
        for (const std::string& n : done_) fsx::deleteFile(n);
        done_.clear();
    }

    TZipArchiver& zip_;
    std::string archive_;
    std::string dateSource_;
    durable::DurableFile file_;
    std::string partName_;
    std::vector<std::string> done_;
    int index_ = 0;
    int64_t free_ = 0;
    int64_t written_ = 0;
};

}  // namespace

// The steps of splitting: the built archive's end record and central directory read, its
// members copied into the parts in the order they lie in it, and the central directory
// and end record written behind them, each header with the part and offset it got.
class TZipArchiver::SpanSplit {
  public:
    SpanSplit(TZipArchiver& zip, std::FILE* in) : zip_(zip), in_(in) {}

    // The end record of the built archive; its comment is kept for the last part.
    void readEndRecord() {
        std::fseek(in_, 0, SEEK_END);
        const int64_t length = std::ftell(in_);
        const int64_t window = std::min<int64_t>(std::max<int64_t>(length, 0), kMaxEocdWindow);
        std::string tail(static_cast<size_t>(window), '\0');
        if (std::fseek(in_, static_cast<long>(length - window), SEEK_SET) != 0 ||
            std::fread(tail.data(), 1, tail.size(), in_) != tail.size())
            throw EZipArchiver(11011, true);
        const long at = zipfmt::findEndSignature(bytes(tail), tail.size(), long(window),
                                                 [](size_t) { return true; });
        if (at < 0) throw EZipArchiver(11011, true);
        const zipfmt::EndRecord end = zipfmt::decodeEndRecord(bytes(tail, size_t(at)));
        entries_ = size_t(end.totalEntries);
        centralOffset_ = uint32_t(end.centralOffset);
        const size_t commentLength =
            std::min<size_t>(end.commentLength, tail.size() - size_t(at) - kEocdSize);
        comment_ = tail.substr(size_t(at) + kEocdSize, commentLength);
        if (entries_ == 0xFFFF || centralOffset_ == 0xFFFFFFFFu)
            throw SpanFailure(11024, ZipMessageText(11024) + "ZIP64 archive");
    }

    void readCentralDirectory() {
        if (std::fseek(in_, static_cast<long>(centralOffset_), SEEK_SET) != 0)
            throw EZipArchiver(11008, true);
        auto read = [this](void* buf, size_t n) { return std::fread(buf, 1, n, in_); };
        for (size_t k = 0; k < entries_; ++k) {
            central_.push_back(readCentralRecord(read, totalSize_));
            // Its place in the built archive, for now.
            central_.back().outputOffset = central_.back().storedOffset;
        }
    }

    void copyMembers(PartWriter& parts) {
        // The local headers are copied in the order they lie in the archive.
        std::vector<size_t> order(central_.size());
        for (size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
            return central_[a].outputOffset < central_[b].outputOffset;
        });
        if (zip_.OnProgress) {
            zip_.OnProgress(&zip_, progTotalFiles, std::string(), static_cast<int64_t>(entries_));
            zip_.OnProgress(&zip_, progTotalSize, std::string(), static_cast<int64_t>(totalSize_));
        }
        unsigned char sig[4];
        store32(sig, kSigDescriptor);
        parts.write(sig, 4, true);
        memberDisk_.resize(central_.size());
        memberOffset_.resize(central_.size());
        for (size_t idx : order) copyMember(parts, idx);
    }

    void writeCentralDirectory(PartWriter& parts) {
        if (zip_.OnMessage) zip_.OnMessage(&zip_, 0, "Copying: " + ZipMessageText(11047));
        std::vector<int> headerDisk(central_.size());
        for (size_t i = 0; i < central_.size(); ++i) {
            CentralRecord& c = central_[i];
            if (memberOffset_[i] > 0xFFFFFFFFll) throw EZipArchiver(11029, true);
            store16(bytes(c.raw, 34), static_cast<uint16_t>(memberDisk_[i]));
            store32(bytes(c.raw, 42), static_cast<uint32_t>(memberOffset_[i]));
            parts.prepare(c.raw.size());
            noteCentralStart(parts);
            headerDisk[i] = parts.partIndex();
            parts.write(c.raw.data(), c.raw.size(), true);
            centralSize_ += static_cast<int64_t>(c.raw.size());
        }
        std::string end(kEocdSize, '\0');
        end += comment_;
        parts.prepare(end.size());
        noteCentralStart(parts);
        const auto onLastDisk = std::count(headerDisk.begin(), headerDisk.end(), parts.partIndex());
        unsigned char* e = bytes(end);
        store32(e, kSigEnd);
        store16(e + 4, static_cast<uint16_t>(parts.partIndex()));
        store16(e + 6, static_cast<uint16_t>(centralDisk_));
        store16(e + 8, static_cast<uint16_t>(onLastDisk));
        store16(e + 10, static_cast<uint16_t>(central_.size()));
        store32(e + 12, static_cast<uint32_t>(centralSize_));
        store32(e + 16, static_cast<uint32_t>(centralStart_));
        store16(e + 20, static_cast<uint16_t>(comment_.size()));
        parts.write(end.data(), end.size(), true);
    }

  private:
    void copyMember(PartWriter& parts, size_t idx) {
        CentralRecord& c = central_[idx];
        if (std::fseek(in_, static_cast<long>(c.outputOffset), SEEK_SET) != 0)
            throw EZipArchiver(11008, true);
        std::string local(kLocalSize, '\0');
        if (std::fread(local.data(), 1, kLocalSize, in_) != kLocalSize)
            throw EZipArchiver(11012, true);
        if (load32(bytes(local)) != kSigLocal) throw EZipArchiver(11014, true);
        const size_t variable = size_t(load16(bytes(local, 26))) + load16(bytes(local, 28));
        local.resize(kLocalSize + variable);
        if (std::fread(local.data() + kLocalSize, 1, variable, in_) != variable)
            throw EZipArchiver(11016, true);
        const uint16_t flags = load16(bytes(local, 6));
        if (zip_.OnMessage) zip_.OnMessage(&zip_, 0, "Copying: " + c.name);
        if (zip_.OnProgress)
            zip_.OnProgress(
                &zip_, progNewFile, c.name,
                static_cast<int64_t>(local.size() + c.compressedSize + ((flags & 8) ? 16 : 0)));
        parts.prepare(local.size());
        memberDisk_[idx] = parts.partIndex();
        memberOffset_[idx] = parts.offset();
        parts.write(local.data(), local.size(), true);
        for (uint64_t n = c.compressedSize; n > 0;) {
            const size_t k = static_cast<size_t>(std::min<uint64_t>(n, chunk_.size()));
            if (std::fread(chunk_.data(), 1, k, in_) != k) throw EZipArchiver(11021, true);
            parts.write(chunk_.data(), k, false);
            n -= k;
        }
        if (flags & 8) copyDescriptor(parts);
    }

    void copyDescriptor(PartWriter& parts) {
        unsigned char d[16];
        if (std::fread(d, 1, 4, in_) != 4) throw EZipArchiver(11020, true);
        const size_t more = load32(d) == kSigDescriptor ? 12 : 8;
        if (std::fread(d + 4, 1, more, in_) != more) throw EZipArchiver(11020, true);
        parts.write(d, 4 + more, true);
    }

    // The central directory starts where its first record (or the end record) goes.
    void noteCentralStart(const PartWriter& parts) {
        if (centralDisk_ >= 0) return;
        centralDisk_ = parts.partIndex();
        centralStart_ = parts.offset();
    }

    TZipArchiver& zip_;
    std::FILE* in_;
    size_t entries_ = 0;
    uint32_t centralOffset_ = 0;
    std::string comment_;
    std::vector<CentralRecord> central_;
    uint64_t totalSize_ = 0;
    std::vector<int> memberDisk_;
    std::vector<int64_t> memberOffset_;
    std::vector<char> chunk_ = std::vector<char>(kCopyChunk);
    int centralDisk_ = -1;
    int64_t centralStart_ = 0, centralSize_ = 0;
};

bool TZipArchiver::WriteSpannedSet(const std::string& tempArchive) {
    return WriteSpan(tempArchive) == 0;
}

int TZipArchiver::WriteSpan(const std::string& source) {
    int result = 0;
    prompter().setBusyCursor(true);
    try {
        FilePtr in(std::fopen(source.c_str(), "rb"));
        if (!in) throw EZipArchiver(11001, true);
        SpanSplit split(*this, in.get());
        split.readEndRecord();
        split.readCentralDirectory();
        PartWriter parts(*this, fsx::resolve(zipFileName_), source);
        split.copyMembers(parts);
        split.writeCentralDirectory(parts);
        parts.finish();
    } catch (...) {
        result = reportSpanFailure(*this);
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
    const uint32_t peAt = load32(bytes(pe, 0x3C));
    if (!in(peAt, 24) || std::memcmp(pe.data() + peAt, "PE\0\0", 4) != 0) return kIconFailed;
    const uint16_t sections = load16(bytes(pe, peAt + 6));
    const uint64_t table = uint64_t(peAt) + 24 + load16(bytes(pe, peAt + 20));
    for (uint16_t s = 0; s < sections; ++s) {
        const uint64_t sec = table + uint64_t(s) * 40;
        if (!in(sec, 40)) return kIconFailed;
        if (std::memcmp(pe.data() + sec, ".rsrc\0\0", 8) != 0) continue;
        const uint32_t va = load32(bytes(pe, sec + 12));
        const uint32_t rawSize = load32(bytes(pe, sec + 16));
        const uint32_t rawAt = load32(bytes(pe, sec + 20));
        if (!in(rawAt, rawSize)) return kIconFailed;
        // Finds entry `id` in the resource directory at `dir` (offset in the section).
        auto find = [&](uint32_t dir, uint32_t id, bool any, uint32_t& target) {
            if (uint64_t(dir) + 16 > rawSize) return -1;
            const unsigned char* d = bytes(pe, rawAt + dir);
            const uint32_t count = uint32_t(load16(d + 12)) + load16(d + 14);
            for (uint32_t k = 0; k < count; ++k) {
                const uint64_t entry = uint64_t(dir) + 16 + uint64_t(k) * 8;
                if (entry + 8 > rawSize) return -1;
                const unsigned char* e = bytes(pe, rawAt + entry);
                if (any || load32(e) == id) {
                    target = load32(e + 4);
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
        const uint32_t dataRva = load32(bytes(pe, rawAt + t));
        const uint32_t dataSize = load32(bytes(pe, rawAt + t + 4));
        if (dataSize != kIconImageSize) return kIconNoResource;
        if (dataRva < va || uint64_t(dataRva - va) + dataSize > rawSize) return kIconFailed;
        std::memcpy(pe.data() + rawAt + (dataRva - va), icon.data() + 22, kIconImageSize);
        return kIconDone;
    }
    return kIconNoResource;
}

// The stub file: where SFXPath says, beside the program, in the system's folders or in
// the engines' folder; "" when there is none.
std::string findSfxStub(const TZipArchiver& zip) {
    std::vector<std::string> candidates;
    if (!zip.SFXPath.empty()) candidates.push_back(zip.SFXPath);
    candidates.push_back("ZIPSFX.BIN");
    candidates.push_back(fsx::exeDirectory() + "ZIPSFX.BIN");
#ifdef _WIN32
    char dir[MAX_PATH + 1];
    UINT n = GetSystemDirectoryA(dir, sizeof dir);
    if (n > 0 && n <= MAX_PATH) candidates.push_back(std::string(dir, n) + "\\ZIPSFX.BIN");
    n = GetWindowsDirectoryA(dir, sizeof dir);
    if (n > 0 && n <= MAX_PATH) candidates.push_back(std::string(dir, n) + "\\ZIPSFX.BIN");
#endif
    if (!zip.DLLDirectory().empty())
        candidates.push_back(zip.DLLDirectory() + fsx::kPathDelim + "ZIPSFX.BIN");
    for (const std::string& c : candidates)
        if (fsx::fileExists(c)) return fsx::resolve(c);
    return std::string();
}

// The header between the stub and the archive: flags and the four texts, padded to four
// bytes.
std::string sfxHeader(const TZipArchiver& zip, const std::string* const (&texts)[4], size_t sum) {
    uint8_t flags = 0;
    if (zip.SFXOptions.has(SFXOptsEnum::SFXAskCmdLine)) flags |= 0x01;
    if (zip.SFXOptions.has(SFXOptsEnum::SFXAskFiles)) flags |= 0x02;
    if (zip.SFXOptions.has(SFXOptsEnum::SFXHideOverWriteBox)) flags |= 0x04;
    if (zip.SFXOverWriteMode == OvrOpts::OvrAlways) flags |= 0x08;
    if (zip.SFXOverWriteMode == OvrOpts::OvrNever) flags |= 0x10;
    if (!zip.SFXOptions.has(SFXOptsEnum::SFXCheckSize)) flags |= 0x20;
    if (zip.SFXOptions.has(SFXOptsEnum::SFXAutoRun)) flags |= 0x40;
    if (zip.SFXOptions.has(SFXOptsEnum::SFXNoSuccessMsg)) flags |= 0x80;
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
    return header;
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

    const std::string stubPath = findSfxStub(*this);
    if (stubPath.empty()) throw EZipArchiver(10802, true);

    const std::string header = sfxHeader(*this, texts, sum);

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
            store32(e, kSigEnd);
            store32(e + 16, static_cast<uint32_t>(stub.size() + header.size()));
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
