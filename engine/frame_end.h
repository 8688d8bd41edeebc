// The end of every frame of every screen, in two halves. The end of a step
// is portable: the settings toggle and panel, screenshots, the pause request
// during a game, the debug overlay, notices and pointer, the pointer values
// for the next frame and the close request. Presenting and pacing to 60
// frames per second, and the frame rate, belong to the executor that steps
// the screens. Also the notice list.
#pragma once

#include <list>
#include <memory>
#include <string>
#include <string_view>

namespace media {
class TImage;
}

namespace engine {

// One line of the notice list at the bottom left of the screen.
struct Notice {
    int tick = 0;     // frames shown so far
    std::string txt;  // the text
    int c = 0;        // the caller's number; does not affect drawing
};

// 0 or 1, flips with every frame presented.
extern int FrameParity;
// Millisecs() when the previous frame was presented.
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

// Ends a step's frame (everything but presenting it); returns true when a
// running game asked for its pause menu in this frame (MakePauseMenu then
// has the frame as it stood before the overlay).
bool EndStep(int showPointer);
// Paces to 60 frames per second from the previous present, then ShowFrame().
void PresentFrame();
// Returns true once a frame's time (the pacing's 60 per second) has passed
// since the previous frame was shown.
bool FrameTimeReached();
// Presents the frame (every other one on a slow system) and takes the frame
// rate; for executors that pace themselves (the browser's display callback).
void ShowFrame();
// Opens the pause menu at the end of the next step of a running game, as
// Escape does (a browser keeps Escape to end its pointer lock: the page asks so).
void RequestPause();
// Returns true once after a step asked to close the program (Alt+F4, the
// window's close button or a terminate signal).
bool TakeCloseRequest();
// Hands over the frame grabbed when the pause menu was asked for (null when none waits).
std::shared_ptr<media::TImage> TakePauseSnapshot();
// Appends a notice that is shown for 180 frames.
void AddNotice(const std::string& text, int c);
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
