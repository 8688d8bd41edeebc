// The end-to-end harness; see program_harness.h.
#include "tests/support/program_harness.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/fake_devices.h"
#include "tests/support/wait.h"
#include "tests/support/xvfb.h"

namespace zqtest {

namespace fs = std::filesystem;

namespace {

constexpr int kReleaseGapMs = 40;

// Links every asset into the install (they are only read), copies the
// executable (it must really live there for the folder rule to see it).
void MirrorInstall(const fs::path& from, const fs::path& to) {
    fs::create_directories(to);
    for (const auto& entry : fs::directory_iterator(from)) {
        const fs::path target = to / entry.path().filename();
        if (entry.is_directory()) {
            MirrorInstall(entry.path(), target);
        } else if (entry.path().filename() == "zarquill") {
            fs::copy_file(entry.path(), target);
        } else {
            // Files a previous run left in the runnable folder are not part of an install.
            const std::string name = entry.path().filename().string();
            const bool screenshot = name.find("(Screenshot_") != std::string::npos;
            if (name == "Debug.txt" || name == "Setup.ini" || name == "nuscores.dat" ||
                name == "crash.dat" || screenshot) {
                continue;
            }
            fs::create_symlink(fs::absolute(entry.path()), target);
        }
    }
}

}  // namespace

ProgramRun::ProgramRun() {
    std::string templ = (fs::temp_directory_path() / "zq-run-XXXXXX").string();
    if (char* made = ::mkdtemp(templ.data())) {
        root_ = made;
        MirrorInstall(ZQ_DIST_DIR, root_);
        executable_ = root_ + "/zarquill";
        workDir_ = root_;
        logFile_ = root_ + "/Files/Debug.txt";
    }
}

void ProgramRun::UseProgram(const std::string& executable, const std::string& workDir,
                            const std::string& logFile) {
    executable_ = executable;
    workDir_ = workDir;
    logFile_ = logFile;
}

void ProgramRun::SetEnv(const std::string& name, const char* value) {
    env_[name] = value ? std::optional<std::string>(value) : std::nullopt;
}

ProgramRun::~ProgramRun() {
    Kill();
    if (dpy_) XCloseDisplay(dpy_);
    std::error_code ec;
    if (!root_.empty()) fs::remove_all(root_, ec);
}

void ProgramRun::ExecProgram(const std::vector<std::string>& args) const {
    if (::chdir(workDir_.c_str()) != 0) _exit(126);
    for (const auto& [name, value] : env_) {
        value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
    }
    std::vector<std::string> all{executable_};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    _exit(127);
}

std::string ProgramRun::RunOnce(const std::vector<std::string>& args, int* status) const {
    std::string out;
    int fds[2];
    if (root_.empty() || ::pipe(fds) != 0) return out;
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], 1);
        ::close(fds[0]);
        int null = ::open("/dev/null", O_WRONLY);
        if (null >= 0) ::dup2(null, 2);
        ExecProgram(args);
    }
    ::close(fds[1]);
    char buf[4096];
    ssize_t n;
    while (pid > 0 && (n = ::read(fds[0], buf, sizeof buf)) > 0)
        out.append(buf, static_cast<size_t>(n));
    ::close(fds[0]);
    int st = 0;
    const bool ended = pid > 0 && ::waitpid(pid, &st, 0) == pid && WIFEXITED(st);
    if (status) *status = ended ? WEXITSTATUS(st) : -1;
    return out;
}

bool ProgramRun::Start(const std::vector<std::string>& args, const std::string& display) {
    if (root_.empty()) return false;
    display_ = display;
    exited_ = false;
    status_ = 0;
    window_ = 0;
    if (display_.empty()) {
        XvfbServer& server = SharedXvfb();
        if (!server.Ok()) return false;
        display_ = server.Display();
    }
    pid_ = ::fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
        int out = ::open((root_ + "/stdout.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = ::open((root_ + "/stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out >= 0) ::dup2(out, 1);
        if (err >= 0) ::dup2(err, 2);
        ::setenv("DISPLAY", display_.c_str(), 1);
        ExecProgram(args);
    }
    return true;
}

bool ProgramRun::Running() {
    if (pid_ <= 0 || exited_) return false;
    int st = 0;
    if (::waitpid(pid_, &st, WNOHANG) == pid_) {
        exited_ = true;
        status_ = WIFEXITED(st) ? WEXITSTATUS(st) : -2;
        return false;
    }
    return true;
}

void ProgramRun::Kill() {
    if (pid_ > 0 && !exited_) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    exited_ = true;
    status_ = -2;
}

std::vector<std::string> ProgramRun::LogLines() const {
    std::vector<std::string> lines;
    std::ifstream in(logFile_, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

bool ProgramRun::WaitFor(const std::function<bool()>& condition, int timeoutMs) {
    zqtest::WaitFor([&] { return condition() || !Running(); }, timeoutMs);
    return condition();
}

bool ProgramRun::WaitForLogLine(const std::string& line, int timeoutMs, size_t from) {
    return WaitFor(
        [&] {
            const auto lines = LogLines();
            return std::find(lines.begin() + static_cast<long>(std::min(from, lines.size())),
                             lines.end(), line) != lines.end();
        },
        timeoutMs);
}

int ProgramRun::WaitForExit(int timeoutMs) {
    if (WaitFor([this] { return !Running(); }, timeoutMs)) return pid_ > 0 ? status_ : -1;
    Kill();
    return -1;
}

void ProgramRun::Signal(int signalNumber) {
    if (pid_ > 0 && !exited_) ::kill(pid_, signalNumber);
}

std::string ProgramRun::StdErr() const {
    std::ifstream in(root_ + "/stderr.txt", std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool ProgramRun::FindWindow() {
    if (!dpy_) dpy_ = XOpenDisplay(display_.c_str());
    if (!dpy_) return false;
    const Window w = FindTitledWindow(dpy_, "Vantrelle");
    if (!w) return false;
    XWindowAttributes attrs;
    if (!XGetWindowAttributes(dpy_, w, &attrs)) return false;
    Window child;
    XTranslateCoordinates(dpy_, w, DefaultRootWindow(dpy_), 0, 0, &originX_, &originY_, &child);
    width_ = attrs.width;
    height_ = attrs.height;
    window_ = w;
    return true;
}

bool ProgramRun::WaitForWindow(int timeoutMs) {
    return WaitFor([this] { return FindWindow(); }, timeoutMs);
}

void ProgramRun::Sync() {
    if (dpy_) XSync(dpy_, False);
}

void ProgramRun::MovePointer(int x, int y) {
    if (!dpy_) return;
    XTestFakeMotionEvent(dpy_, DefaultScreen(dpy_), originX_ + x, originY_ + y, CurrentTime);
    Sync();
}

void ProgramRun::MovePointerLogical(double x, double y, int vw, int vh) {
    MovePointer(static_cast<int>(x * width_ / vw + 0.5), static_cast<int>(y * height_ / vh + 0.5));
}

void ProgramRun::GapAfterRelease() {
    const long long wait = lastReleaseMs_ + kReleaseGapMs - NowMs();
    if (wait > 0) std::this_thread::sleep_for(std::chrono::milliseconds(wait));
}

void ProgramRun::ButtonDown(int xButton) {
    if (!dpy_) return;
    GapAfterRelease();
    XTestFakeButtonEvent(dpy_, static_cast<unsigned>(xButton), True, CurrentTime);
    Sync();
}

void ProgramRun::ButtonUp(int xButton) {
    if (!dpy_) return;
    XTestFakeButtonEvent(dpy_, static_cast<unsigned>(xButton), False, CurrentTime);
    Sync();
    lastReleaseMs_ = NowMs();
}

void ProgramRun::Click(int xButton) {
    ButtonDown(xButton);
    std::this_thread::sleep_for(std::chrono::milliseconds(kHoldMs));
    ButtonUp(xButton);
}

void ProgramRun::KeyDown(const std::string& keysymName) {
    if (!dpy_) return;
    KeyCode code = XKeysymToKeycode(dpy_, XStringToKeysym(keysymName.c_str()));
    GapAfterRelease();
    XTestFakeKeyEvent(dpy_, code, True, CurrentTime);
    Sync();
}

void ProgramRun::KeyUp(const std::string& keysymName) {
    if (!dpy_) return;
    KeyCode code = XKeysymToKeycode(dpy_, XStringToKeysym(keysymName.c_str()));
    XTestFakeKeyEvent(dpy_, code, False, CurrentTime);
    Sync();
    lastReleaseMs_ = NowMs();
}

void ProgramRun::TapKey(const std::string& keysymName) {
    KeyDown(keysymName);
    std::this_thread::sleep_for(std::chrono::milliseconds(kHoldMs));
    KeyUp(keysymName);
}

void ProgramRun::RequestClose() {
    if (dpy_ && window_) SendCloseRequest(dpy_, window_);
}

int Pixels::Count(const std::function<bool(int, int, int)>& keep) const {
    int n = 0;
    for (size_t i = 0; i + 2 < rgb.size(); i += 3) n += keep(rgb[i], rgb[i + 1], rgb[i + 2]);
    return n;
}

Pixels ProgramRun::ReadPixels(int x, int y, int w, int h) {
    Pixels out;
    if (!FindWindow()) return out;
    out.left = std::max(x, 0);
    out.top = std::max(y, 0);
    out.width = std::min(x + w, width_) - out.left;
    out.height = std::min(y + h, height_) - out.top;
    XImage* image =
        out.width <= 0 || out.height <= 0
            ? nullptr
            : XGetImage(dpy_, window_, out.left, out.top, static_cast<unsigned>(out.width),
                        static_cast<unsigned>(out.height), AllPlanes, ZPixmap);
    if (!image) return Pixels{};
    const unsigned long masks[3] = {image->red_mask, image->green_mask, image->blue_mask};
    for (int row = 0; row < out.height; ++row) {
        for (int col = 0; col < out.width; ++col) {
            const unsigned long p = XGetPixel(image, col, row);
            // (v << shift) * 255 / (max << shift): the channel scaled to 0..255.
            for (unsigned long m : masks)
                out.rgb.push_back(static_cast<uint8_t>(m ? (p & m) * 255 / m : 0));
        }
    }
    XDestroyImage(image);
    return out;
}

}  // namespace zqtest
