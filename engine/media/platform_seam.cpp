// The platform hooks' one home, and the event pump that goes through them.
#include "engine/media/platform_seam.h"

namespace media::detail {

PlatformHooks& Platform() {
    static PlatformHooks hooks;
    return hooks;
}

void PumpEvents() {
    if (Platform().pumpEvents) Platform().pumpEvents();
}

}  // namespace media::detail
