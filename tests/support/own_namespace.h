// Runs a test that mounts file systems in a user and mount namespace of its
// own (util-linux's unshare), so that it needs no root and its mounts end
// with it.
#pragma once

#include <string>
#include <vector>

#include "tests/support/xvfb.h"

namespace zqtest {

// What RunInOwnNamespace found or did.
enum class NamespaceRun {
    kInside,   // this process is the test's run inside its namespace: go on
    kPassed,   // the test ran in a child inside its namespace and passed
    kFailed,   // ... and failed (its output is above)
    kSkipped,  // ... and skipped
    kRefused,  // this system grants no such namespace
};

// Returns kInside when the current test already runs in its own namespace;
// otherwise runs it again there in a child (this binary, filtered to the
// test), relays the child's output and returns its outcome. why gets a line
// that explains any outcome but kInside and kPassed.
NamespaceRun RunInOwnNamespace(std::string& why);

// Mounts made in a test's own namespace, undone when the guard goes.
class MountGuard {
  public:
    MountGuard() = default;
    ~MountGuard();
    MountGuard(const MountGuard&) = delete;
    MountGuard& operator=(const MountGuard&) = delete;
    // Mounts a tmpfs of the given size ("256k") at target; false when refused.
    bool Tmpfs(const std::string& target, const std::string& size);
    // Makes folder read-only by bind-mounting it onto itself; false when refused.
    bool ReadOnlyBind(const std::string& folder);

  private:
    std::vector<std::string> targets_;
};

}  // namespace zqtest

// Moves the rest of a test into a user and mount namespace of its own. Where
// the system refuses one, the test is skipped with the reason (under CI it fails).
#define ZQ_IN_OWN_NAMESPACE()                                    \
    do {                                                         \
        std::string zq_why;                                      \
        switch (::zqtest::RunInOwnNamespace(zq_why)) {           \
            case ::zqtest::NamespaceRun::kInside:                \
                break;                                           \
            case ::zqtest::NamespaceRun::kPassed:                \
                return;                                          \
            case ::zqtest::NamespaceRun::kRefused:               \
                if (::zqtest::UnderCI()) GTEST_FAIL() << zq_why; \
                GTEST_SKIP() << zq_why;                          \
            case ::zqtest::NamespaceRun::kSkipped:               \
                GTEST_SKIP() << zq_why;                          \
            case ::zqtest::NamespaceRun::kFailed:                \
                GTEST_FAIL() << zq_why;                          \
        }                                                        \
    } while (0)
