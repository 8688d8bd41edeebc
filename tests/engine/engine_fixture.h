// Shared set-up of the engine tests: a virtual clock that tests can script
// (actions run when time passes a mark, so loops that wait on input can be
// driven without sleeping), the recording drawing driver, every engine
// subsystem reset, and synthetic keyboard and mouse input.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/controls.h"
#include "engine/draw_helpers.h"
#include "engine/frame_end.h"
#include "engine/game_state.h"
#include "engine/graphics_setup.h"
#include "engine/hooks.h"
#include "engine/log.h"
#include "engine/media/clock.h"
#include "engine/media/desktop/x11_bridge.h"
#include "engine/media/graphics.h"
#include "engine/media/input.h"
#include "engine/media/recording_driver.h"
#include "engine/pause_menu.h"
#include "engine/screen_stack.h"
#include "engine/setup_table.h"
#include "engine/sprite_budgets.h"
#include "tests/support/clocks.h"
#include "tests/support/screens.h"
#include "tests/support/temp_dir.h"
#include "tests/support/xvfb.h"

// Xlib's macros (None, Bool, ...) must not reach the headers above.
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace zqtest {

// A virtual clock that runs scripted actions once time reaches their mark.
class ScriptedClock : public media::VirtualClock {
  public:
    void SleepMs(int ms) override {
        media::VirtualClock::SleepMs(ms);
        RunDue();
    }
    // Runs action once the clock reaches at_ms.
    void At(int64_t at_ms, std::function<void()> action) {
        script_.emplace(at_ms, std::move(action));
    }
    // Runs every action whose time has come.
    void RunDue() {
        while (!script_.empty() && script_.begin()->first <= NowMs()) {
            auto action = std::move(script_.begin()->second);
            script_.erase(script_.begin());
            action();
        }
    }
    bool ScriptDone() const { return script_.empty(); }

  private:
    std::multimap<int64_t, std::function<void()>> script_;
};

// Returns an X connection for building key events (null without Xvfb).
inline Display* KeyDisplay() {
    static Display* display =
        SharedXvfb().Ok() ? XOpenDisplay(SharedXvfb().Display().c_str()) : nullptr;
    return display;
}

// Sends a key press or release of an X key symbol into the input state.
inline void SendKey(KeySym sym, bool press) {
    Display* d = KeyDisplay();
    ASSERT_NE(d, nullptr);
    XEvent e{};
    e.type = press ? KeyPress : KeyRelease;
    e.xkey.display = d;
    e.xkey.keycode = XKeysymToKeycode(d, sym);
    e.xkey.same_screen = True;
    media::detail::InputHandleXEvent(e, false);
}

// Sends a mouse button press or release at window pixel x,y.
inline void SendButton(unsigned int button, bool press, int x, int y) {
    XEvent e{};
    e.type = press ? ButtonPress : ButtonRelease;
    e.xbutton.button = button;
    e.xbutton.x = x;
    e.xbutton.y = y;
    media::detail::InputHandleXEvent(e, false);
}

// Moves the pointer to window pixel x,y.
inline void SendMotion(int x, int y) {
    XEvent e{};
    e.type = MotionNotify;
    e.xmotion.x = x;
    e.xmotion.y = y;
    media::detail::InputHandleXEvent(e, false);
}

// Ends a frame as a screen's step does and presents it; when a running game
// asked for its pause menu, runs the menu to its end and returns its result
// (else 0).
inline int EndFrame(int showPointer = 0) {
    const bool pause = engine::EndStep(showPointer);
    engine::PresentFrame();
    return pause ? RunScreen(engine::MakePauseMenu()) : 0;
}

// Base fixture: virtual clock, recording driver with a 1280x960 window whose
// logical screen is the same size, defaults everywhere, empty hooks.
class EngineFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        rec_ = media::UseRecordingDriver();
        engine::SetGraphicsSetupDriver(rec_);
        engine::Hooks() = engine::EngineHooks{};
        engine::Screens().Clear();
        engine::SetupDefaults();
        engine::ResetDrawHelpers();
        engine::ResetGraphicsSetup();
        engine::ResetFrameEnd();
        engine::ResetControls();
        engine::ResetGameState();
        engine::ResetEngineTest();
        media::detail::InputReleaseAll();
        ClearInputCounts();
        media::SetRotation(0);
        media::SetScale(1, 1);
        media::SetColor(255, 255, 255);
        media::SetAlpha(1);
        media::SetImageFont(nullptr);
    }
    void TearDown() override {
        media::detail::InputReleaseAll();
        ClearInputCounts();
        engine::CloseLog();
        engine::Hooks() = engine::EngineHooks{};
        engine::ResetGraphicsSetup();
        engine::SetGraphicsSetupDriver(nullptr);
        media::CloseGraphics();
        media::SetGraphicsDriver(nullptr, 2);
    }
    // Opens the recording window at w x h with a logical screen of the virtual size.
    void OpenWindow(int w = 1280, int h = 960) {
        ASSERT_NE(media::OpenGraphics(w, h, 0, 60, 0), nullptr);
        media::SetVirtualResolution(static_cast<float>(engine::VirtualWidth),
                                    static_cast<float>(engine::VirtualHeight));
        rec_->Clear();
    }
    // Makes an image of n 16x16 frames.
    static std::shared_ptr<media::TImage> Sheet(int frames, int size = 16) {
        auto pm = media::CreatePixmap(size, size);
        std::vector<std::shared_ptr<media::TPixmap>> list(static_cast<size_t>(frames), pm);
        return media::LoadImageFromPixmaps(list, 0);
    }
    // Forgets pending press counts of every key and button.
    static void ClearInputCounts() {
        for (int k = 1; k < media::KEY_COUNT; ++k) media::KeyHit(k);
        for (int b = 1; b <= 3; ++b) media::MouseHit(b);
        while (media::AppTerminate()) {
        }
    }
    // Returns the lines of a log file (CR LF separated).
    static std::vector<std::string> LogLines(const std::string& path) {
        std::string all = ReadWholeFile(path);
        std::vector<std::string> lines;
        size_t start = 0;
        for (size_t pos; (pos = all.find("\r\n", start)) != std::string::npos; start = pos + 2) {
            lines.push_back(all.substr(start, pos - start));
        }
        return lines;
    }

    zqtest::VirtualClockInPlace<ScriptedClock> clock_;
    std::shared_ptr<media::TRecordingDriver> rec_;
};

// Fixture for tests that need key events (skipped without Xvfb).
class KeyFixture : public EngineFixture {
  protected:
    void SetUp() override {
        EngineFixture::SetUp();
        ZQ_REQUIRE_X(KeyDisplay(), "key events");
    }
};

}  // namespace zqtest
