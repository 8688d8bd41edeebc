// The high-score panel: ranking, graph, thinning, top table and detail box.
#include "app/score_panel.h"

#include <algorithm>
#include <string>

#include "engine/draw_helpers.h"
#include "engine/graphics_setup.h"
#include "engine/media/graphics.h"
#include "engine/media/input.h"
#include "engine/media/text.h"
#include "scores/fields/date_time.h"
#include "scores/replay_store.h"

namespace app {

// The records and names this screen shows and edits.
using namespace scores;

namespace {

constexpr int kGraphHeight = 150;   // pixels of the best score
constexpr int kGraphStep = 18;      // pixels between two runs
constexpr int kScrollStep = 8;      // pixels per frame
constexpr int kScrollMax = 1000;    // furthest scroll
constexpr int kNameCut = 24;        // name characters in the table
constexpr int kScoreDigits = 12;    // score digits in the table
constexpr int kRowHeight = 17;      // pixels per table row
constexpr int kDefaultBadges = 16;  // badge kinds of the series
constexpr int kDotFrame = 7;        // IconsImage frame of a graph dot
constexpr int kCompleteEntry = 30;  // Best entry that marks a completed game
// The Watch button at the detail box's bottom right: offsets from the box's right edge and vh.
constexpr int kWatchRight = 96;
constexpr int kWatchTop = 628;
constexpr int kWatchWidth = 88;
constexpr int kWatchHeight = 30;
// The Share button sits left of Watch; the board line above both.
constexpr int kShareGap = 8;
constexpr int kBoardLineTop = 657;
constexpr int kBoardLineCut = 46;  // characters of the board line that fit the box

}  // namespace

std::array<Scores*, kTopListSlots + 1> TopList{};
Scores* SelectedRecord = nullptr;
int SelectedIndex = 0;
int GraphScroll = 0;
int BadgeCount = kDefaultBadges;
std::function<int(int)> ScorePanelMouseDown = media::MouseDown;
std::function<void(const Scores&)> WatchReplayHook;
std::function<std::string(const Scores&)> BoardLineHook;
std::function<bool(const Scores&)> CanShareHook;

namespace {

// Returns true when the record is one of TopList's.
bool InTopList(const Scores* record) {
    return std::find(TopList.begin() + 1, TopList.end(), record) != TopList.end();
}

// Whether the left button was held at the last drawn call (a press counts once).
bool g_leftWasHeld = false;

// Returns 1 while the left button is held.
int LeftHeld() {
    return ScorePanelMouseDown ? ScorePanelMouseDown(media::MOUSE_LEFT) : 0;
}

// Selects a UI font slot.
void UseFont(int slot) {
    media::SetImageFont(engine::UIFonts[slot]);
}

// Draws the graph of the combination's runs, newest at the right, selects the
// run under the mouse and removes the runs the combination no longer keeps.
void DrawGraph(int panelX, int mode, int level, int flags, int64_t best) {
    const int vw = engine::VirtualWidth;
    const int vh = engine::VirtualHeight;
    int gx = vw - 24 + GraphScroll;
    bool havePrevious = false;
    int px = 0, py = 0;
    int i = 0;
    for (auto it = ScoreList.begin(); it != ScoreList.end();) {
        Scores* record = &*it;
        if (!MatchesCombination(*record, mode, level, flags)) {
            ++it;
            continue;
        }
        ++i;
        if (i == SelectedIndex && SelectedRecord == nullptr) SelectedRecord = record;
        if (gx > panelX - 4) {
            const int v = GraphHeight(record->Score, best);
            const int gy = vh - 10 - v;
            engine::SetColourAlpha(255 - v, 255, 80, 1);
            engine::DrawSprite(engine::IconsImage, gx - 8, gy - 8, kDotFrame, engine::KIND_IMAGE);
            engine::SetColourAlpha(255, 80 + v, 80, 1);
            if (havePrevious) media::DrawLine(gx, gy, px, py);
            engine::SetColourAlpha(0, 0, 0, 0.3);
            media::DrawLine(gx - 9, vh - 160, gx - 9, vh - 11);
            havePrevious = true;
            px = gx;
            py = gy;
            if (engine::MouseInRect(gx - 9, vh - 160, 19, kGraphHeight)) {
                SelectedRecord = record;
                if (LeftHeld()) SelectedIndex = i;
            }
            if (SelectedRecord == record) {
                engine::SetColourAlpha(255, 255, 255, 0.3);
                media::DrawRect(gx - 9, vh - 160, 19, kGraphHeight);
            }
            gx -= kGraphStep;
        }
        if (SelectedRecord == record && LeftHeld()) SelectedIndex = i;
        if (i > kKeptNewest && !InTopList(record)) {
            // The run has been drawn this frame but is gone from the list now;
            // its details must not be shown from a freed record.
            if (SelectedRecord == record) SelectedRecord = nullptr;
            it = ScoreList.erase(it);
            continue;
        }
        ++it;
    }
}

// Moves the graph while the mouse rests at either end of it.
void ScrollGraph(int width) {
    const int vw = engine::VirtualWidth;
    const int vh = engine::VirtualHeight;
    if (engine::MouseInRect(vw - (width + 32), vh - 160, 64, kGraphHeight) &&
        GraphScroll < kScrollMax) {
        GraphScroll += kScrollStep;
    }
    if (engine::MouseInRect(vw - 32, vh - 160, 62, kGraphHeight) && GraphScroll > 0) {
        GraphScroll -= kScrollStep;
    }
}

// Draws the top table and selects the row under the mouse.
void DrawTable(int panelX, int width) {
    const int vh = engine::VirtualHeight;
    UseFont(3);
    for (int n = 1; n <= kTopListSlots; ++n) {
        Scores* record = TopList[n];
        if (record == nullptr) continue;
        const int ry = vh - 589 + kRowHeight * (n - 1);
        engine::SetColourAlpha(255, 255, 255, 1);
        if (n == SelectedIndex - kTableIndexBase && SelectedRecord == nullptr) {
            SelectedRecord = record;
        }
        if (engine::MouseInRect(panelX + 4, ry, width, 18)) {
            SelectedRecord = record;
            if (LeftHeld()) SelectedIndex = n + kTableIndexBase;
        }
        engine::DrawTextAligned(panelX + 4, ry, media::Left(record->Name, kNameCut), 0, 0);
        engine::DrawTextAligned(
            panelX + width - 4, ry,
            media::Right("000000000000" + media::Str(record->Score), kScoreDigits), 2, 0);
        if (SelectedRecord == record) {
            engine::SetColourAlpha(255, 255, 255, 0.3);
            media::DrawRect(panelX + 4, ry, width, kRowHeight);
        }
    }
}

// Draws the detail box of the selected record.
void DrawDetails(int panelX, int width, const Scores& record) {
    const int vh = engine::VirtualHeight;
    engine::SetColourAlpha(255, 255, 255, 0.6);
    media::DrawRect(panelX - 2, vh - 729, width, 140);
    UseFont(1);
    engine::SetColourAlpha(80, 80, 0, 1);
    engine::DrawTextAligned(panelX + 4, vh - 725, record.Name, 0, 0);
    engine::SetColourAlpha(0, 0, 80, 1);
    engine::DrawTextAligned(panelX + width - 4, vh - 704, media::Str(record.Score), 2, 0);
    UseFont(4);
    engine::SetColourAlpha(0, 80, 0, 1);
    if (record.Best[kCompleteEntry] == 1) {
        engine::DrawTextAligned(panelX + 4, vh - 679, "Complete!", 0, 1);
    }
    engine::SetColourAlpha(0, 0, 0, 1);
    UseFont(3);
    engine::DrawTextAligned(panelX + 4, vh - 593,
                            TimeText(record.Timestamp) + ", " + DateText(record.Timestamp), 0, 2);
    engine::SetScaleXY(0.28);
    engine::SetColourAlpha(255, 255, 255, 1);
    for (int n = 1; n <= BadgeCount; ++n) {
        if (BitIsSet(record.Badges, n)) {
            engine::DrawSprite(engine::BadgesImage, panelX + 6 + 20 * (n - 1), vh - 639, n - 1,
                               engine::KIND_IMAGE);
        }
    }
    engine::SetScaleXY(1);
}

// Draws the Watch button of a run that has a replay; true when it was pressed in this frame.
bool WatchButton(int panelX, int width, const Scores& record, bool pressed) {
    if (!WatchReplayHook || !HasReplay(record)) return false;
    const int bx = panelX + width - kWatchRight;
    const int by = engine::VirtualHeight - kWatchTop;
    const bool over = engine::MouseInRect(bx, by, kWatchWidth, kWatchHeight) != 0;
    engine::ResetDrawState();
    engine::SetColourAlpha(0, 0, over ? 140 : 80, 1);
    media::DrawRect(bx, by, kWatchWidth, kWatchHeight);
    UseFont(3);
    engine::SetColourAlpha(255, 255, 255, 1);
    engine::DrawTextAligned(bx + kWatchWidth / 2, by + kWatchHeight / 2, "Watch", 1, 1);
    return over && pressed;
}

// Draws the run's board line and, for a run not shared yet, the Share button;
// true when Share was pressed in this frame.
bool BoardLineAndShare(int panelX, int width, const Scores& record, bool pressed) {
    const int vh = engine::VirtualHeight;
    if (BoardLineHook) {
        std::string line = BoardLineHook(record);
        if (static_cast<int>(line.size()) > kBoardLineCut) {
            line = media::Left(line, kBoardLineCut - 3) + "...";
        }
        if (!line.empty()) {
            engine::ResetDrawState();
            UseFont(3);
            engine::SetColourAlpha(0, 0, 80, 1);
            engine::DrawTextAligned(panelX + 4, vh - kBoardLineTop, line, 0, 1);
        }
    }
    if (!ShareRunHook || !CanShareHook || !CanShareHook(record)) return false;
    const int bx = panelX + width - kWatchRight - kWatchWidth - kShareGap;
    const int by = vh - kWatchTop;
    const bool over = engine::MouseInRect(bx, by, kWatchWidth, kWatchHeight) != 0;
    engine::ResetDrawState();
    engine::SetColourAlpha(0, over ? 140 : 80, 0, 1);
    media::DrawRect(bx, by, kWatchWidth, kWatchHeight);
    UseFont(3);
    engine::SetColourAlpha(255, 255, 255, 1);
    engine::DrawTextAligned(bx + kWatchWidth / 2, by + kWatchHeight / 2, "Share", 1, 1);
    return over && pressed;
}

}  // namespace

bool MatchesCombination(const Scores& record, int mode, int level, int flags) {
    return record.Level == level && record.GameMode == mode && record.GameFlags == flags;
}

int64_t RankTopList(std::list<Scores>& list, int mode, int level, int flags) {
    TopList.fill(nullptr);
    // The best score is kept in 64 bits: cut to 32 bits, a score of 2^32 or
    // more would turn the graph's scale negative or zero.
    int64_t best = 0;
    for (Scores& record : list) {
        if (!MatchesCombination(record, mode, level, flags)) continue;
        if (record.Score > best) best = record.Score;
        int emptySlot = 0;
        int lowerSlot = 0;
        for (int slot = kTopListSlots; slot >= 1; --slot) {
            if (TopList[slot] == nullptr) {
                emptySlot = slot;
            } else if (TopList[slot]->Score < record.Score) {
                lowerSlot = slot;
            }
        }
        const int place = lowerSlot != 0 ? lowerSlot : emptySlot;
        if (place == 0) continue;
        for (int slot = kTopListSlots; slot > place; --slot) TopList[slot] = TopList[slot - 1];
        TopList[place] = &record;
    }
    return best == 0 ? 1 : best;
}

int GraphHeight(int64_t score, int64_t best) {
    if (best <= 0 || score <= 0) return 0;
    // 128-bit product: score * 150 overflows 64 bits for scores above ~6e16.
    const __int128 v = static_cast<__int128>(score) * kGraphHeight / best;
    return static_cast<int>(std::min<__int128>(v, kGraphHeight));
}

void DrawScorePanel(int x, int width, int mode, int level, int flags, int draw) {
    if (draw == 0) return;
    const int panelX = x + 5;
    const int vw = engine::VirtualWidth;
    const int vh = engine::VirtualHeight;
    const int64_t best = RankTopList(ScoreList, mode, level, flags);

    engine::SetScaleXY(1);
    engine::ResetDrawState();
    engine::SetColourAlpha(0, 0, 0, 0.6);
    media::DrawRect(panelX + 2, vh - 585, width + 2, 575);
    engine::SetColourAlpha(0, 0, 80, 1);
    media::DrawLine(panelX + 2, vh - 160, vw - 8, vh - 160);

    SelectedRecord = nullptr;
    DrawGraph(panelX, mode, level, flags, best);
    ScrollGraph(width);
    DrawTable(panelX, width);
    const bool held = LeftHeld() != 0;
    const bool pressed = held && !g_leftWasHeld;
    g_leftWasHeld = held;
    if (SelectedRecord == nullptr) return;
    DrawDetails(panelX, width, *SelectedRecord);
    if (BoardLineAndShare(panelX, width, *SelectedRecord, pressed)) {
        ShareRunHook(*SelectedRecord);
    }
    if (WatchButton(panelX, width, *SelectedRecord, pressed)) {
        // Playback may reload the score list (a settings change): hand over a copy.
        const Scores run = *SelectedRecord;
        SelectedRecord = nullptr;
        WatchReplayHook(run);
    }
}

void ResetScorePanel() {
    TopList.fill(nullptr);
    SelectedRecord = nullptr;
    SelectedIndex = 0;
    GraphScroll = 0;
    BadgeCount = kDefaultBadges;
    ScorePanelMouseDown = media::MouseDown;
    g_leftWasHeld = false;
}

}  // namespace app
