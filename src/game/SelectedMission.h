#pragma once
// The mission the player has selected, as the analysis of its archive found it.

#include <cstdint>
#include <string>

#include "archive/MissionArchive.h"

// What the selection and the analysis found of the selected row: the value an install
// request carries.
struct SelectedMission {
    uint8_t currentGame = 1;        // 1 or 2; 0 when the archive's game is not known
    std::string missionFileMember;  // last member with extension ".mis"
    uint64_t missionFileSize = 0;   // its size in the archive
    // The one folder the archive packs the mission in (MemberRoot), left out on install.
    std::string memberRoot;
    uint8_t missionNumber = 0;  // from a root member miss<N>.mis; 0 = none
    bool missionFlagsPresent = false;
    std::string titlesMember;  // last member holding "strings\" and "titles.str"
    // The selected row's archive in any format (" Original" for a game row).
    std::string archivePath;
};

// Where the mission file lands in the game's (or the mission's) folder.
inline std::string installedMissionFile(const SelectedMission& mission) {
    return WithoutMemberRoot(mission.missionFileMember, mission.memberRoot);
}
