// Tests of the screen stack and its executors (the desktop's loop, the
// browser's display callback): which screen steps
// after a push, pop or replace, what the screen below is told, screens asked
// for from inside a step, frames presented only when drawn, the close request,
// and the release latch.
#include <string>
#include <vector>

#include "tests/engine/engine_fixture.h"

namespace {

using engine::StepKind;

// A screen that plays a script of steps and notes what happens to it in a shared journal.
class Scripted : public engine::Screen {
  public:
    struct Move {
        StepKind kind = StepKind::Go;
        int result = 0;         // for a pop
        const char* next = "";  // name of the screen pushed or put in place
        bool drew = true;
        const char* later = "";  // name of a screen asked for from inside the step
        int quit = -1;           // the status of a quit asked for from inside the step
    };
    Scripted(std::string name, std::vector<Move> moves, std::vector<std::string>* journal,
             std::vector<std::vector<Move>>* scripts)
        : name_(std::move(name)), moves_(std::move(moves)), journal_(journal), scripts_(scripts) {}
    ~Scripted() override { journal_->push_back(name_ + " gone"); }

    engine::StepResult Step() override {
        journal_->push_back(name_ + " steps");
        const Move m = next_ < moves_.size() ? moves_[next_++] : Move{};
        if (*m.later) engine::Screens().PushAfterStep(Make(m.later));
        if (m.quit >= 0) engine::Screens().Quit(m.quit);
        if (m.drew) engine::EndStep(0);  // as every screen that draws ends its frame
        switch (m.kind) {
            case StepKind::Go:
                return m.drew ? engine::Drew() : engine::Idle(1);
            case StepKind::Push:
                return engine::PushScreen(Make(m.next), m.drew);
            case StepKind::Pop:
                return engine::PopScreen(m.result, m.drew);
            case StepKind::Replace:
                return engine::ReplaceScreen(Make(m.next), m.drew);
        }
        return engine::Drew();
    }
    void Resume(int result) override {
        journal_->push_back(name_ + " told " + std::to_string(result));
    }

  private:
    // Makes the screen a name stands for: its script is the next unused one.
    std::unique_ptr<engine::Screen> Make(const std::string& name) {
        std::vector<Move> script = scripts_->empty() ? std::vector<Move>{} : scripts_->front();
        if (!scripts_->empty()) scripts_->erase(scripts_->begin());
        return std::make_unique<Scripted>(name, script, journal_, scripts_);
    }

    std::string name_;
    std::vector<Move> moves_;
    size_t next_ = 0;
    std::vector<std::string>* journal_;
    std::vector<std::vector<Move>>* scripts_;
};

using Move = Scripted::Move;

class ScreenStackTest : public zqtest::EngineFixture {
  protected:
    void SetUp() override {
        EngineFixture::SetUp();
        OpenWindow();
    }
    // Runs a bottom screen's script (and those of the screens it brings, in
    // the order they are made in) on the program's stack with the desktop's
    // executor, or the browser's called once every display frame of
    // displayMs; returns the exit status.
    int Run(std::vector<Move> bottom, std::vector<std::vector<Move>> others, int displayMs = 0) {
        scripts_ = std::move(others);
        engine::Screens().Push(
            std::make_unique<Scripted>("A", std::move(bottom), &journal_, &scripts_));
        if (displayMs == 0) return engine::RunScreens(engine::Screens());
        for (int bound = 0; bound < 1000; ++bound) {
            if (!engine::StepScreensForDisplay(engine::Screens(), 8)) break;
            clock_->SleepMs(displayMs);
        }
        return engine::Screens().ExitResult();
    }
    std::vector<std::string> journal_;
    std::vector<std::vector<Move>> scripts_;
};

TEST_F(ScreenStackTest, PushPopReplaceAndWhatTheScreenBelowIsTold) {
    struct Case {
        const char* what;
        std::vector<Move> bottom;
        std::vector<std::vector<Move>> others;
        std::vector<std::string> journal;
        int status;
        int presents;
    };
    const Case cases[] = {
        {"a pop from the last screen is the exit status",
         {{StepKind::Go}, {StepKind::Pop, 7, "", false}},
         {},
         {"A steps", "A steps", "A gone"},
         7,
         1},
        {"a pushed screen steps next and its result reaches the one below",
         {{StepKind::Push, 0, "B", false}, {StepKind::Pop, 0}},
         {{{StepKind::Go}, {StepKind::Pop, 99, "", false}}},
         {"A steps", "B steps", "B steps", "B gone", "A told 99", "A steps", "A gone"},
         0,
         2},
        {"a replaced screen is gone before its successor steps and tells nobody",
         {{StepKind::Replace, 0, "B", true}},
         {{{StepKind::Pop, 3, "", false}}},
         {"A steps", "A gone", "B steps", "B gone"},
         3,
         1},
        {"a screen asked for inside a step goes on top after that step's own push",
         {{StepKind::Push, 0, "B", true, "C"}, {StepKind::Pop, 0, "", false}},
         {{{StepKind::Pop, 2, "", false}}, {{StepKind::Pop, 1, "", false}}},
         {"A steps", "C steps", "C gone", "B told 2", "B steps", "B gone", "A told 1", "A steps",
          "A gone"},
         0,
         1},
        {"a quit from inside a step removes every screen once the step is over",
         {{StepKind::Push, 0, "B", false}},
         {{{StepKind::Push, 0, "C", true, "", 1}}},
         {"A steps", "B steps", "B gone", "A gone", "C gone"},
         1,
         1},
    };
    // The desktop's loop, and the browser's display callback at 60 Hz and at
    // 120 Hz (where every other call finds the frame's time not yet passed).
    for (const int displayMs : {0, 17, 8}) {
        for (const Case& c : cases) {
            const std::string what = std::string(c.what) + " (display " +
                                     std::to_string(displayMs) + " ms)";
            journal_.clear();
            rec_->Clear();
            const int presents = rec_->presents;
            EXPECT_EQ(Run(c.bottom, c.others, displayMs), c.status) << what;
            EXPECT_EQ(journal_, c.journal) << what;
            // Only the steps that drew are presented; the others sleep.
            EXPECT_EQ(rec_->presents - presents, c.presents) << what;
            EXPECT_TRUE(engine::Screens().Empty()) << what;
        }
    }
}

TEST_F(ScreenStackTest, ACloseRequestLeavesOnlyTheClosingScreen) {
    engine::Hooks().closingScreen = [this] {
        return std::make_unique<Scripted>("Z", std::vector<Move>{{StepKind::Pop, 0, "", false}},
                                          &journal_, &scripts_);
    };
    // B asks to close in its second frame (as Alt+F4 does at the end of a step).
    engine::Hooks().settingsPanel = [n = 0]() mutable {
        if (++n == 2) media::detail::InputPostCloseRequest();
    };
    const int status =
        Run({{StepKind::Push, 0, "B", false}}, {{{StepKind::Go}, {StepKind::Go}, {StepKind::Go}}});
    EXPECT_EQ(status, 0);
    // B's frames end their steps as every screen's do.
    EXPECT_EQ(journal_, (std::vector<std::string>{"A steps", "B steps", "B steps", "B gone",
                                                  "A gone", "Z steps", "Z gone"}));
}

TEST(Latch, HoldsFromArmingUntilTheInputIsSeenReleased) {
    engine::Latch latch(true);
    EXPECT_TRUE(latch.Blocks(true));
    EXPECT_TRUE(latch.Blocks(true));
    EXPECT_FALSE(latch.Blocks(false));
    EXPECT_FALSE(latch.Blocks(true));  // a fresh press after the release passes
    latch.Arm();
    EXPECT_TRUE(latch.Blocks(true));
    EXPECT_FALSE(engine::Latch().Blocks(true));  // never armed
}

}  // namespace
