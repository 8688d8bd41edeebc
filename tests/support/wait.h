// Waiting in tests: one poll interval, one monotonic clock in milliseconds,
// one bounded wait for a condition and one bounded wait for a child process.
#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>

namespace zqtest {

// How long a wait sleeps between two looks at what it waits for.
constexpr int kPollMs = 10;

// Returns a monotonic time in milliseconds.
long long NowMs();
// Sleeps one poll interval.
void PauseForPoll();
// Polls condition until it holds or timeoutMs pass; returns its last answer.
bool WaitFor(const std::function<bool()>& condition, int timeoutMs);
// Waits up to timeoutMs for the child pid to end and reaps it; returns its
// wait status, or nothing when it still runs.
std::optional<int> WaitForChild(pid_t pid, int timeoutMs);

}  // namespace zqtest
