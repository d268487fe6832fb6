// Fuzz target for the .7z and .rar reader: every input is written to a file named .7z or
// .rar (by its last byte), listed, and its members read, while the header check of the
// .7z decoders reads it too. A member list must hold only decodable, non-empty names.
// Built as a libFuzzer target with -DTM_FUZZ=ON (clang, bench/fuzz.sh); otherwise a replay
// program: fuzz_sevenz FILE... reads each file the same way.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <set>
#include <string>

#include "FuzzSupport.h"
#include "archive/MissionArchive.h"
#include "archive/SevenZipHeader.h"

namespace {

void readOnce(const uint8_t* data, size_t size) {
    const bool rar = size > 0 && (data[size - 1] & 1) != 0;
    static const std::string sevenZip = fuzzsupport::scratchPath("fuzz_sevenz", ".7z");
    static const std::string rarPath = fuzzsupport::scratchPath("fuzz_sevenz", ".rar");
    const std::string& path = rar ? rarPath : sevenZip;
    if (!fuzzsupport::writeInput(path, data, size)) return;
    sevenzip::decoderDemandOfBytes(std::string(reinterpret_cast<const char*>(data), size),
                                   kMaxDecoderMemory);
    std::unique_ptr<MissionArchive> archive = openMissionArchive(path);
    std::set<std::string> names;
    for (const ArchiveMember& m : archive->members()) {
        if (m.name.empty()) __builtin_trap();
        names.insert(m.name);
    }
    uint64_t total = 0;
    archive->readMembers(names, 1 << 20, [&](const ArchiveMember&, std::string& bytes) {
        total += bytes.size();
        return true;
    });
    if (total > kMaxPassBytes) __builtin_trap();
    std::remove(path.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    readOnce(data, size);
    return 0;
}

#ifndef TM_LIBFUZZER
int main(int argc, char** argv) {
    return fuzzsupport::replay(argc, argv, readOnce, "read");
}
#endif
