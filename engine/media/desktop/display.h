// The X11 window with its GLX context, the display-mode list and full-screen
// mode switching (with the desktop's mode restored on close, at exit and on
// fatal signals), and the event pump that feeds the input state.
// Private to the media layer: exposes Xlib types through x11_bridge.h.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/media/desktop/x11_bridge.h"
#include "engine/media/graphics.h"

namespace media::detail {

// Tries at opening the display, and the pause between two (under 2 s in all):
// a loaded machine's X server may refuse a connection for a moment.
inline constexpr int kDisplayOpenTries = 8;
inline constexpr int kDisplayOpenPauseMs = 250;

// Calls tryOpen until it succeeds, at most kDisplayOpenTries times, calling
// pause(kDisplayOpenPauseMs) between tries and reporting each failed try as a
// media line with errno's text; returns true once a try succeeded.
bool RetryDisplayOpen(const std::function<bool()>& tryOpen, const std::function<void(int)>& pause);

// One open window with a current GL context (RAII: the destructor closes all).
class XWindow {
  public:
    struct Impl;
    // Opens a window (depth 0) or a full-screen window in a listed mode; null on failure.
    // Note: full screen takes the listed mode of that size, depth and hertz (the
    // first of that size when the rate is not listed) and grabs pointer and keyboard.
    static std::unique_ptr<XWindow> Open(int width, int height, int depth, int hertz,
                                         const std::string& title);
    ~XWindow();
    XWindow(const XWindow&) = delete;
    XWindow& operator=(const XWindow&) = delete;

    // Presents the back buffer; interval 1 waits for the vertical blank where supported.
    void Swap(int interval);
    // Returns the window size in pixels.
    int Width() const;
    int Height() const;
    // Changes the title.
    void SetTitle(const std::string& title);
    // Shows or hides the pointer over the window.
    void SetCursorVisible(bool visible);
    // Moves the pointer to window pixel x,y.
    void Warp(int x, int y);
    // Returns the X display.
    Display* XDisplay() const;

    // Makes an unopened window; use Open.
    XWindow();

  private:
    friend void PumpWindowEvents();
    std::unique_ptr<Impl> impl_;
};

// Returns the display modes: the video-mode extension's list, or the desktop's
// current size as the one mode where the extension is missing; empty without a display.
std::vector<TGraphicsMode> QueryDisplayModes();
// Pretends the video-mode extension is missing (tests of the fallback).
void SetVidModeDisabled(bool disabled);
// Puts the desktop's original mode back if a full-screen switch is active.
void RestoreDesktopMode();
// Returns the index of the mode line to switch to for width × height at
// hertz: the first that matches all three, else the first of that size
// (hertz 0 takes the first of that size); -1 when none has that size.
int PickModeLine(const std::vector<TGraphicsMode>& modes, int width, int height, int hertz);
// Sets what runs when the X server connection is lost, before the process
// ends with status 1. It must not call Xlib, GLX or any drawing.
void SetConnectionLostHandler(std::function<void()> handler);

}  // namespace media::detail
