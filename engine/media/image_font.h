// Bitmap fonts rendered from TrueType files at one pixel size, plus the
// built-in font used when none is selected. Glyphs are made on first use and
// kept, packed into one alpha atlas per font that the drawing driver uploads.
// Character codes 0..255 are the Unicode code points of the same number.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/media/font_face.h"

namespace media {

class TDriverTexture;

// One glyph of an image font, placed in the font's atlas.
struct TGlyph {
    bool made = false;     // rasterised (or found missing) already
    bool present = false;  // the font has a glyph for this code
    float advance = 0;     // pixels the pen moves after it
    int x_off = 0;         // bitmap left edge relative to the pen
    int y_off = 0;         // bitmap top edge relative to the text's top
    int w = 0, h = 0;      // bitmap size
    int atlas_x = 0, atlas_y = 0;
};

// A bitmap font at one pixel size.
class TImageFont {
  public:
    TImageFont();
    ~TImageFont();
    TImageFont(const TImageFont&) = delete;
    TImageFont& operator=(const TImageFont&) = delete;

    // Returns the height of one line in pixels.
    int Height() const { return height_; }
    // Returns the file the font was rendered from ("" for the built-in font).
    const std::string& Path() const { return path_; }
    // Returns the pixel size the font was rendered at.
    int Size() const { return size_; }
    // Returns the glyph index of a character code, or -1 when the font lacks it.
    int CharToGlyph(int code);
    // Returns the glyph for a code, making it on first use (codes outside 0..255 are absent).
    const TGlyph& Glyph(int code);
    // Returns the width of text: the advances summed, truncated after each glyph.
    int TextWidth(const std::string& text);
    // Draws text in this font with its top-left at x,y, turned and scaled by
    // the matrix ix, iy, jx, jy instead of the drawing state's own (colour,
    // alpha, blend and handle still come from the drawing state).
    // Note: draws nothing while no window is open.
    void Draw(const std::string& text, float x, float y, float ix, float iy, float jx, float jy);

    // The atlas: one alpha byte per pixel, atlas_w × atlas_h, top row first.
    std::vector<uint8_t> atlas;
    int atlas_w = 0, atlas_h = 0;
    int atlas_version = 0;  // bumped whenever the atlas pixels change
    // The driver's copy of the atlas (opaque to everything else).
    std::shared_ptr<TDriverTexture> texture;

  private:
    friend std::shared_ptr<TImageFont> LoadImageFont(const std::string&, int, int);
    friend std::shared_ptr<TImageFont> DefaultImageFont();
    bool Place(TGlyph& g, const uint8_t* bits, int w, int h, int stride);
    void MakeGlyph(int code);

    FontFacePtr face_;  // null for the built-in font without its file
    std::array<TGlyph, 256> glyphs_{};
    int height_ = 0;
    int ascent_ = 0;
    std::string path_;
    int size_ = 0;
    bool builtin_ = false;
    int shelf_x_ = 1, shelf_y_ = 1, shelf_h_ = 0;
};

// Renders a TrueType file at `size` pixels; null when the file is missing,
// and null with one log line when it is unreadable, too large or damaged (the
// caller then draws with the built-in font).
// Note: style is accepted for compatibility; glyphs are always smooth (anti-aliased).
std::shared_ptr<TImageFont> LoadImageFont(const std::string& path, int size, int style = 4);
// Returns the built-in font: 8 pixels per character, 16 high, codes 32..126 and 160..255.
std::shared_ptr<TImageFont> DefaultImageFont();

}  // namespace media
