// The seam between image fonts and whatever turns a font file into glyph
// bitmaps: FreeType in native builds (native/), the page's prebuilt glyphs in
// the browser build (browser/). Image fonts keep the atlas, the built-in font
// and every limit; a face only opens files and renders single characters.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/media/asset_read.h"

namespace media {

// An open font file at one pixel size (defined by the build's font backend,
// which makes it with std::make_shared, so holders need not see inside).
struct FontFace;
using FontFacePtr = std::shared_ptr<FontFace>;

// A face's line metrics in whole pixels, rounded up.
struct FaceMetrics {
    long ascent = 0;
    long descent = 0;  // below the baseline, positive
};

// One rendered character: one grey byte per pixel, rows top to bottom.
struct FaceGlyph {
    float advance = 0;  // pixels the pen moves after it
    int left = 0;       // bitmap left edge relative to the pen
    int top = 0;        // bitmap top edge above the baseline
    int width = 0;      // 0 when the character draws nothing (a space)
    int rows = 0;
    int pitch = 0;  // bytes from one row to the next, at least width
    const uint8_t* bits = nullptr;  // valid until the face renders again or closes
};

// Opens a font file at pixelSize; anything but kOk leaves face empty with the reason in why.
AssetRead OpenFontFace(const std::string& path, int pixelSize, FontFacePtr& face,
                       FaceMetrics& metrics, std::string& why);
// Returns the face's glyph index for a character code, or -1 when it has none.
int FontFaceGlyphIndex(FontFace& face, int code);
// Renders a character; false when the face cannot (the glyph is then absent).
bool RenderFontGlyph(FontFace& face, int code, FaceGlyph& glyph);

}  // namespace media
