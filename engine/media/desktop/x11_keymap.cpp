// KeySym and key position tables for the input state.
#include "engine/media/desktop/x11_keymap.h"

#include <X11/XF86keysym.h>
#include <X11/keysym.h>

#include "engine/media/key_codes.h"

namespace media::detail {

namespace {

// X key positions are Linux input codes plus 8. These rows give, for each
// Linux code, the character its key types on a US layout.
constexpr unsigned int kEvdevOffset = 8;
constexpr const char kDigitRow[] = "1234567890-=";  // Linux codes 2..13
constexpr const char kUpperRow[] = "qwertyuiop[]";  // 16..27
constexpr const char kHomeRow[] = "asdfghjkl;'`";   // 30..41
constexpr const char kLowerRow[] = "\\zxcvbnm,./";  // 43..53
constexpr unsigned int kLinuxKey102nd = 86;

// Returns the character of a row at offset i from its first Linux code.
char RowChar(const char* row, unsigned int length, unsigned int first, unsigned int code) {
    if (code < first || code >= first + length) return 0;
    return row[code - first];
}

// Returns the code of a key on the numeric pad, or 0.
int KeypadCode(KeySym sym) {
    if (sym >= XK_KP_0 && sym <= XK_KP_9) return KEY_NUM0 + static_cast<int>(sym - XK_KP_0);
    switch (sym) {
        case XK_KP_Insert:
            return KEY_NUM0;
        case XK_KP_End:
            return KEY_NUM0 + 1;
        case XK_KP_Down:
            return KEY_NUM0 + 2;
        case XK_KP_Next:
            return KEY_NUM0 + 3;
        case XK_KP_Left:
            return KEY_NUM0 + 4;
        case XK_KP_Begin:
            return KEY_NUM0 + 5;
        case XK_KP_Right:
            return KEY_NUM0 + 6;
        case XK_KP_Home:
            return KEY_NUM0 + 7;
        case XK_KP_Up:
            return KEY_NUM0 + 8;
        case XK_KP_Prior:
            return KEY_NUM0 + 9;
        case XK_KP_Multiply:
            return KEY_NUMMULTIPLY;
        case XK_KP_Add:
            return KEY_NUMADD;
        case XK_KP_Separator:
            return 108;
        case XK_KP_Subtract:
            return KEY_NUMSUBTRACT;
        case XK_KP_Decimal:
        case XK_KP_Delete:
            return KEY_NUMDECIMAL;
        case XK_KP_Divide:
            return KEY_NUMDIVIDE;
        case XK_KP_Enter:
            return KEY_RETURN;
        default:
            return 0;
    }
}

// Returns the code of a printable Latin-1 KeySym, or 0.
int PrintableCode(KeySym sym) {
    if (sym >= XK_a && sym <= XK_z) return KEY_A + static_cast<int>(sym - XK_a);
    if (sym >= XK_A && sym <= XK_Z) return KEY_A + static_cast<int>(sym - XK_A);
    if (sym >= XK_0 && sym <= XK_9) return KEY_0 + static_cast<int>(sym - XK_0);
    switch (sym) {
        case XK_space:
            return KEY_SPACE;
        case XK_semicolon:
            return KEY_SEMICOLON;
        case XK_equal:
            return KEY_EQUALS;
        case XK_comma:
            return KEY_COMMA;
        case XK_minus:
            return KEY_MINUS;
        case XK_period:
            return KEY_PERIOD;
        case XK_slash:
            return KEY_SLASH;
        case XK_apostrophe:
            return KEY_QUOTES;
        case XK_bracketleft:
            return KEY_OPENBRACKET;
        case XK_backslash:
            return KEY_BACKSLASH;
        case XK_bracketright:
            return KEY_CLOSEBRACKET;
        case XK_numbersign:
            return KEY_HASH;
        case XK_grave:
            return KEY_TILDE;
        case XK_less:
            return KEY_BACKSLASH2;
        default:
            return 0;
    }
}

// Returns the code of a function, editing or modifier KeySym, or 0.
int FunctionCode(KeySym sym) {
    if (sym >= XK_F1 && sym <= XK_F12) return KEY_F1 + static_cast<int>(sym - XK_F1);
    switch (sym) {
        case XK_BackSpace:
            return KEY_BACKSPACE;
        case XK_Tab:
        case XK_ISO_Left_Tab:
            return KEY_TAB;
        case XK_Clear:
            return KEY_CLEAR;
        case XK_Return:
            return KEY_RETURN;
        case XK_Pause:
            return KEY_PAUSE;
        case XK_Caps_Lock:
            return KEY_CAPSLOCK;
        case XK_Escape:
            return KEY_ESCAPE;
        case XK_Prior:
            return KEY_PAGEUP;
        case XK_Next:
            return KEY_PAGEDOWN;
        case XK_End:
            return KEY_END;
        case XK_Home:
            return KEY_HOME;
        case XK_Left:
            return KEY_LEFT;
        case XK_Up:
            return KEY_UP;
        case XK_Right:
            return KEY_RIGHT;
        case XK_Down:
            return KEY_DOWN;
        case XK_Select:
            return KEY_SELECT;
        case XK_Print:
            return KEY_PRINT;
        case XK_Execute:
            return KEY_EXECUTE;
        case XK_Insert:
            return KEY_INSERT;
        case XK_Delete:
            return KEY_DELETE;
        case XK_Super_L:
            return KEY_LSYS;
        case XK_Super_R:
            return KEY_RSYS;
        case XK_Num_Lock:
            return KEY_NUMLOCK;
        case XK_Scroll_Lock:
            return KEY_SCROLLLOCK;
        case XK_Shift_L:
            return KEY_LSHIFT;
        case XK_Shift_R:
            return KEY_RSHIFT;
        case XK_Control_L:
            return KEY_LCONTROL;
        case XK_Control_R:
            return KEY_RCONTROL;
        case XK_Alt_L:
        case XK_Meta_L:
            return KEY_LALT;
        case XK_Alt_R:
        case XK_Meta_R:
        case XK_ISO_Level3_Shift:
            return KEY_RALT;
        case XF86XK_AudioMute:
            return KEY_MUTE;
        case XF86XK_AudioLowerVolume:
            return KEY_VOLUMEDOWN;
        case XF86XK_AudioRaiseVolume:
            return KEY_VOLUMEUP;
        default:
            return 0;
    }
}

}  // namespace

int KeyCodeFromKeySym(KeySym sym) {
    if (int code = PrintableCode(sym)) return code;
    if (int code = KeypadCode(sym)) return code;
    return FunctionCode(sym);
}

int KeyCodeFromKeyPosition(unsigned int x_keycode) {
    if (x_keycode < kEvdevOffset) return 0;
    unsigned int code = x_keycode - kEvdevOffset;
    if (code == kLinuxKey102nd) return KEY_BACKSLASH2;
    char c = RowChar(kDigitRow, sizeof kDigitRow - 1, 2, code);
    if (!c) c = RowChar(kUpperRow, sizeof kUpperRow - 1, 16, code);
    if (!c) c = RowChar(kHomeRow, sizeof kHomeRow - 1, 30, code);
    if (!c) c = RowChar(kLowerRow, sizeof kLowerRow - 1, 43, code);
    return c ? PrintableCode(static_cast<unsigned char>(c)) : 0;
}

int TypedCharFromKey(KeySym sym, const char* text, int text_length) {
    // A control combination (Ctrl+A) types the control character the server
    // looked up, not the letter.
    if (text_length == 1 && static_cast<unsigned char>(text[0]) < 32) {
        return static_cast<unsigned char>(text[0]);
    }
    if ((sym >= 0x20 && sym <= 0x7e) || (sym >= 0xa0 && sym <= 0xff)) return static_cast<int>(sym);
    // KeySyms 0x01000000 + U stand for the Unicode character U.
    if ((sym & 0xff000000UL) == 0x01000000UL) return static_cast<int>(sym & 0x00ffffffUL);
    if (sym >= XK_KP_Multiply && sym <= XK_KP_9) return static_cast<int>(sym - XK_KP_Space);
    switch (sym) {
        case XK_BackSpace:
            return 8;
        case XK_Tab:
        case XK_ISO_Left_Tab:
            return 9;
        case XK_Return:
        case XK_KP_Enter:
            return 13;
        case XK_Escape:
            return 27;
        case XK_KP_Space:
            return 32;
        case XK_KP_Equal:
            return '=';
        case XK_Delete:
            return 127;
        case XK_EuroSign:
            return 0x20ac;
        default:
            break;
    }
    if (text_length == 1) return static_cast<unsigned char>(text[0]);
    return 0;
}

}  // namespace media::detail
