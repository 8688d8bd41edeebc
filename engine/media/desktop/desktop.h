// The desktop part of the media layer: the X11 window with OpenGL drawing,
// keyboard and mouse events, joysticks, the own mixer on the OSS device,
// OpenAL and Ogg Vorbis sounds. A program that wants them calls InstallDesktopMedia() once
// at start-up; without it the media layer runs headless: the recording
// drawing driver, the "Null" audio driver, no window events, no joysticks,
// WAV sounds only.
// Only the game's executable (and tests of the desktop) link this part.
#pragma once

#include <memory>

#include "engine/media/graphics.h"

namespace media {

// Installs the desktop drivers behind the media layer's seams: the OpenGL
// drawing driver as the default, the window's event pump, the "FreeMixer"
// and OpenAL audio drivers, Ogg Vorbis decoding, the joystick devices and the
// handling of a lost display. Later calls do nothing.
void InstallDesktopMedia();
// Loads the OpenAL library and offers its drivers ("OpenAL", "OpenAL
// Default" and "OpenAL " + each device name); returns 1 when usable.
// Note: works once; later calls return the first result.
int EnableOpenALAudio();
// Returns the OpenGL drawing driver (the program's one real driver).
std::shared_ptr<TDraw2DDriver> GLDraw2DDriver();

}  // namespace media
