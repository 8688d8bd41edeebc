// Defaults of the settings table and the key bindings.
#include "engine/setup_table.h"

namespace engine {

std::array<int, kSetupSlots> Setup{};
std::array<int, kKeyMapSlots> KeyMap{};
std::vector<std::string> AudioDriverNames;
int PlaybackSlowSystem = -1;

int SlowSystem() {
    return PlaybackSlowSystem >= 0 ? PlaybackSlowSystem : Setup[SETUP_ESS];
}

void SetupDefaults() {
    Setup.fill(0);
    Setup[SETUP_WIDTH] = 800;
    Setup[SETUP_HEIGHT] = 600;
    Setup[SETUP_MASTER] = 50;
    Setup[SETUP_SOUND] = 50;
    Setup[SETUP_MUSIC] = 50;
    KeyMap.fill(0);
    KeyMap[0] = 38;   // cursor up
    KeyMap[3] = 37;   // cursor left
    KeyMap[5] = 39;   // cursor right
    KeyMap[8] = 40;   // cursor down
    KeyMap[10] = 90;  // Z
    KeyMap[11] = 88;  // X
    KeyMap[12] = 67;  // C
    KeyMap[13] = 86;  // V
}

}  // namespace engine
