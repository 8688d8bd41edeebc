// Font faces in the browser build: there is no font renderer inside it, so a
// face is the set of glyphs the native build rendered for the same file and
// size (baked_face.h), handed over by the page. A file and size that were not
// baked opens as missing, and text falls back to the built-in font's boxes.
#include <map>

#include "engine/media/browser/baked_face.h"
#include "engine/media/font_face.h"

namespace media {

namespace {

// The faces handed over so far, by key.
std::map<std::string, std::shared_ptr<const BakedFace>>& Faces() {
    static std::map<std::string, std::shared_ptr<const BakedFace>> faces;
    return faces;
}

}  // namespace

// A baked face (shared, so that forgetting the faces leaves opened fonts whole).
struct FontFace {
    std::shared_ptr<const BakedFace> baked;
};

void AddBakedFace(const std::string& key, BakedFace face) {
    Faces()[key] = std::make_shared<const BakedFace>(std::move(face));
}

void ClearBakedFaces() {
    Faces().clear();
}

AssetRead OpenFontFace(const std::string& path, int pixelSize, FontFacePtr& face,
                       FaceMetrics& metrics, std::string& why) {
    face.reset();
    const auto it = Faces().find(BakedFaceKey(path, pixelSize));
    if (it == Faces().end()) {
        why = "missing";
        return AssetRead::kMissing;
    }
    face = std::make_shared<FontFace>(FontFace{it->second});
    metrics.ascent = it->second->ascent;
    metrics.descent = it->second->descent;
    return AssetRead::kOk;
}

int FontFaceGlyphIndex(FontFace& face, int code) {
    if (code < 0 || code >= kBakedCodes) return -1;
    return face.baked->glyphs[static_cast<size_t>(code)].index;
}

bool RenderFontGlyph(FontFace& face, int code, FaceGlyph& glyph) {
    if (code < 0 || code >= kBakedCodes) return false;
    const BakedGlyph& g = face.baked->glyphs[static_cast<size_t>(code)];
    if (!g.rendered) return false;
    glyph.advance = g.advance;
    glyph.left = g.left;
    glyph.top = g.top;
    glyph.width = g.width;
    glyph.rows = g.rows;
    glyph.pitch = g.width;
    glyph.bits = g.bits.empty() ? nullptr : g.bits.data();
    return true;
}

}  // namespace media
