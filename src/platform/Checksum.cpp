#include "platform/Checksum.h"

#include <fcntl.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/Errors.h"
#include "platform/FileSystem.h"

namespace {

// One read buffer per call: large reads keep the checksum near the speed of the page
// cache; page alignment lets the kernel copy whole pages.
constexpr size_t kBufferSize = size_t{1} << 20;
constexpr size_t kAlignment = 4096;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

struct FdCloser {
    int fd;
    ~FdCloser() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

std::string HexText(uint32_t value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "$%08x", value);
    return buf;
}

std::string ChecksumText(const std::string& path) {
    const std::string file = fsx::resolve(path);
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return HexText(0);
    FdCloser closer{fd};
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) return HexText(0);
#ifdef POSIX_FADV_SEQUENTIAL
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif

    void* raw = nullptr;
    if (::posix_memalign(&raw, kAlignment, kBufferSize) != 0) throw std::bad_alloc();
    std::unique_ptr<void, FreeDeleter> buffer(raw);

    uint32_t crc = 0;  // libdeflate applies the initial and final inversion itself
    for (;;) {
        ssize_t n = ::read(fd, buffer.get(), kBufferSize);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw EInOutError("Read error in " + file + ": " + std::strerror(errno));
        }
        if (n == 0) break;
        crc = libdeflate_crc32(crc, buffer.get(), static_cast<size_t>(n));
    }
    return HexText(crc);
}
