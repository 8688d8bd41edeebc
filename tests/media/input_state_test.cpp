// Checks the input state machine by handing it X events directly: held keys,
// press counts, auto-repeat, focus loss, mouse buttons and the wheel, the
// typed-character ring, FlushKeys, the pointer and the close request.
// Key events are looked up on a connection to the test X server.
#include <gtest/gtest.h>

// Xlib after gtest: its None and Bool macros break gtest headers.
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <string>

#include "engine/media/desktop/x11_bridge.h"
#include "engine/media/input.h"
#include "tests/support/xvfb.h"

namespace {

using media::detail::InputHandleXEvent;

class InputStateTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (zqtest::SharedXvfb().Ok()) display_ = XOpenDisplay(nullptr);
    }
    static void TearDownTestSuite() {
        if (display_) XCloseDisplay(display_);
        display_ = nullptr;
    }
    void SetUp() override {
        media::FlushKeys();
        media::AppTerminate();
        media::detail::SetPointerWindowPosition(0, 0);
    }
    void TearDown() override { media::FlushKeys(); }

    // Returns a key event for the key that carries sym on the test server.
    static XEvent KeyEvent(KeySym sym, bool press, unsigned int state = 0) {
        XEvent event{};
        event.xkey.type = press ? KeyPress : KeyRelease;
        event.xkey.display = display_;
        event.xkey.keycode = display_ ? XKeysymToKeycode(display_, sym) : 0;
        event.xkey.state = state;
        return event;
    }
    static void Press(KeySym sym, unsigned int state = 0, bool repeat = false) {
        InputHandleXEvent(KeyEvent(sym, true, state), repeat);
    }
    static void Release(KeySym sym) { InputHandleXEvent(KeyEvent(sym, false), false); }
    static void Type(KeySym sym, unsigned int state = 0) {
        Press(sym, state);
        Release(sym);
    }
    static void Button(unsigned int x_button, bool press, int x = 0, int y = 0) {
        XEvent event{};
        event.xbutton.type = press ? ButtonPress : ButtonRelease;
        event.xbutton.button = x_button;
        event.xbutton.x = x;
        event.xbutton.y = y;
        InputHandleXEvent(event, false);
    }
    static void LoseFocus(int detail) {
        XEvent event{};
        event.xfocus.type = FocusOut;
        event.xfocus.detail = detail;
        InputHandleXEvent(event, false);
    }
    static Display* display_;
};

Display* InputStateTest::display_ = nullptr;

// --- Keys -----------------------------------------------------------------

TEST_F(InputStateTest, KeyDownFollowsPressAndRelease) {
    ZQ_REQUIRE_X(display_, "key lookups");
    EXPECT_EQ(media::KeyDown(media::KEY_A), 0);
    Press(XK_a);
    EXPECT_EQ(media::KeyDown(media::KEY_A), 1);
    EXPECT_EQ(media::KeyDown(media::KEY_Z), 0);
    Press(XK_Escape);
    Press(XK_Shift_R);
    EXPECT_EQ(media::KeyDown(media::KEY_ESCAPE), 1);
    EXPECT_EQ(media::KeyDown(media::KEY_RSHIFT), 1);
    EXPECT_EQ(media::KeyDown(media::KEY_LSHIFT), 0);
    Release(XK_a);
    EXPECT_EQ(media::KeyDown(media::KEY_A), 0);
    EXPECT_EQ(media::KeyDown(media::KEY_ESCAPE), 1);
}

TEST_F(InputStateTest, KeyHitCountsPressesAndClearsOnRead) {
    ZQ_REQUIRE_X(display_, "key lookups");
    Type(XK_Tab);
    Type(XK_Tab);
    Press(XK_Tab);
    EXPECT_EQ(media::KeyHit(media::KEY_TAB), 3);
    // A second call in the same frame sees no new press.
    EXPECT_EQ(media::KeyHit(media::KEY_TAB), 0);
    EXPECT_EQ(media::KeyDown(media::KEY_TAB), 1);
    // Clearing one key's count leaves the others alone.
    Type(XK_F11);
    Type(XK_F12);
    EXPECT_EQ(media::KeyHit(media::KEY_F11), 1);
    EXPECT_EQ(media::KeyHit(media::KEY_F12), 1);
}

TEST_F(InputStateTest, HeldKeyWithAutoRepeatIsOnePressButTypesEachTime) {
    ZQ_REQUIRE_X(display_, "key lookups");
    Press(XK_b);
    for (int i = 0; i < 3; ++i) Press(XK_b, 0, /*repeat=*/true);
    EXPECT_EQ(media::KeyDown(media::KEY_A + 1), 1);
    EXPECT_EQ(media::KeyHit(media::KEY_A + 1), 1);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(media::GetChar(), 'b');
    EXPECT_EQ(media::GetChar(), 0);
    Release(XK_b);
    EXPECT_EQ(media::KeyDown(media::KEY_A + 1), 0);
}

TEST_F(InputStateTest, ShiftChangesTheCharacterButNotTheKeyCode) {
    ZQ_REQUIRE_X(display_, "key lookups");
    Type(XK_q, ShiftMask);
    Type(XK_q);
    Type(XK_1, ShiftMask);
    Type(XK_Return);
    EXPECT_EQ(media::KeyHit('Q'), 2);
    EXPECT_EQ(media::KeyHit('1'), 1);
    EXPECT_EQ(media::GetChar(), 'Q');
    EXPECT_EQ(media::GetChar(), 'q');
    EXPECT_EQ(media::GetChar(), '!');
    EXPECT_EQ(media::GetChar(), 13);
    EXPECT_EQ(media::GetChar(), 0);
}

TEST_F(InputStateTest, KeyEventWithoutAConnectionIsIgnored) {
    XEvent event{};
    event.xkey.type = KeyPress;
    event.xkey.keycode = 38;
    InputHandleXEvent(event, false);
    for (int k = 1; k < media::KEY_COUNT; ++k) ASSERT_EQ(media::KeyDown(k), 0) << k;
    EXPECT_EQ(media::GetChar(), 0);
}

TEST_F(InputStateTest, KeyCodesOutsideTheTableReadZero) {
    ZQ_REQUIRE_X(display_, "key lookups");
    Press(XK_a);
    for (int k : {-1, 0, 256, 1000}) {
        EXPECT_EQ(media::KeyDown(k), 0) << k;
        EXPECT_EQ(media::KeyHit(k), 0) << k;
    }
}

// --- Focus ------------------------------------------------------------------

TEST_F(InputStateTest, LosingFocusReleasesEveryKeyAndButton) {
    ZQ_REQUIRE_X(display_, "key lookups");
    Press(XK_Left);
    Press(XK_Control_L);
    Button(Button1, true);
    Button(Button3, true);
    LoseFocus(NotifyNonlinear);
    EXPECT_EQ(media::KeyDown(media::KEY_LEFT), 0);
    EXPECT_EQ(media::KeyDown(media::KEY_LCONTROL), 0);
    EXPECT_EQ(media::MouseDown(1), 0);
    EXPECT_EQ(media::MouseDown(2), 0);
    // The presses did happen: they still count once.
    EXPECT_EQ(media::KeyHit(media::KEY_LEFT), 1);
    EXPECT_EQ(media::MouseHit(1), 1);
    // The release that arrives after focus returns does no harm.
    Release(XK_Left);
    EXPECT_EQ(media::KeyDown(media::KEY_LEFT), 0);
}

TEST_F(InputStateTest, RepeatAfterFocusReturnsHoldsTheKeyWithoutANewPress) {
    ZQ_REQUIRE_X(display_, "key lookups");
    Press(XK_Right);
    EXPECT_EQ(media::KeyHit(media::KEY_RIGHT), 1);
    LoseFocus(NotifyNonlinear);
    EXPECT_EQ(media::KeyDown(media::KEY_RIGHT), 0);
    // Focus is back and the key, still held, repeats.
    Press(XK_Right, 0, /*repeat=*/true);
    EXPECT_EQ(media::KeyDown(media::KEY_RIGHT), 1);
    EXPECT_EQ(media::KeyHit(media::KEY_RIGHT), 0);
    Release(XK_Right);
    EXPECT_EQ(media::KeyDown(media::KEY_RIGHT), 0);
}

TEST_F(InputStateTest, FocusMovingIntoAChildWindowKeepsKeysHeld) {
    ZQ_REQUIRE_X(display_, "key lookups");
    Press(XK_Up);
    LoseFocus(NotifyInferior);
    EXPECT_EQ(media::KeyDown(media::KEY_UP), 1);
    media::detail::InputReleaseAll();
    EXPECT_EQ(media::KeyDown(media::KEY_UP), 0);
}

// --- Mouse ------------------------------------------------------------------

TEST_F(InputStateTest, ButtonsMapLeftRightMiddle) {
    Button(Button1, true);
    EXPECT_EQ(media::MouseDown(media::MOUSE_LEFT), 1);
    Button(Button3, true);
    EXPECT_EQ(media::MouseDown(media::MOUSE_RIGHT), 1);
    EXPECT_EQ(media::MouseDown(media::MOUSE_MIDDLE), 0);
    Button(Button2, true);
    EXPECT_EQ(media::MouseDown(media::MOUSE_MIDDLE), 1);
    Button(Button1, false);
    Button(Button3, false);
    EXPECT_EQ(media::MouseDown(media::MOUSE_LEFT), 0);
    EXPECT_EQ(media::MouseDown(media::MOUSE_RIGHT), 0);
    EXPECT_EQ(media::MouseDown(media::MOUSE_MIDDLE), 1);
    EXPECT_EQ(media::MouseHit(media::MOUSE_LEFT), 1);
    EXPECT_EQ(media::MouseHit(media::MOUSE_RIGHT), 1);
    EXPECT_EQ(media::MouseHit(media::MOUSE_MIDDLE), 1);
}

TEST_F(InputStateTest, MouseHitCountsClicksAndClearsOnRead) {
    for (int i = 0; i < 3; ++i) {
        Button(Button1, true);
        Button(Button1, false);
    }
    EXPECT_EQ(media::MouseHit(1), 3);
    EXPECT_EQ(media::MouseHit(1), 0);
    EXPECT_EQ(media::MouseHit(2), 0);
}

TEST_F(InputStateTest, WheelAndExtraButtonsAreNotButtons) {
    for (unsigned int b : {4u, 5u, 6u, 7u, 8u, 9u}) {
        Button(b, true, 10, 20);
        Button(b, false, 10, 20);
        Button(b, true, 10, 20);
    }
    for (int b = 0; b <= 4; ++b) {
        EXPECT_EQ(media::MouseDown(b), 0) << b;
        EXPECT_EQ(media::MouseHit(b), 0) << b;
    }
    // A wheel step still tells where the pointer is.
    EXPECT_EQ(media::MouseX(), 10);
    EXPECT_EQ(media::MouseY(), 20);
}

TEST_F(InputStateTest, PointerFollowsMotionCrossingAndWarps) {
    XEvent motion{};
    motion.xmotion.type = MotionNotify;
    motion.xmotion.x = 123;
    motion.xmotion.y = 45;
    InputHandleXEvent(motion, false);
    EXPECT_EQ(media::MouseX(), 123);
    EXPECT_EQ(media::MouseY(), 45);
    XEvent leave{};
    leave.xcrossing.type = LeaveNotify;
    leave.xcrossing.x = -5;
    leave.xcrossing.y = 900;
    InputHandleXEvent(leave, false);
    EXPECT_EQ(media::detail::PointerWindowX(), -5);
    EXPECT_EQ(media::detail::PointerWindowY(), 900);
    Button(Button1, true, 7, 8);
    EXPECT_EQ(media::MouseX(), 7);
    EXPECT_EQ(media::MouseY(), 8);
    media::detail::SetPointerWindowPosition(320, 240);
    EXPECT_EQ(media::MouseX(), 320);
    EXPECT_EQ(media::MouseY(), 240);
}

// --- Typed characters -------------------------------------------------------

TEST_F(InputStateTest, CharacterRingKeepsTheFirst256AndDropsTheRest) {
    ZQ_REQUIRE_X(display_, "key lookups");
    for (int i = 0; i < 300; ++i) Type(XK_a + i % 26);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(media::GetChar(), 'a' + i % 26) << i;
    EXPECT_EQ(media::GetChar(), 0);
    EXPECT_EQ(media::GetChar(), 0);
}

TEST_F(InputStateTest, CharacterRingKeepsOrderAcrossTheWrap) {
    ZQ_REQUIRE_X(display_, "key lookups");
    std::string typed, read;
    for (int round = 0; round < 10; ++round) {
        for (int i = 0; i < 100; ++i) {
            char c = static_cast<char>('a' + (round * 7 + i) % 26);
            typed += c;
            Type(XK_a + (c - 'a'));
        }
        // Read most, not all: the head moves around the ring.
        for (int i = 0; i < 90; ++i) read += static_cast<char>(media::GetChar());
        ASSERT_LE(typed.size() - read.size(), 256u);
    }
    while (int c = media::GetChar()) read += static_cast<char>(c);
    EXPECT_EQ(read, typed);
}

// --- Flush and close --------------------------------------------------------

TEST_F(InputStateTest, FlushKeysClearsHeldStatesCountsAndCharacters) {
    ZQ_REQUIRE_X(display_, "key lookups");
    Press(XK_Escape);
    Type(XK_x);
    Button(Button1, true);
    media::FlushKeys();
    EXPECT_EQ(media::KeyDown(media::KEY_ESCAPE), 0);
    EXPECT_EQ(media::KeyHit(media::KEY_ESCAPE), 0);
    EXPECT_EQ(media::KeyHit(media::KEY_X), 0);
    EXPECT_EQ(media::MouseDown(1), 0);
    EXPECT_EQ(media::MouseHit(1), 0);
    EXPECT_EQ(media::GetChar(), 0);
    // Input after the flush counts normally.
    Type(XK_x);
    EXPECT_EQ(media::KeyHit(media::KEY_X), 1);
    EXPECT_EQ(media::GetChar(), 'x');
}

TEST_F(InputStateTest, CloseRequestIsReportedOnce) {
    EXPECT_EQ(media::AppTerminate(), 0);
    media::detail::InputPostCloseRequest();
    media::detail::InputPostCloseRequest();
    EXPECT_EQ(media::AppTerminate(), 1);
    EXPECT_EQ(media::AppTerminate(), 0);
    // FlushKeys does not swallow a close request.
    media::detail::InputPostCloseRequest();
    media::FlushKeys();
    EXPECT_EQ(media::AppTerminate(), 1);
}

}  // namespace
