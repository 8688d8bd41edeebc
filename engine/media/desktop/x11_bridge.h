// Private contract between the window (display.cpp, which owns the X display
// and the event pump) and the X event translation (input_x11.cpp, which turns
// X events into the input state of platform_seam.h). Only media-layer .cpp files
// include this header: it exposes Xlib types.
#pragma once

// Before Xlib: its macros must not reach the media headers.
#include "engine/media/platform_seam.h"

#include <X11/Xlib.h>

namespace media::detail {

// --- Implemented by the window side -------------------------------------

// Handles every pending event of the open window (does nothing without one);
// installed as the desktop's event pump (platform_seam.h).
void PumpWindowEvents();
// Returns the open X display, or null when no window is open.
Display* CurrentDisplay();

// --- Implemented by the input side ---------------------------------------

// Takes one key, button, motion, focus or crossing event of the window into
// the input state. Auto-repeat has already been filtered by the pump: a
// repeated key arrives as a KeyPress with `repeat` true (it may type a
// character, but is not a new press), and no synthetic release is passed on.
void InputHandleXEvent(const XEvent& event, bool repeat);

// What a focus event of the window means for input and full-screen grabs.
struct FocusEffect {
    bool release_input = false;  // let go of every held key and button
    bool release_grab = false;   // give up the full-screen grabs
    bool take_grab = false;      // take the full-screen grabs (again)
};
// Returns the one focus policy's answer for a focus event (see input_x11.cpp).
FocusEffect FocusPolicy(const XFocusChangeEvent& focus);

}  // namespace media::detail
