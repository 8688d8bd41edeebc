// Tests of name entry with scripted input and the recording driver: what
// accepts the name, the Backspace rules, one queued character per frame,
// characters the score file cannot carry, the polled waits before and after
// the screen, and what each frame draws.
#include "app/name_entry.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/draw_helpers.h"
#include "engine/graphics_setup.h"
#include "engine/media/clock.h"
#include "engine/media/graphics.h"
#include "engine/media/image_font.h"
#include "engine/media/key_codes.h"
#include "engine/media/random.h"
#include "engine/media/recording_driver.h"
#include "engine/screen_stack.h"
#include "engine/setup_table.h"
#include "scores/scores.h"
#include "tests/support/clocks.h"

namespace app {
namespace {

using namespace scores;

using media::DrawKind;

// Input that a test scripts frame by frame; frames are counted by FrameEnd.
struct ScriptedInput {
    std::deque<int> typed;           // the typed-character queue
    std::map<int, int> backspaceAt;  // frame -> Backspace hits
    std::map<int, int> enterAt;      // frame -> Enter hits
    std::map<int, int> leftAt;       // frame -> left button held
    std::map<int, int> escapeAt;     // frame -> Escape held
    int heldBeforePolls = 0;         // polls of the first wait that see Enter held
    int heldAfterPolls = 0;          // polls of the last wait that see Escape held
    int frame = 0;                   // frames ended so far
    int flushes = 0;
    int flushedAtFrame = -1;
    std::vector<std::string> namesAtFrameEnd;
    int phase = 0;  // 0 first wait, 1 the screen, 2 last wait
};

class NameEntryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        rec_ = media::UseRecordingDriver();
        ASSERT_NE(media::OpenGraphics(1280, 960), nullptr);
        engine::SetupDefaults();
        engine::ResetDrawHelpers();
        engine::VirtualWidth = 1280;
        engine::VirtualHeight = 960;
        // Every font slot holds the built-in font itself (see TearDown).
        engine::UIFonts.fill(media::DefaultImageFont());
        media::SetImageFont(media::DefaultImageFont());
        ResetScoreGlobals();
        Install();
    }
    void TearDown() override {
        // Nothing may keep the built-in font past the test: the media layer's
        // font cache is released after FreeType at exit.
        engine::UIFonts.fill(nullptr);
        media::SetImageFont(nullptr);
        ResetNameEntryIO();
        ResetScoreGlobals();
        media::CloseGraphics();
        media::SetGraphicsDriver(nullptr, 2);
    }

    // Routes name entry's input and frame end through the script.
    void Install() {
        NameEntryCalls& io = NameEntryIO();
        io.flushKeys = [this] {
            ++in_.flushes;
            in_.flushedAtFrame = in_.frame;
        };
        io.getChar = [this] {
            in_.phase = 1;
            if (in_.typed.empty()) return 0;
            int c = in_.typed.front();
            in_.typed.pop_front();
            return c;
        };
        io.keyHit = [this](int key) {
            if (key == media::KEY_BACKSPACE) return At(in_.backspaceAt);
            if (key == media::KEY_ENTER) return At(in_.enterAt);
            return 0;
        };
        io.keyDown = [this](int key) {
            if (in_.phase == 0 && key == media::KEY_ENTER && in_.heldBeforePolls > 0) {
                --in_.heldBeforePolls;
                return 1;
            }
            if (in_.phase == 1 && key == media::KEY_ESCAPE) return At(in_.escapeAt);
            if (in_.phase == 2 && key == media::KEY_ESCAPE && in_.heldAfterPolls > 0) {
                --in_.heldAfterPolls;
                return 1;
            }
            return 0;
        };
        io.mouseDown = [this](int button) {
            return in_.phase == 1 && button == media::MOUSE_LEFT ? At(in_.leftAt) : 0;
        };
        io.frameEnd = [this] {
            in_.namesAtFrameEnd.push_back(PlayerName);
            const bool accepted = At(in_.enterAt) || At(in_.escapeAt) || At(in_.leftAt);
            if (accepted) in_.phase = 2;
            ++in_.frame;
            clock_->Advance(16);
            // A screen that never ends would hang the test: end it by force.
            if (in_.frame > 1000) in_.enterAt[in_.frame] = 1;
        };
    }
    // Returns the scripted value of this frame (0 when none).
    int At(const std::map<int, int>& table) const {
        auto it = table.find(in_.frame);
        return it == table.end() ? 0 : it->second;
    }
    // Steps the screen to its end; the scripted frame end stands for the whole
    // end of a frame, presenting included, and idle steps sleep as on the desktop.
    void Run() {
        engine::ScreenStack stack;
        EXPECT_FALSE(NameEntryOpen());
        stack.Push(MakeNameEntry());
        while (!stack.Empty()) {
            // Open (for a phone's on-screen keyboard) for as long as it is on the stack.
            EXPECT_TRUE(NameEntryOpen());
            const engine::StepResult r = stack.Step();
            if (!r.drew && r.idleMs > 0) media::Delay(r.idleMs);
        }
        EXPECT_FALSE(NameEntryOpen());
    }
    bool DrewText(const std::string& text) const {
        for (const auto& r : rec_->OfKind(DrawKind::Text)) {
            if (r.text == text) return true;
        }
        return false;
    }

    zqtest::VirtualClockInPlace<> clock_;
    std::shared_ptr<media::TRecordingDriver> rec_;
    ScriptedInput in_;
};

// --- Accepting ---------------------------------------------------------------

TEST_F(NameEntryTest, EnterEscapeOrALeftClickAcceptThePreviousName) {
    struct Case {
        const char* what;
        std::map<int, int> ScriptedInput::*input;
        int at;      // the frame the input comes in
        int frames;  // frames shown until it is accepted
    };
    const Case cases[] = {
        {"Enter at once", &ScriptedInput::enterAt, 0, 1},
        {"Escape", &ScriptedInput::escapeAt, 2, 3},
        {"a left click", &ScriptedInput::leftAt, 1, 2},
    };
    for (const Case& c : cases) {
        in_ = ScriptedInput{};
        PlayerName = "Orla";
        (in_.*c.input)[c.at] = 1;
        Run();
        EXPECT_EQ(PlayerName, "Orla") << c.what;
        EXPECT_EQ(in_.frame, c.frames) << c.what;
        // Keys are flushed once, as the screen opens.
        EXPECT_EQ(in_.flushes, 1) << c.what;
        EXPECT_EQ(in_.flushedAtFrame, 0) << c.what;
    }
}

// --- Editing -----------------------------------------------------------------

TEST_F(NameEntryTest, BackspaceRemovesOneCharacterAndAnEmptyNameIsAccepted) {
    PlayerName = "AB";
    in_.backspaceAt[0] = 1;
    in_.backspaceAt[1] = 3;  // several hits in one frame still remove one
    in_.backspaceAt[2] = 1;  // nothing left to remove
    in_.enterAt[3] = 1;
    Run();
    EXPECT_EQ(in_.namesAtFrameEnd, (std::vector<std::string>{"A", "", "", ""}));
    EXPECT_EQ(PlayerName, "");
}

TEST_F(NameEntryTest, QueuedCharactersAreAppendedOnePerFrame) {
    PlayerName = "P";
    in_.typed = {'X', 'y', '7'};
    in_.enterAt[4] = 1;
    Run();
    EXPECT_EQ(in_.namesAtFrameEnd, (std::vector<std::string>{"PX", "PXy", "PXy7", "PXy7", "PXy7"}));
}

TEST_F(NameEntryTest, TypingAndBackspaceInOneFrameAppendThenRemove) {
    PlayerName = "Jo";
    in_.typed = {'e'};
    in_.backspaceAt[0] = 1;
    in_.enterAt[0] = 1;
    Run();
    EXPECT_EQ(PlayerName, "Jo");
}

TEST_F(NameEntryTest, CharactersTheScoreFileCannotCarryAreStoredAsDecided) {
    PlayerName = "";
    in_.typed = {'|', 0xE9, 0x4E2D, 0x200B, 0x2019, 9, 31, 'z'};
    in_.enterAt[8] = 1;
    Run();
    // "|" becomes the broken bar, e-acute stays, a CJK letter becomes "?", a
    // zero-width space and control characters are dropped, a curly quote is "'".
    EXPECT_EQ(PlayerName, std::string("\xA6\xE9?'z"));
}

TEST_F(NameEntryTest, EditNameRules) {
    std::string name = "x";
    EditName(name, 0, 1);
    EXPECT_EQ(name, "");
    EditName(name, 0, 1);
    EXPECT_EQ(name, "");
    EditName(name, 'a', 0);
    EditName(name, 0x100, 0);  // beyond one byte: a lookalike or "?", never the low byte
    ASSERT_EQ(name.size(), 2u);
    EXPECT_NE(name[1], '\0');
    // Control characters never reach the name: C0, Delete and C1 alike.
    for (int control : {13, 31, 127, 128, 150, 159}) {
        EditName(name, control, 0);
        EXPECT_EQ(name.size(), 2u) << control;
    }
    EditName(name, 160, 0);  // the first printable code after them
    EXPECT_EQ(name.size(), 3u);
}

TEST_F(NameEntryTest, LongNamesAreAcceptedWhole) {
    PlayerName = "";
    const std::string longName(60, 'Q');
    for (char c : longName) in_.typed.push_back(c);
    in_.enterAt[60] = 1;
    Run();
    EXPECT_EQ(PlayerName, longName);
}

// --- Waits -------------------------------------------------------------------

TEST_F(NameEntryTest, WaitsPollWithShortSleepsBeforeAndAfter) {
    in_.heldBeforePolls = 4;  // the key that ended the game is still down
    in_.heldAfterPolls = 3;   // and the one that accepted the name
    in_.escapeAt[0] = 1;
    const int before = media::Millisecs();
    Run();
    EXPECT_EQ(in_.frame, 1);
    // 4 + 3 held polls, each followed by a 5 ms sleep, plus one 16 ms frame.
    EXPECT_EQ(media::Millisecs() - before, 7 * 5 + 16);
    EXPECT_EQ(in_.heldAfterPolls, 0);
}

TEST_F(NameEntryTest, GeneratorIsSeededFromTheClockWhenTheScreenEnds) {
    in_.enterAt[2] = 1;
    Run();
    const int now = media::Millisecs();
    const int first = media::RandomInt(0, 1000000);
    media::SeedRandom(now);
    EXPECT_EQ(media::RandomInt(0, 1000000), first);
}

// --- Drawing -----------------------------------------------------------------

TEST_F(NameEntryTest, DrawsPromptAndNameWithABlinkingCursor) {
    PlayerName = "Kit";
    clock_->Advance(600 * 10);  // Millisecs mod 600 = 0: cursor shown
    in_.enterAt[0] = 1;
    rec_->Clear();
    Run();
    EXPECT_TRUE(DrewText("Enter Your Name"));
    EXPECT_TRUE(DrewText("Kit_"));
    for (const auto& r : rec_->OfKind(DrawKind::Text)) {
        if (r.text != "Kit_") continue;
        EXPECT_EQ(r.state.color_red, 0);
        EXPECT_EQ(r.state.color_green, 255);
        EXPECT_EQ(r.state.color_blue, 0);
        // The name alone is centred; the cursor hangs off its right end.
        EXPECT_EQ(static_cast<int>(r.x), 640 - media::TextWidth("Kit") / 2);
    }

    in_ = ScriptedInput{};
    clock_->Advance(300);  // the second half of the blink
    in_.enterAt[0] = 1;
    rec_->Clear();
    Run();
    EXPECT_TRUE(DrewText("Kit "));
    EXPECT_FALSE(DrewText("Kit_"));
}

}  // namespace
}  // namespace app
