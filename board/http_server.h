// The HTTP layer of the board: Boost.Beast's request parser on Boost.Asio (a
// small pool of threads, each running an event loop of its own that serves the
// connections given to it) turns each request into a Request for the routes
// and sends back their Response. It caps connections in all and per address,
// closes idle connections, and refuses bodies over the cap while they arrive.
// Heads whose framing two HTTP parsers could read differently, or that are
// malformed, get one clear error and lose their connection before their body
// is read, and a head that is not complete soon after its first byte loses
// its connection.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "board/limits.h"
#include "board/routes.h"

namespace board {

// Splits "ADDR:PORT" ("[v6]:PORT" for IPv6); false when it is not one.
bool ParseListenAddress(const std::string& text, std::string& host, uint16_t& port);
// Returns the address a request counts against: the peer's, or, when the server
// runs behind a proxy and the peer is a loopback address, the proxy's X-Real-IP
// when that is a well-formed address (a forged header from elsewhere is ignored).
std::string RequestAddress(const std::string& peer, const char* realIp, bool behindProxy);
// Returns true when an Accept-Encoding value allows gzip: "gzip" (or "x-gzip",
// or "*" when gzip is not named) with a weight above zero.
bool AcceptsGzip(std::string_view acceptEncoding);

class HttpServer {
  public:
    HttpServer(Api& api, bool behindProxy, unsigned headTimeoutSeconds = kHeadTimeoutSeconds);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Has the reads of the database handled without blocking the connections
    // that share their thread (for a database a round trip away): on each
    // thread's own database channel where the storage gives one, else on
    // threads of their own. Before Start.
    void HandleDatabaseReadsAside() { readsAside_ = true; }
    // Listens on host:port (port 0 picks a free one); false with a reason.
    bool Start(const std::string& host, uint16_t port, std::string& error);
    // Returns the port listened on.
    uint16_t Port() const { return port_; }
    // Stops accepting, waits (bounded) for requests in flight, then closes every connection.
    void Stop();

    // A thread's own database channel (public for the connections' sake).
    class DatabaseLoop;

  private:
    friend class HttpConnection;
    struct Network;

    void Accept();
    // Counts a new connection from address; false when a cap is reached.
    bool Admit(const std::string& address);
    // Forgets a connection from address.
    void Release(const std::string& address);

    Api& api_;
    bool behindProxy_ = false;
    bool readsAside_ = false;
    unsigned headTimeoutSeconds_ = kHeadTimeoutSeconds;
    std::unique_ptr<Network> net_;
    std::vector<std::thread> threads_;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> inFlight_{0};
    std::atomic<size_t> bufferedBytes_{0};  // request bodies held in memory
    std::mutex connectionsMutex_;
    unsigned connections_ = 0;
    std::map<std::string, unsigned> perAddress_;
};

}  // namespace board
