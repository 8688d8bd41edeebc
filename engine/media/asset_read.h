// Reading files that come from outside the program (images, sounds, fonts)
// and reporting the ones that cannot be used. Such files are hostile until
// checked: only regular files are read, never more than a cap, and opening
// one never blocks (a FIFO or a device at the path is refused, not waited on).
// Load failures (and the media layer's other problem lines) go to one sink,
// the program's log once it is open.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace media {

// Receives one line per load failure.
using LoadFailureSink = std::function<void(std::string_view)>;

// What ReadAssetFile found.
enum class AssetRead {
    kOk,       // out holds the whole file
    kMissing,  // nothing at the path: callers treat this as the quiet "no such asset"
    kRefused,  // not a regular file, too large or unreadable; why says which
};

// Reads the whole regular file at path into out, refusing anything larger
// than max_bytes. Anything but kOk leaves out empty.
AssetRead ReadAssetFile(const std::string& path, size_t max_bytes, std::string& out,
                        std::string& why);
// Sends the failure lines to sink; null restores the default (standard error).
void SetLoadFailureSink(LoadFailureSink sink);
// Reports one failed load: kind ("image", "sound", "font"), the path and why.
void ReportLoadFailure(std::string_view kind, const std::string& path, std::string_view why);
// Sends one line (starting with a tab) of another media problem the same way.
void ReportMediaLine(const std::string& line);

}  // namespace media
