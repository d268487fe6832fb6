// Fuzz target for the language file: every input is the language file, loaded into the
// language table with the language chosen by the input's last byte. Built as a libFuzzer
// target with -DTM_FUZZ=ON (clang, bench/fuzz.sh language); otherwise a replay program:
// fuzz_language FILE... loads each file.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "FuzzSupport.h"
#include "app/AppState.h"
#include "state/LanguageTable.h"

namespace {

void loadOnce(const uint8_t* data, size_t size) {
    static const std::string path = fuzzsupport::scratchPath("fuzz_language", ".dat");
    static const std::string settings = fuzzsupport::scratchPath("fuzz_language", ".ini");
    if (!fuzzsupport::writeInput(path, data, size)) return;
    const std::string choice = std::to_string(size ? data[size - 1] % 6 : 1);
    const std::string ini = "[options]\nlanguage=" + choice + "\n";
    if (!fuzzsupport::writeInput(settings, reinterpret_cast<const uint8_t*>(ini.data()),
                                 ini.size()))
        return;
    AppState& a = app();
    a.settings = std::make_unique<IniFile>(settings);
    a.languageFile = std::make_unique<IniFile>(path);
    bool applied = false;
    setLanguageApplyHook([&applied] { applied = true; });
    LoadLanguageTable();
    if (!applied || !a.languageSlots[0].empty()) __builtin_trap();
    for (const std::string& text : a.languageSlots) {
        if (text.size() > 1023) __builtin_trap();
    }
    setLanguageApplyHook(nullptr);
    closeAppFiles();
    std::remove(path.c_str());
}

}  // namespace

TM_FUZZ_TARGET(loadOnce, "loaded")
