// Drives the real program end to end: copies the runnable folder into a
// temporary install, starts the program there on a private X server, sends it
// real pointer and key events with XTest, waits (with a bound) for lines in
// its log and reads the files it leaves.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

typedef struct _XDisplay Display;

namespace zqtest {

// How long a tap or a click holds its key or button: long enough for a slow
// frame on a loaded machine to see it (in slow-system mode the pause key is
// read every other frame). Where a step can, it holds until it sees the effect.
inline constexpr int kHoldMs = 250;

// Window pixels read back from the X server.
struct Pixels {
    int left = 0, top = 0, width = 0, height = 0;  // in window pixels
    std::vector<uint8_t> rgb;                      // red, green, blue a pixel, row by row
    // Counts the pixels for which keep(red, green, blue) holds.
    int Count(const std::function<bool(int, int, int)>& keep) const;
};

class ProgramRun {
  public:
    // Prepares a fresh install of build/dist in a temporary folder.
    ProgramRun();
    // Ends the program if it still runs and removes the install.
    ~ProgramRun();
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    // Returns the install folder (holding zarquill and Files/).
    const std::string& Root() const { return root_; }
    // Returns Root() + "/" + relative.
    std::string Path(const std::string& relative) const { return root_ + "/" + relative; }

    // Runs executable from workDir instead of the install's copy from Root(),
    // and reads its log from logFile. Call before Start.
    void UseProgram(const std::string& executable, const std::string& workDir,
                    const std::string& logFile);
    // Sets an environment variable of the program (unset when value is null),
    // replacing an earlier setting of it. Call before Start.
    void SetEnv(const std::string& name, const char* value);

    // Starts the program in the install folder on the given display (the
    // shared Xvfb when empty). Returns false when it could not be started.
    bool Start(const std::vector<std::string>& args = {}, const std::string& display = "");
    // Polls condition until it holds; returns false after timeoutMs or once
    // the program has ended without it holding.
    bool WaitFor(const std::function<bool()>& condition, int timeoutMs);
    // Waits until the log holds a line equal to `line` (after position
    // `from`, in lines); returns false after timeoutMs or when the program died.
    bool WaitForLogLine(const std::string& line, int timeoutMs = 60000, size_t from = 0);
    // Returns the log's lines (CR LF removed).
    std::vector<std::string> LogLines() const;
    // Waits for the program to end; returns its exit status, -1 on timeout
    // (the program is then killed), -2 when it was ended by a signal.
    int WaitForExit(int timeoutMs = 30000);
    // Returns true while the program runs.
    bool Running();
    // Ends the program at once with SIGKILL and waits for it; Start may follow.
    void Kill();
    // Runs the program once more, to its end, with the same folder and
    // environment (for options such as --scores); returns its standard output
    // and stores its exit status (-1 when it did not end normally) in status.
    std::string RunOnce(const std::vector<std::string>& args, int* status = nullptr) const;
    // Returns what the program wrote to standard error.
    std::string StdErr() const;
    // Sends a signal to the running program.
    void Signal(int signalNumber);
    // Drops the harness's own X connection without a word to the server
    // (call it before the server is stopped: Xlib would end the test on it).
    void AbandonDisplayConnection() { dpy_ = nullptr; }

    // Returns true once the program's window is mapped (bounded wait).
    bool WaitForWindow(int timeoutMs = 30000);
    // Returns the window's size in pixels (0 when unknown).
    int WindowWidth() const { return width_; }
    int WindowHeight() const { return height_; }
    // Moves the pointer to window pixel (x, y).
    void MovePointer(int x, int y);
    // Moves the pointer to a logical position of a virtual screen of vw x vh.
    void MovePointerLogical(double x, double y, int vw, int vh);
    // Presses and releases a mouse button (1 left, 2 middle, 3 right in X
    // terms), holding it kHoldMs.
    void Click(int xButton);
    // Note: a press follows the last release after a short gap, as a hand
    // would: a release and a press in the same millisecond read as X auto-repeat.
    void ButtonDown(int xButton);
    void ButtonUp(int xButton);
    // Presses and releases a key given by its X keysym name ("Escape", "F11",
    // "a"), holding it kHoldMs.
    void TapKey(const std::string& keysymName);
    void KeyDown(const std::string& keysymName);
    void KeyUp(const std::string& keysymName);
    // Asks the window manager's way to close the window (WM_DELETE_WINDOW).
    void RequestClose();
    // Reads the window's pixels in the rectangle (x, y, w, h), clipped to the
    // window; empty when they cannot be read.
    Pixels ReadPixels(int x, int y, int w, int h);

  private:
    bool FindWindow();
    void Sync();
    void GapAfterRelease();
    // In a forked child: moves into the work folder, sets the environment and
    // runs the program; never returns.
    [[noreturn]] void ExecProgram(const std::vector<std::string>& args) const;

    std::string root_;
    std::string executable_, workDir_, logFile_;
    std::map<std::string, std::optional<std::string>> env_;  // no value: unset
    std::string display_;
    pid_t pid_ = -1;
    int status_ = 0;
    bool exited_ = false;
    Display* dpy_ = nullptr;
    unsigned long window_ = 0;
    int originX_ = 0, originY_ = 0, width_ = 0, height_ = 0;
    long long lastReleaseMs_ = 0;
};

}  // namespace zqtest
