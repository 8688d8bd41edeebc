// Waiting in tests; see wait.h.
#include "tests/support/wait.h"

#include <sys/wait.h>

#include <chrono>
#include <thread>

namespace zqtest {

long long NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void PauseForPoll() {
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
    for (const long long end = NowMs() + timeoutMs; NowMs() < end; PauseForPoll()) {
        if (condition()) return true;
    }
    return condition();
}

std::optional<int> WaitForChild(pid_t pid, int timeoutMs) {
    int status = 0;
    if (WaitFor([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, timeoutMs)) return status;
    return std::nullopt;
}

}  // namespace zqtest
