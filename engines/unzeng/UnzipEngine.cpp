// UNZENG.DLL: the extraction engine.
//
// The calling thread reads the directory, decides every question (names, overwrite,
// passwords) and runs every callback; two worker threads decompress members, starting
// with the first while later ones are still being decided, and write them to temporary
// files beside their targets. The calling thread renames each file into place, in
// archive order, once the totals have gone out and its CRC checked out.

#include <fcntl.h>
#include <libdeflate.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_set>

#include "EngineCommon.h"
#include "PathResolver.h"
#include "base/DurableWrite.h"
#include "base/EngineAbi.h"
#include "base/WorkerPool.h"
#include "base/ZipNames.h"

using namespace tmeng;
using namespace engine;

namespace {

constexpr uint64_t kWholeLimit = 24u << 20;   // largest one-piece inflation into memory
constexpr size_t kArenaSize = 44u << 20;      // workers' shared memory for large members
constexpr size_t kOwnSize = 2u << 20;         // each worker's own buffer
constexpr uint64_t kProgressStep = 4u << 20;  // largest step reported with cbProgress
constexpr size_t kChunk = 1u << 20;
constexpr size_t kInChunk = 256u << 10;
static_assert(kChunk + kInChunk <= kOwnSize);
constexpr size_t kMaxInFlight = 64;   // members handed out and not yet finished
constexpr size_t kMaxAhead = 1024;    // the same while the members are still being decided
constexpr uint64_t kMaxRatio = 1033;  // deflate cannot expand more than about 1032:1
constexpr size_t kWorkers = 2;

enum class Status { Ok, CrcBad, Damaged, WriteError, Cancelled };

struct Job {
    const Entry* entry = nullptr;
    uint64_t dataPos = 0;  // first byte after any encryption header
    uint64_t dataLen = 0;
    std::optional<ZipCrypto> crypt;
    std::string display;
    std::string dir;           // target folder ("" or ending in "/")
    std::string finalName;     // name inside dir
    durable::DurableFile out;  // the member's file, under a temporary name until finalize
    bool test = false;
    // Set by the worker, read under the pool's mutex.
    uint64_t progress = 0;
    bool done = false;
    Status status = Status::Ok;
    uint32_t foundCrc = 0;
    std::string error;
};

using Sink = std::function<bool(const uint8_t*, size_t)>;
using Progress = std::function<void(uint64_t)>;

// Memory mapped once for a whole run and reused from member to member. It asks for huge
// pages: first touches of 4 KB pages cost more than the inflating itself on some virtual
// machines, and a 2 MB page is faulted in at once.
class Block {
  public:
    explicit Block(size_t n) {
        constexpr size_t kAlign = 2u << 20;
        size_ = n + kAlign;
        void* p =
            ::mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) return;
        map_ = static_cast<uint8_t*>(p);
        data_ = reinterpret_cast<uint8_t*>((uintptr_t(map_) + kAlign - 1) & ~uintptr_t(kAlign - 1));
#ifdef MADV_HUGEPAGE
        ::madvise(data_, n, MADV_HUGEPAGE);
#endif
    }
    ~Block() {
        if (map_) ::munmap(map_, size_);
    }
    Block(const Block&) = delete;
    Block& operator=(const Block&) = delete;
    uint8_t* data() const {
        return data_;
    }

  private:
    uint8_t* map_ = nullptr;
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

// The part of the workers' memory large members are inflated in. A worker that finds no
// room waits only while the pieces in use are smaller than its own (they are done sooner
// than its member would stream); otherwise it streams its member, so one large member never
// holds up the other worker. A waiting worker holds no piece, so waiting cannot deadlock.
class Arena {
  public:
    // Gives its piece back when it goes out of scope.
    struct Piece {
        Arena* arena = nullptr;
        uint8_t* data = nullptr;
        Piece() = default;
        Piece(Arena* a, uint8_t* d) : arena(a), data(d) {}
        Piece(const Piece&) = delete;
        Piece& operator=(Piece&& o) noexcept {
            std::swap(arena, o.arena);
            std::swap(data, o.data);
            return *this;
        }
        ~Piece() {
            if (data) arena->give(data);
        }
    };

    explicit Arena(uint8_t* base) : base_(base) {}
    uint8_t* take(size_t n) {
        std::unique_lock lk(m_);
        if (!base_ || n > kArenaSize) return nullptr;
        for (;;) {
            size_t at = 0, inUse = 0;
            bool found = false;
            for (const auto& [off, len] : used_) {
                if (!found && off - at >= n) found = true;
                if (!found) at = off + len;
                inUse += len;
            }
            if (found || kArenaSize - at >= n) {
                used_.emplace(at, n);
                return base_ + at;
            }
            if (inUse >= n) return nullptr;
            cv_.wait(lk);
        }
    }
    void give(uint8_t* p) {
        {
            std::lock_guard lk(m_);
            used_.erase(size_t(p - base_));
        }
        cv_.notify_all();
    }

  private:
    uint8_t* const base_;
    std::mutex m_;
    std::condition_variable cv_;
    std::map<size_t, size_t> used_;  // offset -> length, at most one piece per worker
};

// A worker's memory: its own buffer for streaming and for small members, and the arena.
struct Scratch {
    uint8_t* own = nullptr;  // kOwnSize bytes
    Arena* arena = nullptr;
};

// The permission bits a member made on a Unix host carries for a regular file, as the
// extracted file gets them: never setuid, setgid or sticky, always readable by its owner.
// 0 when the member carries none.
mode_t storedMode(const Entry& e) {
    if (e.hostSystem != 3) return 0;
    const uint32_t mode = e.externalAttr >> 16;
    const uint32_t type = mode & S_IFMT;
    const mode_t permissions = mode_t(mode & 0777);
    if ((type != 0 && type != S_IFREG) || permissions == 0) return 0;
    return permissions | S_IRUSR;
}

// Where one member's bytes go (the caller's block or the sink), with their CRC, their count
// and the progress reported in steps.
class Output {
  public:
    Output(const Entry& e, uint8_t* direct, const Sink& sink, const Progress& progress,
           std::string& error)
        : e_(e), direct_(direct), sink_(sink), progress_(progress), error_(error) {}

    // The next piece of the member; false when it does not fit the member or the sink fails.
    bool emit(const uint8_t* p, size_t n) {
        if (done_ + n > e_.usize) {
            error_ = "member is larger than its directory entry says";
            return false;
        }
        crc_ = libdeflate_crc32(crc_, p, n);
        if (direct_)
            std::memcpy(direct_ + done_, p, n);
        else if (!sink_(p, n))
            return false;
        done_ += n;
        unreported_ += n;
        if (unreported_ >= kProgressStep) {
            progress_(unreported_);
            unreported_ = 0;
        }
        return true;
    }
    // The whole member, inflated at `data` (the caller's block itself when there is one).
    bool emitWhole(const uint8_t* data) {
        const uint64_t usize = e_.usize;
        crc_ = libdeflate_crc32(0, data, size_t(usize));
        done_ = usize;
        for (uint64_t off = 0; off < usize; off += kProgressStep) {
            const size_t n = size_t(std::min(kProgressStep, usize - off));
            if (!direct_ && !sink_(data + off, n)) return false;
            progress_(n);
        }
        return true;
    }
    // Reports what is left to report; the CRC goes to `crcOut`.
    Status finish(Status s, uint32_t& crcOut) {
        if (unreported_) progress_(unreported_);
        unreported_ = 0;
        crcOut = crc_;
        if (s == Status::Ok && done_ != e_.usize) {
            error_ = "member is shorter than its directory entry says";
            return Status::Damaged;
        }
        return s == Status::Ok && crc_ != e_.crc ? Status::CrcBad : s;
    }
    // Why emit failed.
    Status failure() const { return error_.empty() ? Status::WriteError : Status::Damaged; }

  private:
    const Entry& e_;
    uint8_t* const direct_;
    const Sink& sink_;
    const Progress& progress_;
    std::string& error_;
    uint32_t crc_ = 0;
    uint64_t done_ = 0, unreported_ = 0;
};

Status copyStored(const File& arc, Job& job, Output& out, uint8_t* buf,
                  const std::atomic<bool>& stop, std::string& error) {
    for (uint64_t pos = 0; pos < job.dataLen;) {
        if (stop) return Status::Cancelled;
        const size_t n = size_t(std::min<uint64_t>(kChunk, job.dataLen - pos));
        if (!arc.readAt(buf, n, job.dataPos + pos)) {
            error = "cannot read member data";
            return Status::Damaged;
        }
        if (job.crypt) job.crypt->decrypt(buf, n);
        if (!out.emit(buf, n)) return out.failure();
        pos += n;
    }
    return Status::Ok;
}

// Inflates the whole member with libdeflate: its data into `block`, the output after it
// (or into `direct`, the caller's block).
Status inflateWhole(const File& arc, Job& job, Output& out, uint8_t* block, uint8_t* direct,
                    libdeflate_decompressor* dec, std::string& error) {
    const uint64_t usize = job.entry->usize;
    if (!arc.readAt(block, size_t(job.dataLen), job.dataPos)) {
        error = "cannot read member data";
        return Status::Damaged;
    }
    if (job.crypt) job.crypt->decrypt(block, size_t(job.dataLen));
    uint8_t* target = direct && usize ? direct : block + job.dataLen;
    if (libdeflate_deflate_decompress(dec, block, size_t(job.dataLen), target, size_t(usize),
                                      nullptr) != LIBDEFLATE_SUCCESS) {
        error = "invalid compressed data";
        return Status::Damaged;
    }
    return out.emitWhole(target) ? Status::Ok : Status::WriteError;
}

// Inflates the member with zlib in pieces, through `buf` (kInChunk in, kChunk out).
Status inflateStream(const File& arc, Job& job, Output& out, uint8_t* buf,
                     const std::atomic<bool>& stop, std::string& error) {
    z_stream zs{};
    if (inflateInit2(&zs, -MAX_WBITS) != Z_OK) {
        error = "out of memory";
        return Status::Damaged;
    }
    std::unique_ptr<z_stream, int (*)(z_stream*)> guard(&zs, inflateEnd);
    uint8_t* in = buf;
    uint8_t* outBuf = buf + kInChunk;
    uint64_t pos = 0;
    for (int rc = Z_OK; rc != Z_STREAM_END;) {
        if (stop) return Status::Cancelled;
        if (zs.avail_in == 0) {
            if (pos >= job.dataLen) {
                error = "compressed data ends early";
                return Status::Damaged;
            }
            const size_t n = size_t(std::min<uint64_t>(kInChunk, job.dataLen - pos));
            if (!arc.readAt(in, n, job.dataPos + pos)) {
                error = "cannot read member data";
                return Status::Damaged;
            }
            if (job.crypt) job.crypt->decrypt(in, n);
            pos += n;
            zs.next_in = in;
            zs.avail_in = uInt(n);
        }
        zs.next_out = outBuf;
        zs.avail_out = uInt(kChunk);
        rc = inflate(&zs, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) {
            error = "invalid compressed data";
            return Status::Damaged;
        }
        const size_t have = kChunk - zs.avail_out;
        if (have && !out.emit(outBuf, have)) return out.failure();
    }
    return Status::Ok;
}

// Decompresses one member. Output goes to `direct` (exactly usize bytes) or to `sink`.
Status decode(const File& arc, Job& job, uint8_t* direct, const Sink& sink,
              const Progress& progress, const std::atomic<bool>& stop, libdeflate_decompressor* dec,
              uint32_t& crcOut, std::string& error, Scratch& scratch) {
    const Entry& e = *job.entry;
    Output out(e, direct, sink, progress, error);
    Status status = Status::Ok;
    try {
        // A member that deflate could hardly shrink is mostly stored blocks, which zlib
        // copies as they come, far faster than libdeflate; it is streamed. Any other
        // deflated member is inflated in one piece by libdeflate when its data and (unless
        // it goes straight to the caller's block) its output fit in memory at hand.
        const bool nearlyStored = job.dataLen >= e.usize - e.usize / 10;
        uint8_t* block = nullptr;
        std::unique_ptr<Block> temp;  // in huge pages: a few faults, not one per 4 KB
        Arena::Piece piece;
        const uint64_t outNeed = direct ? 0 : e.usize;
        if (e.method != 0 && !nearlyStored && outNeed <= kArenaSize && job.dataLen <= kArenaSize) {
            const uint64_t need = outNeed + job.dataLen;
            if (need <= kOwnSize) {
                block = scratch.own;
            } else if (scratch.arena && (block = scratch.arena->take(size_t(need)))) {
                piece = {scratch.arena, block};
            } else if (direct && job.dataLen <= kWholeLimit) {
                temp = std::make_unique<Block>(size_t(job.dataLen));
                block = temp->data();
            }
        }
        if (e.method == 0)
            status = copyStored(arc, job, out, scratch.own, stop, error);
        else if (block)
            status = inflateWhole(arc, job, out, block, direct, dec, error);
        else
            status = inflateStream(arc, job, out, scratch.own, stop, error);
    } catch (const std::bad_alloc&) {
        error = "out of memory";
        status = Status::Damaged;
    }
    return out.finish(status, crcOut);
}

// The workers decompressing members, each with a decompressor and buffer of its own.
class Pool {
    // Made first, so that `m` can name its lock; ended first, in ~Pool, so that its
    // threads end before what they use.
    std::unique_ptr<workers::WorkerPool> threads_ = std::make_unique<workers::WorkerPool>(kWorkers);

  public:
    explicit Pool(const File& arc, std::atomic<bool>& stop) : arc_(arc), stop_(stop) {
        for (size_t i = 0; i < kWorkers; ++i) {
            WorkerState& state = state_[i];
            state.dec = libdeflate_alloc_decompressor();
            if (memory_.data()) state.scratch.own = memory_.data() + i * kOwnSize;
            state.scratch.arena = &arena_;
        }
    }
    ~Pool() {
        threads_.reset();
        for (WorkerState& state : state_) libdeflate_free_decompressor(state.dec);
    }
    void submit(std::shared_ptr<Job> job) {
        threads_->submit([this, job = std::move(job)](size_t worker) { runJob(*job, worker); });
    }

    // The calling thread waits on doneCv for the job it watches; workers wake it only
    // for that job.
    std::mutex& m = threads_->mutex();
    std::condition_variable doneCv;
    const Job* watched = nullptr;

  private:
    void runJob(Job& job, size_t worker) {
        WorkerState& state = state_[worker];
        work(job, state.dec, state.scratch);
        bool wake = false;
        {
            std::lock_guard lk(m);
            job.done = true;
            wake = &job == watched;
        }
        if (wake) doneCv.notify_all();
    }

    void work(Job& job, libdeflate_decompressor* dec, Scratch& scratch) {
        auto progress = [&](uint64_t n) {
            bool wake = false;
            {
                std::lock_guard lk(m);
                job.progress += n;
                wake = &job == watched;
            }
            if (wake) doneCv.notify_all();
        };
        if (!dec || !scratch.own) {
            job.status = Status::Damaged;
            job.error = "out of memory";
            return;
        }
        if (stop_) {
            job.status = Status::Cancelled;
            return;
        }
        uint32_t crc = 0;
        if (job.test) {
            job.status = decode(
                arc_, job, nullptr, [](const uint8_t*, size_t) { return true; }, progress, stop_,
                dec, crc, job.error, scratch);
            job.foundCrc = crc;
            return;
        }
        // Under the extraction's own temporary pattern (".tm" + 12 hexadecimal digits +
        // ".part"), not flushed one by one: the install syncs its folder as a whole.
        durable::Options options;
        options.memberPart = true;
        options.sync = false;
        durable::DurableFile& out = job.out;
        if (!out.open(job.dir + job.finalName, options)) {
            job.status = Status::WriteError;
            job.error = std::string("cannot create a file in \"") +
                        (job.dir.empty() ? "." : job.dir) + "\": " + std::strerror(errno);
            return;
        }
        std::string writeError;
        Sink sink = [&](const uint8_t* p, size_t n) {
            if (out.write(p, n)) return true;
            writeError = std::strerror(errno);
            return false;
        };
        job.status =
            decode(arc_, job, nullptr, sink, progress, stop_, dec, crc, job.error, scratch);
        job.foundCrc = crc;
        if (job.status == Status::Ok || job.status == Status::CrcBad) {
            std::time_t t = dosToTime(job.entry->dosTime);
            struct timespec times[2] = {{0, UTIME_NOW}, {t, 0}};
            ::futimens(out.fd(), times);
            if (mode_t mode = storedMode(*job.entry)) ::fchmod(out.fd(), mode);
        }
        if (job.status == Status::WriteError && job.error.empty())
            job.error = "cannot write \"" + job.dir + job.finalName + "\": " + writeError;
        if (!out.finishWriting() && (job.status == Status::Ok || job.status == Status::CrcBad)) {
            job.status = Status::WriteError;
            job.error = "cannot write \"" + job.dir + job.finalName + "\": " + std::strerror(errno);
        }
        if (job.status != Status::Ok && job.status != Status::CrcBad) out.discard();
    }

    struct WorkerState {
        libdeflate_decompressor* dec = nullptr;
        Scratch scratch;
    };

    const File& arc_;
    std::atomic<bool>& stop_;
    Block memory_{kWorkers * kOwnSize + kArenaSize};
    Arena arena_{memory_.data() ? memory_.data() + kWorkers * kOwnSize : nullptr};
    WorkerState state_[kWorkers];
};

// The OEM umlauts as the component shows them (code page 437 to Windows-1252).
std::string oemUmlautsToAnsi(std::string s) {
    for (char& c : s) {
        switch (uint8_t(c)) {
            case 0x81:
                c = char(0xFC);
                break;
            case 0x84:
                c = char(0xE4);
                break;
            case 0x8E:
                c = char(0xC4);
                break;
            case 0x94:
                c = char(0xF6);
                break;
            case 0x99:
                c = char(0xD6);
                break;
            case 0x9A:
                c = char(0xDC);
                break;
            case 0xE1:
                c = char(0xDF);
                break;
            default:
                break;
        }
    }
    return s;
}

// The member name as it is written on this system: as the component lists it.
std::string diskName(const Entry& e) {
    return zipnames::localName(e.name, e.flags, e.hostSystem, e.madeByVersion);
}

class Extractor {
  public:
    explicit Extractor(const UnzipParams& p) : p_(p), cb_(p.callback, p.caller) {}

    int32_t run() {
        if (p_.seven != kEndMarker || p_.version < 152) {
            cb_.message(errSevere, "unsupported parameter record");
            return 0;
        }
        if (!p_.archive || !*p_.archive) {
            cb_.message(errSevere, "no archive named");
            return 0;
        }
        if (!arc_.openRead(p_.archive)) {
            cb_.message(errSevere, std::string("cannot open archive \"") + p_.archive +
                                       "\": " + std::strerror(errno));
            return 0;
        }
        std::string err = readDirectory(arc_, dir_);
        if (!err.empty()) {
            cb_.message(errSevere, std::string(p_.archive) + ": " + err);
            return 0;
        }
        computeLimits();
        std::vector<std::string> specs;
        for (int32_t i = 0; i < p_.argc && p_.fileSpecs; ++i)
            if (p_.fileSpecs[i].pattern) specs.emplace_back(p_.fileSpecs[i].pattern);
        if (p_.argc <= 0) specs.emplace_back("*.*");
        password_ = p_.password ? p_.password : "";
        askLeft_ = std::clamp(p_.passwordReqCount, 0, 15);

        std::vector<const Entry*> selected;
        for (const Entry& e : dir_.entries) {
            std::string ansi = oemUmlautsToAnsi(e.name), utf = diskName(e);
            for (const auto& s : specs) {
                if (matchSpec(s, e.name) || matchSpec(s, ansi) || matchSpec(s, utf)) {
                    selected.push_back(&e);
                    break;
                }
            }
        }
        if (p_.toMemory == -1) return toMemory(selected);
        if (selected.empty()) {
            cb_.message(errNotFound, "no matching members in the archive");
            return 0;
        }
        return toDisk(selected);
    }

  private:
    // Each member's data must end before the next local header or the central directory:
    // overlapping members (a known way to build decompression bombs) are refused.
    void computeLimits() {
        std::vector<uint64_t> offs;
        offs.reserve(dir_.entries.size());
        for (const Entry& e : dir_.entries) offs.push_back(e.offset);
        std::sort(offs.begin(), offs.end());
        std::map<uint64_t, int> seen;
        const uint64_t end = dir_.cdStart - dir_.prefix;
        for (const Entry& e : dir_.entries) {
            auto it = std::upper_bound(offs.begin(), offs.end(), e.offset);
            limit_[&e] = it == offs.end() ? end : std::min(*it, end);
            if (++seen[e.offset] > 1) shared_.insert(&e);
        }
    }

    // Validates a member's local header and sizes; fills the data position in `job`.
    bool locate(const Entry& e, Job& job, std::string& why) {
        if (e.method != 0 && e.method != 8) {
            why = "compression method " + std::to_string(e.method) + " is not supported";
            return false;
        }
        if (shared_.count(&e)) {
            why = "member shares its data with another member";
            return false;
        }
        const uint64_t end = dir_.cdStart - dir_.prefix;
        uint8_t h[30];
        if (e.offset > end || end - e.offset < 30 || !arc_.readAt(h, 30, e.offset + dir_.prefix) ||
            load32(h) != kSigLocal) {
            why = "local header missing";
            return false;
        }
        uint64_t data = e.offset + 30 + load16(h + 26) + load16(h + 28);
        if (data > limit_[&e] || e.csize > limit_[&e] - data) {
            why = "member data overlaps the next member or runs past the directory";
            return false;
        }
        job.dataPos = data + dir_.prefix;
        job.dataLen = e.csize;
        uint64_t plain = e.csize;
        if (e.encrypted()) {
            if (e.csize < 12) {
                why = "encrypted member too short";
                return false;
            }
            plain -= 12;
        }
        if (e.method == 0 ? e.usize != plain : e.usize / kMaxRatio > plain + 1) {
            why = "declared sizes are inconsistent";
            return false;
        }
        return true;
    }

    // Tries passwords on the member's 12-byte header; on success the job carries the
    // cipher state and the data range after the header.
    bool unlock(const Entry& e, Job& job, const std::string& display) {
        uint8_t head[12];
        if (!arc_.readAt(head, 12, job.dataPos)) return false;
        const uint8_t check = (e.flags & 8) ? uint8_t(e.dosTime >> 8) : uint8_t(e.crc >> 24);
        auto tryPassword = [&](const std::string& pw) {
            ZipCrypto z(pw);
            uint8_t h[12];
            std::memcpy(h, head, 12);
            z.decrypt(h, 12);
            if (h[11] != check) return false;
            job.crypt = z;
            job.dataPos += 12;
            job.dataLen -= 12;
            return true;
        };
        if (!password_.empty() && tryPassword(password_)) return true;
        if (!lastGood_.empty() && lastGood_ != password_ && tryPassword(lastGood_)) return true;
        for (int i = 0; i < askLeft_ && !cb_.stopped(); ++i) {
            if (!cb_.send(cbPassword, 0, askLeft_ - i, display)) return false;
            std::string answer = cb_.text();
            if (cb_.record().arg1 != 1 || answer.empty()) {
                askLeft_ = 0;  // the user gave up: do not ask again in this run
                return false;
            }
            if (tryPassword(answer)) {
                lastGood_ = answer;
                return true;
            }
        }
        return false;
    }

    void skip(const std::string& display, int32_t type, int32_t code, const std::string& why) {
        cb_.skipped(display, type, code);
        cb_.message(code, display + ": " + why);
    }

    int32_t toMemory(const std::vector<const Entry*>& selected) {
        const Entry* e = nullptr;
        for (const Entry* c : selected)
            if (!c->isDir()) {
                e = c;
                break;
            }
        if (!e) {
            cb_.message(errNotFound, "no matching member in the archive");
            return 0;
        }
        std::string display = displayName(e->name);
        if (e->usize != p_.memorySize || (!p_.memory && e->usize > 0)) {
            cb_.message(errDamaged, display + ": member size does not match the memory block");
            return 0;
        }
        Job job;
        job.entry = e;
        std::string why;
        if (!locate(*e, job, why)) {
            skip(display, e->method == 0 || e->method == 8 ? skipDamaged : skipUnsupported,
                 e->method == 0 || e->method == 8 ? errDamaged : errUnsupported, why);
            return 0;
        }
        cb_.send(cbTotalFiles, 0, 1);
        cb_.send(cbTotalSize, 0, int64_t(e->usize));
        if (e->encrypted() && !unlock(*e, job, display)) {
            if (!cb_.stopped()) skip(display, skipPassword, errPassword, "no valid password");
            return 0;
        }
        if (!cb_.send(cbNewFile, 0, int64_t(e->usize), display)) return 0;
        libdeflate_decompressor* dec = libdeflate_alloc_decompressor();
        if (!dec) return 0;
        Block memory(kOwnSize);
        Scratch scratch;
        scratch.own = memory.data();
        if (!scratch.own) {
            libdeflate_free_decompressor(dec);
            return 0;
        }
        std::atomic<bool> stop{false};
        uint64_t progressed = 0;
        uint32_t crc = 0;
        Status s = decode(
            arc_, job, static_cast<uint8_t*>(p_.memory), nullptr,
            [&](uint64_t n) { progressed += n; }, stop, dec, crc, why, scratch);
        libdeflate_free_decompressor(dec);
        if (progressed) cb_.send(cbProgress, 0, int64_t(progressed));
        int32_t result = 0;
        if (s == Status::Ok) {
            result = 1;
        } else if (s == Status::CrcBad) {
            if (crcKept(display, crc, e->crc)) result = 1;
        } else {
            skip(display, skipDamaged, errDamaged, why);
        }
        cb_.send(cbEndOfBatch);
        return result;
    }

    // Asks about a CRC mismatch. Only an explicit 1 keeps the file; 0 and the component's
    // "no handler" answer 2 both drop it, so bad data never replaces a file unasked.
    bool crcKept(const std::string& display, uint32_t found, uint32_t expected) {
        if (!cb_.send(cbCrcError, int32_t(found), int64_t(int32_t(expected)), display))
            return false;
        if (cb_.record().arg1 == 1) return true;
        char buf[96];
        std::snprintf(buf, sizeof buf, ": CRC error (found %08x, expected %08x), file not kept",
                      found, expected);
        cb_.skipped(display, skipCrcError, errDamaged);
        cb_.message(errDamaged, display + buf);
        return false;
    }

    // Decides what happens with one member; returns a job to hand to a worker or null.
    // Whether the member may go to `target` under the update, freshen and overwrite rules
    // (the caller asked when they leave the choice to it); a member passed over is
    // reported.
    bool mayReplace(const Entry& e, const std::string& target, const std::string& display,
                    const std::unordered_set<std::string>& claimed) {
        struct stat st {};
        bool exists = ::lstat(target.c_str(), &st) == 0;
        bool claimedHere = claimed.count(foldCase(target)) > 0;
        if (exists && S_ISDIR(st.st_mode)) {
            skip(display, skipWriteError, errDiskFull, "a folder of that name exists");
            return false;
        }
        bool older = exists && !claimedHere && std::time_t(st.st_mtime) + 1 < dosToTime(e.dosTime);
        exists = exists || claimedHere;
        if (p_.update) {
            if (exists && !older) {
                cb_.skipped(display, skipUpdate, 0);
                return false;
            }
        } else if (p_.freshen) {
            if (!exists) {
                cb_.skipped(display, skipFreshen, 0);
                return false;
            }
            if (!older) {
                cb_.skipped(display, skipUpdate, 0);
                return false;
            }
        } else if (exists && !p_.overwrite) {
            if (!cb_.send(cbOverwrite, older ? 1 : 0, 0, display)) return false;
            if (cb_.record().arg2 != 1) {
                cb_.skipped(display, skipOverwrite, 0);
                return false;
            }
        }
        return true;
    }

    std::shared_ptr<Job> prepare(const Entry& e, PathResolver& paths,
                                 std::unordered_set<std::string>& claimed) {
        const bool test = p_.test != 0;
        const std::string name = diskName(e);
        const std::string display = displayName(name);
        auto job = std::make_shared<Job>();
        job->entry = &e;
        job->display = display;
        job->test = test;
        std::vector<std::string> parts;
        if (!test) {
            if (e.isSymlink()) {
                skip(display, skipBadName, errWarning, "symbolic links are not extracted");
                return nullptr;
            }
            if (!splitMemberName(name, parts) || parts.empty()) {
                skip(display, skipBadName, errWarning,
                     "name would land outside the target folder, not extracted");
                return nullptr;
            }
        }
        std::string why;
        if (!locate(e, *job, why)) {
            bool unsupported = e.method != 0 && e.method != 8;
            skip(display, unsupported ? skipUnsupported : skipDamaged,
                 unsupported ? errUnsupported : errDamaged, why);
            return nullptr;
        }
        if (e.flags & 0x40) {
            skip(display, skipUnsupported, errUnsupported, "strong encryption is not supported");
            return nullptr;
        }
        std::vector<std::string> dirParts;
        std::string dirPath, fileName;
        if (!test) {
            fileName = parts.back();
            if (p_.directories) dirParts.assign(parts.begin(), parts.end() - 1);
            if (!paths.resolveDir(dirParts, false, dirPath, why)) {
                skip(display, skipBadName, errWarning, why);
                return nullptr;
            }
            fileName = paths.resolveName(dirPath, fileName);
            if (!mayReplace(e, dirPath + fileName, display, claimed)) return nullptr;
        }
        if (e.encrypted() && !unlock(e, *job, display)) {
            if (!cb_.stopped())
                skip(display, skipPassword, errPassword, "no valid password, not extracted");
            return nullptr;
        }
        if (!test) {
            if (!paths.resolveDir(dirParts, true, dirPath, why)) {
                skip(display, skipWriteError, errDiskFull, why);
                return nullptr;
            }
            fileName = paths.resolveName(dirPath, fileName);
            paths.claim(dirPath, fileName);
            claimed.insert(foldCase(dirPath + fileName));
            job->dir = dirPath;
            job->finalName = fileName;
        }
        return job;
    }

    void makeFolder(const Entry& e, PathResolver& paths) {
        std::vector<std::string> parts;
        std::string name = diskName(e), out, why;
        if (!splitMemberName(name, parts)) {
            skip(displayName(name), skipBadName, errWarning,
                 "name would land outside the target folder");
            return;
        }
        if (!paths.resolveDir(parts, true, out, why)) cb_.message(errWarning, why);
    }

    // Finishes a member on the calling thread; true when it counts as extracted.
    bool finalize(Job& job) {
        const std::string target = job.dir + job.finalName;
        bool keep = false;
        switch (job.status) {
            case Status::Ok:
                keep = true;
                break;
            case Status::CrcBad:
                keep = !job.test && crcKept(job.display, job.foundCrc, job.entry->crc);
                if (job.test && !cb_.stopped()) {
                    char buf[80];
                    std::snprintf(buf, sizeof buf, ": CRC error (found %08x, expected %08x)",
                                  job.foundCrc, job.entry->crc);
                    cb_.skipped(job.display, skipCrcError, errDamaged);
                    cb_.message(errDamaged, job.display + buf);
                }
                break;
            case Status::Damaged:
                skip(job.display, skipDamaged, errDamaged, job.error);
                break;
            case Status::WriteError:
                skip(job.display, skipWriteError, errDiskFull, job.error);
                break;
            case Status::Cancelled:
                break;
        }
        if (job.test) return keep;
        if (!keep) {
            job.out.discard();
            return false;
        }
        if (!job.out.commit() && !job.out.renamed()) {
            std::string why =
                std::string("cannot replace \"") + target + "\": " + std::strerror(errno);
            skip(job.display, skipWriteError, errDiskFull, why);
            return false;
        }
        return true;
    }

    // Every question (names, overwrite, passwords) is settled before the totals go out,
    // so the totals count only what will be extracted.
    int32_t toDisk(const std::vector<const Entry*>& selected) {
        std::atomic<bool> stop{false};
        int32_t count = 0;
        std::vector<std::shared_ptr<Job>> ready;
        std::deque<std::shared_ptr<Job>> inflight;
        {
            // The workers start on the first members while later ones are still being
            // decided; nothing is renamed into place before the totals have gone out.
            Pool pool(arc_, stop);
            size_t next = 0;
            auto feed = [&](size_t most) {
                while (!cb_.stopped() && next < ready.size() && inflight.size() < most) {
                    inflight.push_back(ready[next]);
                    pool.submit(ready[next++]);
                }
            };
            PathResolver paths;
            std::unordered_set<std::string> claimed;
            int64_t bytes = 0;
            for (const Entry* e : selected) {
                if (cb_.stopped()) break;
                if (e->isDir()) {
                    if (p_.directories && !p_.test) makeFolder(*e, paths);
                } else if (auto job = prepare(*e, paths, claimed)) {
                    bytes += int64_t(std::min<uint64_t>(e->usize, uint64_t(INT64_MAX / 2)));
                    ready.push_back(std::move(job));
                    feed(kMaxAhead);
                }
            }
            cb_.send(cbTotalFiles, 0, int64_t(ready.size()));
            cb_.send(cbTotalSize, 0, bytes);

            bool announced = false;
            for (;;) {
                feed(kMaxInFlight);
                if (cb_.stopped()) stop = true;
                if (inflight.empty()) break;
                Job& head = *inflight.front();
                if (!announced && !cb_.stopped()) {
                    cb_.send(cbNewFile, 0, int64_t(head.entry->usize), head.display);
                    announced = true;
                    if (cb_.stopped()) stop = true;
                }
                uint64_t step = 0;
                bool done = false;
                {
                    std::unique_lock lk(pool.m);
                    pool.watched = &head;
                    pool.doneCv.wait(lk, [&] { return head.done || head.progress > 0; });
                    step = head.progress;
                    head.progress = 0;
                    done = head.done;
                }
                // Steps that piled up while this thread waited go out in pieces as usual.
                while (step > 0 && !cb_.stopped()) {
                    const uint64_t n = std::min(step, kProgressStep);
                    step -= n;
                    if (!cb_.send(cbProgress, 0, int64_t(n))) stop = true;
                }
                if (!done) continue;
                if (cb_.stopped()) {
                    head.out.discard();
                } else if (finalize(head)) {
                    ++count;
                }
                inflight.pop_front();
                announced = false;
            }
        }  // the pool's threads end here
        cb_.send(cbEndOfBatch);
        return count;
    }

    const UnzipParams& p_;
    Callback cb_;
    File arc_;
    Directory dir_;
    std::map<const Entry*, uint64_t> limit_;
    std::unordered_set<const Entry*> shared_;
    std::string password_, lastGood_;
    int askLeft_ = 0;
};

}  // namespace

TM_ENGINE_EXPORT int32_t TM_ENGINE_CALL UnzipEngineExec(UnzipParams* params) {
    if (!params) return 0;
    try {
        Extractor x(*params);
        return x.run();
    } catch (...) {
        return 0;
    }
}

TM_ENGINE_EXPORT int32_t TM_ENGINE_CALL GetUnzipEngineVersion() {
    return kInterfaceVersion;
}
