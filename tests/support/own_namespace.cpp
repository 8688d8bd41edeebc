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
#include <vector>

namespace zqtest {

namespace {

// Set in the child's environment: the test runs in its own namespace there.
constexpr const char* kInsideMark = "ZQ_TEST_IN_OWN_NAMESPACE";

// Runs unshare with the namespace options and then command; returns its exit
// status (-1 when it could not run) and, through output, what it printed,
// echoed to standard output as it comes when echo is set.
int Unshare(const std::vector<std::string>& command, bool echo, std::string& output) {
    std::vector<std::string> all{"unshare", "--user", "--map-root-user", "--mount", "--"};
    all.insert(all.end(), command.begin(), command.end());
    int fds[2];
    if (::pipe(fds) != 0) return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // ends with the test that started it
        ::dup2(fds[1], 1);
        ::dup2(fds[1], 2);
        ::close(fds[0]);
        ::close(fds[1]);
        ::setenv(kInsideMark, "1", 1);
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        std::fprintf(stderr, "cannot run unshare (util-linux)\n");
        _exit(127);
    }
    ::close(fds[1]);
    char buf[4096];
    ssize_t n;
    while (pid > 0 && (n = ::read(fds[0], buf, sizeof buf)) > 0) {
        output.append(buf, static_cast<size_t>(n));
        if (echo) std::fwrite(buf, 1, static_cast<size_t>(n), stdout);
    }
    ::close(fds[0]);
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

NamespaceRun RunInOwnNamespace(std::string& why) {
    const char* mark = std::getenv(kInsideMark);
    if (mark && std::string(mark) == "1") return NamespaceRun::kInside;

    std::string probe;
    if (Unshare({"true"}, false, probe) != 0) {
        why = "no user and mount namespace of its own here: " + probe.substr(0, probe.find('\n'));
        return NamespaceRun::kRefused;
    }
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string filter =
        std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name();
    std::fflush(stdout);
    std::string output;
    const int status =
        Unshare({std::filesystem::read_symlink("/proc/self/exe").string(), filter}, true, output);
    if (status != 0) {
        why = "the test failed in its own namespace (its output is above)";
        return NamespaceRun::kFailed;
    }
    if (output.find("[  SKIPPED ] 1 test") != std::string::npos) {
        why = "skipped in its own namespace (see above)";
        return NamespaceRun::kSkipped;
    }
    if (output.find("[  PASSED  ] 1 test") == std::string::npos) {
        why = "the test did not run in its own namespace (see above)";
        return NamespaceRun::kFailed;
    }
    return NamespaceRun::kPassed;
}

MountGuard::~MountGuard() {
    for (auto it = targets_.rbegin(); it != targets_.rend(); ++it)
        ::umount2(it->c_str(), MNT_DETACH);
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
