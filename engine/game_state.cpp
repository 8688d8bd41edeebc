// Home of the game-wide flags the engine reads.
#include "engine/game_state.h"

namespace engine {

int InGame = 0;
int PointerMode = 0;

void ResetGameState() {
    InGame = 0;
    PointerMode = 0;
}

}  // namespace engine
