// The shared end-to-end steps and the screen probes they wait on; see e2e_fixture.h.
#include "tests/e2e/e2e_fixture.h"

namespace zqtest {

namespace {

using ::testing::AssertionFailure;
using ::testing::AssertionSuccess;

// Tries of a press whose effect did not show (a slow frame can miss a held
// press, never a counted one).
constexpr int kTries = 3;
// Wait for the effect of one try.
constexpr int kTryMs = 5000;
// Longest name the name entry may show before a test replaces it.
constexpr int kMaxNameLength = 24;

// Predicates of the colours the probes look for (red, green, blue).
bool White(int r, int g, int b) {
    return r > 220 && g > 220 && b > 220;
}
bool Yellow(int r, int g, int b) {
    return r > 200 && g > 200 && b < 90;
}
bool Green(int r, int g, int b) {
    return g > 150 && r < 100 && g > b + 60;
}
bool PanelEdge(int r, int g, int b) {  // the settings panel's light green lower edge
    return g > 230 && r > 150 && r < 220 && b > 150 && b < 220;
}
bool Cyan(int r, int g, int b) {  // the closing screen's "Thanks for Playing"
    return g > 230 && b > 230 && r > 150 && r < 210;
}

// Reads the window's pixels over a rectangle of the logical screen.
Pixels Area(ProgramRun& run, int x, int y, int w, int h) {
    const double sx = run.WindowWidth() / double(kVW), sy = run.WindowHeight() / double(kVH);
    return run.ReadPixels(int(x * sx), int(y * sy), int(w * sx + 0.5), int(h * sy + 0.5));
}

// Returns the mean green of a pixel area.
double MeanGreen(const Pixels& p) {
    double sum = 0;
    for (size_t i = 1; i < p.rgb.size(); i += 3) sum += p.rgb[i];
    return p.rgb.empty() ? 0 : sum / double(p.rgb.size() / 3);
}

// The title panel's header band, white at 30%, reaches its last few units
// only once the panel rests, and is much brighter than the backdrop beside it.
bool TitlePanelAtRest(ProgramRun& run) {
    const Pixels probe = Area(run, kPanelX - 3, 10, 18, 25);
    const Pixels beside = Area(run, kPanelX - 60, 10, 30, 25);
    return !probe.rgb.empty() && MeanGreen(probe) > MeanGreen(beside) + 40;
}

// The chosen difficulty is drawn white, the others half transparent.
bool DifficultyChosen(ProgramRun& run, Difficulty d) {
    const int top = kVH / 2 + 200 + 50 * static_cast<int>(d);
    return Area(run, kCentreX - 100, top, 200, 40).Count(White) > 100;
}

// The pause menu draws its chosen entry (0 Continue, 1 Quit) in yellow.
bool PauseEntryChosen(ProgramRun& run, int entry) {
    return Area(run, 128, 410 + 60 * entry, 192, 55).Count(Yellow) > 40;
}

// The dark playfield of a game (the menus' backdrop is blue).
bool Playing(ProgramRun& run) {
    const double blue = run.MeanBlue();
    return blue >= 0 && blue < 40;
}

// The name entry's green "Enter Your Name".
bool OnNameEntry(ProgramRun& run) {
    return Area(run, 400, 328, 480, 85).Count(Green) > 1500;
}

// Returns the leftmost window column of the name being entered; the name is
// centred and its cursor starts at the middle, so a column left of the middle
// means a name that is not empty.
int NameLeftEdge(ProgramRun& run) {
    const Pixels p = Area(run, 0, 419, kVW, 117);
    for (int x = p.left; x < p.left + p.width; ++x) {
        for (int y = p.top; y < p.top + p.height; ++y) {
            if (Green(p.At(x, y, 0), p.At(x, y, 1), p.At(x, y, 2))) return x;
        }
    }
    return run.WindowWidth();
}

bool NameEmpty(ProgramRun& run) {
    return NameLeftEdge(run) >= run.WindowWidth() / 2 - 1;
}

// Waits (bounded) until the window shows a new frame of an animated screen.
bool WaitForNewFrame(ProgramRun& run) {
    const Pixels before = Area(run, kVW / 4, kVH / 4, kVW / 2, kVH / 2);
    return run.WaitFor(
        [&] { return Area(run, kVW / 4, kVH / 4, kVW / 2, kVH / 2).rgb != before.rgb; }, kTryMs);
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
    for (int attempt = 0; attempt < kTries && run.Running(); ++attempt) {
        if (done()) return true;
        press();
        if (run.WaitFor(done, tryMs)) return true;
    }
    return done();
}

}  // namespace

ProgramTest::Result ProgramTest::StartToTitle(ProgramRun& run, const std::string& display) {
    if (!run.Start({}, display)) return AssertionFailure() << "the program did not start";
    if (!run.WaitForLogLine("Finished Loading", kLoadMs)) {
        return AssertionFailure() << "loading did not finish; stderr: " << run.StdErr();
    }
    if (!run.WaitForWindow()) return AssertionFailure() << "no window";
    return WaitForTitle(run);
}

ProgramTest::Result ProgramTest::WaitForTitle(ProgramRun& run) {
    if (run.WaitFor([&] { return TitlePanelAtRest(run); }, kScreenMs)) return AssertionSuccess();
    return AssertionFailure() << "the title screen did not come; running " << run.Running();
}

void ProgramTest::ClickAt(ProgramRun& run, int x, int y) {
    run.MovePointerLogical(x, y, kVW, kVH);
    run.Click(1);
}

ProgramTest::Result ProgramTest::StartGame(ProgramRun& run, Difficulty difficulty) {
    if (Result title = WaitForTitle(run); !title) return title;
    const int row = kVH / 2 + 200 + 50 * static_cast<int>(difficulty) + 20;
    if (!TryUntil(
            run, [&] { ClickAt(run, kCentreX - 50, row); },
            [&] { return DifficultyChosen(run, difficulty); })) {
        return AssertionFailure() << "the difficulty was not chosen";
    }
    if (!TryUntil(
            run, [&] { ClickAt(run, kCentreX, kVH / 2 + 80); }, [&] { return Playing(run); })) {
        return AssertionFailure() << "the game did not start";
    }
    return AssertionSuccess();
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
    // The menu takes a choice only after a frame with no key held.
    WaitForNewFrame(run);
    if (!TryUntil(
            run, [&] { run.TapKey("space"); }, [&] { return OnNameEntry(run); })) {
        return AssertionFailure() << "no name entry after the game";
    }
    return AssertionSuccess();
}

ProgramTest::Result ProgramTest::EnterName(ProgramRun& run, const std::string& name, bool confirm,
                                           int timeoutMs) {
    if (!run.WaitFor([&] { return OnNameEntry(run); }, timeoutMs)) {
        return AssertionFailure() << "no name entry; running " << run.Running();
    }
    // One BackSpace takes one character a frame; each is held until it did.
    for (int i = 0; i < kMaxNameLength && !NameEmpty(run); ++i) {
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
    if (!run.WaitFor([&] { return !OnNameEntry(run); }, kScreenMs)) {
        return AssertionFailure() << "Return did not end the name entry";
    }
    return AssertionSuccess();
}

ProgramTest::Result ProgramTest::WaitForStoredRun(ProgramRun& run, const std::string& name,
                                                  std::string* json) {
    std::string last;
    if (run.WaitFor([&] { return HoldsRun(last = ScoresJson(run), name); }, kScreenMs)) {
        if (json) *json = last;
        return AssertionSuccess();
    }
    return AssertionFailure() << "no run named " << name << " was stored: " << last;
}

ProgramTest::Result ProgramTest::ToggleSettings(ProgramRun& run, bool open) {
    // The open panel rests 20 units down, its edge 298 below that.
    const auto atRest = [&] {
        return Area(run, 0, 314, kVW, 8).Count(PanelEdge) > run.WindowWidth() / 2;
    };
    run.TapKey("Tab");  // a counted press: never missed
    if (run.WaitFor([&] { return atRest() == open; }, kScreenMs)) return AssertionSuccess();
    return AssertionFailure() << "the settings panel did not " << (open ? "open" : "shut");
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
        return AssertionFailure() << "no closing screen; running " << run.Running()
                                  << "; stderr: " << run.StdErr();
    }
    // Once drawn, the screen waits until nothing is held, then for a press; a
    // press that fell into the first wait is tried again.
    run.WaitFor([&] { return Area(run, 440, 440, 400, 80).Count(Cyan) > 100; }, kScreenMs);
    TryUntil(
        run, [&] { run.TapKey("space"); }, [&] { return !run.Running(); }, 1500);
    const int status = run.WaitForExit(0);
    if (status == 0) return AssertionSuccess();
    return AssertionFailure() << "exit status " << status << "; stderr: " << run.StdErr();
}

}  // namespace zqtest
