// PNG images in the browser build: there is no PNG codec inside it. The page
// decodes the pictures and hands their pixels over (decoded_images.h); loading
// an image finds them by path, and anything else fails with a reason. Writing
// a PNG (a screenshot) writes nothing.
#include <cstring>
#include <map>

#include "engine/media/asset_read.h"
#include "engine/media/browser/decoded_images.h"
#include "engine/media/folders.h"
#include "engine/media/pixmap.h"

namespace media {

namespace {

// The pictures handed over, by absolute path.
std::map<std::string, std::shared_ptr<const TPixmap>>& Images() {
    static std::map<std::string, std::shared_ptr<const TPixmap>> images;
    return images;
}

// Returns path made absolute against the current folder, "." and ".." parts resolved.
std::string AbsolutePath(const std::string& path) {
    const std::string full = !path.empty() && path[0] == '/' ? path : CurrentDir() + "/" + path;
    std::string out;
    size_t at = 0;
    while (at <= full.size()) {
        size_t end = full.find('/', at);
        if (end == std::string::npos) end = full.size();
        const std::string part = full.substr(at, end - at);
        if (part == "..") {
            const size_t slash = out.find_last_of('/');
            out.erase(slash == std::string::npos ? 0 : slash);
        } else if (!part.empty() && part != ".") {
            out += "/" + part;
        }
        at = end + 1;
    }
    return out.empty() ? "/" : out;
}

}  // namespace

bool AddDecodedImage(const std::string& path, int width, int height, const uint8_t* rgba) {
    if (!rgba || !PixmapSizeOk(width, height)) return false;
    std::shared_ptr<TPixmap> pixmap = CreatePixmap(width, height);
    if (!pixmap) return false;
    for (int y = 0; y < height; ++y) {
        std::memcpy(pixmap->Row(y), rgba + static_cast<size_t>(y) * width * 4,
                    static_cast<size_t>(width) * 4);
    }
    Images()[AbsolutePath(path)] = std::move(pixmap);
    return true;
}

void ClearDecodedImages() {
    Images().clear();
}

std::shared_ptr<TPixmap> DecodePng(std::string_view, std::string& why) {
    why = "the browser build decodes no PNG images (the page hands them over decoded)";
    return nullptr;
}

std::shared_ptr<TPixmap> LoadPixmap(const std::string& path) {
    const auto it = Images().find(AbsolutePath(path));
    if (it == Images().end()) {
        ReportLoadFailure("image", path, "not handed over by the page");
        return nullptr;
    }
    // Callers own their pixmap and may change it: each load gets a copy.
    return std::make_shared<TPixmap>(*it->second);
}

int SavePixmapPNG(const TPixmap&, const std::string&, int) {
    return 0;
}

int SavePixmapPNG(const std::shared_ptr<TPixmap>&, const std::string&, int) {
    return 0;
}

}  // namespace media
