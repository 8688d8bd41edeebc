// The browser build's drawing driver: WebGL on the page's canvas.
#pragma once

#include <memory>

#include "engine/media/graphics.h"

namespace media {

// Returns the WebGL drawing driver (one per program).
std::shared_ptr<TDraw2DDriver> WebGLDraw2DDriver();

}  // namespace media
