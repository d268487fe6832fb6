// Fuzz target for the .7z and .rar reader: every input is written to a file named .7z or
// .rar (by its last byte), listed, its members read and extracted into a scratch folder,
// while the header check of the .7z decoders reads it too. A member list must hold only
// non-empty names, a pass must stay within its bound, and extraction must leave nothing
// but plain files and folders.
// Built as a libFuzzer target with -DTM_FUZZ=ON (clang, bench/fuzz.sh); otherwise a replay
// program: fuzz_sevenz FILE... reads each file the same way.

#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <set>
#include <string>

#include "FuzzSupport.h"
#include "archive/MissionArchive.h"
#include "archive/SevenZipHeader.h"

namespace {

// Removes what an extraction left; traps on anything but plain files and folders.
int removeEntry(const char* path, const struct stat* st, int type, struct FTW*) {
    if (type == FTW_SL || type == FTW_SLN || (!S_ISREG(st->st_mode) && !S_ISDIR(st->st_mode)))
        __builtin_trap();
    return type == FTW_DP ? ::rmdir(path) : ::unlink(path);
}

void extractAll(MissionArchive& archive, const std::set<std::string>& names) {
    static const std::string target = fuzzsupport::scratchPath("fuzz_sevenz", ".d");
    if (::mkdir(target.c_str(), 0755) != 0 && errno != EEXIST) return;
    ExtractSink sink;
    archive.extract({names.begin(), names.end()}, target, sink);
    ::nftw(target.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

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
    if (!names.empty()) extractAll(*archive, names);
    std::remove(path.c_str());
}

}  // namespace

TM_FUZZ_TARGET(readOnce, "read")
