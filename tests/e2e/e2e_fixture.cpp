// The shared end-to-end steps and the screen probes they wait on; see e2e_fixture.h.
#include "tests/e2e/e2e_fixture.h"

namespace zqtest {

namespace {

using ::testing::AssertionFailure;
using ::testing::AssertionSuccess;
using Colour = bool (*)(int, int, int);

// Tries of a press whose effect did not show, and the wait for it after each
// (a slow frame can miss a held press, never a counted one); the longest
// name the name entry may show before a test replaces it.
constexpr int kTries = 3, kTryMs = 5000, kMaxName = 24;

// The colours the probes look for.
constexpr Colour kWhite = [](int r, int g, int b) { return r > 220 && g > 220 && b > 220; };
constexpr Colour kYellow = [](int r, int g, int b) { return r > 200 && g > 200 && b < 90; };
constexpr Colour kGreen = [](int r, int g, int b) { return g > 150 && r < 100 && g > b + 60; };
// The settings panel's light green lower edge, and the closing screen's "Thanks for Playing".
constexpr Colour kPanelEdge = [](int r, int g, int b) {
    return g > 230 && r > 150 && r < 220 && b > 150 && b < 220;
};
constexpr Colour kCyan = [](int r, int g, int b) {
    return g > 230 && b > 230 && r > 150 && r < 210;
};

// Reads the window's pixels over a rectangle of the logical screen.
Pixels Area(ProgramRun& run, int x, int y, int w, int h) {
    const double sx = run.WindowWidth() / double(kVW), sy = run.WindowHeight() / double(kVH);
    return run.ReadPixels(int(x * sx), int(y * sy), int(w * sx + 0.5), int(h * sy + 0.5));
}

// Returns the mean of channel c (0 red, 1 green, 2 blue) over a logical rectangle, -1 unread.
double Mean(ProgramRun& run, int c, int x, int y, int w, int h) {
    const Pixels p = Area(run, x, y, w, h);
    double sum = 0;
    for (size_t i = static_cast<size_t>(c); i < p.rgb.size(); i += 3) sum += p.rgb[i];
    return p.rgb.empty() ? -1 : sum / double(p.rgb.size() / 3);
}

// The title panel's header band (white at 30%) covers its last few units only
// once the panel rests, much brighter than the backdrop beside it.
bool TitlePanelAtRest(ProgramRun& run) {
    return Mean(run, 1, kPanelX - 3, 10, 18, 25) > Mean(run, 1, kPanelX - 60, 10, 30, 25) + 40;
}

// The chosen difficulty is drawn white, the others half transparent.
bool DifficultyChosen(ProgramRun& run, Difficulty d) {
    return Area(run, kCentreX - 100, kVH / 2 + 200 + 50 * int(d), 200, 40).Count(kWhite) > 100;
}

// The pause menu draws its chosen entry (0 Continue, 1 Quit) in yellow.
bool PauseEntryChosen(ProgramRun& run, int entry) {
    return Area(run, 128, 410 + 60 * entry, 192, 55).Count(kYellow) > 40;
}

// The game's playfield is dark, the menus' backdrop blue.
bool Playing(ProgramRun& run) {
    const double blue = Mean(run, 2, 0, 0, kVW, kVH);
    return blue >= 0 && blue < 40;
}

// The name entry's green "Enter Your Name".
bool OnNameEntry(ProgramRun& run) {
    return Area(run, 400, 328, 480, 85).Count(kGreen) > 1500;
}

// Returns the leftmost window column of the name being entered: the name is
// centred and its cursor starts at the middle, so a column left of the
// middle means a name that is not empty.
int NameLeftEdge(ProgramRun& run) {
    const Pixels p = Area(run, 0, 419, kVW, 117);
    int edge = run.WindowWidth();
    for (size_t i = 0; i + 2 < p.rgb.size(); i += 3) {
        if (kGreen(p.rgb[i], p.rgb[i + 1], p.rgb[i + 2])) {
            edge = std::min(edge, p.left + int(i / 3 % size_t(p.width)));
        }
    }
    return edge;
}

bool NameEmpty(ProgramRun& run) {
    return NameLeftEdge(run) >= run.WindowWidth() / 2 - 1;
}

// Holds key until changed() shows its effect (bounded), then lets go.
bool HoldKeyUntil(ProgramRun& run, const std::string& key, const std::function<bool()>& changed) {
    run.KeyDown(key);
    const bool seen = run.WaitFor(changed, kScreenMs);
    run.KeyUp(key);
    return seen;
}

// Repeats press() until done() holds, waiting up to tryMs for it after every try.
bool TryUntil(ProgramRun& run, const std::function<void()>& press,
              const std::function<bool()>& done, int tryMs = kTryMs) {
    for (int attempt = 0; attempt < kTries && run.Running() && !done(); ++attempt) {
        press();
        if (run.WaitFor(done, tryMs)) return true;
    }
    return done();
}

// Returns success, or a failure that says what did not happen.
::testing::AssertionResult Unless(bool ok, const std::string& what) {
    return ok ? AssertionSuccess() : AssertionFailure() << what;
}

}  // namespace

ProgramTest::Result ProgramTest::StartToTitle(ProgramRun& run, const std::string& display) {
    if (!run.Start({}, display) || !run.WaitForLogLine("Finished Loading", kLoadMs) ||
        !run.WaitForWindow()) {
        return AssertionFailure() << "the program did not load; stderr: " << run.StdErr();
    }
    return WaitForTitle(run);
}

ProgramTest::Result ProgramTest::WaitForTitle(ProgramRun& run) {
    return Unless(run.WaitFor([&] { return TitlePanelAtRest(run); }, kScreenMs),
                  "the title screen did not come");
}

void ProgramTest::ClickAt(ProgramRun& run, int x, int y) {
    run.MovePointerLogical(x, y, kVW, kVH);
    run.Click(1);
}

ProgramTest::Result ProgramTest::StartGame(ProgramRun& run, Difficulty difficulty) {
    if (Result title = WaitForTitle(run); !title) return title;
    const int row = kVH / 2 + 200 + 50 * static_cast<int>(difficulty) + 20;
    const bool chosen = TryUntil(
        run, [&] { ClickAt(run, kCentreX - 50, row); },
        [&] { return DifficultyChosen(run, difficulty); });
    if (!chosen) return AssertionFailure() << "the difficulty was not chosen";
    return Unless(
        TryUntil(
            run, [&] { ClickAt(run, kCentreX, kVH / 2 + 80); }, [&] { return Playing(run); }),
        "the game did not start");
}

ProgramTest::Result ProgramTest::QuitGame(ProgramRun& run) {
    // The pause menu opens once Escape is let go, so Escape is tapped.
    if (!TryUntil(
            run, [&] { run.TapKey("Escape"); }, [&] { return PauseEntryChosen(run, 0); })) {
        return AssertionFailure() << "the pause menu did not open";
    }
    if (!HoldKeyUntil(run, "Down", [&] { return PauseEntryChosen(run, 1); })) {
        return AssertionFailure() << "Quit was not chosen in the pause menu";
    }
    // The menu takes a choice only after a frame with no key held: its
    // scattered titles turn every frame.
    const Pixels before = Area(run, kVW / 4, kVH / 4, kVW / 2, kVH / 2);
    run.WaitFor([&] { return Area(run, kVW / 4, kVH / 4, kVW / 2, kVH / 2).rgb != before.rgb; },
                kTryMs);
    return Unless(TryUntil(
                      run, [&] { run.TapKey("space"); }, [&] { return OnNameEntry(run); }),
                  "no name entry after the game");
}

ProgramTest::Result ProgramTest::EnterName(ProgramRun& run, const std::string& name, bool confirm,
                                           int timeoutMs) {
    if (!run.WaitFor([&] { return OnNameEntry(run); }, timeoutMs)) {
        return AssertionFailure() << "no name entry; running " << run.Running();
    }
    // One BackSpace takes one character a frame; each is held until it did.
    for (int i = 0; i < kMaxName && !NameEmpty(run); ++i) {
        const int before = NameLeftEdge(run);
        if (!HoldKeyUntil(run, "BackSpace", [&] { return NameLeftEdge(run) > before; })) {
            return AssertionFailure() << "BackSpace did not shorten the name";
        }
    }
    if (!NameEmpty(run)) return AssertionFailure() << "the old name did not go";
    // Typed characters are queued and shown one a frame: the name grows left.
    for (char c : name) {
        const int before = std::min(NameLeftEdge(run), run.WindowWidth() / 2 - 1);
        if (!HoldKeyUntil(run, std::string(1, c), [&] { return NameLeftEdge(run) < before; })) {
            return AssertionFailure() << "'" << c << "' did not show in the name";
        }
    }
    if (!confirm) return AssertionSuccess();
    run.TapKey("Return");
    return Unless(run.WaitFor([&] { return !OnNameEntry(run); }, kScreenMs),
                  "Return did not end the name entry");
}

ProgramTest::Result ProgramTest::PlayAndEnter(ProgramRun& run, Difficulty difficulty,
                                              const std::string& name, bool confirm) {
    if (Result game = StartGame(run, difficulty); !game) return game;
    if (Result quit = QuitGame(run); !quit) return quit;
    return EnterName(run, name, confirm);
}

ProgramTest::Result ProgramTest::WaitForStoredRun(ProgramRun& run, const std::string& name,
                                                  std::string* json) {
    std::string last;
    const bool stored =
        run.WaitFor([&] { return HoldsRun(last = ScoresJson(run), name); }, kScreenMs);
    if (json) *json = last;
    return Unless(stored, "no run named " + name + " was stored: " + last);
}

ProgramTest::Result ProgramTest::ToggleSettings(ProgramRun& run, bool open) {
    run.TapKey("Tab");  // a counted press: never missed
    // The open panel rests 20 units down, its edge 298 below that.
    return Unless(run.WaitFor(
                      [&] {
                          const int edge = Area(run, 0, 314, kVW, 8).Count(kPanelEdge);
                          return (edge > run.WindowWidth() / 2) == open;
                      },
                      kScreenMs),
                  open ? "the settings panel did not open" : "the settings panel did not shut");
}

void ProgramTest::ChooseSlowSystem(ProgramRun& run, bool on) {
    const auto log = run.LogLines();
    const bool now = HasLine(log, "\tAssuming Emergency Slow System values.") ||
                     HasLine(log, "Settings Overwritten, Set to Default Lower Limits at 30fps.");
    // The panel's option button steps once a counted click.
    if (now != on) ClickAt(run, 40, 20 + 146 + 16);
}

ProgramTest::Result ProgramTest::QuitFromTitle(ProgramRun& run) {
    const size_t from = run.LogLines().size();
    run.KeyDown("Escape");
    const bool closing = run.WaitForLogLine("Play again, soon!!", kScreenMs, from);
    run.KeyUp("Escape");
    if (!closing) return AssertionFailure() << "Escape did not reach the closing screen";
    return LeaveClosingScreen(run, from);
}

ProgramTest::Result ProgramTest::LeaveClosingScreen(ProgramRun& run, size_t fromLine) {
    if (!run.WaitForLogLine("Play again, soon!!", kScreenMs, fromLine)) {
        return AssertionFailure() << "no closing screen; stderr: " << run.StdErr();
    }
    // Once drawn, the screen waits until nothing is held, then for a press; a
    // press that fell into the first wait is tried again.
    run.WaitFor([&] { return Area(run, 440, 440, 400, 80).Count(kCyan) > 100; }, kScreenMs);
    TryUntil(
        run, [&] { run.TapKey("space"); }, [&] { return !run.Running(); }, 1500);
    const int status = run.WaitForExit(0);
    return Unless(status == 0, "exit status " + std::to_string(status) + "; " + run.StdErr());
}

}  // namespace zqtest
