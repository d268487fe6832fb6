// .7z and .rar missions through libarchive. Every read is one forward pass over the
// archive; member data arrives block by block and is written or kept as it comes, so
// memory stays bounded whatever the headers declare. Extraction walks the target folder
// one component at a time with O_NOFOLLOW and writes each member into a temporary file
// renamed over its target: no link is created, and none is followed.

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <random>

#include "archive/MissionArchive.h"
#include "platform/FileSystem.h"
#include "platform/TextUtil.h"

namespace {

constexpr size_t kOpenBlock = 1 << 16;
// A member list longer than this is not a mission.
constexpr size_t kMaxMembers = 500000;

// One libarchive reader, freed however the pass ends.
class Reader {
  public:
    Reader() : a_(archive_read_new()) {
        archive_read_support_format_7zip(a_);
        archive_read_support_format_rar(a_);
        archive_read_support_format_rar5(a_);
    }
    ~Reader() { archive_read_free(a_); }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    bool open(const std::string& path) {
        return archive_read_open_filename(a_, path.c_str(), kOpenBlock) == ARCHIVE_OK;
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
    archive* a_;
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

std::string memberName(archive_entry* entry) {
    const char* name = archive_entry_pathname_utf8(entry);
    if (name == nullptr) name = archive_entry_pathname(entry);
    std::string result = name ? name : "";
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

// A new temporary file of the extraction's own pattern (".tm" + 12 hexadecimal digits +
// ".part") in the folder `dir`, so that a killed extraction leaves nothing a later clean-up
// would not recognise.
int openTemporary(int dir, std::string& name) {
    static thread_local std::mt19937_64 random{std::random_device{}()};
    for (int attempt = 0; attempt < 16; ++attempt) {
        char buf[32];
        std::snprintf(buf, sizeof buf, ".tm%012llx.part",
                      static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFFull));
        const int fd =
            ::openat(dir, buf, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0 || errno != EEXIST) {
            name = buf;
            return fd;
        }
    }
    return -1;
}

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

bool writeAll(int fd, const char* data, size_t size, int64_t offset) {
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, size, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
        offset += n;
    }
    return true;
}

class LibarchiveMission final : public MissionArchive {
  public:
    explicit LibarchiveMission(const std::string& path) : MissionArchive(path) { listMembers(); }

    bool sequential() const override { return true; }

    ArchiveStatus readMembers(const std::set<std::string>& names, uint64_t cap,
                              const Take& take) override {
        Reader reader;
        if (names.empty()) return ArchiveStatus::Ok;
        if (!reader.open(fsx::resolve(path_))) return classify(reader.get(), nullptr);
        std::set<std::string> seen;
        archive_entry* entry = nullptr;
        while (seen.size() < names.size() && reader.next(entry)) {
            if (!isPlainFile(entry)) continue;
            const ArchiveMember member = describe(entry);
            if (names.count(member.name) == 0 || member.size > cap) continue;
            std::string data;
            const ArchiveStatus status = readData(reader.get(), cap, data);
            if (status == ArchiveStatus::TooLarge) continue;
            if (status != ArchiveStatus::Ok) return classify(reader.get(), entry);
            seen.insert(member.name);
            if (!take(member, data)) return ArchiveStatus::Ok;
        }
        return reader.failed() ? classify(reader.get(), entry) : ArchiveStatus::Ok;
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
        Reader reader;
        if (!reader.open(fsx::resolve(path_))) {
            result.status = classify(reader.get(), nullptr);
            result.detail = errorText(reader.get());
            return result;
        }
        const std::string root = text::withTrailingDelim(fsx::resolve(targetDir));
        Progress progress{sink, 0, total};
        archive_entry* entry = nullptr;
        while (reader.next(entry)) {
            if (!isPlainFile(entry)) continue;
            const ArchiveMember member = describe(entry);
            if (wanted.count(member.name) == 0) continue;
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

    void listMembers() {
        if (!fsx::fileExists(path_)) {
            status_ = ArchiveStatus::NotFound;
            return;
        }
        Reader reader;
        if (!reader.open(fsx::resolve(path_))) {
            status_ = classify(reader.get(), nullptr);
            detail_ = errorText(reader.get());
            return;
        }
        archive_entry* entry = nullptr;
        while (reader.next(entry)) {
            if (archive_entry_is_encrypted(entry)) status_ = ArchiveStatus::Encrypted;
            if (!isPlainFile(entry)) continue;
            if (members_.size() >= kMaxMembers) {
                status_ = ArchiveStatus::Damaged;
                return;
            }
            members_.push_back(describe(entry));
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
        std::string leaf, temporary;
        const ArchiveStatus opened = openFolder(root, parts, folder, leaf);
        if (opened != ArchiveStatus::Ok) return opened;
        Fd file(openTemporary(folder.get(), temporary));
        if (file.get() < 0) return ArchiveStatus::WriteFailed;
        ArchiveStatus status = copyData(a, file.get(), progress);
        if (status == ArchiveStatus::Ok && archive_entry_mtime_is_set(entry)) {
            const struct timespec times[2] = {{0, UTIME_OMIT}, {archive_entry_mtime(entry), 0}};
            ::futimens(file.get(), times);
        }
        if (status == ArchiveStatus::Ok && ::close(file.release()) != 0)
            status = ArchiveStatus::WriteFailed;
        if (status == ArchiveStatus::Ok &&
            ::renameat(folder.get(), temporary.c_str(), folder.get(), leaf.c_str()) != 0)
            status = ArchiveStatus::WriteFailed;
        if (status != ArchiveStatus::Ok) {
            file.reset();
            ::unlinkat(folder.get(), temporary.c_str(), 0);
        }
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
            if (offset < 0 || !writeAll(fd, static_cast<const char*>(block), size, offset))
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

std::unique_ptr<MissionArchive> libarchiveMission(const std::string& path) {
    return std::make_unique<LibarchiveMission>(path);
}
