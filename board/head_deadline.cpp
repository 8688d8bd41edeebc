// The head deadline's watching thread; see head_deadline.h.
#include "board/head_deadline.h"

#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstddef>
#include <vector>

#include "board/limits.h"
#include "board/log.h"

namespace board {

namespace {

using Clock = std::chrono::steady_clock;

// Returns the bytes the kernel has received on a TCP socket, or -1 when it
// does not say (a kernel older than 4.1 or not a TCP socket).
int64_t BytesReceived(int fd) {
    tcp_info info{};
    socklen_t size = sizeof info;
    if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &size) != 0) return -1;
    if (size < offsetof(tcp_info, tcpi_bytes_received) + sizeof info.tcpi_bytes_received) {
        return -1;
    }
    return static_cast<int64_t>(info.tcpi_bytes_received);
}

}  // namespace

struct HeadDeadline::Connection {
    int fd = -1;
    std::string address;
    bool waiting = true;    // for the head of a request (its first or a later one)
    int64_t baseline = 0;   // bytes received when it began waiting
    bool started = false;   // a byte of the head has come
    Clock::time_point firstByte;
    bool cut = false;
};

HeadDeadline::HeadDeadline() = default;

HeadDeadline::~HeadDeadline() {
    Stop();
}

void HeadDeadline::Start(unsigned seconds) {
    limit_ = std::chrono::seconds(seconds);
    stopping_ = false;
    thread_ = std::thread([this] { Watch(); });
}

void HeadDeadline::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void* HeadDeadline::Opened(int fd, std::string address) {
    auto c = std::make_unique<Connection>();
    c->fd = fd;
    c->address = std::move(address);
    void* handle = c.get();
    std::lock_guard<std::mutex> lock(mutex_);
    connections_.emplace(handle, std::move(c));
    return handle;
}

void HeadDeadline::HeadReceived(void* connection) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = connections_.find(connection);
    if (it != connections_.end()) it->second->waiting = false;
}

void HeadDeadline::RequestDone(void* connection) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = connections_.find(connection);
    if (it == connections_.end()) return;
    Connection& c = *it->second;
    // Bytes of the next request that came with this one start its clock at
    // the next byte after them: late by at most one poll, still bounded.
    c.waiting = true;
    c.started = false;
    c.baseline = BytesReceived(c.fd);
}

void HeadDeadline::Closed(void* connection) {
    std::lock_guard<std::mutex> lock(mutex_);
    connections_.erase(connection);
}

void HeadDeadline::Watch() {
    // Each head is cut between the deadline and the deadline plus two polls
    // (one to see its first byte, one to see it late).
    const auto poll = std::min<std::chrono::milliseconds>(
        std::chrono::milliseconds(kHeadDeadlinePollMs), limit_ / 4);
    std::unique_lock<std::mutex> lock(mutex_);
    std::vector<std::string> cuts;
    while (!wake_.wait_for(lock, poll, [this] { return stopping_; })) {
        const auto now = Clock::now();
        for (auto& [handle, c] : connections_) {
            if (!c->waiting || c->cut) continue;
            if (!c->started) {
                const int64_t bytes = BytesReceived(c->fd);
                // Unknown counts time the head from when the connection began waiting.
                if (bytes < 0 || bytes > c->baseline) {
                    c->started = true;
                    c->firstByte = now;
                }
                continue;
            }
            if (now - c->firstByte < limit_) continue;
            // The library owns the socket and closes it when it sees it shut;
            // Closed() runs before that, under this lock, so fd is still this
            // connection's.
            ::shutdown(c->fd, SHUT_RDWR);
            c->cut = true;
            cuts.push_back(c->address);
        }
        if (cuts.empty()) continue;
        // Written without the lock: the library's threads wait on it.
        lock.unlock();
        for (const std::string& address : cuts) {
            Log("http: closed a connection from " + address + ": its request head took over " +
                std::to_string(limit_.count() / 1000) + " s");
        }
        cuts.clear();
        lock.lock();
    }
}

}  // namespace board
