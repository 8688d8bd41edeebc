// The browser's input: the canvas's keys, mouse, touches and pointer lock, the
// hidden text field that opens a phone's keyboard, and what the page says about
// gamepads. The program installs it once beside InstallBrowserMedia(); from
// then on the media layer's input queries (input.h, joystick.h) answer from the
// page's events, taken in order at each query.
#pragma once

#include <string>

namespace media {

// Listens to the keys, mouse and touches on the page's canvas (Module.canvas)
// and feeds them to the input queries; false when the page has no canvas yet.
// Note: later calls do nothing once it succeeded.
bool InstallBrowserInput();

// Asks for the pointer lock while wanted (a game runs): the browser grants it on
// the next click or press in the canvas, and the mouse then moves the pointer by
// its movement; not wanted releases a lock held.
// Note: a refused or lost lock (Escape ends it) leaves the plain pointer working.
void SetPointerLockWanted(bool wanted);
// Returns whether the page holds the pointer lock now.
bool PointerLocked();
// Returns true once after the lock ended while still wanted: the player pressed
// Escape, which the browser may keep for itself, so the game pauses on this.
bool PointerLockLost();

// Sets how touches act: relative (a game runs) makes the first finger held the
// right button, moving the pointer by the finger's movement, and a second finger
// the left button; otherwise a touch is a left click where the finger is.
void SetTouchRelative(bool relative);

// Shows or hides the hidden text field over the canvas that brings up a phone's
// keyboard (while a name is typed); its text arrives as typed characters, with
// Backspace and Return as keys, from real keyboards too.
// Note: while shown, a tap on the canvas opens the keyboard instead of clicking.
void ShowOnScreenKeyboard(bool show);

// Returns a line for the settings panel while no gamepad is seen (why, and what
// to do), or "" once one is.
std::string GamepadNote();

}  // namespace media
