// A private X server for tests; see xvfb.h.
#include "tests/support/xvfb.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>

#include "tests/support/wait.h"

namespace zqtest {

namespace {

constexpr int kStartTimeoutMs = 15000;
constexpr int kStopTimeoutMs = 5000;

// Reads the display number Xvfb writes to the pipe (ends with a newline).
std::string ReadDisplayNumber(int fd) {
    std::string text;
    auto start = std::chrono::steady_clock::now();
    for (;;) {
        auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - start)
                           .count();
        if (elapsed >= kStartTimeoutMs) return {};
        pollfd p{fd, POLLIN, 0};
        int r = poll(&p, 1, static_cast<int>(kStartTimeoutMs - elapsed));
        if (r <= 0) continue;
        char buf[32];
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) return {};
        text.append(buf, static_cast<size_t>(n));
        auto nl = text.find('\n');
        if (nl != std::string::npos) return text.substr(0, nl);
    }
}

}  // namespace

XvfbServer::XvfbServer() {
    if (const char* d = std::getenv("DISPLAY")) {
        had_display_ = true;
        old_display_ = d;
    }
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return;
    }
    if (pid == 0) {
        // Child: end with the test process even when it is killed, keep the
        // write end open across exec, silence the server.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        int wfd = dup(fds[1]);
        int devnull = open("/dev/null", O_RDWR);
        if (devnull >= 0) {
            dup2(devnull, 1);
            dup2(devnull, 2);
        }
        std::string fd_text = std::to_string(wfd);
        execlp("Xvfb", "Xvfb", "-displayfd", fd_text.c_str(), "-screen", "0", "1024x768x24",
               "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    pid_ = pid;
    std::string number = ReadDisplayNumber(fds[0]);
    close(fds[0]);
    if (number.empty()) {
        kill(pid_, SIGTERM);
        if (!WaitForChild(pid_, kStopTimeoutMs)) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
        return;
    }
    display_ = ":" + number;
    setenv("DISPLAY", display_.c_str(), 1);
}

XvfbServer::~XvfbServer() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        if (!WaitForChild(pid_, kStopTimeoutMs)) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    if (had_display_) {
        setenv("DISPLAY", old_display_.c_str(), 1);
    } else {
        unsetenv("DISPLAY");
    }
}

XvfbServer& SharedXvfb() {
    // Intentionally a function-local static: stopped by the exit handlers.
    static XvfbServer server;
    return server;
}

bool UnderCI() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && *ci != '\0' && std::string(ci) != "false";
}

}  // namespace zqtest
