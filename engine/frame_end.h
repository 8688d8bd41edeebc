// The end of every frame of every screen: the settings panel step, the pause
// menu during a game, screenshots, the debug overlay, notices and pointer,
// the pointer values for the next frame, pacing to 60 frames per second,
// presenting, the frame rate and the close request. Also the notice list.
#pragma once

#include <list>
#include <string>
#include <string_view>

namespace engine {

// One line of the notice list at the bottom left of the screen.
struct Notice {
    int tick = 0;     // frames shown so far
    std::string txt;  // the text
    int c = 0;        // the caller's number; does not affect drawing
};

// 0 or 1, flips at the end of every FrameEnd.
extern int FrameParity;
// Millisecs() at the end of the previous FrameEnd.
extern int FrameStart;
// Milliseconds of the last frame.
extern int FrameTime;
// The smoothed frame rate.
extern int CurrentFps;
// 1 while the debug overlay is shown (F12 toggles it).
extern int OverlayOn;
// The last memory collection result.
extern int CollectCount;
// 1 while the settings panel should be shown (Tab toggles it).
extern int SettingsOpen;
// Millisecs() when the game started, shifted by the time spent paused.
extern int GameStartTime;
// The pointer in logical pixels this frame and the frame before.
extern int PointerX, PointerY, PrevPointerX, PrevPointerY;
// Mouse presses (left, right) taken this frame.
extern int LeftClick, RightClick;
// The notices in order of arrival.
extern std::list<Notice> NoticeList;
// Working y while the notices are drawn.
extern int NoticeY;

// Ends a frame; returns the pause menu's result (1 continue, 99 quit) when it opened, else 0.
// Note: a Quit chosen in a frame end nested in this one is returned here too.
// Note: targetRate and flag do not change the behaviour; the pace is always 60 per second.
int FrameEnd(int targetRate, int flag, int showPointer);
// Appends a notice that is shown for 180 frames.
void AddNotice(const std::string& text, int c);
// Runs the pause menu until Continue (returns 1) or Quit (returns 99) is chosen.
int PauseMenu();
// Saves the frame being drawn as a PNG beside the game folder and adds a notice.
void TakeScreenshot();
// Returns text without the characters # ' , ` . \ / : | * ? and ".
std::string SanitiseFileName(std::string_view text);
// Returns the screenshot's file name for a date and time text.
std::string ScreenshotName(const std::string& date, const std::string& time);
// Resets the frame-end state (parity, rate, pointer values, notices; overlay on).
// Note: FrameStart becomes Millisecs() of the clock in use.
void ResetFrameEnd();

}  // namespace engine
