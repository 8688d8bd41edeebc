// The HTTP layer of the board: libmicrohttpd (its own thread pool on epoll,
// with caps on connections, per-address connections, idle time and memory)
// turns each request into a Request for the routes and sends back their
// Response. Bodies over the cap are refused while they arrive; heads whose
// framing two HTTP parsers could read differently are refused before their
// body is read, and a head that is not complete soon after its first byte
// loses its connection.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "board/head_deadline.h"
#include "board/limits.h"
#include "board/routes.h"

struct MHD_Daemon;

namespace board {

// Splits "ADDR:PORT" ("[v6]:PORT" for IPv6); false when it is not one.
bool ParseListenAddress(const std::string& text, std::string& host, uint16_t& port);
// Returns the address a request counts against: the peer's, or, when the server
// runs behind a proxy and the peer is a loopback address, the proxy's X-Real-IP
// when that is a well-formed address (a forged header from elsewhere is ignored).
std::string RequestAddress(const std::string& peer, const char* realIp, bool behindProxy);

class HttpServer {
  public:
    HttpServer(Api& api, bool behindProxy, unsigned headTimeoutSeconds = kHeadTimeoutSeconds)
        : api_(api), behindProxy_(behindProxy), headTimeoutSeconds_(headTimeoutSeconds) {}
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
    bool behindProxy_ = false;
    unsigned headTimeoutSeconds_ = kHeadTimeoutSeconds;
    HeadDeadline heads_;
    MHD_Daemon* daemon_ = nullptr;
    uint16_t port_ = 0;
    std::atomic<int> inFlight_{0};
    std::atomic<size_t> bufferedBytes_{0};  // request bodies held in memory
};

}  // namespace board
