// The HTTP layer of the board: libmicrohttpd (its own thread pool on epoll,
// with caps on connections, per-address connections, idle time and memory)
// turns each request into a Request for the routes and sends back their
// Response. Bodies over the cap are refused while they arrive.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "board/routes.h"

struct MHD_Daemon;

namespace board {

// Splits "ADDR:PORT" ("[v6]:PORT" for IPv6); false when it is not one.
bool ParseListenAddress(const std::string& text, std::string& host, uint16_t& port);

class HttpServer {
  public:
    explicit HttpServer(Api& api) : api_(api) {}
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Listens on host:port (port 0 picks a free one); false with a reason.
    bool Start(const std::string& host, uint16_t port, std::string& error);
    // Returns the port listened on.
    uint16_t Port() const { return port_; }
    // Stops accepting, waits (bounded) for requests in flight, then closes every connection.
    void Stop();

  private:
    friend struct HttpCallbacks;

    Api& api_;
    MHD_Daemon* daemon_ = nullptr;
    uint16_t port_ = 0;
    std::atomic<int> inFlight_{0};
    std::atomic<size_t> bufferedBytes_{0};  // request bodies held in memory
};

}  // namespace board
