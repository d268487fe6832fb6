// Case-insensitive path resolution in the pattern of a mission extraction: every member is
// resolved against its folder before the file is created, so each lookup is for a name that
// does not exist yet, in a folder that grows by one file per lookup. Beside it: lookups of
// names given in other case in a folder of 5,000 files, and the same lookups done by listing
// the folder every time (what resolution costs without the folder index).
// Goal: 5,000 lookups of names not present, in a folder of 5,000 files, under 100 ms; in the
// extraction pattern the resolution adds little to what creating the files costs anyway.
//
// Usage: fs_resolve_bench [directory]   (default: a new directory under /tmp)

#include <dirent.h>
#include <strings.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/FileSystem.h"

namespace {

constexpr int kFiles = 5000;

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The lookup without an index: one listing of the folder per name.
bool listingFinds(const std::string& dir, const std::string& name) {
    DIR* d = ::opendir(dir.c_str());
    if (!d) return false;
    bool found = false;
    while (dirent* e = ::readdir(d)) {
        if (::strcasecmp(e->d_name, name.c_str()) == 0) found = true;
    }
    ::closedir(d);
    return found;
}

}  // namespace

int main(int argc, char** argv) {
    std::string base;
    if (argc > 1) {
        base = argv[1];
    } else {
        char tmpl[] = "/tmp/fs_resolve_bench-XXXXXX";
        if (!::mkdtemp(tmpl)) return 1;
        base = tmpl;
    }
    if (base.back() != '/') base += '/';
    const std::string dir = base + "Snd/";
    fsx::forceDirectories(dir);

    fsx::forceDirectories(base + "plain/");
    auto start = Clock::now();
    for (int i = 0; i < kFiles; ++i)
        std::ofstream(base + "plain/Sample" + std::to_string(i) + ".wav", std::ios::binary)
            << "RIFF";
    double createOnly = msSince(start);

    start = Clock::now();
    for (int i = 0; i < kFiles; ++i) {
        std::string p = fsx::resolve(base + "snd/Sample" + std::to_string(i) + ".wav");
        std::ofstream(p, std::ios::binary) << "RIFF";
    }
    double create = msSince(start);

    start = Clock::now();
    size_t total = 0;
    for (int i = 0; i < kFiles; ++i)
        total += fsx::resolve(dir + "SAMPLE" + std::to_string(i) + ".WAV").size();
    double otherCase = msSince(start);

    start = Clock::now();
    for (int i = 0; i < kFiles; ++i)
        total += fsx::resolve(dir + "missing" + std::to_string(i) + ".wav").size();
    double missing = msSince(start);

    start = Clock::now();
    int found = 0;
    for (int i = 0; i < kFiles / 10; ++i)
        found += listingFinds(dir, "SAMPLE" + std::to_string(i) + ".WAV");
    double baseline = msSince(start) * 10;

    std::printf("%d files created in one folder: %.1f ms; resolved and created: %.1f ms\n", kFiles,
                createOnly, create);
    std::printf("%d lookups in other case (5,000-file folder): %.1f ms\n", kFiles, otherCase);
    std::printf("%d lookups of missing names: %.1f ms (goal under 100 ms)\n", kFiles, missing);
    std::printf("baseline, listing the folder per lookup: %.1f ms for %d (estimated from %d)\n",
                baseline, kFiles, found);
    std::error_code ec;
    if (argc <= 1) std::filesystem::remove_all(base, ec);
    return total > 0 ? 0 : 1;
}
