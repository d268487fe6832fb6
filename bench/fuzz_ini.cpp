// Fuzz target for the settings store: every input is the settings file, read as the
// program reads it (values, integers, key lists), then written to (a value, a batch, an
// erased section), each write read back. Run it with TMPDIR on a tmpfs: every write is
// synced. Built as a libFuzzer target with -DTM_FUZZ=ON (clang, bench/fuzz.sh ini);
// otherwise a replay program: fuzz_ini FILE... runs each file.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "FuzzSupport.h"
#include "platform/Errors.h"
#include "platform/IniFile.h"

namespace {

// A name taken from the input's last bytes, so that hostile names are tried too.
std::string nameFrom(const uint8_t* data, size_t size) {
    const size_t n = size < 8 ? size : 8;
    return std::string(reinterpret_cast<const char*>(data + size - n), n);
}

void expect(bool ok) {
    if (!ok) __builtin_trap();
}

void storeOnce(const uint8_t* data, size_t size) {
    static const std::string path = fuzzsupport::scratchPath("fuzz_ini", ".ini");
    if (!fuzzsupport::writeInput(path, data, size)) return;
    const std::string odd = nameFrom(data, size);
    {
        IniFile ini(path);
        for (const std::string& section : {std::string("options"), std::string("window"), odd}) {
            for (const std::string& key : {std::string("language"), std::string("top"), odd}) {
                expect(ini.ReadString(section, key, "").size() <= 1023);
                (void)ini.ReadInteger(section, key, 9999);
                (void)ini.ReadBool(section, key, true);
                (void)ini.ValueExists(section, key);
            }
            size_t used = 0;
            for (const std::string& key : ini.ReadSection(section)) used += key.size() + 1;
            expect(used < 8192);
            (void)ini.SectionExists(section);
        }
        try {
            ini.WriteString("options", "language", "2");
            expect(ini.ReadString("options", "language", "") == "2");
            ini.WriteInteger(odd, "type", 7);
            {
                IniBatch batch(ini);
                ini.WriteInteger("Vault.1234", "type", 1);
                ini.WriteString("options", "last selection", "\"Vault\"");
                ini.EraseSection("window");
                batch.Commit();
            }
            expect(ini.ReadInteger("Vault.1234", "type", 0) == 1);
            expect(ini.ReadString("options", "last selection", "") == "Vault");
            expect(ini.ReadString("options", "language", "") == "2");
            expect(!ini.SectionExists("window"));
        } catch (const ESettingsWriteError&) {
            __builtin_trap();  // the scratch file is always writable
        }
    }
    // What was written reads the same from a fresh object.
    IniFile again(path);
    expect(again.ReadInteger("Vault.1234", "type", 0) == 1);
    expect(again.ReadString("options", "language", "") == "2");
    std::remove(path.c_str());
}

}  // namespace

TM_FUZZ_TARGET(storeOnce, "stored")
