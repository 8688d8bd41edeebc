// The OpenGL drawing driver: one X11/GLX window, draws batched into one
// vertex stream in call order and sent to GL only when the texture or blend
// state changes, before a present and before a read-back.
// Private to the media layer (the public way in is GLDraw2DDriver()).
#pragma once

#include <cstdint>
#include <memory>

#include "engine/media/graphics.h"

namespace media {

// Statistics of the GL driver since graphics were opened (for benchmarks).
struct GLDriverStats {
    int64_t batches = 0;  // draw calls sent to GL
    int64_t quads = 0;    // quads sent
    int64_t uploads = 0;  // texture uploads
};

// Returns the GL driver's statistics.
GLDriverStats GLStats();
// Sends any pending draws to GL and waits until GL has finished them.
void GLFinish();
// Sends pending draws and forgets what GL state the driver believes is set, so
// that the next batch sets it again (after foreign code touched GL directly).
void GLResetState();

}  // namespace media
