// The keyboard and mouse codes every input query and key binding uses: one
// integer per key, 1..255, the same numbers the controls name and store in
// the settings file.
#pragma once

namespace media {

// Mouse buttons (as MouseDown/MouseHit take them).
constexpr int MOUSE_LEFT = 1;
constexpr int MOUSE_RIGHT = 2;
constexpr int MOUSE_MIDDLE = 3;

// Editing and whitespace keys.
constexpr int KEY_BACKSPACE = 8;
constexpr int KEY_TAB = 9;
constexpr int KEY_CLEAR = 12;
constexpr int KEY_RETURN = 13;
constexpr int KEY_ENTER = 13;
constexpr int KEY_PAUSE = 19;
constexpr int KEY_CAPSLOCK = 20;
constexpr int KEY_ESCAPE = 27;
constexpr int KEY_SPACE = 32;

// Page, cursor and editing block.
constexpr int KEY_PAGEUP = 33;
constexpr int KEY_PAGEDOWN = 34;
constexpr int KEY_END = 35;
constexpr int KEY_HOME = 36;
constexpr int KEY_LEFT = 37;
constexpr int KEY_UP = 38;
constexpr int KEY_RIGHT = 39;
constexpr int KEY_DOWN = 40;
constexpr int KEY_SELECT = 41;
constexpr int KEY_PRINT = 42;
constexpr int KEY_EXECUTE = 43;
constexpr int KEY_SCREEN = 44;
constexpr int KEY_INSERT = 45;
constexpr int KEY_DELETE = 46;

// Digits 0..9 are 48..57 and letters A..Z are 65..90 (their ASCII codes).
constexpr int KEY_0 = 48;
constexpr int KEY_9 = 57;
constexpr int KEY_A = 65;
constexpr int KEY_C = 67;
constexpr int KEY_V = 86;
constexpr int KEY_X = 88;
constexpr int KEY_Z = 90;

// System keys.
constexpr int KEY_LSYS = 91;
constexpr int KEY_RSYS = 92;

// Numeric pad: digits 0..9 are 96..105.
constexpr int KEY_NUM0 = 96;
constexpr int KEY_NUM9 = 105;
constexpr int KEY_NUMMULTIPLY = 106;
constexpr int KEY_NUMADD = 107;
constexpr int KEY_NUMSUBTRACT = 109;
constexpr int KEY_NUMDECIMAL = 110;
constexpr int KEY_NUMDIVIDE = 111;

// Function keys F1..F12 are 112..123.
constexpr int KEY_F1 = 112;
constexpr int KEY_F4 = 115;
constexpr int KEY_F11 = 122;
constexpr int KEY_F12 = 123;

// Locks.
constexpr int KEY_NUMLOCK = 144;
constexpr int KEY_SCROLLLOCK = 145;

// Modifiers, left and right apart.
constexpr int KEY_LSHIFT = 160;
constexpr int KEY_RSHIFT = 161;
constexpr int KEY_LCONTROL = 162;
constexpr int KEY_RCONTROL = 163;
constexpr int KEY_LALT = 164;
constexpr int KEY_RALT = 165;

// Media keys.
constexpr int KEY_MUTE = 173;
constexpr int KEY_VOLUMEDOWN = 174;
constexpr int KEY_VOLUMEUP = 175;

// Punctuation (named by the character the key types on a US/UK layout).
constexpr int KEY_SEMICOLON = 186;
constexpr int KEY_EQUALS = 187;
constexpr int KEY_COMMA = 188;
constexpr int KEY_MINUS = 189;
constexpr int KEY_PERIOD = 190;
constexpr int KEY_SLASH = 191;
constexpr int KEY_QUOTES = 192;
constexpr int KEY_OPENBRACKET = 219;
constexpr int KEY_BACKSLASH = 220;
constexpr int KEY_CLOSEBRACKET = 221;
constexpr int KEY_HASH = 222;
constexpr int KEY_TILDE = 223;
constexpr int KEY_BACKSLASH2 = 226;

// The number of key slots: codes run 1..KEY_COUNT - 1.
constexpr int KEY_COUNT = 256;

}  // namespace media
