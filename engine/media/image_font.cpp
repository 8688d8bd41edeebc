// Bitmap fonts from TrueType files and the built-in font; see image_font.h.
#include "engine/media/image_font.h"

#include <algorithm>
#include <cstring>

#include "engine/media/asset_read.h"
#include "engine/media/font_face.h"
#include "engine/media/text.h"

namespace media {

namespace {

constexpr int kAtlasStart = 256;
constexpr int kAtlasMax = 8192;
constexpr int kBuiltinAdvance = 8;
constexpr int kBuiltinHeight = 16;
constexpr int kBuiltinPixelSize = 13;
constexpr const char* kBuiltinFaceFile = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf";
// Pixel sizes accepted, and the bound on a line's ascent or descent (a
// damaged font may claim any metrics).
constexpr int kMaxPixelSize = 1024;
constexpr long kMaxMetric = 4 * kMaxPixelSize;

// Returns true for the codes the built-in font draws.
bool BuiltinHasCode(int code) {
    return (code >= 32 && code <= 126) || (code >= 160 && code <= 255);
}

}  // namespace

TImageFont::TImageFont() = default;
TImageFont::~TImageFont() = default;

int TImageFont::CharToGlyph(int code) {
    if (code < 0 || code > 255) return -1;
    if (builtin_) {
        if (!BuiltinHasCode(code)) return -1;
        return code;
    }
    return face_ ? FontFaceGlyphIndex(*face_, code) : -1;
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
        if (!face_) {
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
    FaceGlyph bm;
    if (!face_ || !RenderFontGlyph(*face_, code, bm)) {
        g.present = false;
        return;
    }
    if (!builtin_) g.advance = bm.advance;
    g.x_off = std::clamp(bm.left, -kMaxPixelSize * 4, kMaxPixelSize * 4);
    g.y_off = ascent_ - std::clamp(bm.top, -kMaxPixelSize * 4, kMaxPixelSize * 4);
    if (!bm.bits || bm.width <= 0 || bm.rows <= 0 || bm.pitch < bm.width) return;
    if (builtin_) {
        // Keep the glyph inside its fixed cell.
        g.x_off = std::max(0, (kBuiltinAdvance - bm.width) / 2);
    }
    if (!Place(g, bm.bits, bm.width, bm.rows, bm.pitch)) {
        g.w = g.h = 0;
    }
}

std::shared_ptr<TImageFont> LoadImageFont(const std::string& path, int size, int /*style*/) {
    if (size <= 0 || size > kMaxPixelSize) {
        ReportLoadFailure("font", path, "size " + std::to_string(size) + " out of range");
        return nullptr;
    }
    FontFacePtr face;
    FaceMetrics m;
    std::string why;
    AssetRead read = OpenFontFace(path, size, face, m, why);
    if (read != AssetRead::kOk) {
        if (read != AssetRead::kMissing) ReportLoadFailure("font", path, why);
        return nullptr;
    }
    auto font = std::make_shared<TImageFont>();
    font->ascent_ = static_cast<int>(std::clamp(m.ascent, 0L, kMaxMetric));
    font->height_ = font->ascent_ + static_cast<int>(std::clamp(m.descent, 0L, kMaxMetric));
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
        // The built-in font keeps its fixed cell whatever the face's own metrics.
        FaceMetrics unused;
        std::string why;
        if (OpenFontFace(kBuiltinFaceFile, kBuiltinPixelSize, font->face_, unused, why) !=
            AssetRead::kOk) {
            font->face_.reset();
        }
        return font;
    }();
    return builtin;
}

}  // namespace media
