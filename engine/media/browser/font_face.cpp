// Font faces in the browser build: there is no font renderer inside it, so no
// font file opens and text falls back to the built-in font's boxes. The page
// draws its own text until glyphs rendered by the native build are shipped.
#include "engine/media/font_face.h"

namespace media {

// Never made: no face opens in this build.
struct FontFace {};

AssetRead OpenFontFace(const std::string&, int, FontFacePtr& face, FaceMetrics&,
                       std::string& why) {
    face.reset();
    why = "the browser build renders no font files";
    return AssetRead::kRefused;
}

int FontFaceGlyphIndex(FontFace&, int) {
    return -1;
}

bool RenderFontGlyph(FontFace&, int, FaceGlyph&) {
    return false;
}

}  // namespace media
