// Fuzz target for the board's request handling, without the network: the
// input becomes one request (method, path, query, Authorization header and
// body) for the routes over a private in-memory SQLite storage. Byte 0 picks
// the method and whether the body's file check value is resealed, so that
// replay-shaped bodies get past it. Every answer must be a known status with
// a JSON body, errors as {"error": ...}; none may be a 500.
#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "board/log.h"
#include "board/routes.h"
#include "board/storage.h"
#include "engine/media/binary_files.h"

namespace {

// Requests between two fresh storages, so accepted runs do not pile up.
constexpr int kRequestsPerStorage = 2000;

struct Service {
    std::unique_ptr<board::Storage> storage = board::OpenSqliteStorage(":memory:");
    board::Metrics metrics;
    // Early 2027 in milliseconds since the epoch: replays of the checked-in dates are not refused
    // as dated ahead of the server's clock.
    int64_t clock = 1798761600000;
    // Each request comes a minute after the last: the rate limit never hides the routes.
    board::Api api{*storage, metrics, [this] { return clock += 60000; }, [this] { return clock; }};
    int served = 0;
};

// Takes the text up to the next newline (or the end) off the front of rest.
std::string TakeLine(std::string& rest) {
    const size_t end = rest.find('\n');
    std::string line = rest.substr(0, end);
    rest = end == std::string::npos ? "" : rest.substr(end + 1);
    return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::unique_ptr<Service> service;
    if (!service || service->served >= kRequestsPerStorage) {
        board::SetLogQuiet(true);
        service.reset();
        service = std::make_unique<Service>();
    }
    ++service->served;
    if (size < 1) return 0;
    static const char* const kMethods[] = {"GET",    "POST",  "HEAD", "PUT",
                                           "DELETE", "PATCH", "",     "get"};
    std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    board::Request request;
    request.method = kMethods[data[0] & 7];
    request.path = TakeLine(rest);
    std::string query = TakeLine(rest);
    while (!query.empty()) {
        const size_t amp = query.find('&');
        const std::string pair = query.substr(0, amp);
        const size_t eq = pair.find('=');
        request.query.emplace_back(pair.substr(0, eq),
                                   eq == std::string::npos ? "" : pair.substr(eq + 1));
        query = amp == std::string::npos ? "" : query.substr(amp + 1);
    }
    request.authorization = TakeLine(rest);
    request.body = rest;
    request.bodyTooLarge = (data[0] & 16) != 0;
    request.clientAddress = (data[0] & 32) ? "::1" : "127.0.0.1";
    if ((data[0] & 8) && request.body.size() >= 4) {
        std::string& b = request.body;
        const uint32_t crc = media::Crc32(std::string_view(b).substr(0, b.size() - 4));
        for (int i = 0; i < 4; ++i) b[b.size() - 4 + i] = static_cast<char>(crc >> (8 * i));
    }

    const board::Response response = service->api.Handle(request);
    switch (response.status) {
        case 200:
        case 202:
        case 400:
        case 401:
        case 403:
        case 404:
        case 405:
        case 409:  // a copy of a run another player sent first
        case 413:
        case 429:
            break;
        default:
            std::abort();  // 500 and 503 mean a fault: the in-memory storage never fails
    }
    if (response.contentType == "application/json") {
        const auto j = nlohmann::json::parse(response.body, nullptr, false);
        if (!j.is_object()) std::abort();
        if (response.status >= 400 && !(j.contains("error") && j["error"].is_string()))
            std::abort();
    }
    return 0;
}
