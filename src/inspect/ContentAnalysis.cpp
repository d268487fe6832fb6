#include "inspect/ContentAnalysis.h"

#include <algorithm>
#include <map>
#include <set>
#include <string>

#include "archive/MissionArchive.h"
#include "archive/ZipArchiver.h"
#include "game/ComponentProgress.h"
#include "game/GameContext.h"
#include "game/Games.h"
#include "game/InstallState.h"
#include "game/MissionRecords.h"
#include "game/TypeDetection.h"
#include "inspect/MissionCache.h"
#include "inspect/MissionTitle.h"
#include "inspect/ReadmeText.h"
#include "platform/Checksum.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/Progress.h"
#include "platform/TextDecode.h"
#include "platform/TextUtil.h"
#include "state/LanguageTable.h"

namespace {

bool contains(const std::string& s, const char* part) {
    return s.find(part) != std::string::npos;
}

// Largest members read into memory: read-mes and titles, and the mission file whose whole
// content the game decision searches.
constexpr uint64_t kTextCap = 16 << 20;
constexpr uint64_t kMissionFileCap = uint64_t(512) << 20;
// Read-mes named like the archive read in one pass, the first that reads being shown.
constexpr size_t kReadmeCandidates = 3;

// Member data for the analysis. Archives read front to back get every member it needs in
// one pass, in archive order, before it starts; the others are asked member by member.
class MemberSource {
  public:
    explicit MemberSource(MissionArchive& archive) : archive_(archive) {}

    void prefetch(const std::set<std::string>& names, const std::string& missionFile) {
        if (!archive_.sequential() || names.empty()) return;
        archive_.readMembers(names, kMissionFileCap, [&](const ArchiveMember& m, std::string& d) {
            if (m.name != missionFile && d.size() > kTextCap) return true;
            fetched_[m.name] = std::move(d);
            return true;
        });
    }

    bool read(const std::string& name, uint64_t cap, std::string& out) {
        if (!archive_.sequential()) return archive_.readMember(name, cap, out);
        const auto found = fetched_.find(name);
        if (found == fetched_.end() || found->second.size() > cap) return false;
        if (cap != kTextCap) {
            out = std::move(found->second);  // the mission file: read once, never kept
            fetched_.erase(found);
            return true;
        }
        out = found->second;
        kept_[name] = found->second;
        return true;
    }

    // The members of `names` that read within `cap` each, in one pass over the archive at
    // most; kept for the mission's cache like the texts.
    std::map<std::string, std::string> readAll(const std::set<std::string>& names, uint64_t cap) {
        std::map<std::string, std::string> out;
        std::set<std::string> rest;
        for (const std::string& name : names) {
            const auto found = fetched_.find(name);
            if (found == fetched_.end())
                rest.insert(name);
            else if (found->second.size() <= cap)
                out[name] = found->second;
        }
        if (!rest.empty())
            archive_.readMembers(rest, cap, [&](const ArchiveMember& m, std::string& d) {
                if (d.size() <= cap) out[m.name] = std::move(d);
                return true;
            });
        for (const auto& [name, data] : out) kept_[name] = data;
        return out;
    }

    // The text members read, for the mission's cache.
    const std::map<std::string, std::string>& kept() const { return kept_; }

  private:
    MissionArchive& archive_;
    std::map<std::string, std::string> fetched_, kept_;
};

// The pictures the read-me shown shows: members of the archive, found without regard to
// case, within the bounds of kReadmePictures, kReadmePictureBytes and kReadmePicturesBytes.
class ReadmePictures {
  public:
    explicit ReadmePictures(const std::vector<ArchiveMember>& members) {
        for (const ArchiveMember& m : members) {
            std::string name = text::lowerAscii(m.name);
            std::replace(name.begin(), name.end(), '/', '\\');
            if (m.size <= kReadmePictureBytes) byName_.emplace(std::move(name), &m);
        }
    }

    // Pictures are named anew for each read-me.
    void start(const std::string& readme) {
        readme_ = readme;
        keys_.clear();
        bytes_ = 0;
    }

    // The name the document loads the picture `src` of the read-me by; "" when not shown.
    std::string key(const std::string& src) {
        const std::string path = readmePicturePath(readme_, src);
        if (path.empty()) return "";
        const auto found = byName_.find(text::lowerAscii(path));
        if (found == byName_.end()) return "";
        const ArchiveMember& member = *found->second;
        const auto known = keys_.find(member.name);
        if (known != keys_.end()) return known->second;
        if (keys_.size() >= kReadmePictures || bytes_ + member.size > kReadmePicturesBytes)
            return "";
        bytes_ += member.size;
        const std::string key = "readme-picture:" + std::to_string(keys_.size());
        keys_.emplace(member.name, key);
        return key;
    }

    // The pictures named, read into the panel (in one pass).
    void read(MemberSource& source, InfoPanel& panel) const {
        panel.questMemoPictures.clear();
        if (keys_.empty()) return;
        std::set<std::string> names;
        for (const auto& [name, key] : keys_) names.insert(name);
        uint64_t total = 0;
        for (auto& [name, data] : source.readAll(names, kReadmePictureBytes)) {
            total += data.size();
            if (total > kReadmePicturesBytes) break;
            panel.questMemoPictures[keys_.at(name)] = std::move(data);
        }
    }

  private:
    std::map<std::string, const ArchiveMember*> byName_;  // lower case, "\\" separators
    std::string readme_;
    std::map<std::string, std::string> keys_;  // member name, key
    uint64_t bytes_ = 0;
};

// The member's text loaded into the memo, when it can be read.
bool loadMemo(MemberSource& source, const std::string& member, InfoPanel& panel,
              ReadmePictures& pictures) {
    std::string bytes;
    if (!source.read(member, kTextCap, bytes)) return false;
    pictures.start(member);
    ReadmeText readme =
        readmeFromBytes(member, bytes, [&](const std::string& src) { return pictures.key(src); });
    if (!readme.html) pictures.start("");
    panel.questMemo = std::move(readme.text);
    panel.questMemoHtml = readme.html;
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

namespace {

// What one pass over the member names gives beyond the panel's boxes.
struct MemberScan {
    int books = 0, textures = 0, meshes = 0, objects = 0, movies = 0, sounds = 0;
    // What System Shock 2's boxes show in place of Thief's goals, map, automap and books:
    // texts of its own ("strings\*.str"), level maps ("intrface\<level>\*.pcx"), scripts
    // (".osm", "sq_scripts\*.nut") and e-mails and logs ("snd2\").
    bool shockTexts = false, shockMaps = false, shockScripts = false, shockLogs = false;
    bool languageFlags[5] = {false, false, false, false, false};
    std::vector<std::string> namedReadmes;  // "<archive name>.txt", in archive order
    std::vector<std::string> texts;         // every ".txt", in archive order
    std::string richReadme;                 // the .rtf/.html/.htm/.glml read-me, if any
    std::string fmIni;                      // "fm.ini" beside the mission's files, if any
    TitleSource title;
};

// The archive's file name without its extension (".zip", ".7z", ".rar"; four characters
// for any other), lower case; for the first volume of a RAR set ("x.part1.rar") without
// the volume number either.
std::string archiveBaseName(const std::string& path) {
    const std::string name = text::lowerAscii(text::extractFileName(path));
    const std::string ext = missionArchiveExtension(name);
    const size_t extLength = ext.empty() ? 4 : ext.size();
    std::string base = name.size() >= extLength ? name.substr(0, name.size() - extLength) : "";
    const size_t part = base.rfind(".part");
    if (ext == ".rar" && part != std::string::npos && part + 5 < base.size() &&
        base.find_first_not_of("0123456789", part + 5) == std::string::npos)
        base.resize(part);
    return base;
}

bool isLanguageName(const std::string& lowerName) {
    return std::find(std::begin(languageNames), std::end(languageNames), lowerName) !=
           std::end(languageNames);
}

void scanShockMember(const std::string& n, const std::string& f, const std::string& e,
                     MemberScan& scan) {
    if (contains(n, "strings\\") && e == ".str" && f != "missflag.str") scan.shockTexts = true;
    if (const size_t at = n.find("intrface\\"); at != std::string::npos && e == ".pcx") {
        const size_t from = at + 9;
        const size_t slash = n.find('\\', from);
        if (slash != std::string::npos && !isLanguageName(n.substr(from, slash - from)))
            scan.shockMaps = true;
    }
    if (e == ".osm" || (contains(n, "sq_scripts\\") && e == ".nut")) scan.shockScripts = true;
    if (contains(n, "snd2\\") && (e == ".wav" || e == ".mp3" || e == ".ogg")) scan.shockLogs = true;
}

// The boxes a System Shock 2 mission shows in place of Thief's.
void showInShockTerms(const MemberScan& scan, InfoPanel& panel) {
    panel.goalscheck = scan.shockTexts;
    panel.mapcheck = scan.shockMaps;
    panel.automapcheck = scan.shockScripts;
    panel.bookscheck = scan.shockLogs;
    panel.boxCaptions = {296, 39, 295, 41, 42, 43, 44, 37, 294, 46};
}

void scanMember(const std::string& member, const std::string& base, MemberScan& scan,
                InfoPanel& panel, SelectedMission& sel) {
    const std::string n = text::lowerAscii(member);
    const std::string f = text::lowerAscii(text::extractFileName(member));
    const std::string e = text::lowerAscii(text::extractFileExt(member));
    for (int l = 1; l <= 4; ++l) {
        if (n.find(std::string("\\") + languageNames[l] + "\\") != std::string::npos)
            scan.languageFlags[l] = true;
    }
    if (f == base + ".txt") scan.namedReadmes.push_back(member);
    if (e == ".txt") scan.texts.push_back(member);
    if (isRichReadmeExtension(e) && (scan.richReadme.empty() || f == base + e))
        scan.richReadme = member;
    if (contains(n, "goals.str")) panel.goalscheck = true;
    if (contains(n, "intrface\\") && contains(n, ".pcx")) panel.mapcheck = true;
    if (contains(n, "intrface\\") && contains(n, "ra.bin")) panel.automapcheck = true;
    if (contains(n, "books\\") && contains(n, "str")) ++scan.books;
    if (contains(n, "fam\\") && contains(n, ".pcx")) ++scan.textures;
    if (contains(n, "mesh\\")) ++scan.meshes;
    if (contains(n, "obj\\")) ++scan.objects;
    if ((contains(n, "movies\\") || contains(n, "cutscenes\\")) && e == ".avi") ++scan.movies;
    if (contains(n, "snd\\") && (contains(n, ".wav") || contains(n, ".mp3"))) ++scan.sounds;
    if (e == ".gam") panel.gamesyscheck = true;
    scanShockMember(n, f, e, scan);
    if (contains(n, "strings\\") && contains(n, "missflag.str")) sel.missionFlagsPresent = true;
    scan.title.consider(member, titleLanguage());
    if (scan.fmIni.empty() &&
        text::lowerAscii(WithoutMemberRoot(member, sel.memberRoot)) == "fm.ini")
        scan.fmIni = member;
    if (e == ".mis") {
        sel.missionFileMember = member;
        MissionNumberFromName(text::lowerAscii(WithoutMemberRoot(member, sel.memberRoot)),
                              sel.missionNumber);
    }
}

// German read-mes are mostly named "liesmich" ("read me"): among the read-mes that are not
// named like the archive they come first for a German interface and last for any other,
// each group in archive order.
void orderByLanguage(std::vector<std::string>& texts, const std::string& language) {
    const bool german = language == "german";
    std::stable_partition(texts.begin(), texts.end(), [german](const std::string& member) {
        const bool liesmich =
            text::lowerAscii(text::extractFileName(member)).starts_with("liesmich");
        return liesmich == german;
    });
}

void resetPanel(InfoPanel& panel, SelectedMission& sel) {
    sel.missionFlagsPresent = false;
    panel.mapcheck = panel.automapcheck = panel.goalscheck = panel.gamesyscheck = false;
    panel.soundscheck = false;
    panel.noteslabel.clear();
    sel.titlesMember.clear();
    sel.missionNumber = 0;
    sel.missionFileMember.clear();
    sel.missionFileSize = 0;
    panel.playEnabled = true;
    panel.questMemo.clear();
    panel.questMemoHtml = false;
    panel.questMemoPictures.clear();
    panel.passwordOffered = false;
    panel.boxCaptions = kThiefBoxCaptions;
}

// Counts into the record; a record that holds the count already is left alone, so that
// selecting an analysed archive again stores nothing.
void storeCounts(IniFile& settings, const std::string& recordKey, const MemberScan& scan,
                 InfoPanel& panel) {
    const std::pair<const char*, int> counts[] = {
        {"books", scan.books},     {"meshes", scan.meshes}, {"movies", scan.movies},
        {"objects", scan.objects}, {"sounds", scan.sounds}, {"textures", scan.textures}};
    MissionStore store(settings);
    for (const auto& [key, count] : counts)
        if (count > 0) store.setCount(recordKey, key, count);
    panel.bookscheck = scan.books > 0;
    panel.creaturescheck = scan.meshes > 0;
    panel.moviescheck = scan.movies > 0;
    panel.objectscheck = scan.objects > 0;
    panel.soundscheck = scan.sounds > 0;
    panel.texturecheck = scan.textures > 0;
}

// Every member the analysis will read, for archives read front to back.
std::set<std::string> membersToRead(IniFile& settings, const std::string& recordKey,
                                    const MemberScan& scan, const SelectedMission& sel) {
    // Only the first few read-mes named like the archive: one is shown, and a flood of them
    // must not use up the pass before the mission file comes.
    const size_t named = std::min<size_t>(scan.namedReadmes.size(), kReadmeCandidates);
    std::set<std::string> names(scan.namedReadmes.begin(), scan.namedReadmes.begin() + named);
    if (!scan.texts.empty()) names.insert(scan.texts.front());
    if (scan.texts.empty() && !scan.richReadme.empty()) names.insert(scan.richReadme);
    const MissionStore store(settings);
    if (!sel.missionFileMember.empty() && !games::known(store.type(recordKey, 0)))
        names.insert(sel.missionFileMember);
    if (!sel.titlesMember.empty() && !store.hasTitle(recordKey)) names.insert(sel.titlesMember);
    if (!scan.fmIni.empty() && sel.titlesMember.empty()) names.insert(scan.fmIni);
    return names;
}

// The game of the mission: 0 when its mission file cannot be read (a game is never guessed
// and never stored for it).
int decideGame(IniFile& settings, const std::string& recordKey, MemberSource& source,
               const std::vector<ArchiveMember>& members, const SelectedMission& sel) {
    if (sel.missionFileMember.empty()) return 1;
    MissionStore store(settings);
    const int stored = store.type(recordKey, 0);
    if (games::known(stored)) return stored;
    if (const int byMembers = FoundMissionType(members); byMembers != 0) {
        store.setType(recordKey, byMembers);
        return byMembers;
    }
    std::string data;
    if (!source.read(sel.missionFileMember, kMissionFileCap, data)) return 0;
    const int game = games::byMarker([&data](const std::string& marker) {
        return ContainsMarker(marker, data.data(), data.size());
    });
    store.setType(recordKey, game);
    return game;
}

// The title of a mission without a titles file whose game titles such missions by their
// fm.ini or read-me; read again while the record holds none, so that records stored before
// that was known gain one.
std::string titleFromFacts(MissionStore& store, const std::string& recordKey, MemberSource& source,
                           const MemberScan& scan, const InfoPanel& panel) {
    std::string fmIni;
    if (!scan.fmIni.empty()) source.read(scan.fmIni, kTextCap, fmIni);
    const std::string title =
        titleFromFmIniOrReadme(text::decodeText(fmIni), panel.questMemoHtml ? "" : panel.questMemo);
    if (title.size() > 2 || !store.hasTitle(recordKey)) store.storeTitle(recordKey, title);
    return title;
}

std::string readTitle(IniFile& settings, const std::string& recordKey, MemberSource& source,
                      const SelectedMission& sel, const MemberScan& scan, const InfoPanel& panel,
                      int game) {
    MissionStore store(settings);
    const std::string stored = store.storedTitle(recordKey, "_");
    if (sel.titlesMember.empty() && games::find(game)->titledByReadme &&
        (stored == "_" || stored.empty()))
        return titleFromFacts(store, recordKey, source, scan, panel);
    std::string title(1, '"');
    title.append(stored).push_back('"');
    if (stored != "_" || sel.titlesMember.empty()) return title;
    std::string data;
    source.read(sel.titlesMember, kTextCap, data);
    title = titleFromTitlesFile(data, scan.title.missionNumber);

    store.storeTitle(recordKey, title);
    return title;
}

void chooseReadme(MemberSource& source, const MemberScan& scan, ReadmePictures& pictures,
                  InfoPanel& panel, ProgressSink& progress) {
    for (const std::string& member : scan.namedReadmes) {
        loadMemo(source, member, panel, pictures);
        progress.processEvents();
    }
    if (!panel.questMemo.empty()) return;
    for (const std::string& member : scan.texts) {
        if (loadMemo(source, member, panel, pictures)) return;
    }
    if (!scan.richReadme.empty()) loadMemo(source, scan.richReadme, panel, pictures);
}

void offerLanguages(const MemberScan& scan, int gameLanguage, InfoPanel& panel) {
    panel.languageItems.clear();
    panel.languageIndex = -1;
    // A game language of 0 (none named) counts as not carried.
    const bool carriesOwn =
        gameLanguage >= 1 && gameLanguage <= 4 && scan.languageFlags[gameLanguage];
    if (!carriesOwn) {
        bool offers = false;
        for (int l = 1; l <= 4; ++l) offers = offers || scan.languageFlags[l];
        if (offers) {
            panel.noteslabel += slot(29) + "\n";
            for (int l = 1; l <= 4; ++l) {
                if (scan.languageFlags[l]) panel.languageItems.push_back(languageNames[l]);
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
}

// The language slot saying why an archive cannot be read; 0 when it can.
int unreadableSlot(ArchiveStatus status) {
    switch (status) {
        case ArchiveStatus::Ok:
            return 0;
        case ArchiveStatus::Encrypted:
            return 101;
        case ArchiveStatus::Unsupported:
            return 102;
        case ArchiveStatus::NotArchive:
            return 103;
        default:
            return 100;
    }
}

void disableCommands(InfoPanel& panel) {
    panel.notesCaptionVisible = true;
    panel.languageComboVisible = false;
    panel.playEnabled = false;
    panel.dromedEnabled = false;
    panel.installOnlyEnabled = false;
}

}  // namespace

namespace {

// An archive that could not be read: its panel says why, shows no game and starts nothing.
void showUnreadable(const MissionArchive& archive, ArchiveStatus status, InfoPanel& panel,
                    SelectedMission& sel) {
    const int why = unreadableSlot(status);
    panel.questinfo = text::extractFileName(archive.path());
    panel.origPanelVisible = false;
    panel.noteslabel = slot(why != 0 ? why : 100);
    // What could not be read, as the reader tells it (a decoder asking too much memory).
    if (status == ArchiveStatus::Unsupported && !archive.detail().empty())
        panel.noteslabel += "\n" + archive.detail();
    disableCommands(panel);
    sel.currentGame = 0;
}

// The analysis over an archive whose member list reads as `status`. Nothing but the member
// names is used of an archive that is not Ok.
int analyseMission(const GameContext& context, MissionArchive& archive, ArchiveStatus status,
                   const std::string& recordKey, InfoPanel& panel, SelectedMission& sel,
                   ProgressSink& progress) {
    IniFile& settings = context.settings;
    // Counts, type and title reach the disk in one store.
    IniBatch batch(settings);
    resetPanel(panel, sel);

    MemberScan scan;
    const std::string base = archiveBaseName(archive.path());
    sel.memberRoot = MemberRoot(archive.members());
    for (const ArchiveMember& member : archive.members()) {
        scanMember(member.name, base, scan, panel, sel);
        if (member.name == sel.missionFileMember) sel.missionFileSize = member.size;
    }
    sel.titlesMember = scan.title.titlesMember;
    orderByLanguage(scan.texts, titleLanguage());
    storeCounts(settings, recordKey, scan, panel);

    int game = 0;
    std::string title;
    if (status == ArchiveStatus::Ok) {
        MemberSource source(archive);
        source.prefetch(membersToRead(settings, recordKey, scan, sel), sel.missionFileMember);
        ReadmePictures pictures(archive.members());
        chooseReadme(source, scan, pictures, panel, progress);
        game = decideGame(settings, recordKey, source, archive.members(), sel);
        if (game == 0) status = ArchiveStatus::Damaged;  // its mission file does not read
        if (game != 0) title = readTitle(settings, recordKey, source, sel, scan, panel, game);
        pictures.read(source, panel);
        if (game != 0 && archive.sequential())
            storeMissionCache(missionCacheDir(context), recordKey, archive, source.kept());
    }

    progress.status("");
    progress.processEvents();
    if (game == 0) {
        showUnreadable(archive, status, panel, sel);
        batch.Commit();
        return 0;
    }

    sel.currentGame = static_cast<uint8_t>(game);
    // An empty pane would look like a read-me that failed to show.
    if (panel.questMemo.empty()) {
        panel.questMemo = slot(212);
        panel.questMemoHtml = false;
    }
    const GameRecord& record = context.games[game];
    const std::string& gameName = games::find(game)->name;
    if (title.size() >= 4)
        panel.questinfo = gameName + " : " + ShownTitle(title);
    else
        panel.questinfo = gameName + " " + slot(47);
    panel.origPanelVisible = false;

    if (games::find(game)->contentTerms == games::ContentTerms::Shock)
        showInShockTerms(scan, panel);
    offerLanguages(scan, record.language, panel);
    if (games::find(game)->expectsGoals && !panel.goalscheck) panel.noteslabel += slot(32) + "\n";
    if (games::find(game)->expectsMap && !panel.mapcheck) panel.noteslabel += slot(33) + "\n";
    panel.notesCaptionVisible = !panel.noteslabel.empty();
    panel.installOnlyEnabled = !IsAlreadyInstalled(archive.path(), record);

    if (record.gameDir.empty()) {
        panel.noteslabel = slot(60) + " " + std::to_string(game) + " " + slot(61);
        disableCommands(panel);
    }
    batch.Commit();
    return game;
}

// True when a member of the ZIP archive is encrypted and no password has been given.
bool needsPassword(TZipArchiver& zip) {
    if (!zip.Password.empty()) return false;
    for (const ZipDirEntry& entry : zip.Entries()) {
        if (entry.Encrypted) return true;
    }
    return false;
}

}  // namespace

int AnalyseMission(const GameContext& context, MissionArchive& archive,
                   const std::string& recordKey, InfoPanel& panel, SelectedMission& mission,
                   ProgressSink& progress) {
    return analyseMission(context, archive, archive.status(), recordKey, panel, mission, progress);
}

int AnalyseArchive(const GameContext& context, TZipArchiver& zip, const std::string& recordKey,
                   InfoPanel& panel, SelectedMission& mission, ProgressSink& progress) {
    const ComponentProgress shown(zip, progress, slot(71), kExtractWordSlot);
    std::unique_ptr<MissionArchive> archive = zipMission(zip);
    const bool locked = needsPassword(zip);
    const ArchiveStatus status = locked ? ArchiveStatus::Encrypted : archive->status();
    const int game = analyseMission(context, *archive, status, recordKey, panel, mission, progress);
    panel.passwordOffered = locked;
    zip.ExtrBaseDir = context.games[game].gameDir;
    return game;
}
