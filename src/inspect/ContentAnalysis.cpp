#include "inspect/ContentAnalysis.h"

#include <algorithm>
#include <string>

#include "archive/ZipArchiver.h"
#include "inspect/Checksum.h"
#include "inspect/TypeDetection.h"
#include "platform/FileSystem.h"
#include "platform/Prompter.h"
#include "platform/TextUtil.h"

SelectedMission& selectedMission() {
    static SelectedMission state;
    return state;
}

namespace {

bool contains(const std::string& s, const char* part) {
    return s.find(part) != std::string::npos;
}

// The member's text loaded into the memo, when it can be extracted.
bool loadMemo(TZipArchiver& zip, const std::string& member, InfoPanel& panel) {
    TZipStream* stream = zip.ExtractToStream(member);
    if (!stream) return false;
    panel.questMemo.assign(stream->Memory() ? stream->Memory() : "",
                           static_cast<size_t>(stream->Size()));
    return true;
}

}  // namespace

bool MissionNumberFromName(const std::string& lowerName, uint8_t& number) {
    if (lowerName.rfind("miss", 0) != 0) return false;
    std::string rest = text::removeFirst("miss", text::removeFirst(".mis", lowerName));
    if (rest.empty()) return false;
    // Leading zeros are allowed ("0020" is 20); the value stops growing past the limit.
    int value = 0;
    for (char c : rest) {
        if (c < '0' || c > '9') return false;
        value = std::min(value * 10 + (c - '0'), 256);
    }
    if (value > 255) return false;
    number = static_cast<uint8_t>(value);
    return true;
}

std::function<std::string(const std::string&)>& ArchiveChecksum() {
    static std::function<std::string(const std::string&)> f = ChecksumText;
    return f;
}

bool IsAlreadyInstalled(const std::string& zipFileName, const GameRecord& game) {
    if (text::extractFileName(zipFileName) != text::extractFileName(game.installed)) return false;
    if (std::to_string(fsx::fileSize(zipFileName)) == game.installedCheck) return true;
    return ArchiveChecksum()(zipFileName) == game.installedCheck;
}

void AnalyseArchive(TZipArchiver& zip, const std::string& recordKey, InfoPanel& panel,
                    const AnalysisHooks& hooks) {
    IniFile& settings = *app().settings;
    // Counts, type and title reach the disk in one store.
    IniBatch batch(settings);
    SelectedMission& sel = selectedMission();

    // 1. Reset.
    sel.missionFlagsPresent = false;
    panel.mapcheck = panel.automapcheck = panel.goalscheck = panel.gamesyscheck = false;
    panel.soundscheck = false;
    int books = 0, textures = 0, meshes = 0, objects = 0, movies = 0, sounds = 0;
    panel.noteslabel.clear();
    sel.titlesMember.clear();
    if (hooks.setOperationText) hooks.setOperationText(slot(71));
    sel.missionNumber = 0;
    sel.missionFileMember.clear();
    panel.playEnabled = true;
    bool languageFlags[5] = {false, false, false, false, false};
    panel.questMemo.clear();

    // 2. One pass over the member names.
    const std::string readmeName = text::lowerAscii(text::extractFileName(zip.ZipFileName()));
    const std::string namedReadme =
        readmeName.size() >= 4 ? readmeName.substr(0, readmeName.size() - 4) + ".txt" : ".txt";
    // Entries may change while a member is extracted (never here, but stay safe): copy names.
    const std::vector<ZipDirEntry> entries = zip.Entries();
    for (const ZipDirEntry& entry : entries) {
        const std::string n = text::lowerAscii(entry.FileName);
        const std::string f = text::lowerAscii(text::extractFileName(entry.FileName));
        const std::string e = text::lowerAscii(text::extractFileExt(entry.FileName));
        for (int l = 1; l <= 4; ++l) {
            if (n.find(std::string("\\") + languageNames[l] + "\\") != std::string::npos)
                languageFlags[l] = true;
        }
        if (f == namedReadme) {
            loadMemo(zip, entry.FileName, panel);
            prompter().processEvents();
        }
        if (contains(n, "goals.str")) panel.goalscheck = true;
        if (contains(n, "intrface\\") && contains(n, ".pcx")) panel.mapcheck = true;
        if (contains(n, "intrface\\") && contains(n, "ra.bin")) panel.automapcheck = true;
        if (contains(n, "books\\") && contains(n, "str")) ++books;
        if (contains(n, "fam\\") && contains(n, ".pcx")) ++textures;
        if (contains(n, "mesh\\")) ++meshes;
        if (contains(n, "obj\\")) ++objects;
        if (contains(n, "movies\\") && contains(n, ".avi")) ++movies;
        if (contains(n, "snd\\") && (contains(n, ".wav") || contains(n, ".mp3"))) ++sounds;
        if (e == ".gam") panel.gamesyscheck = true;
        if (contains(n, "strings\\") && contains(n, "missflag.str")) sel.missionFlagsPresent = true;
        if (contains(n, "strings\\") && contains(n, "titles.str"))
            sel.titlesMember = entry.FileName;
        if (e == ".mis") {
            sel.missionFileMember = entry.FileName;
            MissionNumberFromName(n, sel.missionNumber);
        }
    }

    // 3. Counts.
    const std::pair<const char*, int> counts[] = {{"books", books},   {"meshes", meshes},
                                                  {"movies", movies}, {"objects", objects},
                                                  {"sounds", sounds}, {"textures", textures}};
    for (const auto& [key, count] : counts) {
        // A record that holds the count already is left alone: selecting an analysed
        // archive again then stores nothing (each store is a synced rewrite of the file).
        if (count > 0 && settings.ReadString(recordKey, key, "") != std::to_string(count))
            settings.WriteInteger(recordKey, key, count);
    }
    panel.bookscheck = books > 0;
    panel.creaturescheck = meshes > 0;
    panel.moviescheck = movies > 0;
    panel.objectscheck = objects > 0;
    panel.soundscheck = sounds > 0;
    panel.texturecheck = textures > 0;

    // 4. Game.
    int game = 1;
    if (!sel.missionFileMember.empty()) game = DecideGame(recordKey, sel.missionFileMember, zip);
    if (game != 1 && game != 2) game = 1;
    sel.currentGame = static_cast<uint8_t>(game);
    const GameRecord& record = app().thiefdata[static_cast<size_t>(game)];
    zip.ExtrBaseDir = record.gameDir;

    // 5. Title.
    std::string title = "\"" + settings.ReadString(recordKey, "title", "_") + "\"";
    if (title == "\"_\"" && !sel.titlesMember.empty()) {
        title = "\"\"";
        std::vector<std::string> lines;
        if (TZipStream* stream = zip.ExtractToStream(sel.titlesMember)) lines = stream->Lines();
        const std::string tag = "title_" + std::to_string(sel.missionNumber) + ":";
        for (const std::string& line : lines) {
            if (line.find(tag) == std::string::npos) continue;
            size_t quote = line.find('"');
            title = (quote == std::string::npos ? line : line.substr(quote)).substr(0, 256);
        }
        settings.WriteString(recordKey, "title", title);
    }

    // 6. Heading.
    if (title.size() >= 4)
        panel.questinfo = "Thief " + std::to_string(game) + " : " + text::oemUmlautsToAnsi(title);
    else
        panel.questinfo = "Thief " + std::to_string(game) + " " + slot(47);

    // 7.
    panel.origPanelVisible = false;

    // 8. Read-me fallback: the first ".txt" member that can be extracted.
    if (panel.questMemo.empty()) {
        for (const ZipDirEntry& entry : entries) {
            if (text::lowerAscii(text::extractFileExt(entry.FileName)) != ".txt") continue;
            if (loadMemo(zip, entry.FileName, panel)) break;
        }
    }

    // 9.
    if (hooks.clearStatusLine) hooks.clearStatusLine();
    prompter().processEvents();

    // 10. Languages. A game language of 0 (none named) counts as not carried.
    panel.languageItems.clear();
    panel.languageIndex = -1;
    const int gameLanguage = record.language;
    const bool carriesOwn = gameLanguage >= 1 && gameLanguage <= 4 && languageFlags[gameLanguage];
    if (!carriesOwn) {
        bool offers = false;
        for (int l = 1; l <= 4; ++l) offers = offers || languageFlags[l];
        if (offers) {
            panel.noteslabel += slot(29) + "\n";
            for (int l = 1; l <= 4; ++l) {
                if (languageFlags[l]) panel.languageItems.push_back(languageNames[l]);
            }
            panel.languageIndex = 0;
        }
    }
    if (panel.languageItems.size() < 2) {
        panel.languageComboVisible = false;
    } else {
        panel.noteslabel += "\n" + slot(30) + "\n\n";
        panel.languageComboVisible = true;
    }

    // 11. Warnings.
    if (!panel.goalscheck) panel.noteslabel += slot(32) + "\n";
    if (game == 1 && !panel.mapcheck) panel.noteslabel += slot(33) + "\n";

    // 12.
    panel.notesCaptionVisible = !panel.noteslabel.empty();

    // 13. Install-only button.
    panel.installOnlyEnabled = !IsAlreadyInstalled(zip.ZipFileName(), record);

    // 14. Unconfigured game.
    if (record.gameDir.empty()) {
        panel.noteslabel = slot(60) + " " + std::to_string(game) + " " + slot(61);
        panel.notesCaptionVisible = true;
        panel.languageComboVisible = false;
        panel.playEnabled = false;
        panel.dromedEnabled = false;
        panel.installOnlyEnabled = false;
    }
    batch.Commit();
}
