// libc's file calls, defined in the test executable so that every call of the process comes
// here first (see PowerCut.h); each goes on to the next definition (libasan's or libc's)
// found with dlsym(RTLD_NEXT).
//
// Armed, the shim keeps descriptors of files below the root, counts steps and, for a power
// cut, keeps a journal: for each file written, a hard link to it and a copy of what it
// held when last synced (the content is by inode, whatever its names become); for each
// change of a folder, what undoes it (a removed or replaced file kept as a hard link in the
// journal folder), the folder known by an O_PATH descriptor, so that an undo finds it
// wherever it went. An fsync of a folder makes the changes in it lasting; at the crash the
// others are undone in reverse order, then every file written gets its synced content back.

#include "powercut/PowerCut.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/FileSystem.h"

namespace {

using powercut::Mode;

template <typename F>
F* nextDefinition(const char* name) {
    return reinterpret_cast<F*>(::dlsym(RTLD_NEXT, name));
}
// The call being made on this thread, to name the step chosen.
struct Current {
    const char* call = "";
    int at = AT_FDCWD;  // or the descriptor written or synced (path null)
    const char* path = nullptr;
    int toAt = AT_FDCWD;
    const char* to = nullptr;  // a rename's new name
};
thread_local Current current;

#define NEXT(fn)                                                 \
    static auto* const next = nextDefinition<decltype(fn)>(#fn); \
    current.call = #fn

// The calls the shim makes itself, past its own definitions.
struct Libc {
    decltype(&::openat) openat = nextDefinition<decltype(::openat)>("openat");
    decltype(&::close) close = nextDefinition<decltype(::close)>("close");
    decltype(&::write) write = nextDefinition<decltype(::write)>("write");
    decltype(&::linkat) linkat = nextDefinition<decltype(::linkat)>("linkat");
    decltype(&::unlinkat) unlinkat = nextDefinition<decltype(::unlinkat)>("unlinkat");
    decltype(&::renameat2) renameat2 = nextDefinition<decltype(::renameat2)>("renameat2");
    decltype(&::mkdirat) mkdirat = nextDefinition<decltype(::mkdirat)>("mkdirat");
    decltype(&::closedir) closedir = nextDefinition<decltype(::closedir)>("closedir");
};
const Libc& libc() {
    static const Libc calls;
    return calls;
}

struct Key {  // a file or folder, whatever its names
    dev_t dev = 0;
    ino_t ino = 0;
    auto operator<=>(const Key&) const = default;
};
Key keyOf(const struct stat& st) {
    return {st.st_dev, st.st_ino};
}

struct Open {  // a descriptor of a file or folder below the root
    Key key;
    bool folder = false;
    bool writes = false;
};
struct Written {         // a file written since the shim was armed
    std::string link;    // a hard link to it in the journal folder
    std::string synced;  // what it held when last synced (never synced: empty)
    struct timespec mtime {};
};
enum class Undo { Create, Mkdir, Rename, Exchange, Unlink, Rmdir };
struct Change {  // a change of a folder, undone unless the folder is synced after it
    Undo kind;
    Key folder;  // where it happened (a rename: the folder renamed into)
    std::string name;
    Key fromFolder;  // a rename: the folder renamed from
    std::string fromName;
    std::string kept;  // a removed or replaced file, linked in the journal folder
    mode_t mode = 0;   // a removed or replaced folder
    Key gone;          // a removed folder
    bool lasting = false;
};

std::string normalised(const std::string& path) {
    std::vector<std::string> parts;
    for (size_t at = 0; at <= path.size();) {
        const size_t end = std::min(path.find('/', at), path.size());
        const std::string part = path.substr(at, end - at);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        at = end + 1;
    }
    std::string out;
    for (const std::string& part : parts) out += "/" + part;
    return out.empty() ? "/" : out;
}

std::string contentOf(const std::string& path, struct timespec& mtime) {
    std::string content;
    const int in = libc().openat(AT_FDCWD, path.c_str(), O_RDONLY | O_CLOEXEC);
    char buffer[1 << 16];
    for (ssize_t n; in >= 0 && (n = ::read(in, buffer, sizeof buffer)) > 0;)
        content.append(buffer, size_t(n));
    struct stat st;
    if (in >= 0 && ::fstat(in, &st) == 0) mtime = st.st_mtim;
    if (in >= 0) libc().close(in);
    return content;
}

void removeAll(int at, const std::string& name) {
    if (libc().unlinkat(at, name.c_str(), 0) == 0 || errno == ENOENT) return;
    const int fd = libc().openat(at, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr) {
        std::vector<std::string> names;
        while (const dirent* e = ::readdir(dir))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.push_back(e->d_name);
        for (const std::string& n : names) removeAll(::dirfd(dir), n);
        libc().closedir(dir);
    } else if (fd >= 0) {
        libc().close(fd);
    }
    libc().unlinkat(at, name.c_str(), AT_REMOVEDIR);
}

class Shim {
  public:
    std::atomic<bool> armed{false};
    std::mutex lock;

    void arm(const std::string& root, Mode mode, long target) {
        reset();
        char* real = ::realpath(root.c_str(), nullptr);
        root_ = std::string(real ? real : root.c_str()) + "/";
        std::free(real);
        root_ = normalised(root_) + "/";
        stash_ = root_ + ".powercut/";
        mode_ = mode;
        target_ = target;
        if (mode == Mode::PowerCut) {
            removeAll(AT_FDCWD, stash_);
            libc().mkdirat(AT_FDCWD, stash_.c_str(), 0700);
            stashFd_ = libc().openat(AT_FDCWD, stash_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        }
        armed = true;
    }
    void reset() {
        armed = false;
        for (const auto& [key, fd] : folders_) libc().close(fd);
        if (stashFd_ >= 0) libc().close(stashFd_);
        if (!stash_.empty()) removeAll(AT_FDCWD, stash_);
        stashFd_ = -1;
        stash_.clear();
        folders_.clear();
        fds_.clear();
        written_.clear();
        changes_.clear();
        count_ = 0;
        reached_ = false;
    }
    bool reached() const { return reached_; }
    long steps() const { return count_; }
    bool journal() const { return mode_ == Mode::PowerCut; }

    // The absolute path of `path` as seen from `at`; "" when it cannot be told.
    std::string absolute(int at, const char* path) const {
        if (!path || !*path) return "";
        if (path[0] == '/') return normalised(path);
        char base[PATH_MAX];
        if (at == AT_FDCWD) {
            if (!::getcwd(base, sizeof base)) return "";
        } else {
            const std::string link = "/proc/self/fd/" + std::to_string(at);
            const ssize_t n = ::readlink(link.c_str(), base, sizeof base - 1);
            if (n <= 0) return "";
            base[n] = '\0';
        }
        return normalised(std::string(base) + "/" + path);
    }
    bool below(const std::string& path) const {
        const std::string p = path + "/";
        return !path.empty() && p.compare(0, root_.size(), root_) == 0 &&
               p.compare(0, stash_.size(), stash_) != 0;
    }
    bool below(int at, const char* path) const { return below(absolute(at, path)); }

    // The call at the step chosen, its paths below the root, left in the note file.
    void note() const {
        const auto shown = [&](int at, const char* path) {
            std::string p = path ? absolute(at, path) : absolute(at, ".");
            if (p.compare(0, root_.size(), root_) == 0) p.erase(0, root_.size());
            return p;
        };
        std::string text = current.call;
        if (current.at != AT_FDCWD || current.path) text += " " + shown(current.at, current.path);
        if (current.to) text += " -> " + shown(current.toAt, current.to);
        const std::string file = root_ + ".powercut-step";
        const int fd =
            libc().openat(AT_FDCWD, file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0) return;
        [[maybe_unused]] const ssize_t written = libc().write(fd, text.data(), text.size());
        libc().close(fd);
    }

    // A call that changes the disk: a step for Kill (but a sync) and for Fail (when it can
    // fail: `failWith` not 0). At the step chosen the process ends here, or the errno the call
    // fails with is returned.
    int step(bool sync, int failWith) {
        if (mode_ == Mode::Fail) {
            if (failWith == 0 || ++count_ != target_) return 0;
            reached_ = true;
            note();
            return failWith;
        }
        if (mode_ == Mode::Kill && !sync && ++count_ == target_) {
            reached_ = true;
            note();
            end();
        }
        return 0;
    }

    // A descriptor below the root, still naming what it was opened for.
    const Open* tracked(int fd) {
        const auto it = fds_.find(fd);
        if (it == fds_.end()) return nullptr;
        struct stat st;
        if (::fstat(fd, &st) != 0 || keyOf(st) != it->second.key) {
            fds_.erase(it);
            return nullptr;
        }
        return &it->second;
    }
    void forget(int fd) { fds_.erase(fd); }

    // An open below the root: a step when it creates or truncates a file.
    template <typename Call>
    int open(int at, const char* path, int flags, Call call) {
        struct stat before;
        const bool existed = ::fstatat(at, path, &before, AT_SYMLINK_NOFOLLOW) == 0;
        const bool file = existed && S_ISREG(before.st_mode);
        const bool creates = (flags & O_CREAT) && !existed;
        const bool truncates = (flags & O_TRUNC) && file;
        const bool writes = (flags & O_ACCMODE) != O_RDONLY || truncates;
        if (creates || truncates) {
            if (const int error = step(false, creates ? ENOSPC : 0)) {
                errno = error;
                return -1;
            }
        }
        Change change{Undo::Create};
        if (journal() && writes && file) keepContent(at, path, before, true);
        if (journal() && creates) change.folder = folderOf(at, path, change.name);
        const int fd = call();
        if (fd < 0) return fd;
        struct stat now;
        if (::fstat(fd, &now) != 0) return fd;
        fds_[fd] = Open{keyOf(now), S_ISDIR(now.st_mode), writes};
        if (journal() && creates) {
            changes_.push_back(change);
            if (S_ISREG(now.st_mode)) keepContent(at, path, now, false);
        }
        return fd;
    }

    // A file or folder synced: what it holds now lasts. With anything new lasting, this is
    // a power-cut step (between two of them a power cut leaves the same disk).
    void synced(const Open& open) {
        if (journal() && lasts(open)) powerCutStep();
    }
    void allSynced() {
        if (!journal()) return;
        bool changed = false;
        for (Change& c : changes_) changed = !std::exchange(c.lasting, true) || changed;
        for (const auto& [key, w] : written_) changed = lasts(Open{key}) || changed;
        if (changed) powerCutStep();
    }

    // A file about to be truncated or written through a path.
    void writing(int at, const char* path) {
        struct stat st;
        if (journal() && ::fstatat(at, path, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            keepContent(at, path, st, true);
    }

    // A name made (a file, a folder, a link), removed or renamed below the root.
    template <typename Call>
    int created(int at, const char* path, Undo kind, Call call) {
        if (const int error = step(false, ENOSPC)) {
            errno = error;
            return -1;
        }
        if (!journal()) return call();
        Change change{kind};
        change.folder = folderOf(at, path, change.name);
        const int result = call();
        if (result == 0) changes_.push_back(change);
        return result;
    }
    template <typename Call>
    int removed(int at, const char* path, bool folder, Call call) {
        step(false, 0);
        if (!journal()) return call();
        Change change{folder ? Undo::Rmdir : Undo::Unlink};
        change.folder = folderOf(at, path, change.name);
        struct stat st;
        if (folder && ::fstatat(at, path, &st, AT_SYMLINK_NOFOLLOW) == 0) {
            change.gone = keyOf(st);
            change.mode = st.st_mode;
        }
        if (!folder) change.kept = keep(at, path);
        const int result = call();
        const int error = errno;
        if (result == 0)
            changes_.push_back(change);
        else if (!change.kept.empty())
            libc().unlinkat(stashFd_, change.kept.c_str(), 0);
        errno = error;
        return result;
    }
    template <typename Call>
    int renamed(int fromAt, const char* from, int toAt, const char* to, unsigned flags,
                bool bothBelow, Call call) {
        if (const int error = step(false, EIO)) {
            errno = error;
            return -1;
        }
        if (!journal() || !bothBelow) return call();
        Change change{flags & RENAME_EXCHANGE ? Undo::Exchange : Undo::Rename};
        change.folder = folderOf(toAt, to, change.name);
        change.fromFolder = folderOf(fromAt, from, change.fromName);
        struct stat old;
        if (!(flags & (RENAME_EXCHANGE | RENAME_NOREPLACE)) &&
            ::fstatat(toAt, to, &old, AT_SYMLINK_NOFOLLOW) == 0) {
            if (S_ISDIR(old.st_mode))
                change.mode = old.st_mode;
            else
                change.kept = keep(toAt, to);
        }
        const int result = call();
        const int error = errno;
        if (result == 0)
            changes_.push_back(change);
        else if (!change.kept.empty())
            libc().unlinkat(stashFd_, change.kept.c_str(), 0);
        errno = error;
        return result;
    }

  private:
    [[noreturn]] static void end() {
        ::kill(::getpid(), SIGKILL);
        for (;;) ::pause();
    }
    void powerCutStep() {
        if (++count_ != target_) return;
        reached_ = true;
        note();
        cutPower();
        end();
    }
    // Makes what the file or folder holds now lasting; false when it was already.
    bool lasts(const Open& open) {
        bool changed = false;
        if (open.folder) {
            for (Change& c : changes_)
                if (c.folder == open.key) changed = !std::exchange(c.lasting, true) || changed;
            return changed;
        }
        const auto it = written_.find(open.key);
        if (it == written_.end()) return false;
        Written& w = it->second;
        struct timespec mtime {};
        std::string now = contentOf(w.link, mtime);
        if (now == w.synced) return false;
        w.synced = std::move(now);
        w.mtime = mtime;
        return true;
    }

    // The folder of `path` (kept open as O_PATH, once per folder) and its last name.
    Key folderOf(int at, const char* path, std::string& leaf) {
        std::string p = path;
        while (p.size() > 1 && p.back() == '/') p.pop_back();
        const size_t cut = p.rfind('/');
        leaf = cut == std::string::npos ? p : p.substr(cut + 1);
        const std::string parent =
            cut == std::string::npos ? "." : (cut == 0 ? "/" : p.substr(0, cut));
        const int fd = libc().openat(at, parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        struct stat st;
        if (fd < 0 || ::fstat(fd, &st) != 0) {
            if (fd >= 0) libc().close(fd);
            return {};
        }
        if (!folders_.emplace(keyOf(st), fd).second) libc().close(fd);
        return keyOf(st);
    }
    int folderFd(const Key& key) const {
        const auto it = folders_.find(key);
        return it == folders_.end() ? -1 : it->second;
    }
    // A hard link to the file in the journal folder; its name there, or "".
    std::string keep(int at, const char* path) {
        const std::string name = "k" + std::to_string(++serial_);
        return libc().linkat(at, path, stashFd_, name.c_str(), 0) == 0 ? name : "";
    }
    // From the first write on, a file's content is journaled: a file there before counts
    // as synced as it was, a new one as empty.
    void keepContent(int at, const char* path, const struct stat& st, bool existed) {
        if (written_.count(keyOf(st))) return;
        Written w;
        const std::string link = keep(at, path);
        if (link.empty()) return;
        w.link = stash_ + link;
        if (existed) w.synced = contentOf(w.link, w.mtime);
        written_[keyOf(st)] = w;
    }

    void undo(const Change& c) {
        const Libc& l = libc();
        const int at = folderFd(c.folder);
        const int from = folderFd(c.fromFolder);
        const char* name = c.name.c_str();
        switch (c.kind) {
            case Undo::Create:
                l.unlinkat(at, name, 0);
                break;
            case Undo::Mkdir:  // a folder the synced changes of its own keep filled goes whole
                if (l.unlinkat(at, name, AT_REMOVEDIR) != 0)
                    l.renameat2(at, name, stashFd_, ("gone" + std::to_string(++serial_)).c_str(),
                                0);
                break;
            case Undo::Rename:
                l.renameat2(at, name, from, c.fromName.c_str(), RENAME_NOREPLACE);
                if (!c.kept.empty())
                    l.renameat2(stashFd_, c.kept.c_str(), at, name, 0);
                else if (c.mode)
                    l.mkdirat(at, name, c.mode & 07777);
                break;
            case Undo::Exchange:
                l.renameat2(at, name, from, c.fromName.c_str(), RENAME_EXCHANGE);
                break;
            case Undo::Unlink:
                l.renameat2(stashFd_, c.kept.c_str(), at, name, RENAME_NOREPLACE);
                break;
            case Undo::Rmdir:
                if (l.mkdirat(at, name, c.mode & 07777) == 0) {
                    const int fd = l.openat(at, name, O_PATH | O_DIRECTORY | O_CLOEXEC);
                    if (const int old = folderFd(c.gone); old >= 0) l.close(old);
                    if (fd >= 0) folders_[c.gone] = fd;
                }
                break;
        }
    }
    void restore(const Written& w) {
        const int fd =
            libc().openat(AT_FDCWD, w.link.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) return;
        for (size_t done = 0; done < w.synced.size();) {
            const ssize_t n = libc().write(fd, w.synced.data() + done, w.synced.size() - done);
            if (n <= 0) break;
            done += size_t(n);
        }
        const struct timespec times[2] = {{0, UTIME_OMIT}, w.mtime};
        if (w.mtime.tv_sec) ::futimens(fd, times);
        libc().close(fd);
    }
    // What a power cut leaves: the changes no folder sync made lasting undone, last first,
    // then every file written back to what it held when last synced.
    void cutPower() {
        for (auto c = changes_.rbegin(); c != changes_.rend(); ++c)
            if (!c->lasting) undo(*c);
        for (const auto& [key, w] : written_) restore(w);
        reset();
    }

    std::string root_, stash_;  // both end in "/"
    int stashFd_ = -1;
    Mode mode_ = Mode::Kill;
    long target_ = 0, count_ = 0, serial_ = 0;
    bool reached_ = false;
    std::map<int, Open> fds_;
    std::map<Key, Written> written_;
    std::vector<Change> changes_;
    std::map<Key, int> folders_;
};

// Never destroyed: calls made while the process ends still come here.
Shim& shim() {
    static Shim* const instance = new Shim;
    return *instance;
}

void crashHook() {
    Shim& s = shim();
    if (!s.armed) return;
    current = {"fsx::crashPoint"};
    std::lock_guard guard(s.lock);
    s.step(false, 0);
}

// The calls below the root go through `body(shim)` under the lock; the others straight on.
template <typename Call, typename Body>
auto belowRoot(int at, const char* path, Call call, Body body) -> decltype(call()) {
    Shim& s = shim();
    if (!s.armed) return call();
    current.at = at;
    current.path = path;
    current.to = nullptr;
    std::unique_lock guard(s.lock);
    if (!s.below(at, path)) {
        guard.unlock();
        return call();
    }
    return body(s);
}

template <typename Call>
int opened(int at, const char* path, int flags, Call call) {
    return belowRoot(at, path, call, [&](Shim& s) { return s.open(at, path, flags, call); });
}

// A write, truncation or sync through a descriptor of a file below the root: a step,
// then `after(shim, open)` when the call worked.
template <typename Call, typename After>
auto through(int fd, bool sync, int failWith, Call call, After after) -> decltype(call()) {
    Shim& s = shim();
    if (!s.armed) return call();
    current.at = fd;
    current.path = current.to = nullptr;
    std::unique_lock guard(s.lock);
    const Open* open = s.tracked(fd);
    if (!open || (!sync && !open->writes)) {
        guard.unlock();
        return call();
    }
    if (const int error = s.step(sync, failWith)) {
        errno = error;
        return -1;
    }
    const Open seen = *open;
    const auto result = call();
    const int error = errno;
    if (result >= 0) after(s, seen);
    errno = error;
    return result;
}
template <typename Call>
auto written(int fd, int failWith, Call call) -> decltype(call()) {
    return through(fd, false, failWith, call, [](Shim&, const Open&) {});
}
template <typename Call>
int syncedThrough(int fd, Call call) {
    return through(fd, true, EIO, call, [](Shim& s, const Open& open) { s.synced(open); });
}

template <typename Call>
int removedAt(int at, const char* path, bool folder, Call call) {
    return belowRoot(at, path, call, [&](Shim& s) { return s.removed(at, path, folder, call); });
}
template <typename Call>
int createdAt(int at, const char* path, Undo kind, Call call) {
    return belowRoot(at, path, call, [&](Shim& s) { return s.created(at, path, kind, call); });
}
template <typename Call>
int renamedAt(int fromAt, const char* from, int toAt, const char* to, unsigned flags, Call call) {
    Shim& s = shim();
    if (!s.armed) return call();
    current = {current.call, fromAt, from, toAt, to};
    std::unique_lock guard(s.lock);
    const bool fromBelow = s.below(fromAt, from), toBelow = s.below(toAt, to);
    if (!fromBelow && !toBelow) {
        guard.unlock();
        return call();
    }
    return s.renamed(fromAt, from, toAt, to, flags, fromBelow && toBelow, call);
}

mode_t modeArgument(int flags, va_list args) {
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(args, mode_t) : 0;
}

int fopenFlags(const char* mode) {
    int flags = O_RDONLY;
    if (mode[0] == 'w') flags = O_WRONLY | O_CREAT | O_TRUNC;
    if (mode[0] == 'a') flags = O_WRONLY | O_CREAT | O_APPEND;
    for (const char* p = mode + 1; *p && *p != ','; ++p) {
        if (*p == '+') flags = (flags & ~O_ACCMODE) | O_RDWR;
        if (*p == 'x') flags |= O_EXCL;
    }
    return flags;
}

template <typename Open>
FILE* openedStream(const char* path, const char* mode, Open call) {
    FILE* stream = nullptr;
    opened(AT_FDCWD, path, fopenFlags(mode), [&] {
        stream = call();
        return stream ? ::fileno(stream) : -1;
    });
    return stream;
}

}  // namespace

namespace powercut {

std::string stepNote(const std::string& root) {
    const std::string file = root + "/.powercut-step";
    std::string text;
    if (FILE* f = std::fopen(file.c_str(), "rb")) {
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) text.append(buffer, n);
        std::fclose(f);
    }
    std::remove(file.c_str());
    return text;
}

const char* name(Mode mode) {
    return mode == Mode::Kill ? "kill" : mode == Mode::PowerCut ? "power cut" : "failure";
}

void arm(const std::string& root, Mode mode, long step) {
    Shim& s = shim();
    std::lock_guard guard(s.lock);
    s.arm(root, mode, step);
    fsx::detail::setCrashHook(crashHook);
}

bool reached() {
    Shim& s = shim();
    std::lock_guard guard(s.lock);
    return s.reached();
}

long steps() {
    Shim& s = shim();
    std::lock_guard guard(s.lock);
    return s.steps();
}

void disarm() {
    fsx::detail::setCrashHook(nullptr);
    Shim& s = shim();
    std::lock_guard guard(s.lock);
    s.reset();
}

}  // namespace powercut

// ---------------------------------------------------------------------------------------
// The definitions the process calls.

extern "C" {

int open(const char* path, int flags, ...) {
    NEXT(open);
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeArgument(flags, args);
    va_end(args);
    return opened(AT_FDCWD, path, flags, [&] { return next(path, flags, mode); });
}
int open64(const char* path, int flags, ...) {
    NEXT(open64);
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeArgument(flags, args);
    va_end(args);
    return opened(AT_FDCWD, path, flags, [&] { return next(path, flags, mode); });
}
int openat(int at, const char* path, int flags, ...) {
    NEXT(openat);
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeArgument(flags, args);
    va_end(args);
    return opened(at, path, flags, [&] { return next(at, path, flags, mode); });
}
int openat64(int at, const char* path, int flags, ...) {
    NEXT(openat64);
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeArgument(flags, args);
    va_end(args);
    return opened(at, path, flags, [&] { return next(at, path, flags, mode); });
}
// What _FORTIFY_SOURCE makes of an open without a mode.
int __open_2(const char* path, int flags) {
    return open(path, flags);
}
int __open64_2(const char* path, int flags) {
    return open64(path, flags);
}
int __openat_2(int at, const char* path, int flags) {
    return openat(at, path, flags);
}
int __openat64_2(int at, const char* path, int flags) {
    return openat64(at, path, flags);
}
int creat(const char* path, mode_t mode) {
    return open(path, O_CREAT | O_WRONLY | O_TRUNC, mode);
}
int creat64(const char* path, mode_t mode) {
    return open64(path, O_CREAT | O_WRONLY | O_TRUNC, mode);
}
FILE* fopen(const char* path, const char* mode) {
    NEXT(fopen);
    return openedStream(path, mode, [&] { return next(path, mode); });
}
FILE* fopen64(const char* path, const char* mode) {
    NEXT(fopen64);
    return openedStream(path, mode, [&] { return next(path, mode); });
}

int close(int fd) {
    NEXT(close);
    Shim& s = shim();
    if (s.armed) {
        std::lock_guard guard(s.lock);
        s.forget(fd);
    }
    return next(fd);
}
int fclose(FILE* stream) {
    NEXT(fclose);
    Shim& s = shim();
    if (s.armed && stream) {
        std::lock_guard guard(s.lock);
        s.forget(::fileno(stream));
    }
    return next(stream);
}
int closedir(DIR* dir) {
    NEXT(closedir);
    Shim& s = shim();
    if (s.armed) {
        std::lock_guard guard(s.lock);
        s.forget(::dirfd(dir));
    }
    return next(dir);
}

ssize_t write(int fd, const void* data, size_t size) {
    NEXT(write);
    return written(fd, ENOSPC, [&] { return next(fd, data, size); });
}
ssize_t pwrite(int fd, const void* data, size_t size, off_t at) {
    NEXT(pwrite);
    return written(fd, ENOSPC, [&] { return next(fd, data, size, at); });
}
ssize_t pwrite64(int fd, const void* data, size_t size, off64_t at) {
    NEXT(pwrite64);
    return written(fd, ENOSPC, [&] { return next(fd, data, size, at); });
}
ssize_t writev(int fd, const struct iovec* pieces, int count) {
    NEXT(writev);
    return written(fd, ENOSPC, [&] { return next(fd, pieces, count); });
}
ssize_t pwritev(int fd, const struct iovec* pieces, int count, off_t at) {
    NEXT(pwritev);
    return written(fd, ENOSPC, [&] { return next(fd, pieces, count, at); });
}
size_t fwrite(const void* data, size_t size, size_t count, FILE* stream) {
    NEXT(fwrite);
    const ssize_t n = written(::fileno(stream), ENOSPC, [&] {
        return static_cast<ssize_t>(next(data, size, count, stream));
    });
    return n < 0 ? 0 : size_t(n);
}
ssize_t sendfile(int out, int in, off_t* at, size_t count) noexcept {
    NEXT(sendfile);
    return written(out, ENOSPC, [&] { return next(out, in, at, count); });
}
ssize_t sendfile64(int out, int in, off64_t* at, size_t count) noexcept {
    NEXT(sendfile64);
    return written(out, ENOSPC, [&] { return next(out, in, at, count); });
}
ssize_t copy_file_range(int in, off64_t* inAt, int out, off64_t* outAt, size_t size,
                        unsigned flags) {
    NEXT(copy_file_range);
    return written(out, ENOSPC, [&] { return next(in, inAt, out, outAt, size, flags); });
}
int ftruncate(int fd, off_t size) noexcept {
    NEXT(ftruncate);
    return written(fd, EIO, [&] { return next(fd, size); });
}
int ftruncate64(int fd, off64_t size) noexcept {
    NEXT(ftruncate64);
    return written(fd, EIO, [&] { return next(fd, size); });
}
int truncate(const char* path, off_t size) noexcept {
    NEXT(truncate);
    const auto call = [&] { return next(path, size); };
    return belowRoot(AT_FDCWD, path, call, [&](Shim& s) {
        if (const int error = s.step(false, EIO)) {
            errno = error;
            return -1;
        }
        s.writing(AT_FDCWD, path);
        return call();
    });
}
int truncate64(const char* path, off64_t size) noexcept {
    return truncate(path, off_t(size));
}

int fsync(int fd) {
    NEXT(fsync);
    return syncedThrough(fd, [&] { return next(fd); });
}
int fdatasync(int fd) {
    NEXT(fdatasync);
    return syncedThrough(fd, [&] { return next(fd); });
}
int syncfs(int fd) noexcept {
    NEXT(syncfs);
    Shim& s = shim();
    if (!s.armed) return next(fd);
    std::lock_guard guard(s.lock);
    if (const int error = s.step(true, EIO)) {
        errno = error;
        return -1;
    }
    const int result = next(fd);
    if (result == 0) s.allSynced();
    return result;
}
void sync() noexcept {
    NEXT(sync);
    Shim& s = shim();
    if (s.armed) {
        std::lock_guard guard(s.lock);
        s.step(true, 0);
        s.allSynced();
    }
    next();
}

int rename(const char* from, const char* to) noexcept {
    NEXT(rename);
    return renamedAt(AT_FDCWD, from, AT_FDCWD, to, 0, [&] { return next(from, to); });
}
int renameat(int fromAt, const char* from, int toAt, const char* to) noexcept {
    NEXT(renameat);
    return renamedAt(fromAt, from, toAt, to, 0, [&] { return next(fromAt, from, toAt, to); });
}
int renameat2(int fromAt, const char* from, int toAt, const char* to, unsigned flags) noexcept {
    NEXT(renameat2);
    return renamedAt(fromAt, from, toAt, to, flags,
                     [&] { return next(fromAt, from, toAt, to, flags); });
}

int unlink(const char* path) noexcept {
    NEXT(unlink);
    return removedAt(AT_FDCWD, path, false, [&] { return next(path); });
}
int unlinkat(int at, const char* path, int flags) noexcept {
    NEXT(unlinkat);
    return removedAt(at, path, flags & AT_REMOVEDIR, [&] { return next(at, path, flags); });
}
int rmdir(const char* path) noexcept {
    NEXT(rmdir);
    return removedAt(AT_FDCWD, path, true, [&] { return next(path); });
}
int remove(const char* path) noexcept {
    NEXT(remove);
    struct stat st;
    const bool folder = ::lstat(path, &st) == 0 && S_ISDIR(st.st_mode);
    return removedAt(AT_FDCWD, path, folder, [&] { return next(path); });
}

int mkdir(const char* path, mode_t mode) noexcept {
    NEXT(mkdir);
    return createdAt(AT_FDCWD, path, Undo::Mkdir, [&] { return next(path, mode); });
}
int mkdirat(int at, const char* path, mode_t mode) noexcept {
    NEXT(mkdirat);
    return createdAt(at, path, Undo::Mkdir, [&] { return next(at, path, mode); });
}
int link(const char* from, const char* to) noexcept {
    NEXT(link);
    return createdAt(AT_FDCWD, to, Undo::Create, [&] { return next(from, to); });
}
int linkat(int fromAt, const char* from, int toAt, const char* to, int flags) noexcept {
    NEXT(linkat);
    return createdAt(toAt, to, Undo::Create, [&] { return next(fromAt, from, toAt, to, flags); });
}
int symlink(const char* target, const char* path) noexcept {
    NEXT(symlink);
    return createdAt(AT_FDCWD, path, Undo::Create, [&] { return next(target, path); });
}
int symlinkat(const char* target, int at, const char* path) noexcept {
    NEXT(symlinkat);
    return createdAt(at, path, Undo::Create, [&] { return next(target, at, path); });
}

}  // extern "C"
