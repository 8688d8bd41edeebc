// In-memory pixel images; see pixmap.h (the PNG codec is the build's own: native/ or browser/).
#include "engine/media/pixmap.h"

#include <algorithm>
#include <cstring>

namespace media {

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

}  // namespace media
