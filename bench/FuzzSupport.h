#pragma once
// What the fuzz targets share: where an input is written for the code under test to open,
// and the replay program a target becomes without libFuzzer (to reproduce a finding).

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace fuzzsupport {

// A name of this process in $TMPDIR (default /tmp): "<stem>.<pid><suffix>".
inline std::string scratchPath(const std::string& stem, const std::string& suffix = "") {
    const char* base = std::getenv("TMPDIR");
    const std::string dir = base && *base ? base : "/tmp";
    return dir + "/" + stem + "." + std::to_string(getpid()) + suffix;
}

// Writes one input to `path`; false when the file cannot be made.
inline bool writeInput(const std::string& path, const uint8_t* data, size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
    return true;
}

// Runs `once` on the contents of each file named on the command line and prints
// "<file>: <done>" after each.
inline int replay(int argc, char** argv, void (*once)(const uint8_t*, size_t), const char* done) {
    for (int i = 1; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        once(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        std::printf("%s: %s\n", argv[i], done);
    }
    return 0;
}

}  // namespace fuzzsupport

// The fuzzer's entry point for `once`, and without libFuzzer the replay program that prints
// `done` after each file.
#define TM_FUZZ_TARGET(once, done)                                            \
    extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { \
        once(data, size);                                                     \
        return 0;                                                             \
    }                                                                         \
    TM_FUZZ_REPLAY_MAIN(once, done)

#ifdef TM_LIBFUZZER
#define TM_FUZZ_REPLAY_MAIN(once, done)
#else
#define TM_FUZZ_REPLAY_MAIN(once, done)                     \
    int main(int argc, char** argv) {                       \
        return fuzzsupport::replay(argc, argv, once, done); \
    }
#endif
