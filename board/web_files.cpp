// Loading and serving the board's web page files.
#include "board/web_files.h"

#include <filesystem>
#include <system_error>

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
};

}  // namespace

bool WebFiles::Load(const std::string& folder, std::string& error) {
    std::vector<File> files;
    for (const KnownFile& known : kKnownFiles) {
        const std::string path = folder + "/" + known.name;
        std::string bytes, why;
        const media::AssetRead read = media::ReadAssetFile(path, kMaxWebFileBytes, bytes, why);
        if (read != media::AssetRead::kOk) {
            error = "cannot read the web page's " + path + ": " +
                    (read == media::AssetRead::kMissing ? std::string("no such file") : why);
            return false;
        }
        files.push_back(File{known.path, known.contentType, std::move(bytes)});
    }
    files_ = std::move(files);
    return true;
}

std::optional<Response> WebFiles::Find(const std::string& path) const {
    if (files_.empty()) {
        if (path != "/") return std::nullopt;
        return ErrorResponse(404, "this server has no web page installed; the API is at /api/v1/");
    }
    for (const File& file : files_) {
        if (path != file.path) continue;
        Response r;
        r.contentType = file.contentType;
        r.body = file.bytes;
        r.headers = {{"Content-Security-Policy", kWebContentSecurityPolicy},
                     {"Referrer-Policy", "no-referrer"},
                     {"Cache-Control", "no-cache"}};
        return r;
    }
    return std::nullopt;
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
