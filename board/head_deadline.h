// A deadline on the head of each HTTP request, counted from its first byte:
// the library's idle timer starts again with every byte, so a client that
// sends one header line every few seconds would hold its connection for ever.
// A thread of its own looks at each connection waiting for a head, notes when
// its first byte arrived (from the kernel's count of bytes received) and shuts
// the socket down once the head is late; the library then closes the connection.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>

namespace board {

class HeadDeadline {
  public:
    HeadDeadline();
    ~HeadDeadline();
    HeadDeadline(const HeadDeadline&) = delete;
    HeadDeadline& operator=(const HeadDeadline&) = delete;

    // Starts watching, with heads allowed `seconds` from their first byte.
    void Start(unsigned seconds);
    // Stops the watching thread (connections still open are no longer cut).
    void Stop();

    // Starts watching a new connection on socket fd; returns its handle.
    void* Opened(int fd, std::string address);
    // Marks the connection's request head as complete (its body and answer are not timed here).
    void HeadReceived(void* connection);
    // Marks the connection as waiting for the head of its next request.
    void RequestDone(void* connection);
    // Forgets a connection the library is closing (its socket is still open).
    void Closed(void* connection);

  private:
    struct Connection;
    void Watch();

    std::chrono::milliseconds limit_{0};
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::unordered_map<const void*, std::unique_ptr<Connection>> connections_;
    std::thread thread_;
};

}  // namespace board
