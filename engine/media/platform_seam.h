// The seam between the media layer's headless core and the platform a
// program installs: the desktop (desktop/desktop.h) or the browser
// (browser/browser.h). The core never names a platform's code: the platform
// fills these hooks in when a program installs it, and until then the core
// runs headless (no window events, the recording drawing driver, WAV sounds
// only). Also the input state's side of the window's event pump. Private to
// the media layer and its tests.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "engine/media/graphics.h"
#include "engine/media/sound_decode.h"

namespace media::detail {

// What the installed platform provides; a null hook means it has no such part.
struct PlatformHooks {
    // Handles every pending event of the open window.
    void (*pumpEvents)() = nullptr;
    // Puts the desktop's video mode back; may run inside a signal handler.
    void (*restoreDesktopMode)() = nullptr;
    // Sets what runs when the window system's connection is lost.
    void (*setConnectionLostHandler)(std::function<void()> handler) = nullptr;
    // Returns the real drawing driver.
    std::shared_ptr<TDraw2DDriver> (*drawDriver)() = nullptr;
    // Decodes Ogg Vorbis bytes; false when they are no playable sound.
    bool (*decodeVorbis)(std::string_view bytes, SoundData& out) = nullptr;
};

// Returns the installed hooks (all null in a headless program).
PlatformHooks& Platform();

// Handles the window's pending events (nothing without a desktop or window).
// Every input query calls this first so that its answer is current.
void PumpEvents();

// --- The input state, fed by the platform's event translation --------------
// Takes a key press or release of key code 1..255 (others are ignored). A
// repeat is no new press, but holds a key that reads as released again.
void InputKey(int code, bool pressed, bool repeat);
// Queues the code point a key press typed (0 types nothing).
void InputTypedChar(int code);
// Takes a press or release of mouse button 1..3 (others are ignored).
void InputButton(int button, bool pressed);
// Records that the window manager asked to close the window.
void InputPostCloseRequest();
// Releases every held key and button (the window lost focus or closed).
void InputReleaseAll();
// Returns the pointer position in window pixels as last seen.
int PointerWindowX();
int PointerWindowY();
// Sets the stored pointer position (an event moved it, or the window warped it).
void SetPointerWindowPosition(int x, int y);

}  // namespace media::detail
