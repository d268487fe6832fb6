// ZIPENG.DLL: the compression engine.
//
// The new archive is written to a temporary file beside the old one and renamed over it
// once complete and synced; source files are deleted (move) only after that rename.
// Two worker threads read and compress: files up to 32 MB whole with libdeflate, larger
// ones in pieces with zlib. The calling thread writes them in order, copies kept members
// raw and runs every callback.

#include <dirent.h>
#include <fcntl.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <unordered_map>

#include "EngineCommon.h"
#include "base/DurableWrite.h"
#include "base/EngineAbi.h"
#include "base/WorkerPool.h"
#include "base/ZipNames.h"

using namespace tmeng;
using namespace engine;

namespace {

// Files up to kWholeLimit are compressed in one piece by libdeflate; larger ones are cut
// into kPiece parts that zlib compresses independently (each primed with the 32 KB in
// front of it and ended with a sync flush), which concatenate into one deflate stream.
// The workers are kept fed as long as the source bytes handed out and not yet written
// stay within kInFlightBytes; that bounds the memory an add takes.
constexpr uint64_t kWholeLimit = 32u << 20;
constexpr uint64_t kPiece = 4u << 20;
constexpr size_t kWindow = 32u << 10;
constexpr uint64_t kInFlightBytes = 64u << 20;
constexpr size_t kMaxInFlight = 64;
constexpr size_t kChunk = 1u << 20;
constexpr uint64_t kZip64Threshold = 0xFFFFFFFFull;
// Data of at least kProbeFrom bytes whose samples (start, middle, end) do not shrink
// below kProbeKeep of their size with the fastest level is stored: audio, video and
// images in their own compressed formats would only cost time.
constexpr size_t kProbeFrom = 256u << 10;
constexpr size_t kProbeSample = 32u << 10;
constexpr double kProbeKeep = 0.985;

struct Source {
    std::string path;  // on disk
    std::string name;  // member name, "/" separators
    std::string comment;
    std::string password;  // non-empty: encrypt
    uint64_t size = 0;
    uint32_t dosTime = 0;
    uint32_t mode = 0;
    bool store = false;
    bool written = false;
};

// Uninitialised bytes: buffers that are filled at once need no clearing first.
using Bytes = std::unique_ptr<uint8_t[]>;
Bytes rawBytes(size_t n) {
    return Bytes(new uint8_t[n ? n : 1]);
}

// One unit of work: a whole file, or one piece of a large one.
struct CJob {
    const Source* src = nullptr;
    int level = 5;
    bool piece = false;  // part of a file written in several pieces
    bool last = false;   // the file's final piece
    uint64_t offset = 0;
    uint64_t length = 0;
    // results
    bool done = false;
    std::string error;
    uint16_t method = 8;
    uint32_t crc = 0;
    uint64_t usize = 0;
    Bytes data;  // what goes into the archive (a whole file's encrypted when asked)
    size_t dataSize = 0;

    uint64_t memory() const { return length + (piece && offset ? kWindow : 0); }
};

std::string toSlash(std::string s) {
    std::replace(s.begin(), s.end(), '\\', '/');
    return s;
}

bool hasWildcard(std::string_view s) {
    return s.find_first_of("*?") != std::string_view::npos;
}

// An old member's name as it would be extracted, to compare with the names of new files.
std::string localName(const Entry& e) {
    return zipnames::localName(e.name, e.flags, e.hostSystem, e.madeByVersion);
}

// Removes "./", "../" and leading "/" so a path can serve as a member name.
std::string cleanName(const std::string& path) {
    std::string r;
    size_t i = 0;
    while (i <= path.size()) {
        size_t j = path.find('/', i);
        if (j == std::string::npos) j = path.size();
        std::string part = path.substr(i, j - i);
        if (!part.empty() && part != "." && part != "..") r += (r.empty() ? "" : "/") + part;
        i = j + 1;
    }
    return r;
}

std::string encryptionHeader(uint32_t crc, std::mt19937_64& rng) {
    std::string h(12, '\0');
    for (int i = 0; i < 11; ++i) h[i] = char(rng());
    h[11] = char(crc >> 24);
    return h;
}

// The two workers compressing files or pieces of them, each with compressors of its own.
class Pool {
  public:
    void submit(std::shared_ptr<CJob> j) {
        threads_.submit([this, j = std::move(j)](size_t worker) { runJob(*j, worker); });
    }
    void wait(CJob& j) {
        std::unique_lock lk(threads_.mutex());
        doneCv_.wait(lk, [&] { return j.done; });
    }

  private:
    void runJob(CJob& j, size_t worker) {
        try {
            work(j, state_[worker].comps, state_[worker].rng);
        } catch (const std::bad_alloc&) {
            j.error = "out of memory";
            j.data.reset();
        }
        {
            std::lock_guard lk(threads_.mutex());
            j.done = true;
        }
        doneCv_.notify_all();
    }

    // A worker's libdeflate compressors, one per level met.
    struct Compressors {
        std::unordered_map<int, libdeflate_compressor*> byLevel;
        std::unique_ptr<uint8_t[]> probeOut = std::make_unique<uint8_t[]>(kProbeSample);
        ~Compressors() {
            for (auto& [level, c] : byLevel) libdeflate_free_compressor(c);
        }
        libdeflate_compressor* get(int level) {
            auto& c = byLevel[level];
            if (!c) c = libdeflate_alloc_compressor(level);
            return c;
        }
        bool incompressible(const uint8_t* p, size_t n) {
            if (n < kProbeFrom) return false;
            libdeflate_compressor* fast = get(1);
            if (!fast) return false;
            const size_t keep = size_t(double(kProbeSample) * kProbeKeep);
            for (size_t at : {size_t(0), (n - kProbeSample) / 2, n - kProbeSample})
                if (libdeflate_deflate_compress(fast, p + at, kProbeSample, probeOut.get(), keep))
                    return false;  // this sample fits: worth compressing
            return true;
        }
    };

    static void work(CJob& j, Compressors& comps, std::mt19937_64& rng) {
        File f;
        if (!f.openRead(j.src->path)) {
            j.error = "cannot open \"" + j.src->path + "\": " + std::strerror(errno);
            return;
        }
        if (j.piece) return workPiece(j, f, comps);
        uint64_t size = std::min(f.size(), j.length);
        Bytes in = rawBytes(size_t(size));
        if (size && !f.readAt(in.get(), size_t(size), 0)) {
            j.error = "cannot read \"" + j.src->path + "\"";
            return;
        }
        j.usize = size;
        j.crc = libdeflate_crc32(0, in.get(), size_t(size));
        j.method = 0;
        if (!j.src->store && j.level > 0 && size > 0 &&
            !comps.incompressible(in.get(), size_t(size))) {
            if (libdeflate_compressor* c = comps.get(std::clamp(j.level, 1, 12))) {
                // Only output smaller than the input is kept, so a larger buffer would
                // be wasted; small files get the full bound in case libdeflate wants it.
                size_t cap = size > 65536 ? size_t(size) - 1
                                          : libdeflate_deflate_compress_bound(c, size_t(size));
                Bytes out = rawBytes(cap);
                size_t n = libdeflate_deflate_compress(c, in.get(), size_t(size), out.get(), cap);
                if (n > 0 && n < size) {
                    j.data = std::move(out);
                    j.dataSize = n;
                    j.method = 8;
                }
            }
        }
        if (j.method == 0) {
            j.data = std::move(in);
            j.dataSize = size_t(size);
        }
        if (!j.src->password.empty()) {
            std::string h = encryptionHeader(j.crc, rng);
            Bytes enc = rawBytes(j.dataSize + 12);
            std::memcpy(enc.get(), h.data(), 12);
            if (j.dataSize) std::memcpy(enc.get() + 12, j.data.get(), j.dataSize);
            j.data = std::move(enc);
            j.dataSize += 12;
            ZipCrypto z(j.src->password);
            z.encrypt(j.data.get(), j.dataSize);
        }
    }

    // One piece of a large file: raw deflate primed with the window in front of it,
    // ended with a sync flush (byte-aligned, not final) or, for the last piece, finished.
    static void workPiece(CJob& j, const File& f, Compressors& comps) {
        const bool compress = !j.src->store && j.level > 0;
        const size_t dict = compress ? size_t(std::min<uint64_t>(j.offset, kWindow)) : 0;
        const size_t len = size_t(j.length);
        Bytes in = rawBytes(dict + len);
        if (!f.readAt(in.get(), dict + len, j.offset - dict)) {
            j.error = "cannot read \"" + j.src->path + "\" (did it shrink?)";
            return;
        }
        j.usize = len;
        j.crc = libdeflate_crc32(0, in.get() + dict, len);
        if (!compress) {
            j.method = 0;
            if (dict == 0) {
                j.data = std::move(in);
            } else {
                j.data = rawBytes(len);
                std::memcpy(j.data.get(), in.get() + dict, len);
            }
            j.dataSize = len;
            return;
        }
        // An incompressible piece goes in as stored blocks (level 0) within the stream.
        const int level =
            comps.incompressible(in.get() + dict, len) ? 0 : std::clamp(j.level, 1, 9);
        z_stream zs{};
        if (deflateInit2(&zs, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
            j.error = "out of memory";
            return;
        }
        std::unique_ptr<z_stream, int (*)(z_stream*)> guard(&zs, deflateEnd);
        if (dict && deflateSetDictionary(&zs, in.get(), uInt(dict)) != Z_OK) {
            j.error = "compression failed";
            return;
        }
        const size_t cap = deflateBound(&zs, uLong(len)) + 64;  // room for the sync marker
        j.data = rawBytes(cap);
        zs.next_in = in.get() + dict;
        zs.avail_in = uInt(len);
        zs.next_out = j.data.get();
        zs.avail_out = uInt(cap);
        int rc = ::deflate(&zs, j.last ? Z_FINISH : Z_SYNC_FLUSH);
        const bool complete = j.last ? rc == Z_STREAM_END : rc == Z_OK && zs.avail_out > 0;
        if (!complete || zs.avail_in != 0) {
            j.error = "compression failed";
            j.data.reset();
            return;
        }
        j.method = 8;
        j.dataSize = cap - zs.avail_out;
    }

    struct WorkerState {
        Compressors comps;
        std::mt19937_64 rng{std::random_device{}()};
    };
    static constexpr size_t kWorkers = 2;

    std::condition_variable doneCv_;
    std::vector<WorkerState> state_ = std::vector<WorkerState>(kWorkers);
    workers::WorkerPool threads_{kWorkers};  // last: its threads end before what they use
};

// The archive being written under a temporary name beside it: buffered sequential output
// plus patching at offsets, put into place by commit().
class Writer {
  public:
    bool open(const std::string& archive) { return file_.open(archive); }
    uint64_t offset() const { return pos_; }
    bool put(const void* p, size_t n) {
        if (buf_.size() + n > kChunk && !flush()) return false;
        if (n >= kChunk) return file_.write(p, n) && (pos_ += n, true);
        buf_.append(static_cast<const char*>(p), n);
        pos_ += n;
        return true;
    }
    bool put(const std::string& s) { return put(s.data(), s.size()); }
    bool patch(const std::string& s, uint64_t at) {
        return flush() && durable::writeAllAt(file_.fd(), s.data(), s.size(), at);
    }
    bool flush() {
        if (buf_.empty()) return true;
        bool ok = file_.write(buf_.data(), buf_.size());
        buf_.clear();
        return ok;
    }
    // Drops everything written from `at` on (a member that could not be completed).
    bool rewind(uint64_t at) {
        if (!flush() || ::ftruncate(file_.fd(), off_t(at)) != 0 ||
            ::lseek(file_.fd(), off_t(at), SEEK_SET) != off_t(at))
            return false;
        pos_ = at;
        return true;
    }
    bool finish() { return flush() && file_.finishWriting(); }
    // Renames the finished archive over the old one; true once it is in place.
    bool commit() { return file_.commit() || file_.renamed(); }
    void abandon() { file_.discard(); }

  private:
    durable::DurableFile file_;
    std::string buf_;
    uint64_t pos_ = 0;
};

struct CentralRecord {
    Entry e;                // values as they go into the central directory
    std::string keptExtra;  // extra fields other than ZIP64
};

// Extra field without its ZIP64 block (that one is written anew).
std::string stripZip64(const std::string& extra) {
    std::string r;
    const auto* p = reinterpret_cast<const uint8_t*>(extra.data());
    size_t i = 0;
    while (i + 4 <= extra.size()) {
        uint16_t id = load16(p + i), len = load16(p + i + 2);
        if (i + 4 + len > extra.size()) break;
        if (id != 0x0001) r.append(extra, i, 4 + len);
        i += 4 + size_t(len);
    }
    return r;
}

std::string localHeader(const Entry& e, bool zip64) {
    std::string h;
    append32(h, kSigLocal);
    append16(h, zip64 ? 45 : e.needed);
    append16(h, e.flags);
    append16(h, e.method);
    append32(h, e.dosTime);
    append32(h, e.crc);
    append32(h, zip64 ? 0xFFFFFFFF : uint32_t(e.csize));
    append32(h, zip64 ? 0xFFFFFFFF : uint32_t(e.usize));
    append16(h, uint16_t(e.name.size()));
    append16(h, zip64 ? 20 : 0);
    h += e.name;
    if (zip64) {
        append16(h, 0x0001);
        append16(h, 16);
        append64(h, e.usize);
        append64(h, e.csize);
    }
    return h;
}

class Zipper {
  public:
    explicit Zipper(const ZipParams& p)
        : p_(p), cb_(p.callback, p.caller), rng_(std::random_device{}()) {}
    ~Zipper() { out_.abandon(); }
    Zipper(const Zipper&) = delete;
    Zipper& operator=(const Zipper&) = delete;

    int32_t run() {
        if (p_.seven != kEndMarker || p_.version < 151) {
            cb_.message(errSevere, "unsupported parameter record");
            return 0;
        }
        if (!p_.archive || !*p_.archive) {
            cb_.message(errSevere, "no archive named");
            return 0;
        }
        archive_ = toSlash(p_.archive);
        struct stat ast {};
        haveOld_ = ::stat(archive_.c_str(), &ast) == 0;
        if (haveOld_) {
            archiveDev_ = ast.st_dev;
            archiveIno_ = ast.st_ino;
            if (!old_.openRead(archive_)) {
                cb_.message(errSevere, "cannot open \"" + archive_ + "\": " + std::strerror(errno));
                return 0;
            }
            std::string err = readDirectory(old_, oldDir_);
            if (!err.empty()) {
                cb_.message(errSevere, archive_ + ": " + err + "; the archive is left unchanged");
                return 0;
            }
        }
        if (!collect()) return 0;
        if (sources_.empty()) {
            cb_.message(errNotFound, "nothing to add");
            return 0;
        }
        if (!askNames()) return 0;
        if (!filterAgainstOld()) return 0;
        if (sources_.empty()) {
            cb_.message(0, "nothing to update");
            return 0;
        }
        return write();
    }

  private:
    // --- gathering files -------------------------------------------------------------

    bool excluded(const std::string& name, const std::string& path) const {
        std::string base = name.substr(name.rfind('/') + 1);
        for (int32_t i = 0; i < p_.excludeCount && p_.excludeSpecs; ++i) {
            if (!p_.excludeSpecs[i]) continue;
            std::string x = toSlash(p_.excludeSpecs[i]);
            if (matchSpec(x, name) || matchSpec(x, base) || matchSpec(x, path)) return true;
        }
        return false;
    }

    void walk(const std::string& fsDir, const std::string& namePrefix, const std::string& pattern,
              bool recurse, const ZipFileSpec* spec, int depth) {
        if (depth > 64) return;
        DIR* d = ::opendir(fsDir.empty() ? "." : fsDir.c_str());
        if (!d) return;
        std::vector<std::string> names;
        while (dirent* de = ::readdir(d)) {
            std::string n = de->d_name;
            if (n != "." && n != "..") names.push_back(n);
        }
        ::closedir(d);
        std::sort(names.begin(), names.end());
        std::vector<std::string> subdirs;
        for (const auto& n : names) {
            if (n[0] == '.' && !p_.hiddenFiles) continue;
            std::string path = fsDir + n;
            struct stat st {};
            if (::stat(path.c_str(), &st) != 0) continue;
            if (S_ISDIR(st.st_mode)) {
                struct stat lst {};
                if (recurse && ::lstat(path.c_str(), &lst) == 0 && !S_ISLNK(lst.st_mode))
                    subdirs.push_back(n);
                continue;
            }
            if (S_ISREG(st.st_mode) && matchSpec(pattern, n))
                addFile(path, namePrefix + n, st, spec);
        }
        for (const auto& n : subdirs)
            walk(fsDir + n + "/", namePrefix + n + "/", pattern, recurse, spec, depth + 1);
    }

    void addFile(const std::string& path, const std::string& relName, const struct stat& st,
                 const ZipFileSpec* spec) {
        if (haveOld_ && st.st_dev == archiveDev_ && st.st_ino == archiveIno_)
            return;  // never the archive itself
        std::string name =
            p_.junkDirs ? relName.substr(relName.rfind('/') + 1) : cleanName(relName);
        if (name.empty() || excluded(name, path)) return;
        std::string key = nameKey(name);
        if (seen_.count(key)) return;
        seen_[key] = sources_.size();
        Source s;
        s.path = path;
        s.name = name;
        s.size = uint64_t(st.st_size);
        s.dosTime = timeToDos(st.st_mtime);
        s.mode = uint32_t(st.st_mode);
        s.store = storedSuffix(name);
        bool encrypt = spec ? spec->encrypt != 0 : p_.encrypt != 0;
        if (encrypt) {
            const char* pw = spec && spec->password ? spec->password : p_.password;
            if (pw && *pw)
                s.password = pw;
            else
                s.password = askedPassword();
            if (s.password.empty()) needPassword_ = true;
        }
        sources_.push_back(std::move(s));
    }

    std::string askedPassword() {
        if (!askedOnce_) {
            askedOnce_ = true;
            if (cb_.send(cbPassword, 1, 1, "") && cb_.record().arg1 == 1) asked_ = cb_.text();
        }
        return asked_;
    }

    bool storedSuffix(const std::string& name) const {
        if (!p_.suffixes) return false;
        std::string lower = foldCase(name);
        std::string list = foldCase(p_.suffixes);
        size_t i = 0;
        while (i <= list.size()) {
            size_t j = list.find(':', i);
            if (j == std::string::npos) j = list.size();
            std::string suf = list.substr(i, j - i);
            if (!suf.empty() && lower.size() >= suf.size() &&
                lower.compare(lower.size() - suf.size(), suf.size(), suf) == 0)
                return true;
            i = j + 1;
        }
        return false;
    }

    bool collect() {
        for (int32_t i = 0; i < p_.argc && p_.fileSpecs; ++i) {
            const ZipFileSpec& spec = p_.fileSpecs[i];
            if (!spec.pattern || !*spec.pattern) continue;
            std::string pattern = toSlash(spec.pattern);
            std::string root = spec.rootDir && *spec.rootDir ? toSlash(spec.rootDir) : "";
            if (!root.empty() && root.back() != '/') root += '/';
            bool absolute = pattern[0] == '/';
            std::string full = absolute ? pattern : root + pattern;
            bool recurse = spec.recurse == 0xFFFF;
            std::string fsDir, last, prefix;
            struct stat st {};
            if (!hasWildcard(full) && ::stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
                fsDir = full.back() == '/' ? full : full + "/";
                last = "*";
            } else {
                size_t slash = full.rfind('/');
                fsDir = slash == std::string::npos ? "" : full.substr(0, slash + 1);
                last = slash == std::string::npos ? full : full.substr(slash + 1);
            }
            if (hasWildcard(fsDir)) {
                cb_.message(errWarning, "wildcards only in the last part of a path: " + pattern);
                continue;
            }
            // The member name is the path below the root (or below the current folder).
            if (absolute && !root.empty() && fsDir.compare(0, root.size(), root) == 0)
                prefix = fsDir.substr(root.size());
            else if (absolute)
                prefix = fsDir.substr(1);
            else
                prefix = fsDir.substr(root.size());
            if (!hasWildcard(last)) {
                std::string path = fsDir + last;
                if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
                    addFile(path, prefix + last, st, &spec);
                    continue;
                }
                if (!recurse) {
                    cb_.message(errWarning, "not found: " + pattern);
                    continue;
                }
            }
            walk(fsDir, prefix, last, recurse, &spec, 0);
            if (cb_.stopped()) return false;
        }
        if (needPassword_) {
            cb_.message(errPassword, "encryption asked for but no password given; nothing added");
            return false;
        }
        return !cb_.stopped();
    }

    bool askNames() {
        for (auto& s : sources_) {
            if (!cb_.send(cbNewName, 0, 0, s.name)) return false;
            if (cb_.record().arg1 == 1) {
                std::string n = cleanName(toSlash(cb_.text()));
                if (!n.empty()) s.name = n;
            }
            if (!cb_.send(cbFileComment, 0, 0, s.name)) return false;
            if (cb_.record().arg1 != 0) {
                std::string c = cb_.text();
                c.resize(std::min<size_t>(c.size(), size_t(std::max(cb_.record().arg2, 0))));
                s.comment = c;
            }
        }
        return true;
    }

    bool filterAgainstOld() {
        std::unordered_map<std::string, size_t> oldByName;
        for (size_t i = 0; i < oldDir_.entries.size(); ++i)
            oldByName.emplace(nameKey(localName(oldDir_.entries[i])), i);
        std::vector<Source> keep;
        for (auto& s : sources_) {
            auto it = oldByName.find(nameKey(s.name));
            bool inOld = it != oldByName.end();
            bool newer = !inOld || s.dosTime > oldDir_.entries[it->second].dosTime;
            if (p_.freshen && (!inOld || !newer)) continue;
            if (p_.update && !newer) continue;
            keep.push_back(std::move(s));
        }
        sources_ = std::move(keep);
        // Where each kept old member goes: replaced in place by a new file of its name.
        std::unordered_map<std::string, size_t> newByName;
        for (size_t i = 0; i < sources_.size(); ++i)
            newByName.emplace(nameKey(sources_[i].name), i);
        std::vector<bool> placed(sources_.size());
        for (size_t i = 0; i < oldDir_.entries.size(); ++i) {
            auto it = newByName.find(nameKey(localName(oldDir_.entries[i])));
            if (it == newByName.end()) {
                slots_.push_back({false, i});
            } else if (!placed[it->second]) {
                placed[it->second] = true;
                slots_.push_back({true, it->second});
            }
        }
        for (size_t i = 0; i < sources_.size(); ++i)
            if (!placed[i]) slots_.push_back({true, i});
        return true;
    }

    // --- writing ---------------------------------------------------------------------

    struct Slot {
        bool isNew;
        size_t index;
    };

    Entry newEntry(const Source& s, uint16_t method, uint32_t crc, uint64_t usize,
                   uint64_t csize) const {
        Entry e;
        e.name = s.name;
        e.comment = s.comment;
        e.hostSystem = 3;
        e.madeByVersion = 30;
        e.needed = method == 8 || !s.password.empty() ? 20 : 10;
        e.flags = uint16_t((s.password.empty() ? 0 : 1) |
                           (!isAscii(s.name) && isValidUtf8(s.name) ? 0x800 : 0));
        e.method = method;
        e.dosTime = s.dosTime;
        e.crc = crc;
        e.usize = usize;
        e.csize = csize;
        e.externalAttr = (s.mode & 0xFFFF) << 16;
        return e;
    }

    bool fail(const std::string& why) {
        if (!why.empty()) cb_.message(errDiskFull, why);
        return false;
    }

    bool writeWhole(Source& s, CJob& j) {
        Entry e = newEntry(s, j.method, j.crc, j.usize, j.dataSize);
        e.offset = out_.offset();
        if (!out_.put(localHeader(e, false)) || !out_.put(j.data.get(), j.dataSize))
            return fail("cannot write the archive: " + std::string(std::strerror(errno)));
        central_.push_back({e, {}});
        s.written = true;
        return true;
    }

    // Writes a large file from its pieces, in order, as the workers finish them; the
    // local header is filled in at the end. Encrypted files are read once beforehand:
    // the cipher header needs the CRC. A file that cannot be read through is taken out
    // of the archive again and reported; only write failures end the whole add.
    bool writePieces(Source& s, std::vector<std::shared_ptr<CJob>>& pieces,
                     const std::function<CJob&(size_t)>& next) {
        const uint64_t size = s.size;
        const bool compress = !s.store && p_.level > 0;
        const bool zip64 = size >= kZip64Threshold - (64u << 20);
        Entry e = newEntry(s, compress ? 8 : 0, 0, size, 0);
        e.offset = out_.offset();
        std::string problem;
        std::optional<ZipCrypto> crypt;
        uint32_t preCrc = 0;
        if (!s.password.empty()) {
            File f;
            Bytes buf = rawBytes(kChunk);
            if (!f.openRead(s.path))
                problem = "cannot open \"" + s.path + "\": " + std::strerror(errno);
            for (uint64_t pos = 0; problem.empty() && pos < size;) {
                size_t n = size_t(std::min<uint64_t>(kChunk, size - pos));
                if (!f.readAt(buf.get(), n, pos)) problem = "cannot read \"" + s.path + "\"";
                preCrc = libdeflate_crc32(preCrc, buf.get(), n);
                pos += n;
            }
            crypt.emplace(s.password);
        }
        uint64_t csize = 0;
        uint32_t crc = 0;
        if (problem.empty()) {
            if (!out_.put(localHeader(e, zip64))) return fail("cannot write the archive");
            if (crypt) {
                std::string h = encryptionHeader(preCrc, rng_);
                crypt->encrypt(reinterpret_cast<uint8_t*>(h.data()), 12);
                if (!out_.put(h)) return fail("cannot write the archive");
                csize += 12;
            }
        }
        for (size_t k = 0; k < pieces.size(); ++k) {
            CJob& j = next(k);
            if (!problem.empty()) continue;  // the rest is only waited for
            if (!j.error.empty()) {
                problem = j.error;
                continue;
            }
            if (crypt) crypt->encrypt(j.data.get(), j.dataSize);
            if (!out_.put(j.data.get(), j.dataSize)) return fail("cannot write the archive");
            csize += j.dataSize;
            crc = k == 0 ? j.crc : uint32_t(crc32_combine(crc, j.crc, z_off_t(j.usize)));
            j.data.reset();
            if (!cb_.send(cbProgress, 0, int64_t(j.usize))) return false;
        }
        if (problem.empty() && crypt && crc != preCrc)
            problem = "\"" + s.path + "\" changed while it was being added";
        if (problem.empty() && !zip64 && csize >= kZip64Threshold)
            problem = "\"" + s.path + "\" does not compress below 4 GB";
        if (!problem.empty()) {
            if (!out_.rewind(e.offset)) return fail("cannot write the archive");
            cb_.message(errWarning, problem + "; not added");
            return true;
        }
        e.crc = crc;
        e.csize = csize;
        if (!out_.patch(localHeader(e, zip64), e.offset)) return fail("cannot write the archive");
        central_.push_back({e, {}});
        s.written = true;
        return true;
    }

    // The bytes in front of the old archive's first member (a self-extractor stub with its
    // header, or a prefix another tool wrote) stay in front; the members follow them, at
    // offsets counted from the start of the file.
    bool copyLead() {
        if (!haveOld_) return true;
        uint64_t lead = oldDir_.cdStart;
        for (const Entry& e : oldDir_.entries)
            if (e.offset < lead - oldDir_.prefix) lead = e.offset + oldDir_.prefix;
        std::vector<uint8_t> buf(size_t(std::min<uint64_t>(kChunk, std::max<uint64_t>(lead, 1))));
        for (uint64_t pos = 0; pos < lead;) {
            size_t n = size_t(std::min<uint64_t>(buf.size(), lead - pos));
            if (!old_.readAt(buf.data(), n, pos)) return fail("cannot read \"" + archive_ + "\"");
            if (!out_.put(buf.data(), n)) return fail("cannot write the archive");
            pos += n;
        }
        return true;
    }

    // Copies a member of the old archive without recompressing it.
    bool copyOld(const Entry& old) {
        uint8_t h[30];
        const uint64_t end = oldDir_.cdStart;
        const uint64_t at = old.offset + oldDir_.prefix;
        if (old.offset > end - oldDir_.prefix || end - at < 30 || !old_.readAt(h, 30, at) ||
            load32(h) != kSigLocal)
            return fail(archive_ + ": member \"" + old.name +
                        "\" is damaged; the archive is left unchanged");
        uint64_t data = at + 30 + load16(h + 26) + load16(h + 28);
        if (data > end || old.csize > end - data)
            return fail(archive_ + ": member \"" + old.name +
                        "\" is damaged; the archive is left unchanged");
        Entry e = old;
        e.offset = out_.offset();
        e.extra.clear();
        e.comment = old.comment;
        const bool zip64 = e.csize >= kZip64Threshold || e.usize >= kZip64Threshold;
        if (!out_.put(localHeader(e, zip64))) return fail("cannot write the archive");
        std::vector<uint8_t> buf(
            size_t(std::min<uint64_t>(kChunk, std::max<uint64_t>(old.csize, 1))));
        for (uint64_t pos = 0; pos < old.csize;) {
            size_t n = size_t(std::min<uint64_t>(buf.size(), old.csize - pos));
            if (!old_.readAt(buf.data(), n, data + pos))
                return fail("cannot read \"" + archive_ + "\"");
            if (!out_.put(buf.data(), n)) return fail("cannot write the archive");
            pos += n;
        }
        if (e.flags & 8) {  // keep the data descriptor the flag announces
            std::string d;
            append32(d, kSigDescriptor);
            append32(d, e.crc);
            if (zip64) {
                append64(d, e.csize);
                append64(d, e.usize);
            } else {
                append32(d, uint32_t(e.csize));
                append32(d, uint32_t(e.usize));
            }
            if (!out_.put(d)) return fail("cannot write the archive");
        }
        central_.push_back({e, stripZip64(old.extra)});
        return true;
    }

    bool writeCentral() {
        const uint64_t cdStart = out_.offset();
        for (const auto& c : central_) {
            const Entry& e = c.e;
            std::string z64;
            if (e.usize >= kZip64Threshold) append64(z64, e.usize);
            if (e.csize >= kZip64Threshold) append64(z64, e.csize);
            if (e.offset >= kZip64Threshold) append64(z64, e.offset);
            std::string extra;
            if (!z64.empty()) {
                append16(extra, 0x0001);
                append16(extra, uint16_t(z64.size()));
                extra += z64;
            }
            extra += c.keptExtra;
            if (extra.size() > 0xFFFF) extra.resize(0);
            std::string comment = e.comment.substr(0, 0xFFFF);
            std::string h;
            append32(h, kSigCentral);
            h.push_back(char(e.madeByVersion));
            h.push_back(char(e.hostSystem));
            append16(h, z64.empty() ? e.needed : std::max<uint16_t>(e.needed, 45));
            append16(h, e.flags);
            append16(h, e.method);
            append32(h, e.dosTime);
            append32(h, e.crc);
            append32(h, e.csize >= kZip64Threshold ? 0xFFFFFFFF : uint32_t(e.csize));
            append32(h, e.usize >= kZip64Threshold ? 0xFFFFFFFF : uint32_t(e.usize));
            append16(h, uint16_t(e.name.size()));
            append16(h, uint16_t(extra.size()));
            append16(h, uint16_t(comment.size()));
            append16(h, 0);
            append16(h, e.internalAttr);
            append32(h, e.externalAttr);
            append32(h, e.offset >= kZip64Threshold ? 0xFFFFFFFF : uint32_t(e.offset));
            h += e.name;
            h += extra;
            h += comment;
            if (!out_.put(h)) return false;
        }
        const uint64_t cdEnd = out_.offset();
        const uint64_t cdSize = cdEnd - cdStart, count = central_.size();
        std::string t;
        const bool zip64 =
            count >= 0xFFFF || cdSize >= kZip64Threshold || cdStart >= kZip64Threshold;
        if (zip64) {
            append32(t, kSigEnd64);
            append64(t, 44);
            append16(t, (3 << 8) | 45);
            append16(t, 45);
            append32(t, 0);
            append32(t, 0);
            append64(t, count);
            append64(t, count);
            append64(t, cdSize);
            append64(t, cdStart);
            append32(t, kSigLocator64);
            append32(t, 0);
            append64(t, cdEnd);
            append32(t, 1);
        }
        std::string comment = p_.comment ? std::string(p_.comment) : oldDir_.comment;
        comment.resize(std::min<size_t>(comment.size(), 0xFFFF));
        append32(t, kSigEnd);
        append16(t, 0);
        append16(t, 0);
        append16(t, uint16_t(std::min<uint64_t>(count, 0xFFFF)));
        append16(t, uint16_t(std::min<uint64_t>(count, 0xFFFF)));
        append32(t, uint32_t(std::min<uint64_t>(cdSize, 0xFFFFFFFF)));
        append32(t, uint32_t(std::min<uint64_t>(cdStart, 0xFFFFFFFF)));
        append16(t, uint16_t(comment.size()));
        t += comment;
        return out_.put(t);
    }

    int32_t write() {
        int64_t total = 0;
        for (const auto& s : sources_) total += int64_t(s.size);
        if (!cb_.send(cbTotalFiles, 0, int64_t(sources_.size())) ||
            !cb_.send(cbTotalSize, 0, total))
            return 0;

        if (!out_.open(archive_)) {
            const std::string folder = archive_.substr(0, archive_.rfind('/') + 1);
            cb_.message(errDiskFull, "cannot create a temporary archive in \"" +
                                         (folder.empty() ? "." : folder) +
                                         "\": " + std::strerror(errno));
            return 0;
        }
        bool ok = copyLead() && writeMembers() && writeCentral() && out_.finish();
        if (!ok) {
            out_.abandon();
            if (!cb_.stopped()) cb_.message(errDiskFull, "the archive was not changed");
            return 0;
        }
        if (!out_.commit()) {
            cb_.message(errDiskFull,
                        "cannot replace \"" + archive_ + "\": " + std::strerror(errno));
            return 0;
        }
        if (p_.latestTime && !central_.empty()) {
            uint32_t newest = 0;
            for (const auto& c : central_) newest = std::max(newest, c.e.dosTime);
            std::time_t t = dosToTime(newest);
            struct timespec times[2] = {{t, 0}, {t, 0}};
            ::utimensat(AT_FDCWD, archive_.c_str(), times, 0);
        }
        int32_t count = 0;
        for (const auto& s : sources_) {
            if (!s.written) continue;
            ++count;
            if (p_.move && ::unlink(s.path.c_str()) != 0)
                cb_.message(errWarning,
                            "cannot delete \"" + s.path + "\": " + std::strerror(errno));
        }
        cb_.send(cbEndOfBatch);
        return count;
    }

    // The calling thread hands files (or pieces of large ones) to the workers ahead of
    // the one it writes, within the in-flight bound, and writes them in archive order.
    bool writeMembers() {
        Pool pool;
        std::vector<std::vector<std::shared_ptr<CJob>>> jobs(slots_.size());
        size_t nextSlot = 0, nextPiece = 0, inFlight = 0;
        uint64_t inFlightBytes = 0;
        auto plan = [&](size_t i) {
            const Source& s = sources_[slots_[i].index];
            auto& list = jobs[i];
            const bool whole = s.size <= kWholeLimit;
            const uint64_t count = whole ? 1 : (s.size + kPiece - 1) / kPiece;
            for (uint64_t k = 0; k < count; ++k) {
                auto j = std::make_shared<CJob>();
                j->src = &s;
                j->level = p_.level;
                j->piece = !whole;
                j->offset = k * kPiece;
                j->length = whole ? s.size : std::min<uint64_t>(kPiece, s.size - j->offset);
                j->last = k + 1 == count;
                list.push_back(std::move(j));
            }
        };
        auto dispatch = [&] {
            while (nextSlot < slots_.size() && inFlight < kMaxInFlight) {
                if (!slots_[nextSlot].isNew) {
                    ++nextSlot;
                    continue;
                }
                if (nextPiece == 0 && jobs[nextSlot].empty()) plan(nextSlot);
                auto& list = jobs[nextSlot];
                if (nextPiece >= list.size()) {
                    ++nextSlot;
                    nextPiece = 0;
                    continue;
                }
                const auto& j = list[nextPiece];
                // Whatever the bound, the piece written next is always handed out.
                if (inFlight > 0 && inFlightBytes + j->memory() > kInFlightBytes) break;
                ++inFlight;
                inFlightBytes += j->memory();
                pool.submit(j);
                ++nextPiece;
            }
        };
        auto collect = [&](std::shared_ptr<CJob>& slot) -> CJob& {
            dispatch();
            CJob& j = *slot;
            pool.wait(j);
            --inFlight;
            inFlightBytes -= j.memory();
            dispatch();
            return j;
        };
        bool ok = true;
        for (size_t i = 0; i < slots_.size() && ok; ++i) {
            dispatch();
            const Slot& sl = slots_[i];
            if (!sl.isNew) {
                ok = copyOld(oldDir_.entries[sl.index]);
                continue;
            }
            Source& s = sources_[sl.index];
            if (!cb_.send(cbNewFile, 0, int64_t(s.size), displayName(s.name))) {
                ok = false;
                break;
            }
            auto& list = jobs[i];
            if (list.front()->piece) {
                ok = writePieces(s, list, [&](size_t k) -> CJob& { return collect(list[k]); });
            } else {
                CJob& j = collect(list.front());
                if (!j.error.empty())
                    cb_.message(errWarning, j.error + "; not added");
                else
                    ok = writeWhole(s, j) && cb_.send(cbProgress, 0, int64_t(j.usize));
            }
            list.clear();
            list.shrink_to_fit();
        }
        return ok;  // the pool finishes what it holds before it goes
    }

    const ZipParams& p_;
    Callback cb_;
    std::mt19937_64 rng_;
    std::string archive_;
    bool haveOld_ = false;
    dev_t archiveDev_ = 0;
    ino_t archiveIno_ = 0;
    File old_;
    Directory oldDir_;
    std::vector<Source> sources_;
    std::unordered_map<std::string, size_t> seen_;
    std::vector<Slot> slots_;
    std::vector<CentralRecord> central_;
    Writer out_;
    bool askedOnce_ = false, needPassword_ = false;
    std::string asked_;
};

}  // namespace

TM_ENGINE_EXPORT int32_t TM_ENGINE_CALL ZipEngineExec(ZipParams* params) {
    if (!params) return 0;
    try {
        Zipper z(*params);
        return z.run();
    } catch (...) {
        return 0;
    }
}

TM_ENGINE_EXPORT int32_t TM_ENGINE_CALL GetZipEngineVersion() {
    return kInterfaceVersion;
}
