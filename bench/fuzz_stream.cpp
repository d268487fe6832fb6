// Fuzz target for in-memory extraction: every input is written to a file, listed by the
// archive component and each listed member (at most eight) read with ExtractToStream.
// Run with libFuzzer's memory limits (bench/fuzz.sh stream sets -rss_limit_mb and
// -malloc_limit_mb): a block reserved for more than the archive can produce counts as a
// finding. A returned stream must hold exactly the member's listed size.
//
// Built as a libFuzzer target with -DTM_FUZZ=ON, beside an instrumented UNZENG.DLL of its
// own. Otherwise a replay program: fuzz_stream FILE... runs each file the same way with
// the UNZENG.DLL beside it.

#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "FuzzEngine.h"
#include "FuzzSupport.h"
#include "archive/ZipArchiver.h"
#include "platform/TextUtil.h"

namespace {

// As the component compares member names.
bool sameName(const std::string& a, const std::string& b) {
    return text::equalsNoCase(a, b) ||
           text::display(a).compare(text::display(b), Qt::CaseInsensitive) == 0;
}

void streamOnce(const uint8_t* data, size_t size) {
    static const std::string path = fuzzsupport::scratchPath("fuzz_stream", ".zip");
    if (!fuzzsupport::writeInput(path, data, size)) return;
    TZipArchiver zip;
    zip.Unattended = true;
    zip.SetDLLDirectory(fuzzsupport::engineDir());
    zip.Password = size && (data[size - 1] & 1) ? "secret" : "";
    zip.SetZipFileName(path);
    const size_t count = std::min<size_t>(zip.Entries().size(), 8);
    for (size_t i = 0; i < count; ++i) {
        const ZipDirEntry entry = zip.Entries()[i];
        // A name is looked up without regard to case: the first entry of that name counts.
        const auto first = std::find_if(
            zip.Entries().begin(), zip.Entries().end(),
            [&](const ZipDirEntry& e) { return sameName(e.FileName, entry.FileName); });
        const uint64_t expected = first->UncompressedSize64;
        TZipStream* s = zip.ExtractToStream(entry.FileName);
        if (s && static_cast<uint64_t>(s->Size()) != expected) __builtin_trap();
    }
    std::remove(path.c_str());
}

}  // namespace

TM_FUZZ_TARGET(streamOnce, "read")
