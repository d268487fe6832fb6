// Lists many archives in one process with the directory reader and prints the time.
//
//   list_bench [--runs N] [--list FILE] ARCHIVE...
//
// FILE holds archive paths, one a line. Prints the median wall time of N runs (default 5,
// after one warm-up run) in milliseconds, the time per archive, and the members listed.
// list_bench.sh compares it with a loop of `unzip -Z1`.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "archive/ZipArchiver.h"

int main(int argc, char** argv) {
    int runs = 5;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--list" && i + 1 < argc) {
            std::ifstream in(argv[++i]);
            for (std::string line; std::getline(in, line);)
                if (!line.empty()) files.push_back(line);
        } else {
            files.push_back(a);
        }
    }
    if (files.empty()) {
        std::fprintf(stderr, "usage: list_bench [--runs N] [--list FILE] ARCHIVE...\n");
        return 2;
    }

    TZipArchiver zip;
    zip.Unattended = true;
    long long members = 0;
    int failures = 0;
    auto pass = [&] {
        members = 0;
        failures = 0;
        for (const std::string& f : files) {
            zip.SetZipFileName(f);
            if (zip.ZipFileName().empty()) ++failures;
            members += zip.Count();
        }
    };
    pass();  // warm-up: page cache and allocator
    std::vector<double> ms;
    for (int r = 0; r < runs; ++r) {
        const auto t0 = std::chrono::steady_clock::now();
        pass();
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                .count());
    }
    std::sort(ms.begin(), ms.end());
    const double median = ms[ms.size() / 2];
    std::printf(
        "archives: %zu\nmembers: %lld\nfailures: %d\nmedian_ms: %.3f\nper_archive_us: %.2f\n",
        files.size(), members, failures, median, median * 1000.0 / files.size());
    return failures == 0 ? 0 : 1;
}
