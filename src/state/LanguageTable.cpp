#include "state/LanguageTable.h"

#include <string>
#include <utility>

#include "platform/IniFile.h"
#include "platform/Settings.h"
#include "platform/TextUtil.h"

namespace {

std::function<void()>& applyHook() {
    static std::function<void()> hook;
    return hook;
}

LanguageTable& installed() {
    static LanguageTable table;
    return table;
}

}  // namespace

std::function<void()> setLanguageApplyHook(std::function<void()> hook) {
    return std::exchange(applyHook(), std::move(hook));
}

LanguageTable useLanguageTable(LanguageTable table) {
    return std::exchange(installed(), std::move(table));
}

std::string readLanguageTable(const IniFile* settings, const IniFile* languageFile,
                              LanguageTexts& texts) {
    LanguageTexts table;
    // The chosen section is read once: the store and the file do not change while the
    // table is being filled, so every slot sees the same choice.
    const settings::Text chosen{settings::language.section, settings::language.key, "1"};
    const std::string choice = settings::get(settings, chosen);
    std::string section = "English";
    if (languageFile) section = languageFile->ReadString("languages", choice, "English");
    if (languageFile) {
        for (int n = 1; n <= kLanguageSlotCount; ++n) {
            const std::string key = std::to_string(n);
            const std::string english = languageFile->ReadString("English", key, "");
            table[static_cast<size_t>(n)] = languageFile->ReadString(section, key, english);
        }
    }
    texts = std::move(table);
    return text::lowerAscii(section);
}

void LoadLanguageTable() {
    if (installed().load) installed().load();
    if (applyHook()) applyHook()();
}

const std::string& slot(int n) {
    static const std::string empty;
    if (n < 1 || n > kLanguageSlotCount || !installed().texts) return empty;
    return (*installed().texts)[static_cast<size_t>(n)];
}

const std::string& interfaceLanguage() {
    static const std::string english = "english";
    return installed().interfaceLanguage ? *installed().interfaceLanguage : english;
}
