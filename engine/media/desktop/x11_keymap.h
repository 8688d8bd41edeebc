// Translation of X11 keyboard data into the program's key codes and typed
// characters: KeySym to key code (1..255, see key_codes.h), a fallback by key
// position for layouts whose symbols have no code of their own, and KeySym or
// looked-up text to the Unicode code point of a typed character. Media-layer
// private: only input.cpp and tests include it.
#pragma once

#include <X11/X.h>

namespace media::detail {

// Returns the key code of an unshifted KeySym, or 0 when the key has none.
int KeyCodeFromKeySym(KeySym sym);
// Returns the key code of the key at an X (evdev) key position, or 0.
// Note: used only when the layout's symbol has no code, so that bindings to
// letters, digits and punctuation work on any layout.
int KeyCodeFromKeyPosition(unsigned int x_keycode);
// Returns the code point typed by a key, from the shifted KeySym and the
// Latin-1 text that the X server looked up for it; 0 when it types nothing.
int TypedCharFromKey(KeySym sym, const char* text, int text_length);

}  // namespace media::detail
