// In-memory pixel images and the PNG codec; see pixmap.h.
#include "engine/media/pixmap.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "engine/media/asset_read.h"

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

int BytesPerPixel(int format) {
    switch (format) {
        case PF_I8:
            return 1;
        case PF_RGB888:
            return 3;
        default:
            return 4;
    }
}

uint32_t TPixmap::ReadPixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return 0;
    const uint8_t* p = Row(y) + static_cast<size_t>(x) * BytesPerPixel(format);
    switch (format) {
        case PF_I8:
            return 0xFF000000u | (uint32_t(p[0]) << 16) | (uint32_t(p[0]) << 8) | p[0];
        case PF_RGB888:
            return 0xFF000000u | (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
        default:
            return (uint32_t(p[3]) << 24) | (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
    }
}

void TPixmap::WritePixel(int x, int y, uint32_t argb) {
    if (x < 0 || y < 0 || x >= width || y >= height) return;
    uint8_t* p = Row(y) + static_cast<size_t>(x) * BytesPerPixel(format);
    uint8_t a = uint8_t(argb >> 24), r = uint8_t(argb >> 16), g = uint8_t(argb >> 8),
            b = uint8_t(argb);
    switch (format) {
        case PF_I8:
            p[0] = uint8_t((r + g + b) / 3);
            break;
        case PF_RGB888:
            p[0] = r, p[1] = g, p[2] = b;
            break;
        default:
            p[0] = r, p[1] = g, p[2] = b, p[3] = a;
            break;
    }
}

bool PixmapSizeOk(int64_t width, int64_t height, int format) {
    if (width <= 0 || height <= 0 || width > kMaxPixmapSide || height > kMaxPixmapSide) {
        return false;
    }
    // Sides of at most 2^14 keep the product far inside 64 bits.
    return width * height * BytesPerPixel(format) <= kMaxPixmapBytes;
}

std::shared_ptr<TPixmap> CreatePixmap(int width, int height, int format) {
    if (format != PF_I8 && format != PF_RGB888) format = PF_RGBA8888;
    if (!PixmapSizeOk(width, height, format)) return nullptr;
    auto pm = std::make_shared<TPixmap>();
    pm->width = width;
    pm->height = height;
    pm->format = format;
    pm->pitch = width * BytesPerPixel(format);
    pm->capacity = pm->pitch * height;
    pm->pixels.assign(static_cast<size_t>(pm->capacity), 0);
    return pm;
}

std::shared_ptr<TPixmap> ConvertPixmap(const TPixmap& source, int format) {
    auto out = CreatePixmap(source.width, source.height, format);
    if (!out) return nullptr;
    for (int y = 0; y < source.height; ++y) {
        for (int x = 0; x < source.width; ++x) out->WritePixel(x, y, source.ReadPixel(x, y));
    }
    return out;
}

std::shared_ptr<TPixmap> PixmapWindow(const TPixmap& source, int x, int y, int w, int h) {
    auto out = CreatePixmap(std::max(w, 1), std::max(h, 1), source.format);
    if (!out) return nullptr;
    // In 64 bits: x + w may pass the int range for a window far off the pixmap.
    const int64_t x0 = std::max<int64_t>(x, 0), y0 = std::max<int64_t>(y, 0);
    const int64_t x1 = std::min<int64_t>(int64_t{x} + out->width, source.width);
    const int64_t y1 = std::min<int64_t>(int64_t{y} + out->height, source.height);
    const size_t bpp = static_cast<size_t>(BytesPerPixel(source.format));
    for (int64_t yy = y0; yy < y1 && x0 < x1; ++yy) {
        std::memcpy(out->Row(static_cast<int>(yy - y)) + static_cast<size_t>(x0 - x) * bpp,
                    source.Row(static_cast<int>(yy)) + static_cast<size_t>(x0) * bpp,
                    static_cast<size_t>(x1 - x0) * bpp);
    }
    return out;
}

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
