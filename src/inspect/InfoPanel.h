#pragma once
// What the information panel, the read-me memo and the command buttons show. The main window
// mirrors InfoPanel onto its controls; the analysis and the selection handler only change these
// values.

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

inline constexpr std::array<int, 10> kThiefBoxCaptions = {38, 39, 40, 41, 42, 43, 44, 37, 45, 46};

struct InfoPanel {
    std::string questinfo;  // heading
    bool goalscheck = false, mapcheck = false, automapcheck = false, texturecheck = false,
         soundscheck = false, objectscheck = false, creaturescheck = false, gamesyscheck = false,
         bookscheck = false, moviescheck = false;
    // The language slots of the boxes' captions, in the order above (goals ... movies), as
    // the game of the mission names what they show.
    std::array<int, 10> boxCaptions = kThiefBoxCaptions;
    bool notesCaptionVisible = false;
    std::string noteslabel;                  // lines separated by line feeds
    std::vector<std::string> languageItems;  // LanguageCombo
    int languageIndex = -1;                  // selected item, -1 none
    bool languageComboVisible = false;
    bool origPanelVisible = false;
    std::string questMemo;       // the read-me, UTF-8 (or raw 8-bit text of the program)
    bool questMemoHtml = false;  // questMemo is rich text
    // The pictures of a rich read-me: the bytes of each archive member it shows, by the
    // name its <img> gives (see readmeFromBytes).
    std::map<std::string, std::string> questMemoPictures;
    bool finished = false;
    bool playEnabled = true;
    bool dromedEnabled = true;
    bool installOnlyEnabled = true;
    bool passwordOffered = false;  // the archive is encrypted: a password may be given

    // The selected language name, empty when none is selected.
    std::string selectedLanguage() const {
        return languageIndex >= 0 && languageIndex < static_cast<int>(languageItems.size())
                   ? languageItems[static_cast<size_t>(languageIndex)]
                   : std::string();
    }
};
