// The verification child and the parent's side of it.
#include "board/verify.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "board/limits.h"
#include "board/resimulate.h"
#include "engine/identity.h"
#include "game/replay_file.h"

extern char** environ;

namespace board {

namespace {

// The most a child may write as its verdict.
constexpr size_t kMaxVerdictBytes = 64 * 1024;
// How often the parent looks at the stop flag while a child runs.
constexpr int kStopCheckMs = 100;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

// Closes a descriptor when it goes out of scope.
struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

// Writes all bytes to a descriptor; false on failure.
bool WriteAll(int fd, const char* data, size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, data, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        data += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// Makes a verdict from what the re-simulation reported.
Verdict VerdictFrom(const game::ReplayVerdict& v) {
    Verdict out;
    out.verified = v.ok;
    out.score = v.simulatedScore;
    if (v.ok) return out;
    if (v.firstBadStep >= 0) {
        out.firstBadStep = v.firstBadStep;
        out.reason = "desync at step " + std::to_string(v.firstBadStep);
    } else {
        out.reason = v.reason;
    }
    return out;
}

}  // namespace

int RunVerifyChild() {
    // A batch job at a lower priority: on a busy server the requests come
    // first, and the run waits a little longer for its verdict. Where the
    // system refuses either change the run is verified all the same.
    constexpr int kLowestPriority = 19;
    ::setpriority(PRIO_PROCESS, 0,
                  std::min(kLowestPriority, ::getpriority(PRIO_PROCESS, 0) + kVerifyNice));
    const sched_param batch{};
    ::sched_setscheduler(0, SCHED_BATCH, &batch);
    rlimit cpu{static_cast<rlim_t>(kVerifyCpuSeconds), static_cast<rlim_t>(kVerifyCpuSeconds + 1)};
    ::setrlimit(RLIMIT_CPU, &cpu);
    // The address sanitizer reserves far more address space than it uses.
    if (!kAddressSanitizer) {
        rlimit as{kVerifyAddressSpaceBytes, kVerifyAddressSpaceBytes};
        ::setrlimit(RLIMIT_AS, &as);
    }
    std::string bytes;
    char buf[65536];
    while (bytes.size() <= kMaxBodyBytes) {
        const ssize_t n = ::read(0, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        bytes.append(buf, static_cast<size_t>(n));
    }
    nlohmann::json out;
    game::Replay replay;
    std::string error;
    if (bytes.size() > kMaxBodyBytes) {
        out = {{"error", "the replay is too large"}};
    } else if (!game::DecodeReplay(bytes, replay, error)) {
        out = {{"error", "not a readable replay: " + error}};
    } else {
        const Verdict v = VerdictFrom(Resimulate(replay));
        out = {{"verified", v.verified},
               {"score", v.score},
               {"reason", v.reason},
               {"first_bad_step", v.firstBadStep ? nlohmann::json(*v.firstBadStep) : nullptr}};
    }
    const std::string line =
        out.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    return WriteAll(1, line.data(), line.size()) ? 0 : 1;
}

std::optional<Verdict> PrecheckReplay(const std::string& bytes) {
    game::Replay replay;
    std::string error;
    if (!game::DecodeReplay(bytes, replay, error)) {
        return Verdict{false, 0, "not a readable replay: " + error, {}};
    }
    if (replay.header.programVersion != engine::GameVersion) {
        return Verdict{false, 0, "made with version " + replay.header.programVersion, {}};
    }
    if (replay.header.frames > kMaxRunFrames) {
        return Verdict{false, 0, "longer than 2 hours of play", {}};
    }
    return std::nullopt;
}

ChildResult VerifyInChild(const std::string& program, const std::string& bytes,
                          const std::atomic<bool>& stop, const std::function<bool()>& renewClaim,
                          int renewMs, int wallSeconds) {
    ChildResult result;
    result.outcome = ChildOutcome::Unavailable;
    // The replay waits in an anonymous file: the child reads it at its pace, no pipe to feed.
    Fd input{::memfd_create("zarquill-replay", MFD_CLOEXEC)};
    if (input.fd < 0 || !WriteAll(input.fd, bytes.data(), bytes.size()) ||
        ::lseek(input.fd, 0, SEEK_SET) != 0) {
        result.detail = "cannot pass the replay to a child";
        return result;
    }
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        result.detail = "cannot make a pipe for a child";
        return result;
    }
    Fd readEnd{pipeFds[0]};
    Fd writeEnd{pipeFds[1]};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input.fd, 0);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.fd, 1);
    // The child starts with default signal handling and nothing blocked.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    std::string arg0 = program;
    std::string arg1 = kVerifyOneOption;
    char* argv[] = {arg0.data(), arg1.data(), nullptr};
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, program.c_str(), &actions, &attr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    ::close(writeEnd.fd);
    writeEnd.fd = -1;
    if (rc != 0) {
        result.detail = std::string("cannot start a verification child: ") + std::strerror(rc);
        return result;
    }
    result.outcome = ChildOutcome::Crashed;

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(wallSeconds);
    auto nextRenewal = std::chrono::steady_clock::now() + std::chrono::milliseconds(renewMs);
    std::string output;
    bool timedOut = false;
    bool abandoned = false;
    bool lost = false;
    while (true) {
        if (stop.load()) {
            abandoned = true;
            break;
        }
        if (renewClaim && std::chrono::steady_clock::now() >= nextRenewal) {
            if (!renewClaim()) {
                lost = true;
                break;
            }
            nextRenewal = std::chrono::steady_clock::now() + std::chrono::milliseconds(renewMs);
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            timedOut = true;
            break;
        }
        pollfd p{readEnd.fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, kStopCheckMs);
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0) continue;
        char buf[4096];
        const ssize_t n = ::read(readEnd.fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // the child closed its output: it is done
        output.append(buf, static_cast<size_t>(n));
        if (output.size() > kMaxVerdictBytes) break;
    }
    if (timedOut || abandoned || lost || output.size() > kMaxVerdictBytes) ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }

    if (abandoned) {
        result.outcome = ChildOutcome::Abandoned;
        result.detail = "the server is stopping";
        return result;
    }
    if (lost) {
        result.outcome = ChildOutcome::ClaimLost;
        result.detail = "the claim on the run was lost; its verification was stopped";
        return result;
    }
    // The processor-time limit sends SIGXCPU, then SIGKILL at the hard limit.
    const bool flooded = output.size() > kMaxVerdictBytes;
    const bool cpuLimit =
        WIFSIGNALED(status) &&
        (WTERMSIG(status) == SIGXCPU || (WTERMSIG(status) == SIGKILL && !timedOut && !flooded));
    if (timedOut) {
        // Wall time says more about the machine's load than about the replay (the
        // children run at a low priority): try again rather than reject the run.
        result.detail =
            "verification took longer than " + std::to_string(wallSeconds) + " s of wall time";
        return result;
    }
    if (cpuLimit) {
        result.outcome = ChildOutcome::TooSlow;
        result.verdict.reason = "verification used more than " + std::to_string(kVerifyCpuSeconds) +
                                " s of processor time";
        result.detail = result.verdict.reason;
        return result;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        result.detail = WIFSIGNALED(status) ? "the verification child died of signal " +
                                                  std::to_string(WTERMSIG(status))
                                            : "the verification child failed with status " +
                                                  std::to_string(WEXITSTATUS(status));
        return result;
    }
    const auto j = nlohmann::json::parse(output, nullptr, false);
    if (!j.is_object()) {
        result.detail = "the verification child wrote no verdict";
        return result;
    }
    try {
        result.outcome = ChildOutcome::Judged;
        if (j.contains("error")) {
            result.verdict.reason = j["error"].get<std::string>();
            return result;
        }
        result.verdict.verified = j.at("verified").get<bool>();
        result.verdict.score = j.at("score").get<int64_t>();
        result.verdict.reason = j.at("reason").get<std::string>();
        if (j.at("first_bad_step").is_number_integer()) {
            result.verdict.firstBadStep = j["first_bad_step"].get<int64_t>();
        }
    } catch (const nlohmann::json::exception&) {
        result = ChildResult{};
        result.detail = "the verification child wrote a damaged verdict";
    }
    return result;
}

}  // namespace board
