// Checks the private test X server helper: it starts, names a display that
// Xlib can open, and restores DISPLAY when it stops.
#include <gtest/gtest.h>

// Xlib after gtest: its None and Bool macros break gtest headers.
#include <X11/Xlib.h>

#include <cstdlib>
#include <string>

#include "tests/support/xvfb.h"

TEST(XvfbServerTest, StartsOpensAndRestoresDisplay) {
    const char* before = std::getenv("DISPLAY");
    std::string before_text = before ? before : "";
    {
        zqtest::XvfbServer server;
        ASSERT_TRUE(server.Ok());
        EXPECT_EQ(server.Display(), std::getenv("DISPLAY"));
        Display* d = XOpenDisplay(nullptr);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(DisplayWidth(d, DefaultScreen(d)), 1024);
        EXPECT_EQ(DisplayHeight(d, DefaultScreen(d)), 768);
        XCloseDisplay(d);
    }
    const char* after = std::getenv("DISPLAY");
    EXPECT_EQ(before_text, after ? after : "");
}
