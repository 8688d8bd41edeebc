// Storage of the engine's upward hooks.
#include "engine/hooks.h"

namespace engine {

EngineHooks& Hooks() {
    static EngineHooks hooks;
    return hooks;
}

}  // namespace engine
