// The libmicrohttpd side of the board: requests in, responses out.
#include "board/http_server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "board/limits.h"
#include "board/log.h"

namespace board {

namespace {

// How often Stop looks whether the requests in flight are done.
constexpr int kStopPollMs = 20;

// One request being received: what the routes will see, and whether it was counted.
struct Exchange {
    Request request;
    size_t discarded = 0;
    size_t reserved = 0;  // body bytes counted against the server's budget
    bool busy = false;    // the budget was spent: answered with 503
};

// Returns the client's address as text ("" when unknown).
std::string ClientAddress(MHD_Connection* connection) {
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (!info || !info->client_addr) return "";
    char text[INET6_ADDRSTRLEN] = "";
    const sockaddr* sa = info->client_addr;
    if (sa->sa_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(sa)->sin_addr, text, sizeof text);
    } else if (sa->sa_family == AF_INET6) {
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(sa)->sin6_addr, text,
                  sizeof text);
    }
    return text;
}

MHD_Result CollectArgument(void* cls, MHD_ValueKind, const char* key, const char* value) {
    auto* query = static_cast<std::vector<std::pair<std::string, std::string>>*>(cls);
    query->emplace_back(key ? key : "", value ? value : "");
    return MHD_YES;
}

// Leaves escapes in paths and arguments as they came: the routes decode them
// per segment, so an encoded "/" stays inside its segment.
size_t KeepEscapes(void*, MHD_Connection*, char* s) {
    return std::strlen(s);
}

// Lets go of a shared body once the library has sent it.
void ReleaseSharedBody(void* body) {
    delete static_cast<std::shared_ptr<const std::string>*>(body);
}

MHD_Result Send(MHD_Connection* connection, const Response& r) {
    MHD_Response* response = nullptr;
    if (r.sharedBody) {
        // The library reads the shared bytes until it is done, then lets go of them.
        auto* keep = new std::shared_ptr<const std::string>(r.sharedBody);
        response = MHD_create_response_from_buffer_with_free_callback_cls(
            keep->get()->size(), const_cast<char*>(keep->get()->data()), ReleaseSharedBody, keep);
        if (!response) delete keep;
    } else {
        response = MHD_create_response_from_buffer(
            r.body.size(), const_cast<char*>(r.body.data()), MHD_RESPMEM_MUST_COPY);
    }
    if (!response) return MHD_NO;
    MHD_add_response_header(response, "Content-Type", r.contentType.c_str());
    MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
    for (const auto& [name, value] : r.headers) {
        MHD_add_response_header(response, name.c_str(), value.c_str());
    }
    const MHD_Result result =
        MHD_queue_response(connection, static_cast<unsigned>(r.status), response);
    MHD_destroy_response(response);
    return result;
}

// What a request's head says about its framing and its host.
struct HeadFacts {
    int hosts = 0;
    std::vector<std::string> lengths;  // every Content-Length value
    std::string codings;               // every Transfer-Encoding value, joined with ", "
};

MHD_Result CollectHeadFacts(void* cls, MHD_ValueKind, const char* key, const char* value) {
    auto* facts = static_cast<HeadFacts*>(cls);
    if (!key) return MHD_YES;
    const std::string v = value ? value : "";
    if (strcasecmp(key, "Host") == 0) ++facts->hosts;
    if (strcasecmp(key, "Content-Length") == 0) facts->lengths.push_back(v);
    if (strcasecmp(key, "Transfer-Encoding") == 0) {
        facts->codings += (facts->codings.empty() ? "" : ", ") + v;
    }
    return MHD_YES;
}

// Returns the answer to a head that must not reach the routes (status 0 when it
// may). The library takes the first of several Content-Length headers and
// reads "gzip, chunked" as a body without an end; a proxy in front could read
// either otherwise, and where one request ends is the one thing both must
// agree on, so such heads are refused before their body is read. Two faults
// never reach this check: libmicrohttpd 0.9.75 answers a malformed
// Content-Length itself (its status line written twice) and hands over a
// target cut short at a NUL byte.
Response CheckHead(MHD_Connection* connection, const char* version) {
    HeadFacts facts;
    MHD_get_connection_values(connection, MHD_HEADER_KIND, CollectHeadFacts, &facts);
    const bool http11 = version && std::strcmp(version, MHD_HTTP_VERSION_1_1) == 0;
    const auto refuse = [](int status, const std::string& why) {
        Response r = ErrorResponse(status, why);
        // The body (if any) is not read: the connection ends with this answer.
        r.headers.emplace_back("Connection", "close");
        return r;
    };
    for (const std::string& length : facts.lengths) {
        if (length != facts.lengths.front()) {
            return refuse(400, "the request has Content-Length headers that disagree");
        }
    }
    if (!facts.codings.empty()) {
        if (!facts.lengths.empty()) {
            return refuse(400, "the request has both Transfer-Encoding and Content-Length");
        }
        if (!http11) return refuse(400, "Transfer-Encoding needs HTTP/1.1");
        if (strcasecmp(facts.codings.c_str(), "chunked") != 0) {
            return refuse(501, "the only transfer coding served is chunked");
        }
    }
    if (http11 && facts.hosts == 0) return refuse(400, "an HTTP/1.1 request needs a Host header");
    if (facts.hosts > 1) return refuse(400, "the request has more than one Host header");
    Response fine;
    fine.status = 0;
    return fine;
}

// Returns the head clock of the connection a request came on (null if none).
void* HeadClockOf(MHD_Connection* connection) {
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    return info ? info->socket_context : nullptr;
}

void LogFromLibrary(void*, const char* format, va_list args) {
    char line[512];
    std::vsnprintf(line, sizeof line, format, args);
    std::string text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    Log("http: " + text);
}

}  // namespace

// The callbacks libmicrohttpd calls, with access to the server's counters.
struct HttpCallbacks {
    static MHD_Result Access(void* cls, MHD_Connection* connection, const char* url,
                             const char* method, const char* version, const char* upload,
                             size_t* uploadSize, void** context) {
        auto* server = static_cast<HttpServer*>(cls);
        auto* exchange = static_cast<Exchange*>(*context);
        if (!exchange) {
            auto fresh = std::make_unique<Exchange>();
            Request& rq = fresh->request;
            rq.method = method ? method : "";
            rq.path = url ? url : "";
            MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, CollectArgument,
                                      &rq.query);
            if (const char* auth =
                    MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Authorization")) {
                rq.authorization = auth;
            }
            rq.clientAddress = RequestAddress(
                ClientAddress(connection),
                MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "X-Real-IP"),
                server->behindProxy_);
            server->inFlight_.fetch_add(1);
            *context = fresh.release();
            server->heads_.HeadReceived(HeadClockOf(connection));
            const Response refused = CheckHead(connection, version);
            if (refused.status != 0) return Send(connection, refused);
            // A declared length over the cap is answered before a byte of the body is read.
            const char* length =
                MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Content-Length");
            if (length && std::strtoull(length, nullptr, 10) > kMaxBodyBytes) {
                auto* ex = static_cast<Exchange*>(*context);
                ex->request.bodyTooLarge = true;
                return Send(connection, server->api_.Handle(ex->request));
            }
            return MHD_YES;
        }
        Request& rq = exchange->request;
        if (*uploadSize > 0) {
            const size_t n = *uploadSize;
            const bool fits = !rq.bodyTooLarge && rq.body.size() + n <= kMaxBodyBytes;
            if (fits && !exchange->busy &&
                server->bufferedBytes_.fetch_add(n) + n > kMaxBufferedBodyBytes) {
                // Many large uploads at once: refuse this one rather than run out of memory.
                server->bufferedBytes_.fetch_sub(n);
                exchange->busy = true;
            }
            if (fits && !exchange->busy) {
                rq.body.append(upload, n);
                exchange->reserved += n;
            } else if (fits) {
                exchange->discarded += n;
                if (exchange->discarded > kMaxDiscardBytes) return MHD_NO;
            } else {
                rq.bodyTooLarge = true;
                rq.body.clear();
                rq.body.shrink_to_fit();
                exchange->discarded += *uploadSize;
                if (exchange->discarded > kMaxDiscardBytes) return MHD_NO;
            }
            *uploadSize = 0;
            return MHD_YES;
        }
        if (exchange->busy) {
            Response r = ErrorResponse(503, "the server is busy receiving runs; try again soon");
            r.headers.emplace_back("Retry-After", std::to_string(kUploadsBusyRetrySeconds));
            return Send(connection, r);
        }
        return Send(connection, server->api_.Handle(rq));
    }

    static void Completed(void* cls, MHD_Connection* connection, void** context,
                          MHD_RequestTerminationCode) {
        auto* server = static_cast<HttpServer*>(cls);
        server->heads_.RequestDone(HeadClockOf(connection));
        auto* exchange = static_cast<Exchange*>(*context);
        if (!exchange) return;
        server->bufferedBytes_.fetch_sub(exchange->reserved);
        delete exchange;
        *context = nullptr;
        server->inFlight_.fetch_sub(1);
    }

    // Starts and ends the head clock of each connection.
    static void Connection(void* cls, MHD_Connection* connection, void** socketContext,
                           MHD_ConnectionNotificationCode code) {
        auto* server = static_cast<HttpServer*>(cls);
        if (code == MHD_CONNECTION_NOTIFY_STARTED) {
            const MHD_ConnectionInfo* info =
                MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
            if (info) {
                *socketContext =
                    server->heads_.Opened(info->connect_fd, ClientAddress(connection));
            }
        } else if (*socketContext) {
            server->heads_.Closed(*socketContext);
            *socketContext = nullptr;
        }
    }
};

bool ParseListenAddress(const std::string& text, std::string& host, uint16_t& port) {
    size_t colon;
    if (!text.empty() && text[0] == '[') {
        const size_t close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') {
            return false;
        }
        host = text.substr(1, close - 1);
        colon = close + 1;
    } else {
        colon = text.rfind(':');
        if (colon == std::string::npos || colon == 0) return false;
        host = text.substr(0, colon);
        if (host.find(':') != std::string::npos) return false;
    }
    const std::string digits = text.substr(colon + 1);
    if (digits.empty() || digits.size() > 5) return false;
    unsigned long value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    if (value > 65535) return false;
    port = static_cast<uint16_t>(value);
    return true;
}

HttpServer::~HttpServer() {
    Stop();
}

std::string RequestAddress(const std::string& peer, const char* realIp, bool behindProxy) {
    if (!behindProxy || !realIp) return peer;
    in6_addr v6{};
    in_addr v4{};
    const bool loopback =
        (inet_pton(AF_INET, peer.c_str(), &v4) == 1 && (ntohl(v4.s_addr) >> 24) == 127) ||
        peer == "::1";
    if (!loopback) return peer;
    if (inet_pton(AF_INET, realIp, &v4) == 1 || inet_pton(AF_INET6, realIp, &v6) == 1) {
        return realIp;
    }
    return peer;
}

bool HttpServer::Start(const std::string& host, uint16_t port, std::string& error) {
    sockaddr_storage address{};
    unsigned flags =
        MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_USE_ITC | MHD_USE_ERROR_LOG;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
    if (inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
    } else if (inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        flags |= MHD_USE_IPv6;
    } else {
        error = "'" + host + "' is not an IP address";
        return false;
    }
    daemon_ = MHD_start_daemon(
        flags, port, nullptr, nullptr, &HttpCallbacks::Access, this, MHD_OPTION_EXTERNAL_LOGGER,
        &LogFromLibrary, nullptr, MHD_OPTION_SOCK_ADDR, reinterpret_cast<sockaddr*>(&address),
        MHD_OPTION_THREAD_POOL_SIZE, kHttpThreads, MHD_OPTION_CONNECTION_LIMIT, kMaxConnections,
        MHD_OPTION_PER_IP_CONNECTION_LIMIT, kMaxConnectionsPerAddress,
        MHD_OPTION_CONNECTION_TIMEOUT, kConnectionTimeoutSeconds,
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, kConnectionMemoryBytes, MHD_OPTION_NOTIFY_COMPLETED,
        &HttpCallbacks::Completed, this, MHD_OPTION_NOTIFY_CONNECTION, &HttpCallbacks::Connection,
        this, MHD_OPTION_UNESCAPE_CALLBACK, &KeepEscapes, nullptr, MHD_OPTION_END);
    if (!daemon_) {
        error = "cannot listen on " + host + ":" + std::to_string(port) +
                " (address in use or not available)";
        return false;
    }
    const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
    port_ = info ? info->port : port;
    heads_.Start(headTimeoutSeconds_);
    return true;
}

void HttpServer::Stop() {
    if (!daemon_) return;
    // Quiescing hands the listening socket to us, but the daemon's threads may
    // still look at it until they have stopped: it is closed after them.
    const MHD_socket listener = MHD_quiesce_daemon(daemon_);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(kShutdownGraceSeconds);
    while (inFlight_.load() > 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kStopPollMs));
    }
    heads_.Stop();
    MHD_stop_daemon(daemon_);
    daemon_ = nullptr;
    if (listener != MHD_INVALID_SOCKET) ::close(listener);
}

}  // namespace board
