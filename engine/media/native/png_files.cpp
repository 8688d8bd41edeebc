// PNG reading and writing through libpng; see pixmap.h.
#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "engine/media/asset_read.h"
#include "engine/media/pixmap.h"

namespace media {

namespace {

struct FileCloser {
    void operator()(FILE* f) const {
        if (f) std::fclose(f);
    }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// Sends libpng's output into a byte vector.
void PngWriteToVector(png_structp png, png_bytep data, png_size_t size) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + size);
}

void PngFlushNothing(png_structp) {}

// Encodes rows into `out`; returns false on any libpng error.
// Note: no object with a destructor may live in this frame (libpng longjmps).
bool EncodePng(const TPixmap& pm, int colour_type, int level, png_bytep* rows,
               std::vector<uint8_t>* out) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, out, PngWriteToVector, PngFlushNothing);
    png_set_compression_level(png, level);
    png_set_IHDR(png, info, static_cast<png_uint_32>(pm.width), static_cast<png_uint_32>(pm.height),
                 8, colour_type, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

std::shared_ptr<TPixmap> DecodePng(std::string_view bytes, std::string& why) {
    why.clear();
    if (bytes.empty()) {
        why = "empty file";
        return nullptr;
    }
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) {
        why = image.message[0] ? image.message : "not a PNG image";
        png_image_free(&image);
        return nullptr;
    }
    image.format = PNG_FORMAT_RGBA;
    // The header's size is checked before anything is allocated for it.
    if (!PixmapSizeOk(image.width, image.height)) {
        why = "image of " + std::to_string(image.width) + " x " + std::to_string(image.height) +
              " pixels is too large";
        png_image_free(&image);
        return nullptr;
    }
    auto pm = CreatePixmap(static_cast<int>(image.width), static_cast<int>(image.height));
    if (!pm || !png_image_finish_read(&image, nullptr, pm->pixels.data(), pm->pitch, nullptr)) {
        why = image.message[0] ? image.message : "damaged image data";
        png_image_free(&image);
        return nullptr;
    }
    return pm;
}

std::shared_ptr<TPixmap> LoadPixmap(const std::string& path) {
    std::string bytes, why;
    AssetRead read = ReadAssetFile(path, kMaxPngFileBytes, bytes, why);
    if (read == AssetRead::kMissing) return nullptr;
    std::shared_ptr<TPixmap> pm;
    if (read == AssetRead::kOk) pm = DecodePng(bytes, why);
    if (!pm) ReportLoadFailure("image", path, why);
    return pm;
}

int SavePixmapPNG(const TPixmap& pixmap, const std::string& path, int compression) {
    if (pixmap.width <= 0 || pixmap.height <= 0 || pixmap.pixels.empty()) return 0;
    std::shared_ptr<TPixmap> converted;
    const TPixmap* pm = &pixmap;
    int colour_type = PNG_COLOR_TYPE_RGBA;
    if (pixmap.format == PF_I8) {
        colour_type = PNG_COLOR_TYPE_GRAY;
    } else if (pixmap.format == PF_RGB888) {
        colour_type = PNG_COLOR_TYPE_RGB;
    } else if (pixmap.format != PF_RGBA8888) {
        converted = ConvertPixmap(pixmap, PF_RGBA8888);
        if (!converted) return 0;
        pm = converted.get();
    }
    if (compression < 0) compression = 0;
    if (compression > 9) compression = 9;
    std::vector<png_bytep> rows(static_cast<size_t>(pm->height));
    for (int y = 0; y < pm->height; ++y) rows[y] = const_cast<png_bytep>(pm->Row(y));
    std::vector<uint8_t> encoded;
    if (!EncodePng(*pm, colour_type, compression, rows.data(), &encoded)) return 0;
    FilePtr f(std::fopen(path.c_str(), "wb"));
    if (!f) return 0;
    bool written = std::fwrite(encoded.data(), 1, encoded.size(), f.get()) == encoded.size();
    written = std::fclose(f.release()) == 0 && written;
    // A half-written picture is worse than none: take it away again.
    if (!written) std::remove(path.c_str());
    return written ? 1 : 0;
}

int SavePixmapPNG(const std::shared_ptr<TPixmap>& pixmap, const std::string& path,
                  int compression) {
    return pixmap ? SavePixmapPNG(*pixmap, path, compression) : 0;
}

}  // namespace media
