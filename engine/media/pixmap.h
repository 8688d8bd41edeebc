// In-memory pixel images: the pixel store behind every image frame, window
// read-backs and screenshots, with PNG loading and saving. Works without a
// window (asset tools and tests decode PNG files through it).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace media {

// Largest pixmap accepted: sides up to this many pixels...
inline constexpr int kMaxPixmapSide = 16384;
// ...and at most this many bytes of pixels (a PNG may declare far more than it holds).
inline constexpr int64_t kMaxPixmapBytes = int64_t{256} * 1024 * 1024;
// Largest PNG file read.
inline constexpr size_t kMaxPngFileBytes = size_t{256} * 1024 * 1024;

// Pixel layouts a pixmap can hold (bytes in memory order).
enum PixelFormat : int {
    PF_I8 = 1,        // one grey byte per pixel
    PF_RGB888 = 2,    // red, green, blue
    PF_RGBA8888 = 3,  // red, green, blue, alpha
};

// Returns the bytes one pixel of the format takes.
int BytesPerPixel(int format);

// An in-memory pixel image; rows are `pitch` bytes apart, top row first.
class TPixmap {
  public:
    std::vector<uint8_t> pixels;
    int width = 0;
    int height = 0;
    int pitch = 0;
    int format = PF_RGBA8888;
    int capacity = 0;  // bytes held in `pixels`

    // Returns the pixel at x,y as alpha<<24 | red<<16 | green<<8 | blue.
    // Note: outside the pixmap the result is 0; grey and RGB pixels are opaque.
    uint32_t ReadPixel(int x, int y) const;
    // Stores an alpha<<24 | red<<16 | green<<8 | blue value at x,y.
    // Note: outside the pixmap nothing happens; a grey pixmap keeps the mean of r, g, b.
    void WritePixel(int x, int y, uint32_t argb);
    // Returns a pointer to the first byte of row y.
    uint8_t* Row(int y) { return pixels.data() + static_cast<size_t>(y) * pitch; }
    const uint8_t* Row(int y) const { return pixels.data() + static_cast<size_t>(y) * pitch; }
};

// Returns true when a width × height pixmap of the format is within the caps.
bool PixmapSizeOk(int64_t width, int64_t height, int format = PF_RGBA8888);
// Makes a pixmap of the size and format with every byte zero (null for a bad size).
std::shared_ptr<TPixmap> CreatePixmap(int width, int height, int format = PF_RGBA8888);
// Returns a copy of the pixmap in another format (grey is the mean of r, g, b).
std::shared_ptr<TPixmap> ConvertPixmap(const TPixmap& source, int format);
// Returns a copy of the rectangle x,y,w,h of the pixmap, clipped to it.
std::shared_ptr<TPixmap> PixmapWindow(const TPixmap& source, int x, int y, int w, int h);
// Decodes a PNG file into an RGBA pixmap; null when it is missing, and null
// with one log line when it is unreadable, damaged or beyond the caps.
std::shared_ptr<TPixmap> LoadPixmap(const std::string& path);
// Decodes PNG bytes into an RGBA pixmap; null with the reason in why on failure.
std::shared_ptr<TPixmap> DecodePng(std::string_view bytes, std::string& why);
// Writes the pixmap as an 8-bit PNG at zlib level 0..9 (grey, RGB or RGBA).
// Returns 1 on success and 0 when the file cannot be written.
int SavePixmapPNG(const TPixmap& pixmap, const std::string& path, int compression = 9);
// Writes the pixmap behind a handle; a null handle writes nothing and returns 0.
int SavePixmapPNG(const std::shared_ptr<TPixmap>& pixmap, const std::string& path,
                  int compression = 9);

}  // namespace media
