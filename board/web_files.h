// The board's web page: the few static files of board/web/, read once at start
// from the folder installed beside the server and served by their known names
// only (nothing else on disk is reachable), with headers that keep a page
// showing other people's names safe: exact types, no sniffing, and a content
// security policy that allows nothing but this server. When the folder holds
// the watch bundle (viewer/), its files are served too, each at an address
// made from its content so that browsers may keep them for good.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "board/routes.h"

namespace board {

// The policy sent with every page file: this server only, no frames, no forms
// elsewhere; scripts may compile WebAssembly (the viewer) but never evaluate text.
inline constexpr const char* kWebContentSecurityPolicy =
    "default-src 'self'; script-src 'self' 'wasm-unsafe-eval'; base-uri 'none'; "
    "form-action 'none'; frame-ancestors 'none'";
// The folder of the watch bundle inside the web folder, and the address of its index.
inline constexpr const char* kViewerFolder = "viewer";
inline constexpr const char* kViewerIndexPath = "/viewer/files.json";
// Hex digits of a bundle file's SHA-256 in its address.
inline constexpr size_t kViewerHashDigits = 16;
// How long a browser keeps a bundle file (its address changes with its content).
inline constexpr const char* kImmutableCaching = "public, max-age=31536000, immutable";

class WebFiles {
  public:
    // Reads every known file from folder; false with a reason (and nothing kept)
    // when one is missing, not a regular file or too large. The watch bundle
    // is read when the folder has one; a broken one is left out (see
    // ViewerProblem) and the page is served without it.
    bool Load(const std::string& folder, std::string& error);
    // Returns true once Load succeeded.
    bool Loaded() const { return !files_.empty(); }
    // Returns true when the watch bundle is served.
    bool HasViewer() const { return !viewerIndex_.empty(); }
    // Returns why a bundle folder present was left out ("" when there was none or it loaded).
    const std::string& ViewerProblem() const { return viewerProblem_; }
    // Returns the answer to a GET of a page path (still percent-encoded), or
    // nothing when the path names no page file; gzipped when the client takes
    // gzip and that makes the file smaller.
    std::optional<Response> Find(const std::string& path, bool acceptsGzip = false) const;

  private:
    struct File {
        std::string path;
        const char* contentType;
        const char* caching;
        std::shared_ptr<const std::string> bytes;
        std::shared_ptr<const std::string> gzipped;  // null when gzip saves nothing
    };
    // Makes a served file, with its gzipped form.
    static File Served(std::string path, const char* contentType, const char* caching,
                       std::string bytes);
    // Reads the bundle's files from folder into files_; false with a reason.
    bool LoadViewer(const std::string& folder, std::string& why);

    std::vector<File> files_;
    std::string viewerIndex_;  // files.json, "" without the bundle
    std::string viewerProblem_;
};

// Returns the address of a bundle file: /viewer/<stem>.<first hex of its SHA-256>.<ext>.
std::string ViewerAddress(const std::string& name, const std::string& bytes);

// Returns the web folder of the server at programPath: "web" beside it in the
// build, else the installed one (share/zarquill-board/web below the prefix);
// "" when neither holds the page.
std::string FindWebFolder(const std::string& programPath);

}  // namespace board
