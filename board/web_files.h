// The board's web page: the few static files of board/web/, read once at start
// from the folder installed beside the server and served by their known names
// only (nothing else on disk is reachable), with headers that keep a page
// showing other people's names safe: exact types, no sniffing, and a content
// security policy that allows nothing but this server.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "board/routes.h"

namespace board {

// The largest web file read; the page's files are a few kilobytes each.
inline constexpr size_t kMaxWebFileBytes = 256 * 1024;
// The policy sent with every page file: this server only, no frames, no forms elsewhere.
inline constexpr const char* kWebContentSecurityPolicy =
    "default-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

class WebFiles {
  public:
    // Reads every known file from folder; false with a reason (and nothing kept)
    // when one is missing, not a regular file or too large.
    bool Load(const std::string& folder, std::string& error);
    // Returns true once Load succeeded.
    bool Loaded() const { return !files_.empty(); }
    // Returns the answer to a GET of a page path (still percent-encoded), or
    // nothing when the path names no page file.
    std::optional<Response> Find(const std::string& path) const;

  private:
    struct File {
        const char* path;
        const char* contentType;
        std::string bytes;
    };
    std::vector<File> files_;
};

// Returns the web folder of the server at programPath: "web" beside it in the
// build, else the installed one (share/zarquill-board/web below the prefix);
// "" when neither holds the page.
std::string FindWebFolder(const std::string& programPath);

}  // namespace board
