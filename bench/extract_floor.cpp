// The least work a two-thread extraction of a ZIP archive can do on this machine: each
// member's data read in one piece, inflated by whichever of libdeflate and zlib is faster
// for it, written straight to its final name. No temporary names, no checks, no callbacks.
// Used by engine_bench.sh to show how far the engine is from what the machine allows.
//   extract_floor ARCHIVE [decode-only]   (extracts into the current directory)
#include <fcntl.h>
#include <libdeflate.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "../engines/common/EngineCommon.h"
#include "base/ZipFormat.h"

namespace {

using zipfmt::kSigLocal;

struct Member {
    std::string name;
    uint64_t data, csize, usize;
    uint32_t method;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const bool decodeOnly = argc > 2;
    int fd = ::open(argv[1], O_RDONLY);
    if (fd < 0) return 1;
    std::vector<Member> members;
    uint64_t pos = 0;
    uint8_t h[30];
    while (::pread(fd, h, 30, off_t(pos)) == 30 && zipfmt::load32(h) == kSigLocal) {
        Member m;
        const uint32_t nameLen = zipfmt::load16(h + 26), extraLen = zipfmt::load16(h + 28);
        m.name.resize(nameLen);
        if (::pread(fd, m.name.data(), nameLen, off_t(pos + 30)) != ssize_t(nameLen)) return 1;
        m.method = zipfmt::load16(h + 8);
        m.csize = zipfmt::load32(h + 18);
        m.usize = zipfmt::load32(h + 22);
        m.data = pos + 30 + nameLen + extraLen;
        pos = m.data + m.csize;
        members.push_back(std::move(m));
    }
    std::mutex dirsMutex;
    std::set<std::string> dirs;
    auto makeDirs = [&](const std::string& name) {
        std::lock_guard lk(dirsMutex);
        for (size_t i = name.find('/'); i != std::string::npos; i = name.find('/', i + 1))
            if (dirs.insert(name.substr(0, i)).second) ::mkdir(name.substr(0, i).c_str(), 0755);
    };
    std::atomic<size_t> next{0};
    auto work = [&] {
        libdeflate_decompressor* dec = libdeflate_alloc_decompressor();
        // Buffers for the largest member, mapped once in huge pages (as the engine does).
        uint64_t inSize = 1, outSize = 1;
        for (const Member& m : members) {
            inSize = std::max(inSize, m.csize);
            outSize = std::max(outSize, m.usize);
        }
        auto map = [](uint64_t n) {
            void* p =
                ::mmap(nullptr, n, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (p == MAP_FAILED) std::abort();
            ::madvise(p, n, MADV_HUGEPAGE);
            return static_cast<uint8_t*>(p);
        };
        uint8_t* inBuf = map(inSize);
        uint8_t* outBuf = map(outSize);
        for (size_t i; (i = next++) < members.size();) {
            const Member& m = members[i];
            if (m.name.empty() || m.name.back() == '/') {
                if (!decodeOnly) makeDirs(m.name);
                continue;
            }
            if (::pread(fd, inBuf, m.csize, off_t(m.data)) != ssize_t(m.csize)) std::abort();
            const uint8_t* data = inBuf;
            if (m.method == 8 && m.csize >= m.usize - m.usize / 10) {
                z_stream zs{};
                inflateInit2(&zs, -MAX_WBITS);
                zs.next_in = inBuf;
                zs.avail_in = uInt(m.csize);
                zs.next_out = outBuf;
                zs.avail_out = uInt(m.usize);
                inflate(&zs, Z_FINISH);
                inflateEnd(&zs);
                data = outBuf;
            } else if (m.method == 8) {
                libdeflate_deflate_decompress(dec, inBuf, m.csize, outBuf, m.usize, nullptr);
                data = outBuf;
            }
            if (decodeOnly) continue;
            makeDirs(m.name);
            int o = ::open(m.name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (o < 0 || ::write(o, data, m.usize) != ssize_t(m.usize)) std::abort();
            ::close(o);
        }
        libdeflate_free_decompressor(dec);
    };
    std::thread other(work);
    work();
    other.join();
    std::printf("%zu members\n", members.size());
    return 0;
}
