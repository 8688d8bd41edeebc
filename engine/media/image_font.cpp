// Bitmap fonts from TrueType files and the built-in font; see image_font.h.
#include "engine/media/image_font.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cstring>

#include "engine/media/asset_read.h"
#include "engine/media/text.h"

namespace media {

namespace {

constexpr int kAtlasStart = 256;
constexpr int kAtlasMax = 8192;
constexpr int kBuiltinAdvance = 8;
constexpr int kBuiltinHeight = 16;
constexpr int kBuiltinPixelSize = 13;
constexpr const char* kBuiltinFaceFile = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf";
// Largest font file read; real fonts are well under a megabyte or two.
constexpr size_t kMaxFontFileBytes = size_t{32} * 1024 * 1024;
// Pixel sizes accepted, and the bound on a line's ascent or descent (a
// damaged font may claim any metrics).
constexpr int kMaxPixelSize = 1024;
constexpr long kMaxMetric = 4 * kMaxPixelSize;

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

// Converts a 26.6 fixed-point length to whole pixels, rounded up and bounded.
int CeilPixels(FT_Pos v) {
    return static_cast<int>(std::clamp<FT_Pos>((v + 63) / 64, 0, kMaxMetric));
}

// Returns true for the codes the built-in font draws.
bool BuiltinHasCode(int code) {
    return (code >= 32 && code <= 126) || (code >= 160 && code <= 255);
}

}  // namespace

// An open FreeType face (null for the built-in font without its file).
struct TImageFont::Face {
    std::shared_ptr<FreeTypeLibrary> library = SharedLibrary();
    std::string bytes;  // the font file: FreeType reads it in place for the face's life
    FT_Face face = nullptr;
    ~Face() {
        if (face) FT_Done_Face(face);
    }

    // Reads the font file and opens its first face; anything but kOk leaves no
    // face, with the reason in why.
    AssetRead Open(const std::string& path, std::string& why) {
        if (!library->get()) {
            why = "font renderer unavailable";
            return AssetRead::kRefused;
        }
        AssetRead read = ReadAssetFile(path, kMaxFontFileBytes, bytes, why);
        if (read != AssetRead::kOk) return read;
        if (FT_New_Memory_Face(library->get(), reinterpret_cast<const FT_Byte*>(bytes.data()),
                               static_cast<FT_Long>(bytes.size()), 0, &face) != 0) {
            face = nullptr;
            why = "not a usable font file";
            return AssetRead::kRefused;
        }
        return AssetRead::kOk;
    }
};

TImageFont::TImageFont() = default;
TImageFont::~TImageFont() = default;

int TImageFont::CharToGlyph(int code) {
    if (code < 0 || code > 255) return -1;
    if (builtin_) {
        if (!BuiltinHasCode(code)) return -1;
        return code;
    }
    if (!face_ || !face_->face) return -1;
    FT_UInt index = FT_Get_Char_Index(face_->face, static_cast<FT_ULong>(code));
    return index == 0 ? -1 : static_cast<int>(index);
}

const TGlyph& TImageFont::Glyph(int code) {
    static const TGlyph kMissing{true, false, 0, 0, 0, 0, 0, 0, 0};
    if (code < 0 || code > 255) return kMissing;
    if (!glyphs_[code].made) MakeGlyph(code);
    return glyphs_[code];
}

int TImageFont::TextWidth(const std::string& text) {
    int width = 0;
    for (char c : text) {
        const TGlyph& g = Glyph(CharCode(c));
        if (g.present) width = static_cast<int>(static_cast<float>(width) + g.advance);
    }
    return width;
}

bool TImageFont::Place(TGlyph& g, const uint8_t* bits, int w, int h, int stride) {
    g.w = w;
    g.h = h;
    if (w <= 0 || h <= 0) return true;
    // A glyph that could never fit the largest atlas (a damaged font) is dropped.
    if (w > kAtlasMax - 2 || h > kAtlasMax - 2) return false;
    if (atlas.empty()) {
        atlas_w = atlas_h = kAtlasStart;
        atlas.assign(static_cast<size_t>(atlas_w) * atlas_h, 0);
    }
    // Shelf packing with a one-pixel clear gap so filtering never picks up a neighbour.
    for (;;) {
        if (shelf_x_ + w + 1 > atlas_w) {
            shelf_x_ = 1;
            shelf_y_ += shelf_h_ + 1;
            shelf_h_ = 0;
        }
        if (shelf_x_ + w + 1 <= atlas_w && shelf_y_ + h + 1 <= atlas_h) break;
        if (atlas_w * 2 > kAtlasMax) return false;
        // Grow: twice as wide and twice as high, old rows kept in place.
        int nw = atlas_w * 2, nh = atlas_h * 2;
        std::vector<uint8_t> grown(static_cast<size_t>(nw) * nh, 0);
        for (int y = 0; y < atlas_h; ++y) {
            std::memcpy(&grown[static_cast<size_t>(y) * nw],
                        &atlas[static_cast<size_t>(y) * atlas_w], static_cast<size_t>(atlas_w));
        }
        atlas.swap(grown);
        atlas_w = nw;
        atlas_h = nh;
    }
    g.atlas_x = shelf_x_;
    g.atlas_y = shelf_y_;
    for (int y = 0; y < h; ++y) {
        std::memcpy(&atlas[static_cast<size_t>(shelf_y_ + y) * atlas_w + shelf_x_],
                    bits + static_cast<ptrdiff_t>(y) * stride, static_cast<size_t>(w));
    }
    shelf_x_ += w + 1;
    shelf_h_ = std::max(shelf_h_, h);
    ++atlas_version;
    return true;
}

void TImageFont::MakeGlyph(int code) {
    TGlyph& g = glyphs_[code];
    g.made = true;
    g.present = CharToGlyph(code) >= 0;
    if (!g.present) return;
    if (builtin_) {
        g.advance = kBuiltinAdvance;
        if (!face_ || !face_->face) {
            // No face file: a hollow box stands in for every character.
            uint8_t box[10][6];
            for (int y = 0; y < 10; ++y) {
                for (int x = 0; x < 6; ++x) {
                    box[y][x] = (y == 0 || y == 9 || x == 0 || x == 5) ? 255 : 0;
                }
            }
            g.x_off = 1;
            g.y_off = 3;
            if (code != 32 && code != 160) Place(g, &box[0][0], 6, 10, 6);
            return;
        }
    }
    FT_Face f = face_->face;
    if (FT_Load_Char(f, static_cast<FT_ULong>(code), FT_LOAD_RENDER | FT_LOAD_TARGET_NORMAL) != 0) {
        g.present = false;
        return;
    }
    FT_GlyphSlot slot = f->glyph;
    if (!builtin_) g.advance = static_cast<float>(slot->advance.x) / 64.0f;
    g.x_off = std::clamp(slot->bitmap_left, -kMaxPixelSize * 4, kMaxPixelSize * 4);
    g.y_off = ascent_ - std::clamp(slot->bitmap_top, -kMaxPixelSize * 4, kMaxPixelSize * 4);
    const FT_Bitmap& bm = slot->bitmap;
    if (bm.pixel_mode != FT_PIXEL_MODE_GRAY || bm.width == 0 || bm.rows == 0) return;
    // Rows are copied top to bottom, one byte per pixel.
    if (bm.pitch < 0 || static_cast<unsigned>(bm.pitch) < bm.width) return;
    if (builtin_) {
        // Keep the glyph inside its fixed cell.
        g.x_off = std::max(0, (kBuiltinAdvance - static_cast<int>(bm.width)) / 2);
    }
    if (!Place(g, bm.buffer, static_cast<int>(bm.width), static_cast<int>(bm.rows), bm.pitch)) {
        g.w = g.h = 0;
    }
}

std::shared_ptr<TImageFont> LoadImageFont(const std::string& path, int size, int /*style*/) {
    if (size <= 0 || size > kMaxPixelSize) {
        ReportLoadFailure("font", path, "size " + std::to_string(size) + " out of range");
        return nullptr;
    }
    auto face = std::make_unique<TImageFont::Face>();
    std::string why;
    AssetRead read = face->Open(path, why);
    if (read != AssetRead::kOk) {
        if (read != AssetRead::kMissing) ReportLoadFailure("font", path, why);
        return nullptr;
    }
    if (FT_Set_Pixel_Sizes(face->face, 0, static_cast<FT_UInt>(size)) != 0) {
        ReportLoadFailure("font", path, "cannot be drawn at " + std::to_string(size) + " pixels");
        return nullptr;
    }
    auto font = std::make_shared<TImageFont>();
    const FT_Size_Metrics& m = face->face->size->metrics;
    font->ascent_ = CeilPixels(m.ascender);
    font->height_ = font->ascent_ + CeilPixels(-m.descender);
    font->face_ = std::move(face);
    font->path_ = path;
    font->size_ = size;
    return font;
}

std::shared_ptr<TImageFont> DefaultImageFont() {
    static std::shared_ptr<TImageFont> builtin = [] {
        auto font = std::make_shared<TImageFont>();
        font->builtin_ = true;
        font->height_ = kBuiltinHeight;
        font->ascent_ = 12;
        font->face_ = std::make_unique<TImageFont::Face>();
        std::string why;
        if (font->face_->Open(kBuiltinFaceFile, why) == AssetRead::kOk) {
            FT_Set_Pixel_Sizes(font->face_->face, 0, kBuiltinPixelSize);
        }
        return font;
    }();
    return builtin;
}

}  // namespace media
