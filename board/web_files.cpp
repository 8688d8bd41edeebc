// Loading and serving the board's web page files and the watch bundle.
#include "board/web_files.h"

#include <nlohmann/json.hpp>
#include <zlib.h>

#include <filesystem>
#include <system_error>

#include "board/hashes.h"
#include "board/limits.h"
#include "engine/media/asset_read.h"

#ifndef ZQ_INSTALLED_WEB_REL
#define ZQ_INSTALLED_WEB_REL "../share/zarquill-board/web"
#endif

namespace board {

namespace {

// The page's files: the address each answers at, its file name and its type.
struct KnownFile {
    const char* path;
    const char* name;
    const char* contentType;
};

constexpr KnownFile kKnownFiles[] = {
    {"/", "index.html", "text/html; charset=utf-8"},
    {"/board.css", "board.css", "text/css; charset=utf-8"},
    {"/board.js", "board.js", "text/javascript; charset=utf-8"},
    {"/icon.svg", "icon.svg", "image/svg+xml"},
    {"/play", "play.html", "text/html; charset=utf-8"},
    {"/play.js", "play.js", "text/javascript; charset=utf-8"},
};

// The watch bundle's files: the page's glue, the program's loader, the program
// and the game's data; each by its name in the bundle and its type.
struct BundleFile {
    const char* name;
    const char* contentType;
};

constexpr BundleFile kBundleFiles[] = {
    {"pack.js", "text/javascript; charset=utf-8"},
    {"viewer.js", "text/javascript; charset=utf-8"},
    {"zarquill-viewer.js", "text/javascript; charset=utf-8"},
    {"zarquill-viewer.wasm", "application/wasm"},
    {"zarquill-viewer-data.bin", "application/octet-stream"},
    {"zarquill-play.js", "text/javascript; charset=utf-8"},
    {"zarquill-play.wasm", "application/wasm"},
};

constexpr const char* kNoCache = "no-cache";

// Reads one file of the web folder, capped at maxBytes; false with a reason.
bool ReadWebFile(const std::string& path, size_t maxBytes, std::string& bytes, std::string& error) {
    std::string why;
    const media::AssetRead read = media::ReadAssetFile(path, maxBytes, bytes, why);
    if (read == media::AssetRead::kOk) return true;
    error = path + ": " + (read == media::AssetRead::kMissing ? std::string("no such file") : why);
    return false;
}

// Returns bytes compressed with gzip at the highest level, or null when that
// saves nothing (or zlib fails, and the file is then sent as it is).
std::shared_ptr<const std::string> Gzipped(const std::string& bytes) {
    z_stream z{};
    constexpr int kGzipWindowBits = 15 + 16;  // the largest window, with a gzip header
    if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, kGzipWindowBits, 9, Z_DEFAULT_STRATEGY) !=
        Z_OK) {
        return nullptr;
    }
    std::string out(deflateBound(&z, static_cast<uLong>(bytes.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    z.avail_in = static_cast<uInt>(bytes.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int result = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (result != Z_STREAM_END || out.size() >= bytes.size()) return nullptr;
    return std::make_shared<const std::string>(std::move(out));
}

}  // namespace

WebFiles::File WebFiles::Served(std::string path, const char* contentType, const char* caching,
                                std::string bytes) {
    auto shared = std::make_shared<const std::string>(std::move(bytes));
    auto gzipped = Gzipped(*shared);
    return {std::move(path), contentType, caching, std::move(shared), std::move(gzipped)};
}

bool WebFiles::Load(const std::string& folder, std::string& error) {
    std::vector<File> files;
    for (const KnownFile& known : kKnownFiles) {
        std::string bytes, why;
        if (!ReadWebFile(folder + "/" + known.name, kMaxWebFileBytes, bytes, why)) {
            error = "cannot read the web page's " + why;
            return false;
        }
        files.push_back(Served(known.path, known.contentType, kNoCache, std::move(bytes)));
    }
    files_ = std::move(files);
    viewerIndex_.clear();
    viewerProblem_.clear();
    const std::string viewer = folder + "/" + kViewerFolder;
    std::error_code ec;
    if (std::filesystem::exists(std::filesystem::symlink_status(viewer, ec)) &&
        !LoadViewer(viewer, viewerProblem_)) {
        viewerIndex_.clear();
    }
    return true;
}

bool WebFiles::LoadViewer(const std::string& folder, std::string& why) {
    std::vector<File> bundle;
    nlohmann::json index = nlohmann::json::object();
    for (const BundleFile& known : kBundleFiles) {
        std::string bytes, error;
        if (!ReadWebFile(folder + "/" + known.name, kMaxViewerFileBytes, bytes, error)) {
            why = "cannot read the watch bundle's " + error;
            return false;
        }
        const std::string address = ViewerAddress(known.name, bytes);
        index[known.name] = address;
        bundle.push_back(Served(address, known.contentType, kImmutableCaching, std::move(bytes)));
    }
    for (File& file : bundle) files_.push_back(std::move(file));
    viewerIndex_ = index.dump();
    return true;
}

std::optional<Response> WebFiles::Find(const std::string& path, bool acceptsGzip) const {
    if (files_.empty()) {
        if (path != "/") return std::nullopt;
        return ErrorResponse(404, "this server has no web page installed; the API is at /api/v1/");
    }
    if (path == kViewerIndexPath) {
        if (viewerIndex_.empty()) {
            return ErrorResponse(404,
                                 "this server has no viewer installed; download the replay "
                                 "and watch it with zarquill --replay FILE");
        }
        Response r;
        r.body = viewerIndex_;
        r.headers = {{"Cache-Control", kNoCache}};
        return r;
    }
    for (const File& file : files_) {
        if (path != file.path) continue;
        Response r;
        r.contentType = file.contentType;
        // The data pack is megabytes: sent without copies.
        const bool gzip = acceptsGzip && file.gzipped;
        r.sharedBody = gzip ? file.gzipped : file.bytes;
        r.headers = {{"Content-Security-Policy", kWebContentSecurityPolicy},
                     {"Referrer-Policy", "no-referrer"},
                     {"Cache-Control", file.caching}};
        if (file.gzipped) r.headers.emplace_back("Vary", "Accept-Encoding");
        if (gzip) r.headers.emplace_back("Content-Encoding", "gzip");
        return r;
    }
    return std::nullopt;
}

std::string ViewerAddress(const std::string& name, const std::string& bytes) {
    const size_t dot = name.rfind('.');
    return "/" + std::string(kViewerFolder) + "/" + name.substr(0, dot) + "." +
           Sha256Hex(bytes).substr(0, kViewerHashDigits) + name.substr(dot);
}

std::string FindWebFolder(const std::string& programPath) {
    const std::filesystem::path beside = std::filesystem::path(programPath).parent_path();
    for (const std::filesystem::path& folder : {beside / "web", beside / ZQ_INSTALLED_WEB_REL}) {
        std::error_code ec;
        if (std::filesystem::is_regular_file(folder / "index.html", ec)) {
            return folder.lexically_normal().string();
        }
    }
    return "";
}

}  // namespace board
