// Runs a test that mounts file systems in a user and mount namespace of its
// own (util-linux's unshare), so that it needs no root and its mounts end
// with it.
#pragma once

#include <string>

namespace zqtest {

// Returns true when the current test runs in a namespace of its own.
// Otherwise runs it again there in a child (this binary, filtered to the
// test), relays the child's output, records a failure unless it passed there
// and returns false: the test then returns. Where the system grants no such namespace,
// the test is skipped with the reason (under CI it fails).
bool InOwnNamespace();

// One mount made in a test's own namespace, undone when the guard goes.
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
    std::string target_;
};

}  // namespace zqtest
