// Fuzz target for the directory reader: every input is written to a file and listed with
// the options taken from its first byte. Built as a libFuzzer target with -DTM_FUZZ=ON
// (clang, bench/fuzz.sh); otherwise a replay program: fuzz_list FILE... lists each file
// the same way (to reproduce a crash found by the fuzzer).

#include <unistd.h>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "FuzzSupport.h"
#include "archive/ZipArchiver.h"

namespace {

void listOnce(const uint8_t* data, size_t size) {
    static const std::string path = fuzzsupport::scratchPath("fuzz_list", ".zip");
    if (!fuzzsupport::writeInput(path, data, size)) return;
    TZipArchiver zip;
    zip.Unattended = true;
    const uint8_t options = size ? data[size - 1] : 0;
    zip.UseDirOnlyEntries = (options & 1) != 0;
    zip.CodePage = static_cast<CodePageOpts>((options >> 1) % 3);
    size_t seen = 0;
    zip.OnNewName = [&seen](TZipArchiver*, int, const ZipDirEntry& e) {
        seen += e.FileName.size() + e.ExtraData.size();
    };
    zip.SetZipFileName(path);
    // Every listed entry took at least 46 bytes of the file.
    if (static_cast<size_t>(zip.Count()) > size / 46 + 1) __builtin_trap();
    std::remove(path.c_str());
}

}  // namespace

TM_FUZZ_TARGET(listOnce, "listed")
