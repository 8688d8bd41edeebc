// Font faces rendered with FreeType; see font_face.h.
#include <ft2build.h>
#include FT_FREETYPE_H

#include <memory>

#include "engine/media/font_face.h"

namespace media {

namespace {

// Largest font file read; real fonts are well under a megabyte or two.
constexpr size_t kMaxFontFileBytes = size_t{32} * 1024 * 1024;

// The one FreeType library of the program, opened on first use.
class FreeTypeLibrary {
  public:
    FreeTypeLibrary() {
        if (FT_Init_FreeType(&lib_) != 0) lib_ = nullptr;
    }
    ~FreeTypeLibrary() {
        if (lib_) FT_Done_FreeType(lib_);
    }
    FT_Library get() const { return lib_; }

  private:
    FT_Library lib_ = nullptr;
};

// Every face holds the library too, so fonts kept in statics that are
// destroyed after this one still close their faces on a live library.
std::shared_ptr<FreeTypeLibrary> SharedLibrary() {
    static std::shared_ptr<FreeTypeLibrary> library = std::make_shared<FreeTypeLibrary>();
    return library;
}

// Converts a 26.6 fixed-point length to whole pixels, rounded up.
long CeilPixels(FT_Pos v) {
    return static_cast<long>((v + 63) / 64);
}

}  // namespace

// An open FreeType face and the file it reads in place.
struct FontFace {
    std::shared_ptr<FreeTypeLibrary> library = SharedLibrary();
    std::string bytes;  // the font file: FreeType reads it in place for the face's life
    FT_Face face = nullptr;
    ~FontFace() {
        if (face) FT_Done_Face(face);
    }
};

AssetRead OpenFontFace(const std::string& path, int pixelSize, FontFacePtr& out,
                       FaceMetrics& metrics, std::string& why) {
    out.reset();
    auto f = std::make_shared<FontFace>();
    if (!f->library->get()) {
        why = "font renderer unavailable";
        return AssetRead::kRefused;
    }
    AssetRead read = ReadAssetFile(path, kMaxFontFileBytes, f->bytes, why);
    if (read != AssetRead::kOk) return read;
    if (FT_New_Memory_Face(f->library->get(), reinterpret_cast<const FT_Byte*>(f->bytes.data()),
                           static_cast<FT_Long>(f->bytes.size()), 0, &f->face) != 0) {
        f->face = nullptr;
        why = "not a usable font file";
        return AssetRead::kRefused;
    }
    if (FT_Set_Pixel_Sizes(f->face, 0, static_cast<FT_UInt>(pixelSize)) != 0) {
        why = "cannot be drawn at " + std::to_string(pixelSize) + " pixels";
        return AssetRead::kRefused;
    }
    const FT_Size_Metrics& m = f->face->size->metrics;
    metrics.ascent = CeilPixels(m.ascender);
    metrics.descent = CeilPixels(-m.descender);
    out = std::move(f);
    return AssetRead::kOk;
}

int FontFaceGlyphIndex(FontFace& face, int code) {
    const FT_UInt index = FT_Get_Char_Index(face.face, static_cast<FT_ULong>(code));
    return index == 0 ? -1 : static_cast<int>(index);
}

bool RenderFontGlyph(FontFace& face, int code, FaceGlyph& glyph) {
    if (FT_Load_Char(face.face, static_cast<FT_ULong>(code),
                     FT_LOAD_RENDER | FT_LOAD_TARGET_NORMAL) != 0) {
        return false;
    }
    const FT_GlyphSlot slot = face.face->glyph;
    glyph = FaceGlyph{};
    glyph.advance = static_cast<float>(slot->advance.x) / 64.0f;
    glyph.left = slot->bitmap_left;
    glyph.top = slot->bitmap_top;
    const FT_Bitmap& bm = slot->bitmap;
    // Only grey bitmaps with rows stored top to bottom are drawn.
    if (bm.pixel_mode != FT_PIXEL_MODE_GRAY || bm.pitch < 0) return true;
    glyph.width = static_cast<int>(bm.width);
    glyph.rows = static_cast<int>(bm.rows);
    glyph.pitch = bm.pitch;
    glyph.bits = bm.buffer;
    return true;
}

}  // namespace media
