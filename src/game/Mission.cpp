#include "game/Mission.h"

#include "game/Games.h"
#include "platform/TextUtil.h"

int Mission::markedGame() const {
    if (gameRow) return game;
    if (type.size() != 1) return 0;
    const int stored = type[0] - '0';
    return games::known(stored) ? stored : 0;
}

bool holdsLibrary(const Mission& m) {
    return m.finished || !m.lastStart.empty() || !m.finishedOn.empty() || m.rating >= 0 ||
           !m.tags.empty() || !m.comment.empty() || !m.author.empty() || !m.releaseDate.empty() ||
           m.dateAdded != 0 || m.playSeconds != 0;
}

std::string recordKeyOf(const std::string& name, const std::string& sizeText) {
    if (!sizeText.empty()) {
        std::string key;
        key.reserve(name.size() + 1 + sizeText.size());
        key.append(name).append(1, '.').append(sizeText);
        return text::removeChars(key, "]");
    }
    if (name.size() <= 1) return std::string();
    return name.substr(1, 30);
}

Mission missionOfArchive(const std::string& dir, const std::string& fileName,
                         const std::string& format, int64_t size, bool withExtension) {
    Mission m;
    m.name = withExtension ? fileName : fileName.substr(0, fileName.size() - format.size());
    m.dir = dir;
    m.archivePath = dir + fileName;
    m.format = format;
    m.sizeText = std::to_string(size);
    m.recordKey = recordKeyOf(m.name, m.sizeText);
    return m;
}

Mission missionOfGame(int number) {
    Mission m;
    m.gameRow = true;
    m.game = number;
    m.name = games::originalRowText(number);
    m.archivePath = " Original";
    m.recordKey = recordKeyOf(m.name, "");
    return m;
}
