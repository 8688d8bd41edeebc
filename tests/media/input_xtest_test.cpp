// Drives a real window under the test X server with XTest from a second
// connection: keys, typed characters, mouse buttons, the wheel, losing focus
// while a key is held, and the window manager's close request.
#include <gtest/gtest.h>

// Xlib after gtest: its None and Bool macros break gtest headers.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <functional>
#include <string>

#include "engine/media/graphics.h"
#include "engine/media/input.h"
#include "tests/support/fake_devices.h"
#include "tests/support/wait.h"
#include "tests/support/xvfb.h"

namespace {

constexpr char kTitle[] = "zq input xtest window";
// How long the window may take to see an event.
constexpr int kWaitMs = 5000;

class InputXTestTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ZQ_REQUIRE_X(zqtest::SharedXvfb().Ok(), "Xvfb did not start");
        media::SetAppTitle(kTitle);
        ASSERT_NE(media::OpenGraphics(320, 240), nullptr);
        sender_ = XOpenDisplay(nullptr);
        ASSERT_NE(sender_, nullptr);
        int event_base, error_base, major, minor;
        ASSERT_TRUE(XTestQueryExtension(sender_, &event_base, &error_base, &major, &minor));
        // Wait until the window is mapped, then give it the keyboard and put
        // the pointer over it.
        ASSERT_TRUE(zqtest::WaitFor([&] {
            media::KeyDown(media::KEY_A);  // lets the window handle its events
            window_ = zqtest::FindTitledWindow(sender_, kTitle);
            return window_ != 0;
        }, kWaitMs));
        XSetInputFocus(sender_, window_, RevertToParent, CurrentTime);
        MovePointer(10, 10);
        XSync(sender_, False);
        media::FlushKeys();
        media::AppTerminate();
    }
    void TearDown() override {
        if (sender_) {
            XSetInputFocus(sender_, PointerRoot, RevertToPointerRoot, CurrentTime);
            XSync(sender_, False);
            XCloseDisplay(sender_);
        }
        media::CloseGraphics();
        media::FlushKeys();
    }

    // Moves the pointer to window pixel x, y.
    void MovePointer(int x, int y) {
        int root_x = 0, root_y = 0;
        Window child = 0;
        XTranslateCoordinates(sender_, window_, DefaultRootWindow(sender_), x, y, &root_x, &root_y,
                              &child);
        XTestFakeMotionEvent(sender_, DefaultScreen(sender_), root_x, root_y, CurrentTime);
        XSync(sender_, False);
    }
    void Key(KeySym sym, bool press) {
        XTestFakeKeyEvent(sender_, XKeysymToKeycode(sender_, sym), press, CurrentTime);
        XSync(sender_, False);
    }
    // Maps a window of the sender and waits until it can take the focus.
    bool MapAndWait(Window w) {
        XMapWindow(sender_, w);
        XSync(sender_, False);
        return zqtest::WaitFor([&] {
            XWindowAttributes attributes{};
            return XGetWindowAttributes(sender_, w, &attributes) &&
                   attributes.map_state == IsViewable;
        }, kWaitMs);
    }
    // Sends the window manager's close request to the window.
    void SendCloseRequest() { zqtest::SendCloseRequest(sender_, window_); }
    void Button(unsigned int button, bool press) {
        XTestFakeButtonEvent(sender_, button, press, CurrentTime);
        XSync(sender_, False);
    }

    Display* sender_ = nullptr;
    Window window_ = 0;
};

TEST_F(InputXTestTest, KeysArriveAsHeldStatesPressesAndCharacters) {
    Key(XK_Shift_L, true);
    Key(XK_z, true);
    ASSERT_TRUE(zqtest::WaitFor([] { return media::KeyDown(media::KEY_Z) == 1; }, kWaitMs));
    EXPECT_EQ(media::KeyDown(media::KEY_LSHIFT), 1);
    Key(XK_z, false);
    Key(XK_Shift_L, false);
    ASSERT_TRUE(zqtest::WaitFor([] { return media::KeyDown(media::KEY_LSHIFT) == 0; }, kWaitMs));
    EXPECT_EQ(media::KeyDown(media::KEY_Z), 0);
    Key(XK_z, true);
    Key(XK_z, false);
    Key(XK_Return, true);
    Key(XK_Return, false);
    ASSERT_TRUE(zqtest::WaitFor([] { return media::KeyHit(media::KEY_RETURN) == 1; }, kWaitMs));
    EXPECT_EQ(media::KeyHit(media::KEY_Z), 2);
    EXPECT_EQ(media::KeyHit(media::KEY_Z), 0);
    EXPECT_EQ(media::GetChar(), 'Z');
    EXPECT_EQ(media::GetChar(), 'z');
    EXPECT_EQ(media::GetChar(), 13);
    EXPECT_EQ(media::GetChar(), 0);
}

TEST_F(InputXTestTest, ASnapshotAnswersFromOneLookAtTheWindow) {
    {
        media::InputSnapshot snapshot;
        Key(XK_b, true);
        // The press is at the window now, but nothing inside the snapshot looks.
        int seen = 0;
        for (int i = 0; i < 1000; ++i) seen += media::KeyDown(media::KEY_A + 1);
        EXPECT_EQ(seen, 0);
    }
    EXPECT_TRUE(zqtest::WaitFor([] { return media::KeyDown(media::KEY_A + 1) == 1; }, kWaitMs));
    Key(XK_b, false);
    EXPECT_TRUE(zqtest::WaitFor([] { return media::KeyDown(media::KEY_A + 1) == 0; }, kWaitMs));
}

TEST_F(InputXTestTest, ButtonsArriveAndTheWheelIsNoButton) {
    MovePointer(100, 50);
    ASSERT_TRUE(zqtest::WaitFor([] { return media::MouseX() == 100 && media::MouseY() == 50; }, kWaitMs));
    Button(1, true);
    ASSERT_TRUE(zqtest::WaitFor([] { return media::MouseDown(media::MOUSE_LEFT) == 1; }, kWaitMs));
    Button(3, true);
    ASSERT_TRUE(zqtest::WaitFor([] { return media::MouseDown(media::MOUSE_RIGHT) == 1; }, kWaitMs));
    EXPECT_EQ(media::MouseDown(media::MOUSE_MIDDLE), 0);
    Button(1, false);
    Button(3, false);
    ASSERT_TRUE(zqtest::WaitFor([] { return media::MouseDown(media::MOUSE_RIGHT) == 0; }, kWaitMs));
    EXPECT_EQ(media::MouseDown(media::MOUSE_LEFT), 0);
    EXPECT_EQ(media::MouseHit(media::MOUSE_LEFT), 1);
    EXPECT_EQ(media::MouseHit(media::MOUSE_RIGHT), 1);

    for (unsigned int wheel : {4u, 5u}) {
        Button(wheel, true);
        Button(wheel, false);
    }
    // A key press after the wheel marks that the wheel events were handled.
    Key(XK_space, true);
    Key(XK_space, false);
    ASSERT_TRUE(zqtest::WaitFor([] { return media::KeyHit(media::KEY_SPACE) == 1; }, kWaitMs));
    for (int b = 1; b <= 3; ++b) EXPECT_EQ(media::MouseHit(b), 0) << b;
}

TEST_F(InputXTestTest, FocusInAChildKeepsKeysAndLosingItReleasesThem) {
    Key(XK_Left, true);
    ASSERT_TRUE(zqtest::WaitFor([] { return media::KeyDown(media::KEY_LEFT) == 1; }, kWaitMs));
    // Focus moving into a child of the window keeps the keyboard with us. A
    // close request sent after the focus change arrives after its events, so
    // once it is seen they have been handled.
    Window child = XCreateSimpleWindow(sender_, window_, 0, 0, 20, 20, 0, 0, 0);
    ASSERT_TRUE(MapAndWait(child));
    XSetInputFocus(sender_, child, RevertToParent, CurrentTime);
    SendCloseRequest();
    ASSERT_TRUE(zqtest::WaitFor([] { return media::AppTerminate() == 1; }, kWaitMs));
    EXPECT_EQ(media::KeyDown(media::KEY_LEFT), 1);

    // Another window takes the keyboard while the key is still down.
    Window other =
        XCreateSimpleWindow(sender_, DefaultRootWindow(sender_), 400, 400, 50, 50, 0, 0, 0);
    ASSERT_TRUE(MapAndWait(other));
    XSetInputFocus(sender_, other, RevertToParent, CurrentTime);
    XSync(sender_, False);
    EXPECT_TRUE(zqtest::WaitFor([] { return media::KeyDown(media::KEY_LEFT) == 0; }, kWaitMs));
    Key(XK_Left, false);
    XDestroyWindow(sender_, child);
    XDestroyWindow(sender_, other);
    XSync(sender_, False);
}

TEST_F(InputXTestTest, CloseRequestIsReportedOnce) {
    SendCloseRequest();
    ASSERT_TRUE(zqtest::WaitFor([] { return media::AppTerminate() == 1; }, kWaitMs));
    EXPECT_EQ(media::AppTerminate(), 0);
    // The window is still open: closing is the program's decision.
    EXPECT_TRUE(media::GraphicsOpen());
}

}  // namespace
