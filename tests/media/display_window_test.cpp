// Tests of the X11 window on a private Xvfb: the mode list and its fallback
// when the video-mode extension is missing, a display that cannot be opened,
// the title, the window manager's close request, full screen on the desktop
// size, and pointer warping through the virtual resolution.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/media/asset_read.h"
#include "engine/media/desktop/desktop.h"
#include "engine/media/desktop/display.h"
#include "engine/media/graphics.h"
#include "engine/media/input.h"
#include "tests/support/fake_devices.h"
#include "tests/support/xvfb.h"

using namespace media;

namespace {

class DisplayTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ZQ_REQUIRE_X(zqtest::SharedXvfb().Ok(), "Xvfb did not start");
        SetGraphicsDriver(GLDraw2DDriver(), 2);
        other_ = XOpenDisplay(nullptr);
        ASSERT_NE(other_, nullptr);
    }
    void TearDown() override {
        CloseGraphics();
        detail::SetVidModeDisabled(false);
        if (other_) XCloseDisplay(other_);
    }
    Display* other_ = nullptr;
};

}  // namespace

TEST_F(DisplayTest, ModeListOffersTheDesktopSize) {
    ASSERT_GE(CountGraphicsModes(), 1);
    EXPECT_TRUE(GraphicsModeExists(1024, 768, 0, 0));
    int w, h, d, hz;
    ASSERT_TRUE(GetGraphicsMode(0, w, h, d, hz));
    EXPECT_GT(w, 0);
    EXPECT_EQ(d, 32);  // a 24-bit screen stores 32 bits per pixel
}

TEST_F(DisplayTest, MissingVideoModeExtensionFallsBackToTheDesktop) {
    detail::SetVidModeDisabled(true);
    ASSERT_EQ(CountGraphicsModes(), 1);
    int w, h, d, hz;
    ASSERT_TRUE(GetGraphicsMode(0, w, h, d, hz));
    EXPECT_EQ(w, 1024);
    EXPECT_EQ(h, 768);
    EXPECT_EQ(d, 32);
    EXPECT_EQ(hz, 60);
    // Full screen at the desktop size still opens and covers the screen.
    ASSERT_NE(OpenGraphics(1024, 768, 32, 60, 0), nullptr);
    EXPECT_EQ(OpenGraphics(800, 600, 32, 60, 0), nullptr);  // not a listed mode
    EXPECT_FALSE(GraphicsOpen());
}

TEST_F(DisplayTest, UnopenableDisplayGivesNullNotACrash) {
    std::string saved = std::getenv("DISPLAY");
    setenv("DISPLAY", ":59999", 1);
    EXPECT_EQ(OpenGraphics(320, 240, 0, 60, 0), nullptr);
    EXPECT_EQ(CountGraphicsModes(), 0);
    setenv("DISPLAY", saved.c_str(), 1);
    DrawRect(0, 0, 10, 10);  // no window: harmless
}

TEST_F(DisplayTest, WindowCarriesTheTitleAndReportsTheCloseRequest) {
    SetAppTitle("Zarquill close test");
    ASSERT_NE(OpenGraphics(320, 240, 0, 60, 0), nullptr);
    const Window w = zqtest::FindTitledWindow(other_, "Zarquill close test");
    ASSERT_NE(w, 0u);
    EXPECT_EQ(AppTerminate(), 0);

    zqtest::SendCloseRequest(other_, w);

    int seen = 0;
    for (int tries = 0; tries < 500 && !seen; ++tries) {
        seen = AppTerminate();
        if (!seen) XSync(detail::CurrentDisplay(), False);
    }
    EXPECT_EQ(seen, 1);
    EXPECT_EQ(AppTerminate(), 0);  // reported once
    CloseGraphics();
    XSync(other_, False);
    EXPECT_EQ(zqtest::FindTitledWindow(other_, "Zarquill close test", false), 0u);
}

TEST_F(DisplayTest, MoveVirtualMouseWarpsThroughTheScale) {
    ASSERT_NE(OpenGraphics(400, 300, 0, 60, 0), nullptr);
    SetVirtualResolution(800, 600);
    MoveVirtualMouse(200, 100);
    XSync(detail::CurrentDisplay(), False);
    Window w = zqtest::FindTitledWindow(other_, AppTitle());
    ASSERT_NE(w, 0u);
    Window root, child;
    int rx, ry, wx, wy;
    unsigned mask;
    ASSERT_TRUE(XQueryPointer(other_, w, &root, &child, &rx, &ry, &wx, &wy, &mask));
    EXPECT_EQ(wx, 100);
    EXPECT_EQ(wy, 50);
    EXPECT_FLOAT_EQ(VirtualMouseX(), 200);
    EXPECT_FLOAT_EQ(VirtualMouseY(), 100);
}

TEST(DisplayModePick, SizeAndRateDecideTheModeLine) {
    // The first line is the mode in use, as the video-mode extension lists it.
    const std::vector<TGraphicsMode> lines = {
        {1024, 768, 0, 60}, {800, 600, 0, 75}, {800, 600, 0, 60}, {640, 480, 0, 72}};
    struct Case {
        int width, height, hertz, want;
    };
    const Case cases[] = {
        {800, 600, 60, 2},    // the rate asked for, not the first line of that size
        {800, 600, 75, 1},    //
        {800, 600, 85, 1},    // rate not listed: the first line of that size
        {800, 600, 0, 1},     // any rate
        {1024, 768, 60, 0},   // already in use
        {640, 480, 60, 3},    //
        {1280, 1024, 60, -1}  // size not listed
    };
    for (const Case& c : cases) {
        EXPECT_EQ(detail::PickModeLine(lines, c.width, c.height, c.hertz), c.want)
            << c.width << "x" << c.height << "@" << c.hertz;
    }
}

TEST(DisplayOpenRetry, TriesAgainForAboutTwoSecondsLoggingEachRefusal) {
    std::vector<std::string> lines;
    SetLoadFailureSink([&lines](std::string_view line) { lines.emplace_back(line); });
    struct Case {
        int refusals;
        bool opened;
        int tries;
    };
    const Case cases[] = {{0, true, 1}, {2, true, 3}, {1000, false, detail::kDisplayOpenTries}};
    for (const Case& c : cases) {
        lines.clear();
        int tries = 0, pausedMs = 0;
        const bool opened = detail::RetryDisplayOpen(
            [&] {
                errno = EAGAIN;
                return ++tries > c.refusals;
            },
            [&pausedMs](int ms) { pausedMs += ms; });
        EXPECT_EQ(opened, c.opened);
        EXPECT_EQ(tries, c.tries);
        ASSERT_EQ(lines.size(), static_cast<size_t>(c.opened ? c.tries - 1 : c.tries));
        if (!lines.empty()) {
            EXPECT_EQ(lines.back(), "\tCould not open the display (try " +
                                        std::to_string(lines.size()) + " of " +
                                        std::to_string(detail::kDisplayOpenTries) +
                                        "): " + std::strerror(EAGAIN));
        }
        EXPECT_LE(pausedMs, 2000);
        EXPECT_GE(pausedMs, opened ? 0 : 1500);
    }
    SetLoadFailureSink(nullptr);
}

TEST_F(DisplayTest, FullScreenGrabsPointerAndKeyboardWhileItHasTheFocus) {
    Window root = DefaultRootWindow(other_);
    auto grabbed_by_us = [&] {
        // Another client's grab fails while ours holds; a grab that succeeds is let go at once.
        int pointer = XGrabPointer(other_, root, False, ButtonPressMask, GrabModeAsync,
                                   GrabModeAsync, None, None, CurrentTime);
        int keyboard =
            XGrabKeyboard(other_, root, False, GrabModeAsync, GrabModeAsync, CurrentTime);
        XUngrabPointer(other_, CurrentTime);
        XUngrabKeyboard(other_, CurrentTime);
        XSync(other_, False);
        return pointer == AlreadyGrabbed && keyboard == AlreadyGrabbed;
    };
    // Polls the window's events until the grab state is as wanted (bounded).
    auto settles_to = [&](bool want) {
        for (int tries = 0; tries < 500; ++tries) {
            KeyDown(KEY_A);
            XSync(detail::CurrentDisplay(), False);
            if (grabbed_by_us() == want) return true;
        }
        return false;
    };
    SetAppTitle("Zarquill grab test");
    ASSERT_NE(OpenGraphics(1024, 768, 32, 60, 0), nullptr);
    Window ours = zqtest::FindTitledWindow(other_, "Zarquill grab test");
    ASSERT_NE(ours, 0u);
    EXPECT_TRUE(grabbed_by_us());

    // Focus taken by another window releases both grabs; focus back takes them again.
    Window elsewhere = XCreateSimpleWindow(other_, root, 0, 0, 10, 10, 0, 0, 0);
    XMapWindow(other_, elsewhere);
    XSync(other_, False);
    XSetInputFocus(other_, elsewhere, RevertToParent, CurrentTime);
    XSync(other_, False);
    EXPECT_TRUE(settles_to(false));
    XSetInputFocus(other_, ours, RevertToParent, CurrentTime);
    XSync(other_, False);
    EXPECT_TRUE(settles_to(true));

    CloseGraphics();
    EXPECT_FALSE(grabbed_by_us());
    XDestroyWindow(other_, elsewhere);
    XSync(other_, False);
}
