// Re-runs the current test inside a user and mount namespace of its own; see own_namespace.h.
#include "tests/support/own_namespace.h"

#include <gtest/gtest.h>
#include <sys/mount.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "tests/support/xvfb.h"

namespace zqtest {

// Set in the child's environment: the test runs in its own namespace there.
constexpr const char* kInsideMark = "ZQ_TEST_IN_OWN_NAMESPACE";

bool InOwnNamespace() {
    if (const char* mark = std::getenv(kInsideMark); mark && std::string(mark) == "1") return true;
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string command = "unshare --user --map-root-user --mount -- '" +
                                std::filesystem::read_symlink("/proc/self/exe").string() +
                                "' --gtest_filter=" + test->test_suite_name() + "." + test->name() +
                                " 2>&1";
    std::fflush(stdout);
    ::setenv(kInsideMark, "1", 1);
    FILE* child = ::popen(command.c_str(), "r");
    ::unsetenv(kInsideMark);
    std::string output;  // relayed as it comes
    char buf[4096];
    for (size_t n; child && (n = std::fread(buf, 1, sizeof buf, child)) > 0;) {
        output.append(buf, n);
        std::fwrite(buf, 1, n, stdout);
    }
    const int status = child ? ::pclose(child) : -1;
    if (output.find("[==========]") == std::string::npos) {  // the test never started there
        const std::string why =
            "no user and mount namespace: " + output.substr(0, output.find('\n'));
        if (UnderCI()) {
            ADD_FAILURE() << why;
        } else {
            [&] { GTEST_SKIP() << why; }();
        }
    } else if (status != 0 || output.find("[  PASSED  ] 1 test") == std::string::npos) {
        ADD_FAILURE() << "the test failed in its own namespace (its output is above)";
    }
    return false;
}

MountGuard::~MountGuard() {
    if (!target_.empty()) ::umount2(target_.c_str(), MNT_DETACH);
}

bool MountGuard::Tmpfs(const std::string& target, const std::string& size) {
    if (::mount("tmpfs", target.c_str(), "tmpfs", 0, ("size=" + size).c_str()) != 0) return false;
    target_ = target;
    return true;
}

bool MountGuard::ReadOnlyBind(const std::string& folder) {
    if (::mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0) return false;
    target_ = folder;
    return ::mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) ==
           0;
}

}  // namespace zqtest
