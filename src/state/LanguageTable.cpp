#include "state/LanguageTable.h"

#include <string>
#include <utility>

#include "platform/Settings.h"
#include "platform/TextUtil.h"
#include "state/AppState.h"

namespace {

std::function<void()>& applyHook() {
    static std::function<void()> hook;
    return hook;
}

}  // namespace

std::function<void()> setLanguageApplyHook(std::function<void()> hook) {
    return std::exchange(applyHook(), std::move(hook));
}

void LoadLanguageTable() {
    AppState& a = app();
    std::array<std::string, kLanguageSlotCount + 1> table;
    // The chosen section is read once: the store and the file do not change while the
    // table is being filled, so every slot sees the same choice.
    const settings::Text chosen{settings::language.section, settings::language.key, "1"};
    const std::string choice = settings::get(a.settings.get(), chosen);
    std::string section = "English";
    if (a.languageFile) section = a.languageFile->ReadString("languages", choice, "English");
    if (a.languageFile) {
        for (int n = 1; n <= kLanguageSlotCount; ++n) {
            const std::string key = std::to_string(n);
            const std::string english = a.languageFile->ReadString("English", key, "");
            table[static_cast<size_t>(n)] = a.languageFile->ReadString(section, key, english);
        }
    }
    a.languageSlots = std::move(table);
    a.interfaceLanguage = text::lowerAscii(section);
    if (applyHook()) applyHook()();
}
