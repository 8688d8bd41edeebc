// The name-entry screen: the edit rules for PlayerName and the screen's steps.
#include "app/name_entry.h"

#include <cstdint>

#include "engine/draw_helpers.h"
#include "engine/frame_end.h"
#include "engine/graphics_setup.h"
#include "engine/media/clock.h"
#include "engine/media/graphics.h"
#include "engine/media/input.h"
#include "engine/media/random.h"
#include "engine/media/text.h"
#include "scores/scores.h"

namespace app {

// The records and names this screen shows and edits.
using namespace scores;

namespace {

constexpr int kPollMs = 5;           // sleep between two polls of a wait
constexpr int kBlinkPeriodMs = 600;  // cursor blink: on for the first half
constexpr int kTitleFont = 6;
constexpr int kNameFont = 5;

NameEntryCalls g_calls;
bool g_callsSet = false;

// Returns the calls with the defaults filled in on first use.
NameEntryCalls& Calls() {
    if (!g_callsSet) {
        ResetNameEntryIO();
    }
    return g_calls;
}

// Returns true while any of the keys or the button that end the screen is held.
bool AcceptInputHeld() {
    NameEntryCalls& io = Calls();
    return io.keyDown(media::KEY_ESCAPE) != 0 || io.mouseDown(media::MOUSE_LEFT) != 0 ||
           io.keyDown(media::KEY_ENTER) != 0;
}

// Draws the prompt and the name with its blinking cursor.
void DrawPrompt() {
    const int vw = engine::VirtualWidth;
    const int vh = engine::VirtualHeight;
    engine::SetColourAlpha(0, 255, 0);
    media::SetImageFont(engine::UIFonts[kTitleFont]);
    engine::DrawTextAligned(vw / 2, vh / 2 - 100, "Enter Your Name", 1, 1);
    media::SetImageFont(engine::UIFonts[kNameFont]);
    // Unsigned, so the blink keeps its rhythm after the clock wraps negative.
    const int phase = static_cast<int>(static_cast<uint32_t>(media::Millisecs()) % kBlinkPeriodMs);
    const char* cursor = phase < kBlinkPeriodMs / 2 ? "_" : " ";
    engine::DrawTextAligned(vw / 2 - media::TextWidth(PlayerName) / 2, vh / 2, PlayerName + cursor,
                            0, 1);
}

}  // namespace

NameEntryCalls& NameEntryIO() {
    return Calls();
}

void ResetNameEntryIO() {
    g_calls.flushKeys = media::FlushKeys;
    g_calls.getChar = media::GetChar;
    g_calls.keyHit = media::KeyHit;
    g_calls.keyDown = media::KeyDown;
    g_calls.mouseDown = media::MouseDown;
    g_calls.frameEnd = [] { engine::EndStep(0); };
    g_callsSet = true;
}

void EditName(std::string& name, int typed, int backspaceHits) {
    if (typed >= 32) {
        // "|" would split the score line and codes above 255 do not fit a
        // one-byte character: NameCharFor maps both (0 refuses the character).
        const int code = NameCharFor(static_cast<uint32_t>(typed));
        if (code != 0) name += media::Chr(code);
    }
    if (backspaceHits > 0 && !name.empty()) name.pop_back();
}

namespace {

// State: name-entry screens alive (on the stack) now.
int g_openNameEntries = 0;

// Name entry: the inputs that end it are let go first, then a frame per step
// until the name is accepted, then they are let go again.
class NameEntryScreen : public engine::Screen {
  public:
    NameEntryScreen() { ++g_openNameEntries; }
    ~NameEntryScreen() override { --g_openNameEntries; }
    NameEntryScreen(const NameEntryScreen&) = delete;
    NameEntryScreen& operator=(const NameEntryScreen&) = delete;

    engine::StepResult Step() override {
        NameEntryCalls& io = Calls();
        switch (phase_) {
            case Phase::Start:
                io.flushKeys();
                phase_ = Phase::ReleaseBefore;
                [[fallthrough]];
            case Phase::ReleaseBefore:
                if (AcceptInputHeld()) return engine::Idle(kPollMs);
                phase_ = Phase::Editing;
                [[fallthrough]];
            case Phase::Editing: {
                engine::BeginFrame(1);
                engine::Backdrop();
                const int typed = io.getChar();
                EditName(PlayerName, typed, io.keyHit(media::KEY_BACKSPACE));
                DrawPrompt();
                const bool done = io.keyHit(media::KEY_ENTER) != 0 ||
                                  io.mouseDown(media::MOUSE_LEFT) != 0 ||
                                  io.keyDown(media::KEY_ESCAPE) != 0;
                io.frameEnd();
                if (done) phase_ = Phase::Seed;
                return engine::Drew();
            }
            case Phase::Seed:
                // Seeded once the last frame is shown, from the clock as the screen ends.
                media::SeedRandom(media::Millisecs());
                phase_ = Phase::ReleaseAfter;
                break;
            case Phase::ReleaseAfter:
                break;
        }
        if (AcceptInputHeld()) return engine::Idle(kPollMs);
        return engine::PopScreen(0, false);
    }

  private:
    enum class Phase { Start, ReleaseBefore, Editing, Seed, ReleaseAfter };
    Phase phase_ = Phase::Start;
};

}  // namespace

std::unique_ptr<engine::Screen> MakeNameEntry() {
    return std::make_unique<NameEntryScreen>();
}

bool NameEntryOpen() {
    return g_openNameEntries > 0;
}

}  // namespace app
