// A private X server for tests that need a display: starts Xvfb on a free
// display number, points DISPLAY at it for this process and stops it again.
#pragma once

#include <sys/types.h>
#include <string>

namespace zqtest {

// One running Xvfb (1024x768x24, no TCP, no reset when the last client leaves,
// so that quickly reopened windows never meet a server in mid-reset). Construct it, check Ok(), and
// the server lives until the object is destroyed. Note: the constructor sets DISPLAY for the whole
// process; the destructor restores the previous value.
class XvfbServer {
  public:
    // Starts the server and waits (bounded) until it reports its display.
    XvfbServer();
    // Stops the server and restores DISPLAY.
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    // Returns true when the server is up and DISPLAY names it.
    bool Ok() const { return pid_ > 0 && !display_.empty(); }
    // Returns the display name, for example ":7" (empty when it failed).
    const std::string& Display() const { return display_; }

  private:
    pid_t pid_ = -1;
    std::string display_;
    std::string old_display_;
    bool had_display_ = false;
};

// Returns a server shared by every test of the process, started on first use
// and stopped at process exit.
// Note: use this from fixtures through ZQ_REQUIRE_X.
XvfbServer& SharedXvfb();

// Returns true when the tests run under CI (the CI variable is set).
bool UnderCI();

}  // namespace zqtest

// Ends a test that needs an X server when it has none: a skip on a developer's
// machine without Xvfb, a failure under CI, where a missing Xvfb is a set-up fault.
#define ZQ_REQUIRE_X(have, what)                                              \
    do {                                                                      \
        if (!(have)) {                                                        \
            if (::zqtest::UnderCI()) GTEST_FAIL() << "no X server: " << what; \
            GTEST_SKIP() << "no X server: " << what;                          \
        }                                                                     \
    } while (0)
