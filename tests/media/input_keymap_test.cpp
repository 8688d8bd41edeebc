// Checks the X keyboard translation: KeySyms onto the key codes the controls
// name, the position fallback for other layouts, and typed characters.
#include <gtest/gtest.h>

// X headers after gtest: their macros clash with gtest's.
#include <X11/XF86keysym.h>
#include <X11/keysym.h>

#include "engine/media/desktop/x11_keymap.h"
#include "engine/media/key_codes.h"

namespace {

using media::detail::KeyCodeFromKeyPosition;
using media::detail::KeyCodeFromKeySym;
using media::detail::TypedCharFromKey;

struct SymCase {
    KeySym sym;
    int code;
};

void ExpectCodes(const std::initializer_list<SymCase>& cases) {
    for (const SymCase& c : cases) {
        EXPECT_EQ(KeyCodeFromKeySym(c.sym), c.code) << "keysym 0x" << std::hex << c.sym;
    }
}

TEST(KeyCodeFromKeySymTest, LettersAndDigitsUseTheirUpperCaseAsciiCodes) {
    for (KeySym s = XK_a; s <= XK_z; ++s) EXPECT_EQ(KeyCodeFromKeySym(s), int('A' + (s - XK_a)));
    for (KeySym s = XK_A; s <= XK_Z; ++s) EXPECT_EQ(KeyCodeFromKeySym(s), int('A' + (s - XK_A)));
    for (KeySym s = XK_0; s <= XK_9; ++s) EXPECT_EQ(KeyCodeFromKeySym(s), int('0' + (s - XK_0)));
}

TEST(KeyCodeFromKeySymTest, FunctionAndEditingKeysMatchTheNameTable) {
    ExpectCodes({{XK_BackSpace, 8},  {XK_Tab, 9},          {XK_ISO_Left_Tab, 9}, {XK_Clear, 12},
                 {XK_Return, 13},    {XK_Pause, 19},       {XK_Caps_Lock, 20},   {XK_Escape, 27},
                 {XK_space, 32},     {XK_Prior, 33},       {XK_Next, 34},        {XK_End, 35},
                 {XK_Home, 36},      {XK_Left, 37},        {XK_Up, 38},          {XK_Right, 39},
                 {XK_Down, 40},      {XK_Select, 41},      {XK_Print, 42},       {XK_Execute, 43},
                 {XK_Insert, 45},    {XK_Delete, 46},      {XK_Super_L, 91},     {XK_Super_R, 92},
                 {XK_Num_Lock, 144}, {XK_Scroll_Lock, 145}});
    for (int n = 0; n < 12; ++n) EXPECT_EQ(KeyCodeFromKeySym(XK_F1 + n), 112 + n);
    EXPECT_EQ(KeyCodeFromKeySym(XK_F4), media::KEY_F4);
    EXPECT_EQ(KeyCodeFromKeySym(XK_F13), 0);
}

TEST(KeyCodeFromKeySymTest, ModifiersTellLeftFromRight) {
    ExpectCodes({{XK_Shift_L, 160},
                 {XK_Shift_R, 161},
                 {XK_Control_L, 162},
                 {XK_Control_R, 163},
                 {XK_Alt_L, 164},
                 {XK_Meta_L, 164},
                 {XK_Alt_R, 165},
                 {XK_ISO_Level3_Shift, 165}});
}

TEST(KeyCodeFromKeySymTest, NumericPadGivesTheSameCodeWithNumLockOnOrOff) {
    // Without Num Lock the pad's first symbol is the cursor meaning.
    const KeySym off[] = {XK_KP_Insert, XK_KP_End,   XK_KP_Down, XK_KP_Next, XK_KP_Left,
                          XK_KP_Begin,  XK_KP_Right, XK_KP_Home, XK_KP_Up,   XK_KP_Prior};
    for (int n = 0; n < 10; ++n) {
        EXPECT_EQ(KeyCodeFromKeySym(XK_KP_0 + n), 96 + n);
        EXPECT_EQ(KeyCodeFromKeySym(off[n]), 96 + n);
    }
    ExpectCodes({{XK_KP_Multiply, 106},
                 {XK_KP_Add, 107},
                 {XK_KP_Subtract, 109},
                 {XK_KP_Decimal, 110},
                 {XK_KP_Delete, 110},
                 {XK_KP_Divide, 111},
                 {XK_KP_Enter, 13}});
}

TEST(KeyCodeFromKeySymTest, PunctuationAndMediaKeysMatchTheNameTable) {
    ExpectCodes({{XK_semicolon, 186},
                 {XK_equal, 187},
                 {XK_comma, 188},
                 {XK_minus, 189},
                 {XK_period, 190},
                 {XK_slash, 191},
                 {XK_apostrophe, 192},
                 {XK_bracketleft, 219},
                 {XK_backslash, 220},
                 {XK_bracketright, 221},
                 {XK_numbersign, 222},
                 {XK_grave, 223},
                 {XK_less, 226},
                 {XF86XK_AudioMute, 173},
                 {XF86XK_AudioLowerVolume, 174},
                 {XF86XK_AudioRaiseVolume, 175}});
}

TEST(KeyCodeFromKeySymTest, SymbolsWithoutACodeGiveZero) {
    ExpectCodes({{NoSymbol, 0},
                 {XK_udiaeresis, 0},
                 {XK_eacute, 0},
                 {XK_ampersand, 0},
                 {XK_Menu, 0},
                 {0x1000430, 0}});
}

TEST(KeyCodeFromKeyPositionTest, GivesTheUsLayoutKeyAtEachPosition) {
    // X key positions are Linux input codes + 8.
    EXPECT_EQ(KeyCodeFromKeyPosition(2 + 8), '1');
    EXPECT_EQ(KeyCodeFromKeyPosition(11 + 8), '0');
    EXPECT_EQ(KeyCodeFromKeyPosition(12 + 8), media::KEY_MINUS);
    EXPECT_EQ(KeyCodeFromKeyPosition(16 + 8), 'Q');
    EXPECT_EQ(KeyCodeFromKeyPosition(26 + 8), media::KEY_OPENBRACKET);
    EXPECT_EQ(KeyCodeFromKeyPosition(27 + 8), media::KEY_CLOSEBRACKET);
    EXPECT_EQ(KeyCodeFromKeyPosition(30 + 8), 'A');
    EXPECT_EQ(KeyCodeFromKeyPosition(39 + 8), media::KEY_SEMICOLON);
    EXPECT_EQ(KeyCodeFromKeyPosition(41 + 8), media::KEY_TILDE);
    EXPECT_EQ(KeyCodeFromKeyPosition(43 + 8), media::KEY_BACKSLASH);
    EXPECT_EQ(KeyCodeFromKeyPosition(44 + 8), 'Z');
    EXPECT_EQ(KeyCodeFromKeyPosition(53 + 8), media::KEY_SLASH);
    EXPECT_EQ(KeyCodeFromKeyPosition(86 + 8), media::KEY_BACKSLASH2);
}

TEST(KeyCodeFromKeyPositionTest, PositionsOutsideTheRowsGiveZero) {
    for (unsigned int k :
         {0u, 7u, 8u, 1u + 8, 14u + 8, 15u + 8, 28u + 8, 42u + 8, 54u + 8, 200u, 255u, 100000u}) {
        EXPECT_EQ(KeyCodeFromKeyPosition(k), 0) << k;
    }
}

TEST(TypedCharFromKeyTest, PrintableLatin1AndUnicodeSymbols) {
    EXPECT_EQ(TypedCharFromKey(XK_a, "a", 1), 'a');
    EXPECT_EQ(TypedCharFromKey(XK_A, "A", 1), 'A');
    EXPECT_EQ(TypedCharFromKey(XK_space, " ", 1), ' ');
    EXPECT_EQ(TypedCharFromKey(XK_asciitilde, "~", 1), '~');
    EXPECT_EQ(TypedCharFromKey(XK_udiaeresis, "\xFC", 1), 0xFC);
    EXPECT_EQ(TypedCharFromKey(XK_nobreakspace, "\xA0", 1), 0xA0);
    // Above Latin-1: code points beyond 255 reach the caller unchanged.
    EXPECT_EQ(TypedCharFromKey(0x1000430, "", 0), 0x430);
    EXPECT_EQ(TypedCharFromKey(XK_EuroSign, "", 0), 0x20AC);
}

TEST(TypedCharFromKeyTest, ControlKeysAndCombinationsTypeControlCodes) {
    EXPECT_EQ(TypedCharFromKey(XK_BackSpace, "\b", 1), 8);
    EXPECT_EQ(TypedCharFromKey(XK_Return, "\r", 1), 13);
    EXPECT_EQ(TypedCharFromKey(XK_KP_Enter, "\r", 1), 13);
    EXPECT_EQ(TypedCharFromKey(XK_Escape, "\x1b", 1), 27);
    EXPECT_EQ(TypedCharFromKey(XK_Tab, "", 0), 9);
    // Ctrl+A looks up as the letter with the text \x01: the letter is not typed.
    EXPECT_EQ(TypedCharFromKey(XK_a, "\x01", 1), 1);
}

TEST(TypedCharFromKeyTest, NumericPadTypesItsCharacter) {
    EXPECT_EQ(TypedCharFromKey(XK_KP_7, "7", 1), '7');
    EXPECT_EQ(TypedCharFromKey(XK_KP_0, "", 0), '0');
    EXPECT_EQ(TypedCharFromKey(XK_KP_Multiply, "", 0), '*');
    EXPECT_EQ(TypedCharFromKey(XK_KP_Decimal, "", 0), '.');
    EXPECT_EQ(TypedCharFromKey(XK_KP_Equal, "", 0), '=');
}

TEST(TypedCharFromKeyTest, KeysThatTypeNothingGiveZero) {
    const KeySym silent[] = {XK_Shift_L, XK_Control_R, XK_F1,   XK_Up,
                             XK_KP_Home, XK_Caps_Lock, NoSymbol};
    for (KeySym s : silent) {
        EXPECT_EQ(TypedCharFromKey(s, "", 0), 0) << std::hex << s;
    }
}

}  // namespace
