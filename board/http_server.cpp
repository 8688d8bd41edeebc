// The Boost.Beast side of the board: requests in, responses out. Each
// connection reads a request's head itself (so that it knows when the head's
// first byte came, and still holds the head's text when it is refused), hands
// the head to Beast's strict parser, checks what the parser lets through, then
// reads the body through the parser into the Request, counting every byte.
#include "board/http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <strings.h>

#include <algorithm>
#include <array>
#include <boost/asio/dispatch.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/buffer_body.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/serializer.hpp>
#include <boost/beast/http/span_body.hpp>
#include <boost/beast/http/write.hpp>
#include <charconv>
#include <chrono>
#include <future>
#include <limits>
#include <optional>
#include <string_view>

#include "board/limits.h"
#include "board/log.h"

namespace board {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
using boost::system::error_code;

namespace {

// How often Stop looks whether the requests in flight are done.
constexpr auto kStopPoll = std::chrono::milliseconds(20);
// How long the acceptor waits after a failed accept (out of descriptors) before the next.
constexpr auto kAcceptRetry = std::chrono::milliseconds(100);
// How long a thread whose database channel broke reads through the reading
// threads before it connects again.
constexpr auto kChannelRetry = std::chrono::seconds(1);
// Bytes read from a socket at once.
constexpr size_t kReadBytes = 16 * 1024;

using Reply = http::response<http::span_body<const char>>;

// What a request's head says about its framing and its host.
struct HeadFacts {
    bool http11 = false;
    int hosts = 0;
    std::vector<std::string> lengths;  // every Content-Length value
    std::string codings;               // every Transfer-Encoding value, joined with ", "
    bool expectContinue = false;
    bool acceptsGzip = false;
};

bool NameIs(std::string_view name, std::string_view wanted) {
    return name.size() == wanted.size() && strncasecmp(name.data(), wanted.data(), name.size()) == 0;
}

void NoteField(HeadFacts& facts, std::string_view name, std::string_view value) {
    if (NameIs(name, "Host")) ++facts.hosts;
    if (NameIs(name, "Content-Length")) facts.lengths.emplace_back(value);
    if (NameIs(name, "Transfer-Encoding")) {
        facts.codings += std::string(facts.codings.empty() ? "" : ", ") + std::string(value);
    }
    if (NameIs(name, "Expect") && NameIs(value, "100-continue")) facts.expectContinue = true;
    if (NameIs(name, "Accept-Encoding") && AcceptsGzip(value)) facts.acceptsGzip = true;
}

// Returns the facts of a head's text, read line by line as plainly as can be:
// used to say why the parser refused a head, which it does not tell.
HeadFacts ScanHead(std::string_view head, bool http11) {
    HeadFacts facts;
    facts.http11 = http11;
    size_t at = head.find('\n');  // the request line is not a field
    while (at != std::string_view::npos && at + 1 < head.size()) {
        const size_t begin = at + 1;
        at = head.find('\n', begin);
        std::string_view line = head.substr(begin, at == std::string_view::npos ? at : at - begin);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        std::string_view value = line.substr(colon + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
            value.remove_prefix(1);
        }
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) {
            value.remove_suffix(1);
        }
        NoteField(facts, line.substr(0, colon), value);
    }
    return facts;
}

// True when a Content-Length value is a plain decimal number that fits 64 bits.
bool WellFormedLength(const std::string& text) {
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) {
            return c >= '0' && c <= '9';
        })) {
        return false;
    }
    uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

// Returns the answer to a head that must not reach the routes (nullopt when it
// may). Where one request ends is the one thing a proxy in front and the board
// must agree on, so any head whose framing two parsers could read differently
// is refused before its body is read.
std::optional<Response> CheckHead(const HeadFacts& facts) {
    for (const std::string& length : facts.lengths) {
        if (!WellFormedLength(length)) {
            return ErrorResponse(400, "the request's Content-Length is not a plain number");
        }
    }
    for (const std::string& length : facts.lengths) {
        if (length != facts.lengths.front()) {
            return ErrorResponse(400, "the request has Content-Length headers that disagree");
        }
    }
    if (!facts.codings.empty()) {
        if (!facts.lengths.empty()) {
            return ErrorResponse(400, "the request has both Transfer-Encoding and Content-Length");
        }
        if (!facts.http11) return ErrorResponse(400, "Transfer-Encoding needs HTTP/1.1");
        if (!NameIs(facts.codings, "chunked")) {
            return ErrorResponse(501, "the only transfer coding served is chunked");
        }
    }
    if (facts.http11 && facts.hosts == 0) {
        return ErrorResponse(400, "an HTTP/1.1 request needs a Host header");
    }
    if (facts.hosts > 1) return ErrorResponse(400, "the request has more than one Host header");
    return std::nullopt;
}

// Returns the answer to a head the parser refused.
Response HeadError(const error_code& ec, std::string_view head, bool http11) {
    if (ec == http::error::header_limit || ec == http::error::buffer_overflow) {
        return ErrorResponse(431, "the request head is over " +
                                      std::to_string(kMaxHeadBytes / 1024) + " KiB");
    }
    if (ec == http::error::bad_target) {
        return ErrorResponse(400, "the request target is empty or holds a space or control byte");
    }
    if (ec == http::error::bad_method || ec == http::error::bad_version) {
        return ErrorResponse(400, "the request line is not one of HTTP/1.0 or HTTP/1.1");
    }
    if (auto refused = CheckHead(ScanHead(head, http11))) return *refused;
    if (ec == http::error::bad_content_length) {
        return ErrorResponse(400, "the request's Content-Length is not a plain number");
    }
    if (ec == http::error::bad_transfer_encoding) {
        return ErrorResponse(400, "the request's Transfer-Encoding is malformed");
    }
    return ErrorResponse(400, "the request head is malformed");
}

// Returns where the empty line ending a request head ends ("\r\n\r\n", or a
// bare "\n\n" the parser then refuses), looking from `from`; npos when not yet.
size_t HeadEnd(std::string_view bytes, size_t from) {
    for (size_t i = bytes.find('\n', from); i != std::string_view::npos;
         i = bytes.find('\n', i + 1)) {
        if (i + 1 < bytes.size() && bytes[i + 1] == '\n') return i + 2;
        if (i + 2 < bytes.size() && bytes[i + 1] == '\r' && bytes[i + 2] == '\n') return i + 3;
    }
    return std::string_view::npos;
}

// Splits a query into its pairs, leaving their escapes as they came: the
// routes decode them (and paths per segment, so an encoded "/" stays inside it).
void SplitQuery(std::string_view query, std::vector<std::pair<std::string, std::string>>& out) {
    while (!query.empty()) {
        const size_t amp = query.find('&');
        const std::string_view piece = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        if (piece.empty()) continue;
        const size_t eq = piece.find('=');
        out.emplace_back(std::string(piece.substr(0, eq)),
                         eq == std::string_view::npos ? "" : std::string(piece.substr(eq + 1)));
    }
}

}  // namespace

// The listening socket and the context every connection runs on.
// Each thread runs a context of its own and serves the connections given to
// it (one shared context made its threads wait on one another and doubled the
// processor time of a request); the acceptor lives on the first.
struct HttpServer::Network {
    using Work = net::executor_work_guard<net::io_context::executor_type>;

    static std::vector<std::unique_ptr<net::io_context>> MakeContexts() {
        std::vector<std::unique_ptr<net::io_context>> made;
        for (unsigned i = 0; i < kHttpThreads; ++i) made.push_back(std::make_unique<net::io_context>(1));
        return made;
    }
    static std::vector<Work> MakeWork(const std::vector<std::unique_ptr<net::io_context>>& all) {
        std::vector<Work> made;
        for (const auto& context : all) made.emplace_back(context->get_executor());
        return made;
    }

    // Made first: the members after them live on them.
    std::vector<std::unique_ptr<net::io_context>> contexts = MakeContexts();
    std::vector<Work> work = MakeWork(contexts);
    tcp::acceptor acceptor{*contexts.front()};
    net::steady_timer retry{*contexts.front()};
    size_t next = 0;  // the context the next connection goes to
    net::thread_pool writing{kHttpWritingThreads};
    std::optional<net::thread_pool> reading;  // made when database reads are handled aside
    // Each thread's database channel, when it has one (made last, gone first:
    // they wait on the contexts and post to the reading threads).
    std::vector<std::unique_ptr<DatabaseLoop>> loops;
};

// A database channel of one thread's own (PostgreSQL): the thread's reads of
// runs and players' pages wait on its socket in the thread's event loop, so
// the thread goes on serving its other connections meanwhile and no read
// passes between threads. Without a channel (none could be opened, or it
// broke and is being opened again) reads go to the reading threads.
class HttpServer::DatabaseLoop {
  public:
    using Done = std::function<void(std::optional<Response>)>;

    DatabaseLoop(HttpServer& server, net::io_context& context)
        : server_(server), context_(context), retry_(context) {}
    ~DatabaseLoop() { Drop(); }
    DatabaseLoop(const DatabaseLoop&) = delete;
    DatabaseLoop& operator=(const DatabaseLoop&) = delete;

    // Opens the channel on the calling thread, before the loop runs; without
    // one (logged) the thread reads through the reading threads.
    void Open() {
        try {
            Install(server_.api_.OpenReadChannel());
        } catch (const std::exception& e) {
            Log(std::string("http: a thread reads through the reading threads: ") + e.what());
        }
    }

    // Starts reading for request on the thread's channel; false when there is
    // none or it does not read this request. done may be called before this returns.
    bool Start(const Request& request, Done done) {
        if (!channel_ || !server_.api_.StartRead(*channel_, request, std::move(done))) return false;
        Pump();
        return true;
    }

  private:
    void Install(std::unique_ptr<ReadChannel> channel) {
        if (!channel) return;
        error_code ec;
        socket_.emplace(context_);
        socket_->assign(channel->Socket(), ec);
        if (ec) {
            socket_.reset();
            throw StorageError("cannot wait on the database's socket: " + ec.message());
        }
        channel_ = std::move(channel);
        ++generation_;
    }

    // Lets the channel work, then waits for what it needs.
    void Pump() {
        if (!channel_) return;
        const ReadChannel::Wait want = channel_->Pump();
        if (channel_->Broken()) {
            Log("http: a thread's database channel broke; it reads through the reading threads "
                "until it connects again");
            Drop();
            return Reopen();
        }
        if (want == waiting_) return;
        // A wait for the other direction ends (aborted) and its handler waits anew.
        if (waiting_ != ReadChannel::Wait::Nothing) return socket_->cancel();
        if (want == ReadChannel::Wait::Nothing) return;
        waiting_ = want;
        // Each way of waiting ends here, unless the channel it waited for is gone.
        const auto resume = [this, generation = generation_](auto&&...) {
            if (generation != generation_) return;
            waiting_ = ReadChannel::Wait::Nothing;
            Pump();
        };
        if (want == ReadChannel::Wait::Again) return net::post(context_, resume);
        socket_->async_wait(want == ReadChannel::Wait::Read
                                ? net::posix::stream_descriptor::wait_read
                                : net::posix::stream_descriptor::wait_write,
                            resume);
    }

    // Forgets the channel; its socket stays libpq's to close.
    void Drop() {
        ++generation_;
        waiting_ = ReadChannel::Wait::Nothing;
        if (socket_) {
            socket_->release();
            socket_.reset();
        }
        channel_.reset();
    }

    // Connects again after a while on a reading thread (a connection takes
    // round trips) and hands the channel back to this thread.
    void Reopen() {
        retry_.expires_after(kChannelRetry);
        retry_.async_wait([this](error_code ec) {
            if (ec || server_.stopping_.load()) return;
            net::post(*server_.net_->reading, [this] {
                std::unique_ptr<ReadChannel> channel;
                try {
                    channel = server_.api_.OpenReadChannel();
                } catch (const std::exception& e) {
                    Log(std::string("http: cannot connect a thread's database channel again: ") +
                        e.what());
                }
                net::post(context_, [this, channel = std::move(channel)]() mutable {
                    if (!channel) return Reopen();
                    try {
                        Install(std::move(channel));
                        Log("http: a thread's database channel is connected again");
                    } catch (const std::exception& e) {
                        Log(std::string("http: ") + e.what());
                        Reopen();
                    }
                });
            });
        });
    }

    HttpServer& server_;
    net::io_context& context_;
    net::steady_timer retry_;
    std::unique_ptr<ReadChannel> channel_;
    std::optional<net::posix::stream_descriptor> socket_;
    ReadChannel::Wait waiting_ = ReadChannel::Wait::Nothing;
    uint64_t generation_ = 0;  // counts channels and abandoned waits
};

// One client connection: its requests one after another, every step on the
// connection's thread, the connection kept alive by the handler waiting on it.
class HttpConnection : public std::enable_shared_from_this<HttpConnection> {
  public:
    HttpConnection(HttpServer& server, tcp::socket socket, std::string address,
                   HttpServer::DatabaseLoop* loop)
        : server_(server),
          socket_(std::move(socket)),
          timer_(socket_.get_executor()),
          address_(std::move(address)),
          loop_(loop) {}
    ~HttpConnection() {
        EndRequest();
        server_.Release(address_);
    }
    HttpConnection(const HttpConnection&) = delete;
    HttpConnection& operator=(const HttpConnection&) = delete;

    // Starts serving on the connection's thread.
    void Begin() {
        net::dispatch(socket_.get_executor(), [self = shared_from_this()] {
            self->Expire(kConnectionTimeoutSeconds);
            self->WaitForHead();
        });
    }

  private:
    using Step = void (HttpConnection::*)(error_code, size_t);

    void ReadSome(Step next) {
        socket_.async_read_some(buffer_.prepare(kReadBytes),
                                [self = shared_from_this(), next](error_code ec, size_t n) {
                                    ((*self).*next)(ec, n);
                                });
    }

    // Waits for the next request's first byte (the idle timeout), then for its
    // whole head (the head deadline, counted from that byte).
    void WaitForHead() {
        waitingForHead_ = true;
        headStarted_ = false;
        scanned_ = 0;
        if (buffer_.size() > 0) return OnHeadBytes();
        ReadSome(&HttpConnection::OnHeadRead);
    }

    void OnHeadRead(error_code ec, size_t n) {
        if (ec) return Close();
        buffer_.commit(n);
        OnHeadBytes();
    }

    void OnHeadBytes() {
        // Empty lines before a request line are allowed (some clients send one
        // after a body), though timed as part of the head.
        while (buffer_.size() > 0) {
            const char c = *static_cast<const char*>(buffer_.data().data());
            if (c != '\r' && c != '\n') break;
            buffer_.consume(1);
        }
        const std::string_view bytes(static_cast<const char*>(buffer_.data().data()),
                                     buffer_.size());
        const size_t end = bytes.empty() ? std::string_view::npos : HeadEnd(bytes, scanned_);
        if (end != std::string_view::npos) return OnHead(bytes.substr(0, end));
        if (bytes.size() >= kMaxHeadBytes) {
            return Refuse(ErrorResponse(431, "the request head is over " +
                                                 std::to_string(kMaxHeadBytes / 1024) + " KiB"));
        }
        // A head that came whole in one read needs no clock of its own.
        if (!headStarted_) {
            headStarted_ = true;
            Expire(server_.headTimeoutSeconds_);
        }
        scanned_ = bytes.size() < 2 ? 0 : bytes.size() - 2;
        ReadSome(&HttpConnection::OnHeadRead);
    }

    void OnHead(std::string_view head) {
        waitingForHead_ = false;
        parser_.emplace();
        parser_->header_limit(static_cast<uint32_t>(kMaxHeadBytes));
        // Bodies are counted here, against kMaxBodyBytes. (Beast 1.74 refuses every
        // declared length when told "no limit", so the limit is merely out of reach.)
        parser_->body_limit(std::numeric_limits<uint64_t>::max());
        error_code ec;
        const size_t used = parser_->put(net::buffer(head.data(), head.size()), ec);
        if (!ec && (!parser_->is_header_done() || used != head.size())) {
            ec = http::error::bad_line_ending;
        }
        auto& message = parser_->get();
        const bool http11 = message.version() == 11;
        if (ec) return Refuse(HeadError(ec, head, http11));
        HeadFacts facts;
        facts.http11 = http11;
        for (const auto& field : message) NoteField(facts, field.name_string(), field.value());
        if (auto refused = CheckHead(facts)) return Refuse(std::move(*refused));

        request_ = Request();
        request_.method = std::string(message.method_string());
        const std::string_view target = message.target();
        const size_t question = target.find('?');
        request_.path = std::string(target.substr(0, question));
        if (question != std::string_view::npos) SplitQuery(target.substr(question + 1), request_.query);
        const auto auth = message.find(http::field::authorization);
        if (auth != message.end()) request_.authorization = std::string(auth->value());
        const auto realIp = message.find("X-Real-IP");
        const std::string realIpText =
            realIp != message.end() ? std::string(realIp->value()) : std::string();
        request_.clientAddress = RequestAddress(
            address_, realIp != message.end() ? realIpText.c_str() : nullptr, server_.behindProxy_);
        request_.acceptsGzip = facts.acceptsGzip;
        head_ = message.method() == http::verb::head;
        buffer_.consume(head.size());
        server_.inFlight_.fetch_add(1);
        counted_ = true;

        // A declared length over the cap is answered before a byte of the body is read.
        if (const auto length = parser_->content_length(); length && *length > kMaxBodyBytes) {
            request_.bodyTooLarge = true;
            return Answer(server_.api_.Handle(request_), true);
        }
        Expire(kConnectionTimeoutSeconds);
        if (facts.expectContinue && http11 && !parser_->is_done() && buffer_.size() == 0) {
            static constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
            return net::async_write(socket_, net::buffer(kContinue.data(), kContinue.size()),
                                    [self = shared_from_this()](error_code e, size_t) {
                                        if (e) return self->Close();
                                        self->ReadBody();
                                    });
        }
        ReadBody();
    }

    // Feeds the bytes at hand to the parser, which writes the body into chunk_;
    // reads more while the body is not complete.
    void ReadBody() {
        while (!parser_->is_done()) {
            if (buffer_.size() == 0) {
                Expire(kConnectionTimeoutSeconds);
                return ReadSome(&HttpConnection::OnBodyRead);
            }
            auto& body = parser_->get().body();
            body.data = chunk_.data();
            body.size = chunk_.size();
            body.more = true;
            error_code ec;
            const size_t used = parser_->put(buffer_.data(), ec);
            buffer_.consume(used);
            const size_t got = chunk_.size() - body.size;
            if (got > 0 && !TakeBody(got)) return;
            if (ec == http::error::need_buffer) continue;
            if (ec == http::error::need_more || (!ec && used == 0 && got == 0)) {
                Expire(kConnectionTimeoutSeconds);
                return ReadSome(&HttpConnection::OnBodyRead);
            }
            if (ec) return Refuse(ErrorResponse(400, "the request body's chunks are malformed"));
        }
        if (request_.method == "POST") return HandleAside(server_.net_->writing);
        if (server_.readsAside_ && Api::ReadsDatabase(request_)) {
            handling_ = true;
            const bool started =
                loop_ &&
                loop_->Start(request_, [self = shared_from_this()](std::optional<Response> r) {
                    if (!r) return self->HandleAside(*self->server_.net_->reading);
                    self->handling_ = false;
                    self->Answer(std::move(*r), false);
                });
            if (!started) HandleAside(*server_.net_->reading);
            return;
        }
        Answer(server_.api_.Handle(request_), false);
    }

    // Handles a request on other threads: one that writes may wait for the
    // database's writer behind a verdict, one that reads a remote database
    // waits for its answer, and the connections sharing this thread must not
    // wait with them.
    void HandleAside(net::thread_pool& threads) {
        handling_ = true;
        net::post(threads, [self = shared_from_this()] {
            Response r = self->server_.api_.Handle(self->request_);
            net::post(self->socket_.get_executor(), [self, r = std::move(r)]() mutable {
                self->handling_ = false;
                self->Answer(std::move(r), false);
            });
        });
    }

    void OnBodyRead(error_code ec, size_t n) {
        if (ec) return Close();  // the client left or went quiet mid-body
        buffer_.commit(n);
        ReadBody();
    }

    // Keeps n more body bytes from chunk_; false (and answered) when the body
    // passes the cap or the server's bodies in memory are at their limit.
    bool TakeBody(size_t n) {
        if (request_.body.size() + n > kMaxBodyBytes) {
            ReleaseBody();
            request_.bodyTooLarge = true;
            Answer(server_.api_.Handle(request_), true);
            return false;
        }
        if (server_.bufferedBytes_.fetch_add(n) + n > kMaxBufferedBodyBytes) {
            // Many large uploads at once: refuse this one rather than run out of memory.
            server_.bufferedBytes_.fetch_sub(n);
            ReleaseBody();
            Response busy = ErrorResponse(503, "the server is busy receiving runs; try again soon");
            busy.headers.emplace_back("Retry-After", std::to_string(kUploadsBusyRetrySeconds));
            Answer(std::move(busy), true);
            return false;
        }
        reserved_ += n;
        request_.body.append(chunk_.data(), n);
        return true;
    }

    void ReleaseBody() {
        request_.body.clear();
        request_.body.shrink_to_fit();
        server_.bufferedBytes_.fetch_sub(reserved_);
        reserved_ = 0;
    }

    void EndRequest() {
        ReleaseBody();
        if (counted_) server_.inFlight_.fetch_sub(1);
        counted_ = false;
    }

    // Answers a head refused before the routes: the body (if any) is never read.
    void Refuse(Response r) { Answer(std::move(r), true); }

    // Sends the response; closes the connection after it when told to, when
    // the client asked, or when the server is stopping.
    void Answer(Response r, bool close) {
        ReleaseBody();
        response_ = std::move(r);
        const bool asked = parser_ && parser_->is_header_done() && parser_->keep_alive();
        close_ = close || !asked || server_.stopping_.load();
        reply_ = Reply();
        reply_.version(parser_ && parser_->get().version() == 10 ? 10 : 11);
        reply_.result(static_cast<unsigned>(response_.status));
        reply_.set(http::field::content_type, response_.contentType);
        reply_.set("X-Content-Type-Options", "nosniff");
        for (const auto& [name, value] : response_.headers) {
            if (NameIs(name, "Connection")) {
                if (NameIs(value, "close")) close_ = true;
                continue;
            }
            reply_.insert(name, value);
        }
        reply_.keep_alive(!close_);
        const std::string& bytes = response_.sharedBody ? *response_.sharedBody : response_.body;
        reply_.content_length(bytes.size());
        // The answer to HEAD names its length but carries no body.
        if (!head_) reply_.body() = beast::span<const char>(bytes.data(), bytes.size());
        serializer_.emplace(reply_);
        WriteSome();
    }

    // Writes the response a piece at a time, so that the idle timeout, not one
    // deadline for the whole, governs a large file to a slow client.
    void WriteSome() {
        Expire(kConnectionTimeoutSeconds);
        http::async_write_some(socket_, *serializer_,
                               [self = shared_from_this()](error_code ec, size_t) {
                                   self->OnWritten(ec);
                               });
    }

    void OnWritten(error_code ec) {
        if (ec) return Close();
        if (!serializer_->is_done()) return WriteSome();
        serializer_.reset();
        reply_ = Reply();
        response_ = Response();
        EndRequest();
        if (close_) return Drain();
        parser_.reset();
        head_ = false;
        WaitForHead();
    }

    // Ends the connection after an answer, reading (and dropping) what the
    // client still sends for a while: closing with unread bytes would reset the
    // connection, and the client could lose the answer.
    void Drain() {
        error_code ignored;
        socket_.shutdown(tcp::socket::shutdown_send, ignored);
        buffer_.clear();
        Expire(kCloseDrainSeconds);
        DrainSome();
    }

    void DrainSome() {
        socket_.async_read_some(net::buffer(chunk_),
                                [self = shared_from_this()](error_code ec, size_t n) {
                                    self->drained_ += n;
                                    if (ec || self->drained_ > kMaxDiscardBytes) return self->Close();
                                    self->DrainSome();
                                });
    }

    void Close() {
        closed_ = true;
        error_code ignored;
        socket_.shutdown(tcp::socket::shutdown_both, ignored);
        socket_.close(ignored);
        timer_.cancel();
    }

    // Sets when the step under way (reading a head or a body, writing,
    // draining) times out. The timer is moved only when the new time is sooner:
    // otherwise it fires at the old time and waits again, so that a request
    // costs no timer operations of its own.
    void Expire(unsigned seconds) {
        deadline_ = Clock::now() + std::chrono::seconds(seconds);
        if (timerWaiting_ && timer_.expiry() <= deadline_) return;
        timer_.expires_at(deadline_);  // a wait for a later time ends as aborted
        timerWaiting_ = true;
        timer_.async_wait([self = shared_from_this()](error_code ec) { self->OnTimer(ec); });
    }

    void OnTimer(error_code ec) {
        if (ec == net::error::operation_aborted) return;  // replaced by a sooner wait, or closed
        timerWaiting_ = false;
        if (closed_) return;
        // The handler's time is the server's, not the client's.
        if (handling_) return Expire(kConnectionTimeoutSeconds);
        if (Clock::now() < deadline_) {
            timerWaiting_ = true;
            timer_.expires_at(deadline_);
            timer_.async_wait([self = shared_from_this()](error_code e) { self->OnTimer(e); });
            return;
        }
        if (waitingForHead_ && headStarted_) {
            Log("http: closed a connection from " + address_ + ": its request head took over " +
                std::to_string(server_.headTimeoutSeconds_) + " s");
        }
        Close();  // the step under way ends with an error
    }

    using Clock = std::chrono::steady_clock;

    HttpServer& server_;
    tcp::socket socket_;
    net::steady_timer timer_;
    Clock::time_point deadline_;
    bool timerWaiting_ = false;
    bool closed_ = false;
    bool waitingForHead_ = false;
    bool handling_ = false;  // the answer is being made: on another thread or the database channel
    const std::string address_;
    HttpServer::DatabaseLoop* const loop_;  // the thread's database channel, or null
    beast::flat_buffer buffer_;
    size_t scanned_ = 0;  // bytes of buffer_ already searched for the head's end
    bool headStarted_ = false;
    std::optional<http::request_parser<http::buffer_body>> parser_;
    Request request_;
    bool head_ = false;      // a HEAD request: the answer has no body
    bool counted_ = false;   // counted in the requests in flight
    size_t reserved_ = 0;    // body bytes counted against the server's budget
    Response response_;
    Reply reply_;
    std::optional<http::response_serializer<http::span_body<const char>>> serializer_;
    bool close_ = false;
    size_t drained_ = 0;
    std::array<char, kReadBytes> chunk_{};
};

bool AcceptsGzip(std::string_view acceptEncoding) {
    const auto trim = [](std::string_view t) {
        while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
        while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
        return t;
    };
    // A weight of zero is "q=0" with up to three zero decimals; anything else
    // (even malformed) counts as a yes, as browsers never send one.
    const auto refused = [&](std::string_view params) {
        while (!params.empty()) {
            const size_t semicolon = params.find(';');
            const std::string_view param = trim(params.substr(0, semicolon));
            params = semicolon == std::string_view::npos ? "" : params.substr(semicolon + 1);
            if (param.size() < 2 || (param[0] != 'q' && param[0] != 'Q') || param[1] != '=') continue;
            const std::string_view q = param.substr(2);
            return q == "0" || q == "0." || q == "0.0" || q == "0.00" || q == "0.000";
        }
        return false;
    };
    int gzip = -1;  // -1 not named, 0 refused, 1 accepted
    int any = -1;
    while (!acceptEncoding.empty()) {
        const size_t comma = acceptEncoding.find(',');
        const std::string_view item = acceptEncoding.substr(0, comma);
        acceptEncoding = comma == std::string_view::npos ? "" : acceptEncoding.substr(comma + 1);
        const size_t semicolon = item.find(';');
        const std::string_view coding = trim(item.substr(0, semicolon));
        const bool no = semicolon != std::string_view::npos && refused(item.substr(semicolon + 1));
        if (NameIs(coding, "gzip") || NameIs(coding, "x-gzip")) {
            gzip = no ? 0 : 1;
        } else if (coding == "*") {
            any = no ? 0 : 1;
        }
    }
    return gzip >= 0 ? gzip == 1 : any == 1;
}

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

HttpServer::HttpServer(Api& api, bool behindProxy, unsigned headTimeoutSeconds)
    : api_(api), behindProxy_(behindProxy), headTimeoutSeconds_(headTimeoutSeconds) {}

HttpServer::~HttpServer() {
    Stop();
}

bool HttpServer::Start(const std::string& host, uint16_t port, std::string& error) {
    in6_addr v6{};
    in_addr v4{};
    if (inet_pton(AF_INET, host.c_str(), &v4) != 1 && inet_pton(AF_INET6, host.c_str(), &v6) != 1) {
        error = "'" + host + "' is not an IP address";
        return false;
    }
    error_code ec;
    const auto address = net::ip::make_address(host, ec);
    if (ec) {
        error = "'" + host + "' is not an IP address";
        return false;
    }
    net_ = std::make_unique<Network>();
    if (readsAside_) {
        net_->reading.emplace(kHttpReadingThreads);
        for (const auto& context : net_->contexts) {
            net_->loops.push_back(std::make_unique<DatabaseLoop>(*this, *context));
            net_->loops.back()->Open();
        }
    }
    const tcp::endpoint endpoint(address, port);
    tcp::acceptor& acceptor = net_->acceptor;
    acceptor.open(endpoint.protocol(), ec);
    if (!ec) acceptor.set_option(net::socket_base::reuse_address(true), ec);
    if (!ec && address.is_v6()) acceptor.set_option(net::ip::v6_only(true), ec);
    if (!ec) acceptor.bind(endpoint, ec);
    if (!ec) acceptor.listen(net::socket_base::max_listen_connections, ec);
    if (!ec) port_ = acceptor.local_endpoint(ec).port();
    if (ec) {
        error = "cannot listen on " + host + ":" + std::to_string(port) + " (" + ec.message() + ")";
        net_.reset();
        return false;
    }
    stopping_ = false;
    Accept();
    for (unsigned i = 0; i < kHttpThreads; ++i) {
        threads_.emplace_back([&context = *net_->contexts[i]] {
            // A handler that throws (out of memory) loses its connection, not the server.
            for (;;) {
                try {
                    context.run();
                    return;
                } catch (const std::exception& e) {
                    Log(std::string("http: ") + e.what());
                }
            }
        });
    }
    return true;
}

void HttpServer::Accept() {
    const size_t thread = net_->next++ % net_->contexts.size();
    net_->acceptor.async_accept(
        net_->contexts[thread]->get_executor(), [this, thread](error_code ec, tcp::socket socket) {
            if (ec == net::error::operation_aborted || !net_->acceptor.is_open()) return;
            if (ec) {
                // Out of descriptors, most likely: try again shortly rather than spin.
                Log("http: cannot accept a connection: " + ec.message());
                net_->retry.expires_after(kAcceptRetry);
                net_->retry.async_wait([this](error_code e) {
                    if (!e && net_->acceptor.is_open()) Accept();
                });
                return;
            }
            error_code peerError;
            const tcp::endpoint peer = socket.remote_endpoint(peerError);
            if (!peerError) {
                std::string address = peer.address().to_string();
                // Over a cap the socket is closed at once, unanswered.
                if (Admit(address)) {
                    DatabaseLoop* loop = net_->loops.empty() ? nullptr : net_->loops[thread].get();
                    std::make_shared<HttpConnection>(*this, std::move(socket), std::move(address),
                                                     loop)
                        ->Begin();
                }
            }
            Accept();
        });
}

bool HttpServer::Admit(const std::string& address) {
    std::lock_guard<std::mutex> lock(connectionsMutex_);
    if (connections_ >= kMaxConnections) return false;
    unsigned& mine = perAddress_[address];
    if (mine >= kMaxConnectionsPerAddress) return false;
    ++mine;
    ++connections_;
    return true;
}

void HttpServer::Release(const std::string& address) {
    std::lock_guard<std::mutex> lock(connectionsMutex_);
    --connections_;
    const auto it = perAddress_.find(address);
    if (it != perAddress_.end() && --it->second == 0) perAddress_.erase(it);
}

void HttpServer::Stop() {
    if (!net_) return;
    stopping_ = true;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(kShutdownGraceSeconds);
    // The acceptor lives on the first thread: it is closed there.
    std::promise<void> closed;
    net::post(net_->acceptor.get_executor(), [this, &closed] {
        error_code ignored;
        net_->acceptor.close(ignored);
        net_->retry.cancel();
        closed.set_value();
    });
    closed.get_future().wait_until(deadline);
    while (inFlight_.load() > 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(kStopPoll);
    }
    for (auto& work : net_->work) work.reset();
    for (auto& context : net_->contexts) context->stop();
    for (std::thread& t : threads_) t.join();
    threads_.clear();
    // A handler still writing finishes; its answer is never sent.
    net_->writing.join();
    if (net_->reading) net_->reading->join();
    // Connections still open go with the handlers that hold them.
    net_.reset();
}

}  // namespace board
