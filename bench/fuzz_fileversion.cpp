// Fuzz target for the version resource reader: every input is read as a program file (the
// PE image's resource directory down to its VS_VERSIONINFO tree, then every text entry)
// and, by itself, as a VS_VERSIONINFO tree looked up along the usual query paths. Built as
// a libFuzzer target with -DTM_FUZZ=ON (clang, bench/fuzz.sh fileversion); otherwise a
// replay program: fuzz_fileversion FILE... reads each file.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "dialogs/FileVersionInfo.h"

namespace {

void queryAll(const std::vector<uint8_t>& tree) {
    for (const char* path : {"\\", "\\VarFileInfo\\Translation", "\\StringFileInfo",
                             "\\StringFileInfo\\040904b0\\ProductVersion",
                             "\\StringFileInfo\\040904E4\\CompanyName", "\\\\x\\\\"}) {
        const versioninfo::QueryValue v = versioninfo::Query(tree, path);
        if (v.bytes.size() > tree.size()) __builtin_trap();
        if (v.text) (void)versioninfo::Utf16ToUtf8(v.bytes.data(), v.bytes.size() / 2);
    }
}

void readOnce(const uint8_t* data, size_t size) {
    queryAll(std::vector<uint8_t>(data, data + size));

    static const std::string path = fuzzsupport::scratchPath("fuzz_fileversion", ".exe");
    if (!fuzzsupport::writeInput(path, data, size)) return;
    const TFileVersionInfo info(path);
    if (info.Buffer().size() > size) __builtin_trap();
    for (int n = -1; n <= kVersionEntryCount; ++n) {
        if (info.Entry(n).size() > 3 * size / 2) __builtin_trap();
    }
    queryAll(info.Buffer());
    std::remove(path.c_str());
}

}  // namespace

TM_FUZZ_TARGET(readOnce, "read")
