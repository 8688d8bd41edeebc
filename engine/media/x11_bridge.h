// Private contract between the window (display.cpp, which owns the X display
// and the event pump) and the input state (input.cpp, which turns X events
// into key, button, character and pointer state). Only media-layer .cpp files
// include this header: it exposes Xlib types.
#pragma once

#include <X11/Xlib.h>

namespace media::detail {

// --- Implemented by the window side -------------------------------------

// Handles every pending event of the open window (does nothing without one).
// Every input query calls this first so that its answer is current.
void PumpEvents();
// Returns the open X display, or null when no window is open.
Display* CurrentDisplay();

// --- Implemented by the input side ---------------------------------------

// Takes one key, button, motion, focus or crossing event of the window.
// Auto-repeat has already been filtered by the pump: a repeated key arrives
// as a KeyPress with `repeat` true (it may type a character, but is not a
// new press), and no synthetic release is passed on.
void InputHandleXEvent(const XEvent& event, bool repeat);
// Records that the window manager asked to close the window.
void InputPostCloseRequest();
// Releases every held key and button (the window lost focus or closed).
void InputReleaseAll();
// What a focus event of the window means for input and full-screen grabs.
struct FocusEffect {
    bool release_input = false;  // let go of every held key and button
    bool release_grab = false;   // give up the full-screen grabs
    bool take_grab = false;      // take the full-screen grabs (again)
};
// Returns the one focus policy's answer for a focus event (see input.cpp).
FocusEffect FocusPolicy(const XFocusChangeEvent& focus);
// Returns the pointer position in window pixels as last seen.
int PointerWindowX();
int PointerWindowY();
// Sets the stored pointer position (after the window warps the pointer).
void SetPointerWindowPosition(int x, int y);

}  // namespace media::detail
