// Polled keyboard, mouse and window-close input. Every query first handles
// the window's pending events, so that its answer is current; there are no
// input callbacks. Key codes are in key_codes.h. Joysticks are in joystick.h.
#pragma once

#include "engine/media/key_codes.h"

namespace media {

// Returns 1 while the key (1..255) is held, else 0.
int KeyDown(int key);
// Returns the number of presses of the key since the previous call for it,
// and clears that count.
// Note: holding a key is one press; auto-repeat never counts.
int KeyHit(int key);
// Clears every held key and button, every press count and the typed characters.
void FlushKeys();
// Returns the next typed character's code point from the queue, 0 when empty.
// Note: the queue keeps 256 characters; further typing is dropped until read.
int GetChar();
// Returns 1 while the mouse button (1 left, 2 right, 3 middle) is held, else 0.
int MouseDown(int button);
// Returns the number of presses of the mouse button since the previous call
// for it, and clears that count.
int MouseHit(int button);
// Returns the pointer's x position in window pixels as last seen.
int MouseX();
// Returns the pointer's y position in window pixels as last seen.
int MouseY();
// Returns 1 once if the user asked to close the window since the last call.
int AppTerminate();

// Handles the window's pending events once when made; until it is destroyed
// the queries above answer from that state without looking at the window
// again. For code that asks about many keys in one go (a scan of every key
// costs one look at the window instead of 255).
class InputSnapshot {
  public:
    InputSnapshot();
    ~InputSnapshot();
    InputSnapshot(const InputSnapshot&) = delete;
    InputSnapshot& operator=(const InputSnapshot&) = delete;
};

}  // namespace media
