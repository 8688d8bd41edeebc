// Ends forced from outside: a lost X server connection runs one handler
// that saves and ends the process; SIGTERM, SIGINT and SIGHUP
// only raise a flag that the frame loop reads, so the program leaves the
// orderly way (settings and runs saved, the desktop's video mode put back
// from the main thread). Threads the media layer starts block these signals,
// so they always land on the main thread.
#pragma once

#include <functional>

namespace media {

// Sets what runs when the connection to the X server is lost; the process
// then ends with status 1 (the handler may end it itself).
// Note: it runs inside the X library: it may save files and log, but must
// not draw, touch the window or call anything that does.
void SetDisplayLostHandler(std::function<void()> handler);

// Starts turning SIGTERM, SIGINT and SIGHUP into a terminate request.
// Note: a second signal while the first is still pending ends the process at
// once, with only a best-effort restore of the desktop's video mode.
void InstallTerminateSignals();
// Returns the number of the signal that asked the program to end, 0 when none did.
// Note: the request stays set; it is never cleared.
int TerminateRequested();

namespace detail {

// Blocks the terminate signals in the calling thread for its lifetime, so a
// thread started inside its scope inherits the block.
class TerminateSignalsBlocked {
  public:
    TerminateSignalsBlocked();
    ~TerminateSignalsBlocked();
    TerminateSignalsBlocked(const TerminateSignalsBlocked&) = delete;
    TerminateSignalsBlocked& operator=(const TerminateSignalsBlocked&) = delete;

  private:
    unsigned char saved_[128];  // the caller's signal mask (a sigset_t)
};

// Sets the request as a signal would (tests of the orderly exit).
void RaiseTerminateRequest(int signal_number);

}  // namespace detail

}  // namespace media
