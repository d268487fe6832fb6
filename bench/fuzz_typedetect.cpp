// Fuzz target for the mission type detection: every input is a mission directory's ZIP
// archive, tested as the catalogue scan does (is it a mission?) and, when it is, its game
// decided as a selection does (the first ".mis" member extracted into memory and searched
// for the marker); both answers are stored in a settings file of their own. Run it with
// TMPDIR on a tmpfs: every settings write is synced.
//
// Built as a libFuzzer target with -DTM_FUZZ=ON, beside the instrumented UNZENG.DLL of the
// stream target. Otherwise a replay program: fuzz_typedetect FILE... runs each file with
// the UNZENG.DLL beside it.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "FuzzEngine.h"
#include "FuzzSupport.h"
#include "archive/ZipArchiver.h"
#include "game/Games.h"
#include "game/TypeDetection.h"
#include "platform/IniFile.h"
#include "platform/TextUtil.h"

namespace {

void detectOnce(const uint8_t* data, size_t size) {
    static const std::string path = fuzzsupport::scratchPath("fuzz_typedetect", ".zip");
    static const std::string settingsPath = fuzzsupport::scratchPath("fuzz_typedetect", ".ini");
    if (!fuzzsupport::writeInput(path, data, size)) return;
    std::remove(settingsPath.c_str());
    IniFile settings(settingsPath);
    const std::string dir = text::withTrailingDelim(std::filesystem::path(path).parent_path());
    const std::string name = text::extractFileName(path);

    const bool mission = IsMissionArchive(settings, dir, name);
    const std::string section = ArchiveRecordKey(name, static_cast<int64_t>(size));
    const int32_t type = settings.ReadInteger(section, "type", -1);
    // A type is written for a mission only; a damaged one is listed without.
    if ((type == 0 && !mission) || (type != 0 && type != -1)) __builtin_trap();
    if (!mission && type != -1) __builtin_trap();
    // A stored answer is taken without opening the archive again.
    if (mission && !IsMissionArchive(settings, dir, name)) __builtin_trap();

    TZipArchiver zip2;
    zip2.Unattended = true;
    zip2.SetZipFileName(path);

    std::string missionFile;
    for (const ZipDirEntry& e : zip2.Entries()) {
        if (text::lowerAscii(text::extractFileExt(e.FileName)) == ".mis") missionFile = e.FileName;
    }
    if (!missionFile.empty()) {
        TZipArchiver zip;
        zip.Unattended = true;
        zip.SetDLLDirectory(fuzzsupport::engineDir());
        zip.SetZipFileName(path);
        const uint8_t game = DecideGame(settings, section, missionFile, zip);
        if (!games::known(game) || settings.ReadInteger(section, "type", 0) != game)
            __builtin_trap();
    }
    const std::string& marker = games::find(2)->missionMarker;
    if (ContainsMarker(marker, reinterpret_cast<const char*>(data), size) && size < marker.size())
        __builtin_trap();
    std::remove(path.c_str());
}

}  // namespace

TM_FUZZ_TARGET(detectOnce, "detected")
