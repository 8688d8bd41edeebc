// The board server harness; see board_harness.h.
#include "tests/support/board_harness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"

namespace zqtest {

namespace {

constexpr int kStartTimeoutMs = 30000;

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Parses the bytes of a whole response.
HttpReply Parse(const std::string& raw) {
    HttpReply reply;
    const size_t end = raw.find("\r\n\r\n");
    if (raw.compare(0, 5, "HTTP/") != 0 || end == std::string::npos) return reply;
    const size_t space = raw.find(' ');
    reply.status = std::atoi(raw.c_str() + space + 1);
    size_t line = raw.find("\r\n") + 2;
    while (line < end) {
        const size_t next = raw.find("\r\n", line);
        const std::string header = raw.substr(line, next - line);
        const size_t colon = header.find(':');
        if (colon != std::string::npos) {
            size_t v = colon + 1;
            while (v < header.size() && header[v] == ' ') ++v;
            reply.headers.emplace_back(Lower(header.substr(0, colon)), header.substr(v));
        }
        line = next + 2;
    }
    reply.body = raw.substr(end + 4);
    return reply;
}

}  // namespace

std::string HttpReply::Header(const std::string& name) const {
    for (const auto& [k, v] : headers) {
        if (k == name) return v;
    }
    return "";
}

HttpReply SendRaw(int port, const std::string& bytes, int timeoutMs) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return {};
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string raw;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        const long long deadline = NowMs() + timeoutMs;
        size_t sent = 0;
        bool open = true;
        // Sends and reads at once: the server may answer (413) before the body is all sent.
        while (open && NowMs() < deadline) {
            pollfd p{fd, static_cast<short>(POLLIN | (sent < bytes.size() ? POLLOUT : 0)), 0};
            if (::poll(&p, 1, kPollMs) <= 0) continue;
            if ((p.revents & POLLOUT) && sent < bytes.size()) {
                const ssize_t n =
                    ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
                if (n > 0) sent += static_cast<size_t>(n);
                if (n < 0) sent = bytes.size();  // the server stopped reading: read what it said
            }
            if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
                char buf[65536];
                const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
                if (n <= 0) open = false;
                if (n > 0) raw.append(buf, static_cast<size_t>(n));
            }
        }
    }
    ::close(fd);
    return Parse(raw);
}

HttpReply SendHttp(int port, const std::string& method, const std::string& target,
                   const std::vector<std::string>& headerLines, const std::string& body) {
    std::string request = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    for (const std::string& h : headerLines) request += h + "\r\n";
    if (!body.empty() || method == "POST") {
        request += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    }
    request += "Connection: close\r\n\r\n" + body;
    return SendRaw(port, request);
}

BoardServer::BoardServer(std::string dataDir)
    : dataDir_(std::move(dataDir)),
      // Beside the data folder (which the server makes), so a test may wipe the data and keep it.
      logPath_((std::filesystem::path(dataDir_).parent_path() / "board.log").string()) {}

BoardServer::~BoardServer() {
    Kill();
}

bool BoardServer::Start(int workers, const std::vector<std::string>& extraOptions) {
    logStart_ = ReadWholeFile(logPath_).size();
    // Made before fork: the child only calls what is safe in a copy of a threaded process.
    const std::string w = std::to_string(workers);
    std::vector<const char*> argv = {ZQ_BOARD_EXE,     "--listen",  "127.0.0.1:0", "--data",
                                     dataDir_.c_str(), "--workers", w.c_str()};
    if (!databaseUrl_.empty()) argv.insert(argv.end(), {"--database", databaseUrl_.c_str()});
    for (const std::string& option : extraOptions) argv.push_back(option.c_str());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) return false;
    if (pid == 0) {
        const int log = ::open(logPath_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (log >= 0) ::dup2(log, 2);
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) {
            ::dup2(null, 0);
            ::dup2(null, 1);
        }
        ::execv(ZQ_BOARD_EXE, const_cast<char* const*>(argv.data()));
        ::_exit(127);
    }
    pid_ = pid;
    const std::string marker = "listening on 127.0.0.1:";
    bool ended = false;
    const bool listening = WaitFor(
        [&] {
            const std::string log = Log();
            const size_t at = log.find(marker);
            if (at != std::string::npos && log.find('\n', at) != std::string::npos) {
                port_ = std::atoi(log.c_str() + at + marker.size());
                return true;
            }
            int status = 0;
            ended = ::waitpid(pid_, &status, WNOHANG) == pid_;
            return ended;
        },
        kStartTimeoutMs);
    if (ended) pid_ = -1;
    if (listening && !ended) return port_ > 0;
    Kill();
    return false;
}

void BoardServer::Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
}

int BoardServer::Stop(int timeoutMs) {
    if (pid_ <= 0) return -1;
    ::kill(pid_, SIGTERM);
    if (const auto status = WaitForChild(pid_, timeoutMs)) {
        pid_ = -1;
        return WIFEXITED(*status) ? WEXITSTATUS(*status) : -2;
    }
    Kill();
    return -1;
}

std::string BoardServer::Log() const {
    const std::string all = ReadWholeFile(logPath_);
    return all.size() > logStart_ ? all.substr(logStart_) : "";
}

std::string BoardServer::FullLog() const {
    return ReadWholeFile(logPath_);
}

int BoardServer::RunCommand(const std::vector<std::string>& args, std::string* log,
                            std::string* output) const {
    const std::string errPath = logPath_ + ".command";
    const std::string outPath = logPath_ + ".output";
    std::vector<std::string> all = {ZQ_BOARD_EXE};
    all.insert(all.end(), args.begin(), args.end());
    for (const std::string& option : {std::string("--data"), dataDir_}) all.push_back(option);
    if (!databaseUrl_.empty()) {
        all.push_back("--database");
        all.push_back(databaseUrl_);
    }
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (err >= 0) ::dup2(err, 2);
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out >= 0) ::dup2(out, 1);
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) ::dup2(null, 0);
        ::execv(ZQ_BOARD_EXE, argv.data());
        ::_exit(127);
    }
    auto status = WaitForChild(pid, kStartTimeoutMs);
    if (!status) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    if (log) *log = ReadWholeFile(errPath);
    if (output) *output = ReadWholeFile(outPath);
    return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
}

HttpReply BoardServer::Submit(const std::string& replayBytes, const std::string& token) const {
    return SendHttp(port_, "POST", "/api/v1/runs",
                    {"Authorization: Bearer " + token, "Content-Type: application/octet-stream"},
                    replayBytes);
}

HttpReply BoardServer::WaitForVerdict(long long id, int timeoutMs) const {
    HttpReply reply;
    WaitFor(
        [&] {
            reply = SendHttp(port_, "GET", "/api/v1/runs/" + std::to_string(id));
            return reply.status == 200 &&
                   reply.body.find("\"state\":\"pending\"") == std::string::npos;
        },
        timeoutMs);
    return reply;
}

std::string GoldenReplayBytes(const std::string& name) {
    return ReadWholeFile(std::string(ZQ_SOURCE_DIR) + "/tests/data/replays/" + name + ".zqr");
}

std::string BoardExecutable() {
    return ZQ_BOARD_EXE;
}

std::string TokenOf(char c) {
    return std::string(40, c);
}

}  // namespace zqtest
