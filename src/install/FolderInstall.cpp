#include "install/FolderInstall.h"

#include "game/MissionFolders.h"
#include "state/AppState.h"

bool UsesMissionFolders(uint8_t game) {
    if (game < 1 || game > 2) return false;
    return missionfolders::enabled(app().settings.get(), game, app().thiefdata[game].gameDir);
}

MissionFolder RecordedMissionFolder(const InstallRequest& /*request*/) {
    return {};
}

InstallOutcome InstallIntoMissionFolder(const InstallRequest& /*request*/, TZipArchiver& /*work*/,
                                        ProgressSink& /*progress*/) {
    return {};
}

bool RemoveMissionFolder(const InstallRequest& /*request*/, TZipArchiver& /*work*/,
                         ProgressSink& /*progress*/) {
    return false;
}

bool RecoverMissionFolders(TZipArchiver& /*work*/, ProgressSink& /*progress*/) {
    return false;
}
