// The end of a step every screen calls once per frame, the executor's
// presenting and pacing, the notice list and screenshots.
#include "engine/frame_end.h"

#include <cmath>
#include <memory>
#include <utility>

#include "engine/draw_helpers.h"
#include "engine/game_state.h"
#include "engine/graphics_setup.h"
#include "engine/hooks.h"
#include "engine/identity.h"
#include "engine/log.h"
#include "engine/media/clock.h"
#include "engine/media/folders.h"
#include "engine/media/graphics.h"
#include "engine/media/input.h"
#include "engine/media/memory.h"
#include "engine/media/paths.h"
#include "engine/media/terminate.h"
#include "engine/media/text.h"
#include "engine/setup_table.h"
#include "engine/sprite_budgets.h"

namespace engine {

namespace {

// A frame lasts until this many milliseconds after the previous frame's end, minus 2.
constexpr double kFrameMs = 1000.0 / 60.0;
// Notices: frames shown, frames highlighted, line spacing.
constexpr int kNoticeFrames = 180;
constexpr int kNoticeHighlightFrames = 60;
constexpr int kNoticeSpacing = 14;
// The pointer icon's frame in the icon sheet.
constexpr int kPointerIconFrame = 63;
// Characters a file name may not hold, removed in this order.
constexpr const char* kBadFileChars = "#',`.\\/:|*?\"";

// What the end of a step left for the pause menu and the executor.
struct StepEndState {
    std::shared_ptr<media::TImage> pauseSnapshot;  // the paused frame, until the menu takes it
    bool closeAsked = false;
    bool pauseAsked = false;  // the platform asked for the pause menu (a pointer lock ended)
};

StepEndState g_stepEnd;

}  // namespace

int FrameParity = 0;
int FrameStart = 0;
int FrameTime = 0;
int CurrentFps = 0;
int OverlayOn = 1;
int CollectCount = 0;
int SettingsOpen = 0;
int GameStartTime = 0;
int PointerX = 0, PointerY = 0, PrevPointerX = 0, PrevPointerY = 0;
int LeftClick = 0, RightClick = 0;
std::list<Notice> NoticeList;
int NoticeY = 0;

namespace {

// Draws the debug overlay at the current scale and colour.
void DrawOverlay() {
    media::DrawText(media::Str(CurrentFps), 2, 2);
    media::SetImageFont(UIFonts[2]);
    media::DrawText("Collection : " + media::Str(CollectCount), 2, 40);
    media::DrawText("Used Memory : " + media::Str(media::MemoryInUse()), 2, 60);
    media::DrawText(
        "Drawn Images : " + media::Str(DrawnCounts[1]) + "/" + media::Str(DrawBudgets[1]), 2, 80);
    media::DrawText("Drawn Glow : " + media::Str(DrawnCounts[2]) + "/" + media::Str(DrawBudgets[2]),
                    2, 100);
    media::DrawText(
        "Drawn Particles : " + media::Str(DrawnCounts[3]) + "/" + media::Str(DrawBudgets[3]), 2,
        120);
    media::DrawText("Hit F12 to remove this", 2, 150);
    media::SetScale(1.5f, 1.5f);
}

// Draws every notice, newest highest, and ages them; a notice leaves after 180 frames.
void DrawNotices() {
    NoticeY = VirtualHeight - 16;
    media::SetScale(1, 1);
    media::SetImageFont(UIFonts[3]);
    for (auto it = NoticeList.begin(); it != NoticeList.end();) {
        Notice& notice = *it;
        ++notice.tick;
        bool fresh = notice.tick < kNoticeHighlightFrames;
        if (fresh) {
            media::SetColor(255, 255, 0);
        } else {
            media::SetColor(0, 0, 0);
        }
        media::SetAlpha(0.7f);
        media::DrawRect(0, static_cast<float>(NoticeY),
                        static_cast<float>(media::TextWidth(notice.txt)),
                        static_cast<float>(media::TextHeight()));
        if (fresh) {
            media::SetColor(0, 0, 0);
        } else {
            media::SetColor(255, 255, 255);
        }
        media::SetAlpha(1);
        media::DrawText(notice.txt, 0, static_cast<float>(NoticeY));
        NoticeY -= kNoticeSpacing;
        if (notice.tick >= kNoticeFrames) {
            it = NoticeList.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace

bool EndStep(int showPointer) {
    bool pause = false;
    if (Hooks().betweenSteps) Hooks().betweenSteps();
    if (media::KeyHit(media::KEY_TAB)) {
        SettingsOpen = 1 - SettingsOpen;
        if (Hooks().saveSetup) Hooks().saveSetup();
    }
    if (FrameParity == 1) CollectCount = media::GCCollect();
    if (FrameParity == 0 || SlowSystem() == 0) {
        if (media::KeyHit(media::KEY_F11)) TakeScreenshot();
        const bool pauseAsked = std::exchange(g_stepEnd.pauseAsked, false);
        if ((media::KeyDown(media::KEY_ESCAPE) || pauseAsked) && InGame == 1) {
            // The menu breathes over the game's frame as it stood before the overlay.
            pause = true;
            g_stepEnd.pauseSnapshot =
                media::CreateImage(ScreenWidth, ScreenHeight, 1, media::DYNAMICIMAGE);
            media::GrabImage(g_stepEnd.pauseSnapshot, 0, 0, 0);
            media::MidHandleImage(g_stepEnd.pauseSnapshot);
        }
    }
    if (Hooks().settingsPanel) Hooks().settingsPanel();

    ResetDrawState();
    media::SetScale(1.5f, 1.5f);
    media::SetImageFont(UIFonts[1]);
    if (media::KeyHit(media::KEY_F12)) OverlayOn = 1 - OverlayOn;
    if (OverlayOn == 1) DrawOverlay();
    if (showPointer == 1 || SettingsOpen == 1) {
        media::DrawImage(IconsImage, media::VirtualMouseX() + 12, media::VirtualMouseY() + 12,
                         kPointerIconFrame);
    }

    PrevPointerX = PointerX;
    PrevPointerY = PointerY;
    PointerX = static_cast<int>(media::VirtualMouseX());
    PointerY = static_cast<int>(media::VirtualMouseY());
    LeftClick = media::MouseHit(media::MOUSE_LEFT);
    RightClick = media::MouseHit(media::MOUSE_RIGHT);

    DrawNotices();

    bool altF4 = media::KeyDown(media::KEY_F4) &&
                 (media::KeyDown(media::KEY_LALT) || media::KeyDown(media::KEY_RALT));
    // A terminate signal takes the same orderly way out as the close button.
    if (altF4 || media::AppTerminate() || media::TerminateRequested() != 0) {
        g_stepEnd.closeAsked = true;
    }
    return pause;
}

bool FrameTimeReached() {
    return media::MillisecsBetween(FrameStart, media::Millisecs()) >= kFrameMs - 2;
}

void PresentFrame() {
    do {
        media::Delay(1);
    } while (!FrameTimeReached());
    ShowFrame();
}

void ShowFrame() {
    if (!(SlowSystem() == 1 && FrameParity == 1)) media::Flip(0);

    FrameTime = media::MillisecsBetween(FrameStart, media::Millisecs());
    // The pacing keeps a frame at least ~15 ms long; a clock that jumped back must not divide by 0.
    int divisor = FrameTime > 0 ? FrameTime : 1;
    CurrentFps = (1000 / divisor + 2 * CurrentFps) / 3;
    FrameStart = media::Millisecs();
    FrameParity = 1 - FrameParity;
}

void RequestPause() {
    g_stepEnd.pauseAsked = true;
}

bool TakeCloseRequest() {
    return std::exchange(g_stepEnd.closeAsked, false);
}

std::shared_ptr<media::TImage> TakePauseSnapshot() {
    return std::move(g_stepEnd.pauseSnapshot);
}

void AddNotice(const std::string& text, int c) {
    NoticeList.push_back(Notice{0, text, c});
}

void TakeScreenshot() {
    WriteLog("");
    WriteLog("\tScreenshot");
    WriteLog("\tGrabbing Screenshot");
    auto pixmap = media::GrabPixmap(0, 0, ScreenWidth, ScreenHeight);
    ResetDrawState();
    if (pixmap) {
        for (int x = 0; x < pixmap->width; ++x) {
            for (int y = 0; y < pixmap->height; ++y) {
                pixmap->WritePixel(x, y, (pixmap->ReadPixel(x, y) & 0xFFFFFFu) | 0xFF000000u);
            }
        }
    }
    media::SetImageFont(UIFonts[5]);
    DrawTextAligned(VirtualWidth / 2, VirtualHeight / 2 - 30, "Saving Screenshot", 1, 1);
    media::SetImageFont(UIFonts[6]);
    DrawTextAligned(VirtualWidth / 2, VirtualHeight / 2 + 30, "Sometimes, this takes a while!", 1,
                    1);
    media::Flip(-1);

    std::string date, time;
    media::CurrentDateAndTime(date, time);
    std::string name = ScreenshotName(date, time);
    WriteLog("\tSaving Screenshot : " + name);
    // The folder is fixed at start-up ("Files/"; before that, the one above
    // the game folder), so no change of the current folder can move the file.
    const std::string folder = media::ProgramPathOr(media::ProgramPaths().screenshotDir, "../");
    // The installed layout's pictures folder is made by the first screenshot.
    if (media::ProgramPaths().installed) media::MakeFolders(folder, media::kPrivateFolderMode);
    int saved = media::SavePixmapPNG(pixmap, folder + name, 9);
    WriteLog("\tSaved Screenshot " + media::Str(saved));
    WriteLog("");
    // A screenshot that could not be written (a full disk, a read-only
    // folder) must not be reported as saved.
    AddNotice(saved ? "Saved Screenshot" : "Couldn't save the screenshot!", 1);
}

std::string SanitiseFileName(std::string_view text) {
    std::string result(text);
    for (const char* bad = kBadFileChars; *bad; ++bad) {
        std::string kept;
        kept.reserve(result.size());
        for (char ch : result) {
            if (ch != *bad) kept += ch;
        }
        result = std::move(kept);
    }
    return result;
}

std::string ScreenshotName(const std::string& date, const std::string& time) {
    return SanitiseFileName(std::string(SeriesName) + " " + SeriesGen + " (Screenshot_" + date +
                            "_" + time + ")") +
           ".png";
}

void ResetFrameEnd() {
    FrameParity = 0;
    FrameStart = media::Millisecs();
    FrameTime = 0;
    CurrentFps = 0;
    OverlayOn = 1;
    CollectCount = 0;
    SettingsOpen = 0;
    GameStartTime = 0;
    PointerX = PointerY = PrevPointerX = PrevPointerY = 0;
    LeftClick = RightClick = 0;
    NoticeList.clear();
    NoticeY = 0;
    g_stepEnd = {};
}

}  // namespace engine
