#pragma once
// The one way a file is replaced: a new temporary file beside it (a unique name under the
// rule of base/NameLimits.h, created exclusively, never through a link), written in full,
// flushed to disk, renamed over the target, and the folder flushed. A reader never sees
// half a file, and a crash leaves the old file or the new one, plus at most a temporary
// file the start-up clean-up recognises. Free of Qt: the engines and the sound plug-in
// build it in too.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace durable {

// Writes all `size` bytes to `fd` (at its position, or at `offset`), going on after
// interruptions and short writes; false on an error (errno set).
bool writeAll(int fd, const void* data, size_t size);
bool writeAllAt(int fd, const void* data, size_t size, uint64_t offset);

struct Options {
    // Permissions of the new file, before the process's umask.
    unsigned mode = 0666;
    // An existing target's permission bits and (where the user may) owner go to the new
    // file; a target that is not a regular file is refused.
    bool keepOwnerAndMode = false;
    // A target that is a symbolic link: its final target is replaced and the link stays.
    // Without it the link itself is replaced; nothing is ever written through a link.
    bool followLink = false;
    // The target must not exist: commit() fails with EEXIST rather than replace a file
    // that appeared meanwhile.
    bool noReplace = false;
    // The file and the folder are flushed to disk. Without it the rename still makes the
    // replacement whole, but not lasting across a power loss (an extraction that many
    // small files make: their install is synced as a whole afterwards).
    bool sync = true;
    // The temporary file is named ".tm" + 12 hexadecimal digits + ".part", without the
    // target's name, as the extractors name a member being written.
    bool memberPart = false;
    // Called after the temporary file is complete and flushed, right before the rename
    // (the crash-injection tests stop there).
    void (*beforeRename)() = nullptr;
};

// One replacement in progress: open() makes the temporary file, write() (or writes to
// fd()) fill it, commit() puts it into place. Destroyed or discarded before commit(), it
// removes the temporary file and leaves the target untouched.
class DurableFile {
  public:
    DurableFile() = default;
    ~DurableFile();
    DurableFile(const DurableFile&) = delete;
    DurableFile& operator=(const DurableFile&) = delete;
    DurableFile(DurableFile&& other) noexcept;
    DurableFile& operator=(DurableFile&& other) noexcept;

    // Starts replacing `path`. False when no temporary file can be made (errno set).
    bool open(const std::string& path, const Options& options = {});
#ifndef _WIN32
    // Starts replacing `leaf` (a name without separators) in the folder open as `dirFd`;
    // the folder descriptor must stay open until commit().
    bool openAt(int dirFd, const std::string& leaf, const Options& options = {});
#endif

    bool isOpen() const {
        return fd_ >= 0;
    }
    int fd() const {
        return fd_;
    }
    // The temporary file: a path beside the target for open(), a leaf name in the folder
    // for openAt().
    const std::string& temporaryName() const {
        return temp_;
    }
    const std::string& targetName() const {
        return target_;
    }

    bool write(const void* data, size_t size) {
        return writeAll(fd_, data, size);
    }
    bool write(std::string_view data) {
        return write(data.data(), data.size());
    }

    // Flushes the temporary file to disk and closes it (commit() does so when it has not
    // been done). False on a failure (errno set); the temporary file stays for discard().
    bool finishWriting();
    // Flushes, closes and renames the temporary file over the target, then flushes the
    // folder. False on a failure (errno set); renamed() tells whether the new file is in
    // place (then only the folder flush failed) or the temporary file was removed.
    bool commit();
    bool renamed() const {
        return renamed_;
    }
    // Closes and removes the temporary file; the target stays as it was.
    void discard();

  private:
    bool create(const Options& options);
    bool keepOwnerAndMode();
    bool syncFolder();
    bool putInPlace();

    int fd_ = -1;
    int dirFd_ = -1;  // the folder of target and temporary file
    bool ownDir_ = false;
    std::string dirPath_;  // the folder as a path, for open(); empty for openAt()
    std::string target_;   // leaf name in the folder
    std::string temp_;     // leaf name in the folder (openAt) or full path (open)
    std::string tempLeaf_;
    bool renamed_ = false;
    bool finished_ = false;  // flushed and closed, ready for the rename
    bool noReplace_ = false;
    bool sync_ = true;
    void (*beforeRename_)() = nullptr;
};

// Replaces `path` with `data` in one step. False on a failure (errno set); the target is
// then as it was, unless only the final folder flush failed.
bool durableWrite(const std::string& path, std::string_view data, const Options& options = {});

// A fresh temporary name beside `path` (or for a leaf name), under the program's rule.
std::string temporaryNameFor(const std::string& path);

}  // namespace durable
