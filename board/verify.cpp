// The verification child and the parent's side of it.
#include "board/verify.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZQ_HAS_ASAN 1
#endif
#endif
#ifndef ZQ_HAS_ASAN
#define ZQ_HAS_ASAN 0
#endif
#if defined(__SANITIZE_ADDRESS__) || ZQ_HAS_ASAN
#include <sanitizer/asan_interface.h>
#endif

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include "board/copies.h"
#include "board/limits.h"
#include "board/log.h"
#include "board/resimulate.h"
#include "engine/identity.h"
#include "game/replay_file.h"

#ifndef ZQ_INSTALLED_VERIFIER_REL
#define ZQ_INSTALLED_VERIFIER_REL "../libexec/zarquill-board"
#endif

namespace board {

namespace {

// How often the parent looks at the stop flag while a child runs, and whether
// a child that closed its output has exited.
constexpr int kStopCheckMs = 100;
constexpr int kExitCheckMs = 10;
// The share of its processor time a child that died must have used to count
// as too slow: the usage wait4 reports runs a few per cent behind the clock
// the kernel's limit is checked against.
constexpr double kTooSlowShare = 0.9;
// The niceness no process goes below.
constexpr int kLowestPriority = 19;
// The most check values a run that is re-simulated holds.
constexpr size_t kMostCheckValues = kMaxRunFrames / game::kReplayCheckInterval + 1;
// The bytes of a verified run's games under the other rules versions in its
// verdict at most: the first values of the longest run, eight hex digits each.
constexpr size_t kOtherRulesBytes = (game::kNewestRules - game::kOldestRules) * 8 *
                                    static_cast<size_t>(CopyAgreement(kMostCheckValues));
// Room for the rest of a verified run's verdict: its field names and numbers.
constexpr size_t kVerdictFieldsBytes = 1024;
static_assert(kOtherRulesBytes + kVerdictFieldsBytes <= kMaxVerdictBytes,
              "a verified verdict of the longest run must fit the verdict limit");

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

// What a child could not do between fork and exec, in the order it does them.
enum class StartStep : int {
    DeathSignal,
    ParentGone,
    CpuLimit,
    AddressSpaceLimit,
    CoreLimit,
    Niceness,
    SchedulingClass,
    Signals,
    Input,
    Output,
    Exec,
};

// Names a step for the log.
const char* StepName(StartStep step) {
    switch (step) {
        case StartStep::DeathSignal:
            return "set the signal that ends it with the server";
        case StartStep::ParentGone:
            return "start (the server ended first)";
        case StartStep::CpuLimit:
            return "set its processor-time limit";
        case StartStep::AddressSpaceLimit:
            return "set its address-space limit";
        case StartStep::CoreLimit:
            return "set its core-size limit";
        case StartStep::Niceness:
            return "set its niceness";
        case StartStep::SchedulingClass:
            return "set its scheduling class";
        case StartStep::Signals:
            return "reset its signals";
        case StartStep::Input:
            return "pass it the replay";
        case StartStep::Output:
            return "connect its output";
        case StartStep::Exec:
            return "start";
    }
    return "start";
}

// What a child writes to its parent when a step fails (the pipe closes unread on exec).
struct StartFailure {
    StartStep step;
    int error;
};

// Moves a descriptor above the standard ones (closing the old one), so that
// dup2 onto 0 and 1 never meets it; -1 on failure.
int AboveStandard(int fd) {
    if (fd < 0 || fd > 2) return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    return moved;
}

// Runs in the child between fork and exec: only async-signal-safe calls.
// Sets the limits and standard descriptors, then execs; on failure reports the
// step and errno on the report pipe and exits.
[[noreturn]] void StartChild(pid_t parent, const ChildLimits& limits, int input, int output,
                             int report, const char* program, char* const argv[],
                             char* const envp[]) {
    const auto fail = [report](StartStep step, int error) {
        const StartFailure failure{step, error};
        [[maybe_unused]] const ssize_t n = ::write(report, &failure, sizeof failure);
        ::_exit(127);
    };
    // The signal comes when the thread that forked ends; that worker thread
    // waits for the child, so the child ends no sooner than it should.
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) fail(StartStep::DeathSignal, errno);
    if (::getppid() != parent) fail(StartStep::ParentGone, 0);
    const rlimit cpu{static_cast<rlim_t>(limits.cpuSeconds),
                     static_cast<rlim_t>(limits.cpuSeconds) + 1};
    if (::setrlimit(RLIMIT_CPU, &cpu) != 0) fail(StartStep::CpuLimit, errno);
    // The address sanitizer reserves far more address space than it uses.
    if (!kAddressSanitizer) {
        const rlimit as{limits.addressSpaceBytes, limits.addressSpaceBytes};
        if (::setrlimit(RLIMIT_AS, &as) != 0) fail(StartStep::AddressSpaceLimit, errno);
    }
    const rlimit core{0, 0};
    if (::setrlimit(RLIMIT_CORE, &core) != 0) fail(StartStep::CoreLimit, errno);
    // A batch job at a lower priority: on a busy server the requests come
    // first, and the run waits a little longer for its verdict.
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, 0);
    if (errno != 0) fail(StartStep::Niceness, errno);
    if (::setpriority(PRIO_PROCESS, 0, std::min(kLowestPriority, nice + limits.nice)) != 0) {
        fail(StartStep::Niceness, errno);
    }
    const sched_param param{};
    if (::sched_setscheduler(0, limits.schedulingPolicy, &param) != 0) {
        fail(StartStep::SchedulingClass, errno);
    }
    // Default handling of every signal and nothing blocked (the server blocks
    // and ignores some); the numbers the C library keeps for itself refuse.
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig) {
        if (sig != SIGKILL && sig != SIGSTOP) ::sigaction(sig, &byDefault, nullptr);
    }
    sigset_t none;
    sigemptyset(&none);
    if (::sigprocmask(SIG_SETMASK, &none, nullptr) != 0) fail(StartStep::Signals, errno);
    if (::dup2(input, 0) < 0) fail(StartStep::Input, errno);
    if (::dup2(output, 1) < 0) fail(StartStep::Output, errno);
    ::execve(program, argv, envp);
    fail(StartStep::Exec, errno);
    ::_exit(127);  // never reached: fail exits
}

// What the child needs until its exec, made by the parent beforehand.
struct ChildStart {
    pid_t parent;
    const ChildLimits* limits;
    int input;
    int output;
    int report;
    const char* program;
    char* const* argv;
    char* const* envp;
};

int ChildEntry(void* arg) {
    const ChildStart& c = *static_cast<const ChildStart*>(arg);
    StartChild(c.parent, *c.limits, c.input, c.output, c.report, c.program, c.argv, c.envp);
}

// Marks a stack that is going away as addressable again for AddressSanitizer
// (nothing in other builds).
void UnpoisonStack(void* stack, size_t bytes) {
#if defined(__SANITIZE_ADDRESS__) || ZQ_HAS_ASAN
    ASAN_UNPOISON_MEMORY_REGION(stack, bytes);
#else
    (void)stack;
    (void)bytes;
#endif
}

// Starts a child that shares the server's memory until its exec, on a stack of
// its own, while the calling thread waits; returns its pid, or -1 with errno.
// A fork would copy the page tables of the whole server and mark every page
// copy-on-write: each thread's next writes then copied pages (tens of
// milliseconds of a request's time) until the child, at its low priority, got
// round to its exec.
pid_t CloneChild(ChildStart& start) {
    constexpr size_t kChildStackBytes = 64 * 1024;
    void* stack = ::mmap(nullptr, kChildStackBytes, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (stack == MAP_FAILED) return -1;
    // No handler of the server may run in the child: it blocks every signal
    // until it has put back their default handling.
    sigset_t all;
    sigset_t before;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &before);
    const pid_t pid = ::clone(ChildEntry, static_cast<char*>(stack) + kChildStackBytes,
                              CLONE_VM | CLONE_VFORK | SIGCHLD, &start);
    const int error = errno;
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    // The child's frames never returned (it left by exec or _exit): under
    // AddressSanitizer their poisoned shadow would outlive the stack and
    // fault whatever memory is mapped there next.
    UnpoisonStack(stack, kChildStackBytes);
    ::munmap(stack, kChildStackBytes);
    errno = error;
    return pid;
}

// Waits for a child without blocking past deadline; true with its status and
// usage when it was reaped.
bool ReapBy(pid_t pid, std::chrono::steady_clock::time_point deadline, int& status, rusage& usage) {
    while (true) {
        const pid_t r = ::wait4(pid, &status, WNOHANG, &usage);
        if (r == pid) return true;
        if (r < 0 && errno != EINTR) return false;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(kExitCheckMs));
    }
}

// Returns the processor seconds a child used, from its usage.
double ProcessorSeconds(const rusage& usage) {
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

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

// Returns a verified replay's inputs played under every other rules version
// this program knows: the first check values the copy rule compares, with
// the number of values of each whole game.
nlohmann::json OtherRulesOf(const game::Replay& replay) {
    auto games = nlohmann::json::array();
    for (uint32_t rules = game::kOldestRules; rules <= game::kNewestRules; ++rules) {
        if (rules == replay.header.rules) continue;
        std::vector<uint32_t> checks = ChecksUnderRules(replay, rules);
        const size_t count = checks.size();
        checks.resize(static_cast<size_t>(CopyAgreement(count)));
        games.push_back({{"rules", rules}, {"count", count}, {"first", ChecksHex(checks)}});
    }
    return games;
}

// Reads the games under other rules a child reported; nullopt when they are damaged.
std::optional<std::vector<OtherRulesChecks>> ReadOtherRules(const nlohmann::json& games) {
    if (!games.is_array()) return std::nullopt;
    std::vector<OtherRulesChecks> out;
    for (const auto& g : games) {
        if (!g.is_object() || !g.contains("rules") || !g["rules"].is_number_unsigned() ||
            !g.contains("count") || !g["count"].is_number_unsigned() || !g.contains("first") ||
            !g["first"].is_string()) {
            return std::nullopt;
        }
        OtherRulesChecks game;
        const uint64_t rules = g["rules"].get<uint64_t>();
        const uint64_t count = g["count"].get<uint64_t>();
        if (!game::KnownRules(static_cast<uint32_t>(rules)) || rules > game::kNewestRules ||
            count < 1 || count > kMostCheckValues) {
            return std::nullopt;
        }
        auto first = ChecksFromHex(g["first"].get<std::string>());
        if (!first || static_cast<int64_t>(first->size()) != CopyAgreement(count)) {
            return std::nullopt;
        }
        game.rules = static_cast<uint32_t>(rules);
        game.count = static_cast<int64_t>(count);
        game.first = std::move(*first);
        out.push_back(std::move(game));
    }
    return out;
}

// The outcome of watching a child: why the watch ended and what it left.
struct Watch {
    enum class End { Exited, Stopped, ClaimLost, TimedOut, TooMuchOutput, PollFailed };
    End end = End::PollFailed;
    std::string output;
    bool outputOpen = true;
    bool reaped = false;
    int status = 0;
    rusage usage{};
};

// Starts a child of program that verifies bytes under limits, with output
// the read end of what it writes; returns its pid, or -1 with why.
pid_t StartVerification(const std::string& program, const std::string& bytes,
                        const ChildLimits& limits, Fd& output, std::string& why) {
    // The replay waits in an anonymous file: the child reads it at its pace, no pipe to feed.
    Fd input{AboveStandard(::memfd_create("zarquill-replay", MFD_CLOEXEC))};
    if (input.fd < 0 || !WriteAll(input.fd, bytes.data(), bytes.size()) ||
        ::lseek(input.fd, 0, SEEK_SET) != 0) {
        why = "cannot pass the replay to a child";
        return -1;
    }
    int outputFds[2];
    int reportFds[2];
    if (::pipe2(outputFds, O_CLOEXEC) != 0) {
        why = "cannot make a pipe for a child";
        return -1;
    }
    Fd readEnd{AboveStandard(outputFds[0])};
    Fd writeEnd{AboveStandard(outputFds[1])};
    if (::pipe2(reportFds, O_CLOEXEC) != 0 || readEnd.fd < 0 || writeEnd.fd < 0) {
        why = "cannot make a pipe for a child";
        return -1;
    }
    Fd reportRead{reportFds[0]};
    Fd reportWrite{reportFds[1]};

    // Everything the child uses is made before it starts: it may not allocate.
    std::string arg0 = program;
    std::string arg1 = kVerifyOneOption;
    char* argv[] = {arg0.data(), arg1.data(), nullptr};
    ChildStart start{::getpid(), &limits,   input.fd, writeEnd.fd, reportWrite.fd,
                     program.c_str(), argv, environ};
    const pid_t pid = CloneChild(start);
    const int startError = errno;
    ::close(writeEnd.fd);
    writeEnd.fd = -1;
    ::close(reportWrite.fd);
    reportWrite.fd = -1;
    if (pid < 0) {
        why = std::string("a verification child could not start: ") + std::strerror(startError);
        return -1;
    }
    // The report pipe closes unread when the exec succeeds (or the child dies before it).
    StartFailure failure{};
    ssize_t got = 0;
    while ((got = ::read(reportRead.fd, &failure, sizeof failure)) < 0 && errno == EINTR) {
    }
    if (got == static_cast<ssize_t>(sizeof failure)) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        why = std::string("a verification child could not ") + StepName(failure.step) +
              (failure.error ? std::string(": ") + std::strerror(failure.error) : "");
        return -1;
    }
    output.fd = readEnd.fd;
    readEnd.fd = -1;
    return pid;
}

// Reads a child's output until it has closed it and exited, or until the
// server stops, the claim is lost, the wall time runs out or the output is
// too long.
Watch Supervise(pid_t pid, const Fd& output, const std::atomic<bool>& stop,
                const std::function<bool()>& renewClaim, int renewMs, int wallSeconds) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::seconds(wallSeconds);
    auto nextRenewal = Clock::now() + std::chrono::milliseconds(renewMs);
    Watch w;
    while (true) {
        if (stop.load()) {
            w.end = Watch::End::Stopped;
            return w;
        }
        if (renewClaim && Clock::now() >= nextRenewal) {
            if (!renewClaim()) {
                w.end = Watch::End::ClaimLost;
                return w;
            }
            nextRenewal = Clock::now() + std::chrono::milliseconds(renewMs);
        }
        if (Clock::now() >= deadline) {
            w.end = Watch::End::TimedOut;
            return w;
        }
        if (!w.outputOpen) {
            // Its output is closed: it should exit now, but it is watched all the same.
            const auto until =
                std::min(deadline, Clock::now() + std::chrono::milliseconds(kStopCheckMs));
            w.reaped = ReapBy(pid, until, w.status, w.usage);
            if (w.reaped) {
                w.end = Watch::End::Exited;
                return w;
            }
            continue;
        }
        pollfd p{output.fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, kStopCheckMs);
        if (ready < 0 && errno != EINTR) return w;
        if (ready <= 0) continue;
        char buf[4096];
        const ssize_t n = ::read(output.fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            w.outputOpen = false;
            continue;
        }
        w.output.append(buf, static_cast<size_t>(n));
        if (w.output.size() > kMaxVerdictBytes) {
            w.end = Watch::End::TooMuchOutput;
            return w;
        }
    }
}

// Kills a child the watch did not see exit and reaps it, or leaves it to a
// thread of its own when it does not go.
void EndChild(pid_t pid, Watch& w) {
    if (w.reaped) return;
    ::kill(pid, SIGKILL);
    w.reaped =
        ReapBy(pid, std::chrono::steady_clock::now() + std::chrono::milliseconds(kKillWaitMs),
               w.status, w.usage);
    if (!w.reaped) {
        // Stuck in the kernel: reaped whenever it goes, by a thread of its own.
        std::thread([pid] {
            int ignored = 0;
            while (::waitpid(pid, &ignored, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    }
}

// Returns the verdict a child printed, or Crashed when it is not one.
ChildResult ParseVerdict(const std::string& output) {
    ChildResult result;
    const auto j = nlohmann::json::parse(output, nullptr, false);
    if (!j.is_object()) {
        result.detail = "the verification child wrote no verdict";
        return result;
    }
    try {
        // The reason is stored and shown: it is kept to text this server could have made.
        result.outcome = ChildOutcome::Judged;
        if (j.contains("error")) {
            result.verdict.reason = EscapeText(j["error"].get<std::string>());
            return result;
        }
        result.verdict.verified = j.at("verified").get<bool>();
        result.verdict.score = j.at("score").get<int64_t>();
        result.verdict.reason = EscapeText(j.at("reason").get<std::string>());
        if (j.at("first_bad_step").is_number_integer()) {
            result.verdict.firstBadStep = j["first_bad_step"].get<int64_t>();
        }
        // Where the run first scored decides whose play its opening is: a
        // value no replay could have is a damaged verdict, not a guess.
        if (j.contains("scored_from")) {
            const int64_t scoredFrom = j["scored_from"].get<int64_t>();
            if (scoredFrom < -1 || scoredFrom >= static_cast<int64_t>(kMostCheckValues)) {
                result = ChildResult{};
                result.detail = "the verification child wrote a damaged verdict";
                return result;
            }
            result.verdict.scoredFrom = scoredFrom;
        }
        if (j.contains("other_rules")) {
            auto games = ReadOtherRules(j["other_rules"]);
            if (!games) {
                result = ChildResult{};
                result.detail = "the verification child wrote a damaged verdict";
                return result;
            }
            result.otherRules = std::move(*games);
        }
    } catch (const nlohmann::json::exception&) {
        result = ChildResult{};
        result.detail = "the verification child wrote a damaged verdict";
    }
    return result;
}

// Returns what a watched and ended child's run comes to.
ChildResult Classify(const Watch& w, int wallSeconds, const ChildLimits& limits) {
    ChildResult result;  // Crashed unless told otherwise
    switch (w.end) {
        case Watch::End::Stopped:
            return {ChildOutcome::Abandoned, {}, "the server is stopping", {}};
        case Watch::End::ClaimLost:
            return {ChildOutcome::ClaimLost,
                    {},
                    "the claim on the run was lost; its verification was stopped",
                    {}};
        case Watch::End::TimedOut:
            // Wall time says more about the machine's load than about the replay (the
            // children run at a low priority): try again rather than reject the run.
            result.detail = "verification took longer than " + std::to_string(wallSeconds) +
                            " s of wall time" +
                            (w.outputOpen ? "" : " (its output closed, it did not exit)");
            return result;
        case Watch::End::TooMuchOutput:
            result.detail = "the verification child wrote more than " +
                            std::to_string(kMaxVerdictBytes) + " bytes";
            return result;
        case Watch::End::Exited:
        case Watch::End::PollFailed:
            break;
    }
    if (!w.reaped) {
        result.detail = "the verification child did not end when killed";
        return result;
    }
    // Too slow is what the child's processor time says, never how it died: a
    // SIGKILL or SIGXCPU from elsewhere (the out-of-memory killer, an operator)
    // is a crash, tried again.
    if (WIFSIGNALED(w.status) && ProcessorSeconds(w.usage) >= limits.cpuSeconds * kTooSlowShare) {
        result.outcome = ChildOutcome::TooSlow;
        result.verdict.reason = "verification used more than " + std::to_string(limits.cpuSeconds) +
                                " s of processor time";
        result.detail = result.verdict.reason;
        return result;
    }
    if (!WIFEXITED(w.status) || WEXITSTATUS(w.status) != 0) {
        result.detail = WIFSIGNALED(w.status) ? "the verification child died of signal " +
                                                    std::to_string(WTERMSIG(w.status))
                                              : "the verification child failed with status " +
                                                    std::to_string(WEXITSTATUS(w.status));
        return result;
    }
    return ParseVerdict(w.output);
}

}  // namespace

int RunVerifyChild() {
    std::string bytes;
    char buf[65536];
    while (bytes.size() <= kMaxBodyBytes) {
        const ssize_t n = ::read(0, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        bytes.append(buf, static_cast<size_t>(n));
    }
    nlohmann::json out;
    game::ReplayHeader header;
    game::Replay replay;
    std::string error;
    if (bytes.size() > kMaxBodyBytes) {
        out = {{"error", "the replay is too large"}};
    } else if (!game::DecodeReplayHeader(bytes, header, error)) {
        out = {{"error", "not a readable replay: " + error}};
    } else if (header.frames > kMaxRunFrames) {
        // Checked before the steps are unpacked: they may hold far more than that.
        out = {{"error", "longer than " + RunLengthLimitText()}};
    } else if (!game::DecodeReplay(bytes, replay, error)) {
        out = {{"error", "not a readable replay: " + error}};
    } else {
        int64_t scoredFrom = -1;
        const Verdict v = VerdictFrom(Resimulate(replay, &scoredFrom));
        out = {{"verified", v.verified},
               {"score", v.score},
               {"reason", v.reason},
               {"first_bad_step", v.firstBadStep ? nlohmann::json(*v.firstBadStep) : nullptr},
               {"scored_from", scoredFrom}};
        // A copy of an earlier run re-recorded under other rules has other
        // check values: the run's game under those rules is what it copies.
        if (v.verified) out["other_rules"] = OtherRulesOf(replay);
    }
    const std::string line =
        out.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    return WriteAll(1, line.data(), line.size()) ? 0 : 1;
}

std::string FindVerifier(const std::string& programPath) {
    const std::filesystem::path beside = std::filesystem::path(programPath).parent_path();
    for (const std::filesystem::path& folder : {beside, beside / ZQ_INSTALLED_VERIFIER_REL}) {
        const std::filesystem::path verifier = folder / kVerifierName;
        std::error_code ec;
        if (std::filesystem::is_regular_file(verifier, ec) &&
            ::access(verifier.c_str(), X_OK) == 0) {
            return verifier.lexically_normal().string();
        }
    }
    return programPath;
}

std::optional<Verdict> PrecheckReplay(const std::string& bytes) {
    // The header alone: the steps of a run too long to rank are never unpacked.
    game::ReplayHeader header;
    std::string error;
    if (!game::DecodeReplayHeader(bytes, header, error)) {
        return Verdict{false, 0, "not a readable replay: " + error, {}, {}};
    }
    if (header.programVersion != engine::GameVersion) {
        // Runs stored before versions were checked at upload may hold any bytes here.
        return Verdict{false, 0, "made with version " + EscapeText(header.programVersion), {}, {}};
    }
    if (header.frames > kMaxRunFrames) {
        return Verdict{false, 0, "longer than " + RunLengthLimitText(), {}, {}};
    }
    return std::nullopt;
}

ChildResult VerifyInChild(const std::string& program, const std::string& bytes,
                          const std::atomic<bool>& stop, const std::function<bool()>& renewClaim,
                          int renewMs, int wallSeconds, const ChildLimits& limits) {
    ChildResult result;
    Fd output;
    const pid_t pid = StartVerification(program, bytes, limits, output, result.detail);
    if (pid < 0) {
        result.outcome = ChildOutcome::Unavailable;
        return result;
    }
    Watch watch = Supervise(pid, output, stop, renewClaim, renewMs, wallSeconds);
    EndChild(pid, watch);
    return Classify(watch, wallSeconds, limits);
}

}  // namespace board
