// Re-runs the current test inside a user and mount namespace of its own; see own_namespace.h.
#include "tests/support/own_namespace.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "tests/support/xvfb.h"

namespace zqtest {

namespace {

// Set in the child's environment: the test runs in its own namespace there.
constexpr const char* kInsideMark = "ZQ_TEST_IN_OWN_NAMESPACE";

// Runs command in a new user and mount namespace; returns its exit status
// (-1 when it did not end normally) and what it printed, echoed when asked.
int Unshare(std::vector<std::string> command, bool echo, std::string& output) {
    command.insert(command.begin(), {"unshare", "--user", "--map-root-user", "--mount", "--"});
    int fds[2];
    if (::pipe(fds) != 0) return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // ends with the test that started it
        ::dup2(fds[1], 1);
        ::dup2(fds[1], 2);
        ::setenv(kInsideMark, "1", 1);
        std::vector<char*> argv;
        for (auto& a : command) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        std::fprintf(stderr, "cannot run unshare (util-linux)\n");
        _exit(127);
    }
    ::close(fds[1]);
    char buf[4096];
    for (ssize_t n; pid > 0 && (n = ::read(fds[0], buf, sizeof buf)) > 0;) {
        output.append(buf, static_cast<size_t>(n));
        if (echo) std::fwrite(buf, 1, static_cast<size_t>(n), stdout);
    }
    ::close(fds[0]);
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

}  // namespace

bool InOwnNamespace() {
    if (const char* mark = std::getenv(kInsideMark); mark && std::string(mark) == "1") return true;
    std::string probe, output;
    if (Unshare({"true"}, false, probe) != 0) {
        const std::string why =
            "no user and mount namespace here: " + probe.substr(0, probe.find('\n'));
        if (UnderCI()) ADD_FAILURE() << why;
        [&] { GTEST_SKIP() << why; }();
        return false;
    }
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::fflush(stdout);
    const int status =
        Unshare({std::filesystem::read_symlink("/proc/self/exe").string(),
                 std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name()},
                true, output);
    if (status == 0 && output.find("[  SKIPPED ] 1 test") != std::string::npos) {
        [&] { GTEST_SKIP() << "skipped in its own namespace (see above)"; }();
    } else if (status != 0 || output.find("[  PASSED  ] 1 test") == std::string::npos) {
        ADD_FAILURE() << "the test failed in its own namespace (its output is above)";
    }
    return false;
}

MountGuard::~MountGuard() {
    for (auto it = targets_.rbegin(); it != targets_.rend(); ++it) {
        ::umount2(it->c_str(), MNT_DETACH);
    }
}

bool MountGuard::Tmpfs(const std::string& target, const std::string& size) {
    if (::mount("tmpfs", target.c_str(), "tmpfs", 0, ("size=" + size).c_str()) != 0) return false;
    targets_.push_back(target);
    return true;
}

bool MountGuard::ReadOnlyBind(const std::string& folder) {
    if (::mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0) return false;
    targets_.push_back(folder);
    return ::mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) ==
           0;
}

}  // namespace zqtest
