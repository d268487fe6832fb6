#include "game/SelectedMission.h"

SelectedMission& selectedMission() {
    static SelectedMission state;
    return state;
}
