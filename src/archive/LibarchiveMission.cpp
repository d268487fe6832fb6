// .7z and .rar missions through libarchive. Every read is one forward pass over the
// archive; member data arrives block by block and is written or kept as it comes, and a
// pass hands out a bounded amount of it. A .7z whose decoders would take more memory than
// allowed is refused before libarchive unpacks anything (SevenZipHeader). Names are
// decoded as UTF-8 whatever the process's locale; a name that cannot be decoded leaves its
// member out. A multi-volume RAR set is read as one archive from its first volume.
// Extraction walks the target folder one component at a time with O_NOFOLLOW and writes
// each member into a temporary file renamed over its target: no link is created, and none
// is followed.

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "archive/MissionArchive.h"
#include "archive/SevenZipHeader.h"
#include "base/DurableWrite.h"
#include "platform/FileSystem.h"
#include "platform/LargeBlock.h"
#include "platform/TextUtil.h"

namespace {

constexpr size_t kOpenBlock = 1 << 16;
// Room asked for a member read into memory, at most: address space only, which its pages
// take from the system as the data arrives.
constexpr uint64_t kRoomAsked = uint64_t(64) << 20;
// A member list longer than this is not a mission.
constexpr size_t kMaxMembers = 500000;

// libarchive turns names into the character set of the thread's locale: while a reader
// lives, its thread uses a UTF-8 one for character types, whatever the process's locale.
// (On Windows libarchive converts names to UTF-8 through the system itself.)
#ifdef _WIN32
class Utf8Names {};
#else
class Utf8Names {
  public:
    Utf8Names() : saved_(utf8() ? ::uselocale(utf8()) : nullptr) {}
    ~Utf8Names() {
        if (saved_ != nullptr) ::uselocale(saved_);
    }
    Utf8Names(const Utf8Names&) = delete;
    Utf8Names& operator=(const Utf8Names&) = delete;

  private:
    static locale_t utf8() {
        static const locale_t made = [] {
            for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
                if (locale_t l = ::newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(nullptr)))
                    return l;
            }
            return static_cast<locale_t>(nullptr);
        }();
        return made;
    }
    locale_t saved_;
};
#endif

// One libarchive reader, freed however the pass ends.
class Reader {
  public:
    Reader() : a_(archive_read_new()) {
        archive_read_support_format_7zip(a_);
        archive_read_support_format_rar(a_);
        archive_read_support_format_rar5(a_);
        // RAR 4 names without the Unicode flag are in the DOS code page of their maker.
        archive_read_set_format_option(a_, "rar", "hdrcharset", "CP850");
    }
    ~Reader() { archive_read_free(a_); }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // Opens the archive at `path` with the volumes that follow it.
    bool open(const std::string& path) {
        volumes_ = archiveVolumes(fsx::resolve(path));
        std::vector<const char*> names;
        for (const std::string& volume : volumes_) names.push_back(volume.c_str());
        names.push_back(nullptr);
        return archive_read_open_filenames(a_, names.data(), kOpenBlock) == ARCHIVE_OK;
    }
    // The next member header; false at the end or on an error (see failed()).
    bool next(archive_entry*& entry) {
        const int rc = archive_read_next_header(a_, &entry);
        failed_ = rc != ARCHIVE_OK && rc != ARCHIVE_WARN && rc != ARCHIVE_EOF;
        return rc == ARCHIVE_OK || rc == ARCHIVE_WARN;
    }
    bool failed() const { return failed_; }
    archive* get() { return a_; }

  private:
    Utf8Names names_;  // before the reader: libarchive takes the locale's character set
    archive* a_;
    std::vector<std::string> volumes_;
    bool failed_ = false;
};

bool mentions(const char* text, const char* part) {
    return text != nullptr && strstr(text, part) != nullptr;
}

// What went wrong, from libarchive's state and words.
ArchiveStatus classify(archive* a, archive_entry* entry) {
    const char* why = archive_error_string(a);
    // Only a reader that got as far as a header has a format to ask: after a failed open,
    // archive_read_has_encrypted_entries would call through a format that was never set.
    const bool encryptedEntry = entry != nullptr && (archive_entry_is_encrypted(entry) ||
                                                     archive_read_has_encrypted_entries(a) > 0);
    if (encryptedEntry || mentions(why, "ncrypt") || mentions(why, "assword"))
        return ArchiveStatus::Encrypted;
    if (mentions(why, "Unrecognized archive format")) return ArchiveStatus::NotArchive;
    if (mentions(why, "nsupported") || mentions(why, "not supported"))
        return ArchiveStatus::Unsupported;
    return ArchiveStatus::Damaged;
}

std::string errorText(archive* a) {
    const char* why = archive_error_string(a);
    return why ? why : std::string();
}

// Regular files only: folders, symbolic and hard links are never members.
bool isPlainFile(archive_entry* entry) {
    return archive_entry_filetype(entry) == AE_IFREG && archive_entry_hardlink(entry) == nullptr &&
           archive_entry_symlink(entry) == nullptr;
}

// Well-formed UTF-8 without overlong forms or surrogates.
bool validUtf8(const std::string& s) {
    size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        const size_t n = c < 0x80                 ? 0
                         : c >= 0xC2 && c <= 0xDF ? 1
                         : c >= 0xE0 && c <= 0xEF ? 2
                         : c >= 0xF0 && c <= 0xF4 ? 3
                                                  : 4;
        if (n == 4 || n > s.size() - i - 1) return false;
        uint32_t code = n == 0 ? c : c & (0x3Fu >> n);
        for (size_t k = 1; k <= n; ++k) {
            const auto t = static_cast<unsigned char>(s[i + k]);
            if ((t & 0xC0) != 0x80) return false;
            code = (code << 6) | (t & 0x3Fu);
        }
        static constexpr uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
        if (code < kLeast[n] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        i += n + 1;
    }
    return true;
}

// The member's name with "\" separators; empty when it cannot be decoded as UTF-8 (such a
// member is left out, never listed under an empty or mangled name).
std::string memberName(archive_entry* entry) {
    const char* name = archive_entry_pathname_utf8(entry);
    std::string result = name ? name : "";
    if (!validUtf8(result)) return std::string();
    for (char& c : result) {
        if (c == '/') c = '\\';
    }
    return result;
}

ArchiveMember describe(archive_entry* entry) {
    ArchiveMember member;
    member.name = memberName(entry);
    if (archive_entry_size_is_set(entry) && archive_entry_size(entry) > 0)
        member.size = static_cast<uint64_t>(archive_entry_size(entry));
    if (archive_entry_mtime_is_set(entry))
        member.dosTime = fsx::unixToDos(archive_entry_mtime(entry));
    return member;
}

// The folder components of a member name, or nothing when the name would leave the target
// (absolute, drive letter, "..") or names nothing.
bool safeParts(const std::string& name, std::vector<std::string>& parts) {
    parts.clear();
    if (name.empty() || name[0] == '\\' || name.find(':') != std::string::npos) return false;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find('\\', start);
        if (end == std::string::npos) end = name.size();
        const std::string part = name.substr(start, end - start);
        if (part == "..") return false;
        if (!part.empty() && part != ".") parts.push_back(part);
        start = end + 1;
    }
    return !parts.empty();
}

// Closes a descriptor when it goes.
class Fd {
  public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

  private:
    int fd_;
};

// The folder of the member's file under `root`, entered through the names that exist on
// disk in other case, and the file's name there. Every folder on the way is entered
// without following a link; a missing one is created. Fails with UnsafeName on a link,
// with WriteFailed otherwise.
ArchiveStatus openFolder(const std::string& root, const std::vector<std::string>& parts, Fd& out,
                         std::string& leaf) {
    std::string path = root;
    Fd dir(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0) return ArchiveStatus::WriteFailed;
    for (size_t i = 0; i < parts.size(); ++i) {
        // The name as it exists on disk (any case), else as the archive gives it.
        const std::string real = text::extractFileName(fsx::resolve(path + parts[i]));
        const std::string name = real.empty() ? parts[i] : real;
        path += name + fsx::kPathDelim;
        if (i + 1 == parts.size()) {
            out.reset(dir.release());
            leaf = name;
            return ArchiveStatus::Ok;
        }
        int next =
            ::openat(dir.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0 && errno == ENOENT && ::mkdirat(dir.get(), name.c_str(), 0755) == 0)
            next =
                ::openat(dir.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) {
            struct stat st {};
            const bool link = ::fstatat(dir.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                              S_ISLNK(st.st_mode);
            return link ? ArchiveStatus::UnsafeName : ArchiveStatus::WriteFailed;
        }
        dir.reset(next);
    }
    return ArchiveStatus::UnsafeName;
}

class LibarchiveMission final : public MissionArchive {
  public:
    explicit LibarchiveMission(const std::string& path) : MissionArchive(path) { listMembers(); }

    bool sequential() const override { return true; }

    ArchiveStatus readMembers(const std::set<std::string>& names, uint64_t cap,
                              const Take& take) override {
        if (refused()) return status_;
        Reader reader;
        if (names.empty()) return ArchiveStatus::Ok;
        if (!reader.open(path_)) return classify(reader.get(), nullptr);
        std::set<std::string> seen;
        uint64_t budget = kMaxPassBytes;
        archive_entry* entry = nullptr;
        ArchiveStatus result = ArchiveStatus::Ok;
        bool stopped = false;
        while (seen.size() < names.size() && reader.next(entry)) {
            const ArchiveMember member = describe(entry);
            if (!isPlainFile(entry) || member.name.empty()) continue;
            if (names.count(member.name) == 0 || seen.count(member.name) != 0) continue;
            seen.insert(member.name);
            if (member.size > std::min(cap, budget)) continue;
            std::string data;
            // The size the header gives is only room asked for, never trusted beyond that.
            reserveForWrite(data, static_cast<size_t>(std::min<uint64_t>(member.size, kRoomAsked)));
            const ArchiveStatus status = readData(reader.get(), std::min(cap, budget), data);
            if (status == ArchiveStatus::TooLarge) continue;
            if (status != ArchiveStatus::Ok) {
                result = classify(reader.get(), entry);
                break;
            }
            budget -= data.size();
            handedOut(member.name);
            if (!take(member, data)) {
                stopped = true;
                break;
            }
        }
        if (result == ArchiveStatus::Ok && reader.failed()) result = classify(reader.get(), entry);
        // What was asked for and seen but not handed out stays unread at the next pass too.
        if (!stopped) {
            for (const std::string& name : seen) {
                if (handed_.count(name) == 0) unreadable_.insert(name);
            }
        }
        return result;
    }

    ExtractResult extract(const std::vector<std::string>& names, const std::string& targetDir,
                          ExtractSink& sink) override {
        ExtractResult result;
        const std::set<std::string> wanted(names.begin(), names.end());
        std::vector<std::string> parts;
        uint64_t total = 0;
        for (const ArchiveMember& member : members_) {
            if (wanted.count(member.name) == 0) continue;
            total += member.size;
            if (!safeParts(member.name, parts))
                return failure(ArchiveStatus::UnsafeName, member.name);
        }
        if (wanted.empty()) return result;
        if (refused()) {
            result.status = status_;
            result.detail = detail_;
            return result;
        }
        Reader reader;
        if (!reader.open(path_)) {
            result.status = classify(reader.get(), nullptr);
            result.detail = errorText(reader.get());
            return result;
        }
        const std::string root = text::withTrailingDelim(fsx::resolve(targetDir));
        Progress progress{sink, 0, total};
        archive_entry* entry = nullptr;
        while (reader.next(entry)) {
            const ArchiveMember member = describe(entry);
            if (!isPlainFile(entry) || member.name.empty() || wanted.count(member.name) == 0)
                continue;
            if (!safeParts(member.name, parts))
                return failure(ArchiveStatus::UnsafeName, member.name);
            sink.member(member.name, member.size);
            fsx::crashPoint();
            const ArchiveStatus status = extractOne(reader.get(), entry, root, parts, progress);
            if (status != ArchiveStatus::Ok) {
                ExtractResult failed = failure(status, member.name);
                failed.extracted = result.extracted;
                failed.detail = errorText(reader.get());
                return failed;
            }
            ++result.extracted;
        }
        if (reader.failed()) {
            result.status = classify(reader.get(), entry);
            result.detail = errorText(reader.get());
        }
        return result;
    }

  private:
    bool refused_ = false;
    std::set<std::string> handed_;  // members handed out by some pass

    struct Progress {
        ExtractSink& sink;
        uint64_t done;
        uint64_t total;
    };

    static ExtractResult failure(ArchiveStatus status, const std::string& member) {
        ExtractResult result;
        result.status = status;
        result.member = member;
        return result;
    }

    // True when the archive was refused before libarchive read it (see checkDemand).
    bool refused() const { return refused_; }

    void handedOut(const std::string& name) {
        handed_.insert(name);
        unreadable_.erase(name);
    }

    // A .7z whose decoders would take more memory than allowed is refused, and so is one
    // whose header does not read: libarchive would allocate what such a header declares.
    bool checkDemand() {
        std::string head(32, '\0');
        Fd fd(::open(fsx::resolve(path_).c_str(), O_RDONLY | O_CLOEXEC));
        if (fd.get() < 0 || ::pread(fd.get(), head.data(), head.size(), 0) < 6) return true;
        if (!sevenzip::hasSignature(head)) return true;
        const sevenzip::Demand demand =
            sevenzip::decoderDemand(fsx::resolve(path_), kMaxDecoderMemory);
        if (demand.verdict == sevenzip::Demand::TooLarge) {
            status_ = ArchiveStatus::Unsupported;
            detail_ = "Unpacking needs " + std::to_string(demand.memory >> 20) + " MB for its " +
                      demand.coder + "; at most " + std::to_string(kMaxDecoderMemory >> 20) +
                      " MB are allowed.";
        } else if (demand.verdict == sevenzip::Demand::Unreadable) {
            status_ = ArchiveStatus::Damaged;
            detail_ = "The archive's header cannot be read.";
        } else {
            return true;
        }
        refused_ = true;
        return false;
    }

    void listMembers() {
        if (!fsx::fileExists(path_)) {
            status_ = ArchiveStatus::NotFound;
            return;
        }
        if (!checkDemand()) return;
        Reader reader;
        if (!reader.open(path_)) {
            status_ = classify(reader.get(), nullptr);
            detail_ = errorText(reader.get());
            return;
        }
        archive_entry* entry = nullptr;
        while (reader.next(entry)) {
            if (archive_entry_is_encrypted(entry)) status_ = ArchiveStatus::Encrypted;
            const ArchiveMember member = describe(entry);
            if (!isPlainFile(entry) || member.name.empty()) continue;
            if (members_.size() >= kMaxMembers) {
                status_ = ArchiveStatus::Damaged;
                return;
            }
            members_.push_back(member);
        }
        if (reader.failed()) {
            status_ = classify(reader.get(), entry);
            detail_ = errorText(reader.get());
        }
    }

    // The current member's data into `data`, at most `cap` bytes.
    static ArchiveStatus readData(archive* a, uint64_t cap, std::string& data) {
        const void* block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        int rc;
        while ((rc = archive_read_data_block(a, &block, &size, &offset)) == ARCHIVE_OK) {
            if (offset < 0 || static_cast<uint64_t>(offset) > cap ||
                size > cap - static_cast<uint64_t>(offset)) {
                data.clear();
                return ArchiveStatus::TooLarge;
            }
            if (static_cast<size_t>(offset) > data.size()) data.resize(static_cast<size_t>(offset));
            data.replace(static_cast<size_t>(offset),
                         std::min(size, data.size() - static_cast<size_t>(offset)),
                         static_cast<const char*>(block), size);
        }
        return rc == ARCHIVE_EOF ? ArchiveStatus::Ok : ArchiveStatus::Damaged;
    }

    // Writes the member into a temporary file beside its target and renames it over the
    // target once complete: a link in the target's place is replaced, never followed.
    static ArchiveStatus extractOne(archive* a, archive_entry* entry, const std::string& root,
                                    const std::vector<std::string>& parts, Progress& progress) {
        Fd folder;
        std::string leaf;
        const ArchiveStatus opened = openFolder(root, parts, folder, leaf);
        if (opened != ArchiveStatus::Ok) return opened;
        // Under the extraction's own temporary pattern (".tm" + 12 hexadecimal digits +
        // ".part"), so that a killed extraction leaves nothing a later clean-up would not
        // recognise; not flushed one by one: the install syncs its folder as a whole.
        durable::Options options;
        options.mode = 0644;
        options.memberPart = true;
        options.sync = false;
        durable::DurableFile file;
        if (!file.openAt(folder.get(), leaf, options)) return ArchiveStatus::WriteFailed;
        ArchiveStatus status = copyData(a, file.fd(), progress);
        if (status == ArchiveStatus::Ok && archive_entry_mtime_is_set(entry)) {
            const struct timespec times[2] = {{0, UTIME_OMIT}, {archive_entry_mtime(entry), 0}};
            ::futimens(file.fd(), times);
        }
        if (status == ArchiveStatus::Ok && !file.commit()) status = ArchiveStatus::WriteFailed;
        return status;
    }

    static ArchiveStatus copyData(archive* a, int fd, Progress& progress) {
        const void* block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        la_int64_t end = 0;
        int rc;
        while ((rc = archive_read_data_block(a, &block, &size, &offset)) == ARCHIVE_OK) {
            if (progress.sink.cancelled()) return ArchiveStatus::Cancelled;
            if (offset < 0 || !durable::writeAllAt(fd, block, size, static_cast<uint64_t>(offset)))
                return ArchiveStatus::WriteFailed;
            end = std::max<la_int64_t>(end, offset + static_cast<la_int64_t>(size));
            progress.done += size;
            progress.sink.progress(progress.done, progress.total);
        }
        if (rc != ARCHIVE_EOF) return classify(a, nullptr);
        return ::ftruncate(fd, end) == 0 ? ArchiveStatus::Ok : ArchiveStatus::WriteFailed;
    }
};

}  // namespace

namespace {

// The first bytes of a file (fewer when it is shorter).
std::string headOf(const std::string& path, size_t size) {
    std::string head(size, '\0');
    Fd fd(::open(fsx::resolve(path).c_str(), O_RDONLY | O_CLOEXEC));
    const ssize_t got = fd.get() < 0 ? 0 : ::pread(fd.get(), head.data(), head.size(), 0);
    head.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return head;
}

// RAR 5's variable-length number: seven bits a byte, low bits first.
bool vint(const std::string& s, size_t& at, uint64_t& value) {
    value = 0;
    for (int shift = 0; shift < 64 && at < s.size(); shift += 7) {
        const auto byte = static_cast<unsigned char>(s[at++]);
        value |= static_cast<uint64_t>(byte & 0x7F) << shift;
        if ((byte & 0x80) == 0) return true;
    }
    return false;
}

// True when the RAR archive's main header says it is a volume of a set.
bool isRarVolume(const std::string& path) {
    const std::string head = headOf(path, 64);
    if (head.compare(0, 7, std::string("Rar!\x1a\x07\x00", 7)) == 0) {
        // Main header: CRC (2), type 0x73, flags (2); flag 1 marks a volume.
        return head.size() >= 12 && static_cast<unsigned char>(head[9]) == 0x73 &&
               (static_cast<unsigned char>(head[10]) & 0x01) != 0;
    }
    if (head.compare(0, 8, std::string("Rar!\x1a\x07\x01\x00", 8)) != 0) return false;
    // CRC (4), header size, type 1, header flags, [extra size], [data size], archive flags.
    size_t at = 12;
    uint64_t size = 0, type = 0, flags = 0, skip = 0, archiveFlags = 0;
    if (!vint(head, at, size) || !vint(head, at, type) || type != 1 || !vint(head, at, flags))
        return false;
    if ((flags & 1) && !vint(head, at, skip)) return false;
    if ((flags & 2) && !vint(head, at, skip)) return false;
    return vint(head, at, archiveFlags) && (archiveFlags & 1) != 0;
}

// Splits "x.part07.rar" (any case) into "x" and "07".
bool volumePart(const std::string& fileName, std::string& stem, std::string& digits) {
    const std::string lower = text::lowerAscii(fileName);
    if (lower.size() < 4 || lower.compare(lower.size() - 4, 4, ".rar") != 0) return false;
    const size_t end = lower.size() - 4;
    size_t begin = end;
    while (begin > 0 && lower[begin - 1] >= '0' && lower[begin - 1] <= '9') --begin;
    if (begin == end || end - begin > 6 || begin < 5 || lower.compare(begin - 5, 5, ".part") != 0)
        return false;
    stem = fileName.substr(0, begin - 5);
    digits = fileName.substr(begin, end - begin);
    return true;
}

std::string volumeName(const std::string& stem, unsigned number, size_t width) {
    std::string digits = std::to_string(number);
    if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
    return stem + ".part" + digits + ".rar";
}

// At most this many volumes are looked for.
constexpr unsigned kMaxVolumes = 900;  // "r00" to "z99"

}  // namespace

std::vector<std::string> archiveVolumes(const std::string& path) {
    std::vector<std::string> volumes{path};
    const std::string dir = path.substr(0, path.size() - text::extractFileName(path).size());
    const std::string file = text::extractFileName(path);
    std::string stem, digits;
    const bool parted = volumePart(file, stem, digits);
    if (missionArchiveExtension(file) != ".rar" || (parted && std::stoul(digits) != 1) ||
        !isRarVolume(path))
        return volumes;
    for (unsigned i = parted ? 2 : 0; volumes.size() < kMaxVolumes; ++i) {
        // "x.part2.rar" and on, or "x.r00" ... "x.r99", "x.s00" ...
        std::string next;
        if (parted) {
            next = dir + volumeName(stem, i, digits.size());
        } else {
            char ext[8];
            std::snprintf(ext, sizeof ext, ".%c%02u", 'r' + i / 100, i % 100);
            next = path.substr(0, path.size() - 4) + ext;
        }
        const std::string resolved = fsx::resolve(next);
        if (!fsx::fileExists(resolved)) break;
        volumes.push_back(resolved);
    }
    return volumes;
}

bool isLaterVolume(const std::string& dir, const std::string& fileName) {
    std::string stem, digits;
    if (!volumePart(fileName, stem, digits) || std::stoul(digits) == 1) return false;
    const std::string first = dir + volumeName(stem, 1, digits.size());
    return isRarVolume(dir + fileName) && fsx::fileExists(fsx::resolve(first));
}

std::unique_ptr<MissionArchive> libarchiveMission(const std::string& path) {
    return std::make_unique<LibarchiveMission>(path);
}
