#include "base/DurableWrite.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <utility>

#include "base/NameLimits.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace durable {

namespace {

// Larger writes go out in pieces: some systems refuse a single write of 2 GB or more.
constexpr size_t kMaxPiece = size_t(1) << 30;

uint64_t nextRandom() {
    static std::mutex lock;
    static std::mt19937_64 rng{std::random_device{}()};
    std::lock_guard<std::mutex> guard(lock);
    return rng();
}

constexpr int kCreateAttempts = 16;

std::string memberPartName() {
    char name[32];
    std::snprintf(name, sizeof name, ".tm%012llx.part",
                  static_cast<unsigned long long>(nextRandom() & 0xFFFFFFFFFFFFull));
    return name;
}

}  // namespace

std::string temporaryNameFor(const std::string& path) {
    return fsx::temporarySibling(path, fsx::temporarySuffix(nextRandom()));
}

#ifdef _WIN32

bool writeAll(int fd, const void* data, size_t size) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const int piece = static_cast<int>(std::min<size_t>(size, kMaxPiece));
        const int written = ::_write(fd, p, static_cast<unsigned>(piece));
        if (written <= 0) return false;
        p += written;
        size -= size_t(written);
    }
    return true;
}

bool writeAllAt(int fd, const void* data, size_t size, uint64_t offset) {
    return ::_lseeki64(fd, static_cast<__int64>(offset), SEEK_SET) >= 0 && writeAll(fd, data, size);
}

#else

// Hands `size` bytes to `put(piece, length, done)` in pieces until all are written, going
// on after interruptions and short writes.
template <typename Put>
bool writeInPieces(const void* data, size_t size, Put put) {
    const auto* p = static_cast<const char*>(data);
    uint64_t done = 0;
    while (size > 0) {
        const ssize_t written = put(p, std::min(size, kMaxPiece), done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            if (written == 0) errno = EIO;
            return false;
        }
        p += written;
        size -= size_t(written);
        done += uint64_t(written);
    }
    return true;
}

bool writeAll(int fd, const void* data, size_t size) {
    return writeInPieces(data, size, [fd](const char* piece, size_t length, uint64_t) {
        return ::write(fd, piece, length);
    });
}

bool writeAllAt(int fd, const void* data, size_t size, uint64_t offset) {
    return writeInPieces(data, size, [fd, offset](const char* piece, size_t length, uint64_t done) {
        return ::pwrite(fd, piece, length, static_cast<off_t>(offset + done));
    });
}

#endif

DurableFile::~DurableFile() {
    discard();
}

DurableFile::DurableFile(DurableFile&& other) noexcept {
    *this = std::move(other);
}

DurableFile& DurableFile::operator=(DurableFile&& other) noexcept {
    if (this != &other) {
        discard();
        fd_ = std::exchange(other.fd_, -1);
        dirFd_ = std::exchange(other.dirFd_, -1);
        ownDir_ = std::exchange(other.ownDir_, false);
        dirPath_ = std::move(other.dirPath_);
        target_ = std::move(other.target_);
        temp_ = std::move(other.temp_);
        tempLeaf_ = std::move(other.tempLeaf_);
        renamed_ = std::exchange(other.renamed_, false);
        finished_ = std::exchange(other.finished_, false);
        noReplace_ = other.noReplace_;
        sync_ = other.sync_;
        beforeRename_ = other.beforeRename_;
        other.temp_.clear();
        other.tempLeaf_.clear();
    }
    return *this;
}

bool DurableFile::open(const std::string& path, const Options& options) {
    discard();
    std::string target = path;
#ifndef _WIN32
    if (options.followLink) {
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            target = real;
            std::free(real);
        }
    }
    const size_t cut = target.rfind('/');
#else
    const size_t cut = target.find_last_of("\\/");
#endif
    dirPath_ = cut == std::string::npos ? std::string() : target.substr(0, cut + 1);
    target_ = cut == std::string::npos ? target : target.substr(cut + 1);
#ifndef _WIN32
    dirFd_ = ::open(dirPath_.empty() ? "." : dirPath_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd_ < 0) return false;
    ownDir_ = true;
#endif
    if (create(options)) return true;
    const int error = errno;
    discard();
    errno = error;
    return false;
}

#ifndef _WIN32
bool DurableFile::openAt(int dirFd, const std::string& leaf, const Options& options) {
    discard();
    dirFd_ = dirFd;
    ownDir_ = false;
    dirPath_.clear();
    target_ = leaf;
    if (create(options)) return true;
    const int error = errno;
    discard();
    errno = error;
    return false;
}
#endif

bool DurableFile::create(const Options& options) {
    noReplace_ = options.noReplace;
    sync_ = options.sync;
    beforeRename_ = options.beforeRename;
    renamed_ = false;
    finished_ = false;
    for (int attempt = 0; attempt < kCreateAttempts && fd_ < 0; ++attempt) {
        tempLeaf_ = options.memberPart ? memberPartName() : temporaryNameFor(target_);
#ifdef _WIN32
        temp_ = dirPath_ + tempLeaf_;
        fd_ = ::_open(temp_.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                      _S_IREAD | _S_IWRITE);
#else
        temp_ = dirPath_ + tempLeaf_;
        fd_ = ::openat(dirFd_, tempLeaf_.c_str(),
                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, options.mode);
#endif
        if (fd_ < 0 && errno != EEXIST) break;
    }
    if (fd_ < 0) {
        temp_.clear();
        tempLeaf_.clear();
        return false;
    }
    return !options.keepOwnerAndMode || keepOwnerAndMode();
}

bool DurableFile::keepOwnerAndMode() {
#ifdef _WIN32
    return true;
#else
    struct stat old;
    // What the name shows, through a link: a dangling link has nothing to keep.
    if (::fstatat(dirFd_, target_.c_str(), &old, 0) != 0) return true;
    if (!S_ISREG(old.st_mode)) {
        errno = EISDIR;
        return false;
    }
    if (::fchmod(fd_, old.st_mode & 07777) != 0) return false;
    struct stat mine;
    if (::fstat(fd_, &mine) == 0 && (mine.st_uid != old.st_uid || mine.st_gid != old.st_gid)) {
        // Only a privileged user can keep the owner; anyone else owns the new file.
        [[maybe_unused]] const int ignored = ::fchown(fd_, old.st_uid, old.st_gid);
    }
    return true;
#endif
}

bool DurableFile::finishWriting() {
    if (fd_ < 0) {
        errno = EBADF;
        return false;
    }
#ifdef _WIN32
    bool written = !sync_ || ::_commit(fd_) == 0;
    written = ::_close(fd_) == 0 && written;
#else
    const bool synced = !sync_ || ::fsync(fd_) == 0;
    const int error = errno;
    const bool closed = ::close(fd_) == 0;
    if (!synced) errno = error;
    const bool written = synced && closed;
#endif
    fd_ = -1;
    finished_ = written;
    return written;
}

bool DurableFile::commit() {
    if (!finished_ && !finishWriting()) {
        const int error = errno;
        discard();
        errno = error;
        return false;
    }
    if (beforeRename_) beforeRename_();
    if (!putInPlace()) {
        const int error = errno;
        discard();
        errno = error;
        return false;
    }
    renamed_ = true;
    const bool synced = syncFolder();
    const int error = errno;
    discard();
    errno = error;
    return synced;
}

bool DurableFile::putInPlace() {
#ifdef _WIN32
    const std::string target = dirPath_ + target_;
    if (noReplace_) return MoveFileExA(temp_.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
    return MoveFileExA(temp_.c_str(), target.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
    if (!noReplace_) return ::renameat(dirFd_, tempLeaf_.c_str(), dirFd_, target_.c_str()) == 0;
    // link() never replaces, so a target that appeared meanwhile stays intact; file
    // systems without hard links fall back to a checked rename.
    if (::linkat(dirFd_, tempLeaf_.c_str(), dirFd_, target_.c_str(), 0) == 0) {
        ::unlinkat(dirFd_, tempLeaf_.c_str(), 0);
        return true;
    }
    if (errno == EEXIST) return false;
    struct stat st;
    if (::fstatat(dirFd_, target_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::renameat(dirFd_, tempLeaf_.c_str(), dirFd_, target_.c_str()) == 0;
#endif
}

bool DurableFile::syncFolder() {
#ifdef _WIN32
    return true;  // MOVEFILE_WRITE_THROUGH has flushed the rename
#else
    return !sync_ || ::fsync(dirFd_) == 0;
#endif
}

void DurableFile::discard() {
    if (fd_ >= 0) {
#ifdef _WIN32
        ::_close(fd_);
#else
        ::close(fd_);
#endif
        fd_ = -1;
    }
    if (!renamed_ && !tempLeaf_.empty()) {
#ifdef _WIN32
        ::_unlink(temp_.c_str());
#else
        ::unlinkat(dirFd_, tempLeaf_.c_str(), 0);
#endif
    }
#ifndef _WIN32
    if (ownDir_ && dirFd_ >= 0) ::close(dirFd_);
#endif
    dirFd_ = -1;
    ownDir_ = false;
    temp_.clear();
    tempLeaf_.clear();
}

bool durableWrite(const std::string& path, std::string_view data, const Options& options) {
    DurableFile file;
    if (!file.open(path, options)) return false;
    if (!file.write(data)) {
        const int error = errno;
        file.discard();
        errno = error;
        return false;
    }
    return file.commit();
}

}  // namespace durable
