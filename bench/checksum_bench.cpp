// Checksum throughput driver for checksum_bench.sh: computes the checksum text of a file
// `rounds` times and prints the best throughput as "<MB/s> <checksum text>".
//
// Usage: checksum_bench FILE [rounds]

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/Checksum.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [rounds]\n", argv[0]);
        return 2;
    }
    const std::string path = argv[1];
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    const double bytes = static_cast<double>(std::filesystem::file_size(path));
    double best = 0;
    std::string text;
    for (int i = 0; i < rounds; ++i) {
        auto t = std::chrono::steady_clock::now();
        text = ChecksumText(path);
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
        if (bytes / s > best) best = bytes / s;
    }
    std::printf("%.1f %s\n", best / 1e6, text.c_str());
    return 0;
}
