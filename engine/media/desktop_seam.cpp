// The desktop hooks' one home, and the event pump that goes through them.
#include "engine/media/desktop_seam.h"

namespace media::detail {

DesktopHooks& Desktop() {
    static DesktopHooks hooks;
    return hooks;
}

void PumpEvents() {
    if (Desktop().pumpEvents) Desktop().pumpEvents();
}

}  // namespace media::detail
