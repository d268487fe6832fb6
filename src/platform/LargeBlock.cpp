#include "platform/LargeBlock.h"

#include <cstdint>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace {

constexpr size_t kHugePage = size_t(2) << 20;
constexpr size_t kLargeBlock = 2 * kHugePage;  // smaller blocks gain little

}  // namespace

void reserveForWrite(std::string& out, size_t size) {
#ifdef __linux__
    if (size >= kLargeBlock && out.capacity() < size) {
        out.clear();
        out.reserve(size);  // allocated, not yet touched
        const auto start = reinterpret_cast<uintptr_t>(out.data());
        const uintptr_t from = (start + kHugePage - 1) & ~(kHugePage - 1);
        const uintptr_t to = (start + size) & ~(kHugePage - 1);
        // Only advice: without huge pages the block is filled the ordinary way.
        if (to > from) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
    }
#endif
    out.reserve(size);
}

void resizeForWrite(std::string& out, size_t size) {
    reserveForWrite(out, size);
    out.resize(size);
}
