// The terminate signals: a handler that only stores the signal number, and
// the guard that keeps worker threads from receiving them.
#include "engine/media/terminate.h"

#include <signal.h>

#include <cstring>
#include <utility>

#include "engine/media/platform_seam.h"

namespace media {

namespace {

constexpr int kTerminateSignals[] = {SIGTERM, SIGINT, SIGHUP};

static_assert(sizeof(sigset_t) <= 128, "the saved mask must hold a sigset_t");

// Written only by the handler (and tests); read by the main thread.
volatile sig_atomic_t g_terminate_signal = 0;

sigset_t TerminateSet() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : kTerminateSignals) sigaddset(&set, sig);
    return set;
}

void OnTerminateSignal(int sig) {
    if (g_terminate_signal == 0) {
        g_terminate_signal = sig;
        return;
    }
    // Asked twice: the orderly way did not come in time. Putting the video
    // mode back here calls into Xlib from a signal handler, which is not safe;
    // it is a best effort before the process dies.
    if (detail::Platform().restoreDesktopMode) detail::Platform().restoreDesktopMode();
    signal(sig, SIG_DFL);
    raise(sig);
}

}  // namespace

void InstallTerminateSignals() {
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = OnTerminateSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : kTerminateSignals) sigaction(sig, &sa, nullptr);
}

void SetDisplayLostHandler(std::function<void()> handler) {
    // Without a desktop there is no window system whose connection could be lost.
    if (detail::Platform().setConnectionLostHandler) {
        detail::Platform().setConnectionLostHandler(std::move(handler));
    }
}

int TerminateRequested() {
    return g_terminate_signal;
}

namespace detail {

TerminateSignalsBlocked::TerminateSignalsBlocked() {
    sigset_t block = TerminateSet();
    sigset_t old;
    pthread_sigmask(SIG_BLOCK, &block, &old);
    std::memcpy(saved_, &old, sizeof old);
}

TerminateSignalsBlocked::~TerminateSignalsBlocked() {
    sigset_t old;
    std::memcpy(&old, saved_, sizeof old);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

void RaiseTerminateRequest(int signal_number) {
    g_terminate_signal = signal_number;
}

}  // namespace detail

}  // namespace media
