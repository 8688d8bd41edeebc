// PNG images in the browser build: there is no PNG codec inside it (the page
// decodes pictures itself), so reading one fails with a reason and writing one
// (a screenshot) writes nothing.
#include "engine/media/asset_read.h"
#include "engine/media/pixmap.h"

namespace media {

std::shared_ptr<TPixmap> DecodePng(std::string_view, std::string& why) {
    why = "the browser build decodes no PNG images";
    return nullptr;
}

std::shared_ptr<TPixmap> LoadPixmap(const std::string& path) {
    std::string why;
    DecodePng({}, why);
    ReportLoadFailure("image", path, why);
    return nullptr;
}

int SavePixmapPNG(const TPixmap&, const std::string&, int) {
    return 0;
}

int SavePixmapPNG(const std::shared_ptr<TPixmap>&, const std::string&, int) {
    return 0;
}

}  // namespace media
