// Draw calls as quads, and an image's padded atlas; see quad_builder.h.
#include "engine/media/quad_builder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/media/pixmap.h"

namespace media {

namespace {

constexpr double kPi = 3.14159265358979323846;

}  // namespace

uint32_t PackColour(const TDraw2DGraphics& g) {
    const uint32_t a = static_cast<uint32_t>(g.AlphaByte()) & 0xFF;
    return static_cast<uint32_t>(g.color_red) | (static_cast<uint32_t>(g.color_green) << 8) |
           (static_cast<uint32_t>(g.color_blue) << 16) | (a << 24);
}

int NormalBlend(int mode) {
    return (mode >= MASKBLEND && mode <= SHADEBLEND) ? mode : SOLIDBLEND;
}

void QuadBuilder::Frame(const TImage& image, int frame, float x, float y,
                        const TDraw2DGraphics& g) {
    const TImageFrame& f = image.frames[static_cast<size_t>(frame)];
    const float iw = 1.0f / static_cast<float>(image.atlas_w);
    const float ih = 1.0f / static_cast<float>(image.atlas_h);
    const float u0 = static_cast<float>(f.atlas_x) * iw;
    const float v0 = static_cast<float>(f.atlas_y) * ih;
    const float u1 = static_cast<float>(f.atlas_x + image.width) * iw;
    const float v1 = static_cast<float>(f.atlas_y + image.height) * ih;
    const float x0 = -image.handle_x, y0 = -image.handle_y;
    Quad(x, y, x0, y0, x0 + static_cast<float>(image.width), y0 + static_cast<float>(image.height),
         u0, v0, u1, v1, PackColour(g), g);
}

void QuadBuilder::Rect(float x, float y, float w, float h, const TDraw2DGraphics& g) {
    const float x0 = -g.handle_x, y0 = -g.handle_y;
    Quad(x, y, x0, y0, x0 + w, y0 + h, 0, 0, 0, 0, PackColour(g), g);
}

void QuadBuilder::Line(float x1, float y1, float x2, float y2, bool last_pixel,
                       const TDraw2DGraphics& g) {
    const float lx0 = -g.handle_x + 0.5f, ly0 = -g.handle_y + 0.5f;
    const float lx1 = lx0 + (x2 - x1), ly1 = ly0 + (y2 - y1);
    float sx0 = x1 + lx0 * g.tform_ix + ly0 * g.tform_iy;
    float sy0 = y1 + lx0 * g.tform_jx + ly0 * g.tform_jy;
    float sx1 = x1 + lx1 * g.tform_ix + ly1 * g.tform_iy;
    float sy1 = y1 + lx1 * g.tform_jx + ly1 * g.tform_jy;
    float dx = sx1 - sx0, dy = sy1 - sy0;
    const float len = std::sqrt(dx * dx + dy * dy);
    if (len <= 0) {
        Plot(x1, y1, g);
        return;
    }
    dx /= len;
    dy /= len;
    const float half = g.line_width * 0.5f;
    const float ex = last_pixel ? dx * 0.5f : 0, ey = last_pixel ? dy * 0.5f : 0;
    sx0 -= dx * 0.5f;
    sy0 -= dy * 0.5f;
    sx1 += ex;
    sy1 += ey;
    const float nx = -dy * half, ny = dx * half;
    const uint32_t c = PackColour(g);
    Push({sx0 + nx, sy0 + ny, 0, 0, c}, {sx1 + nx, sy1 + ny, 0, 0, c},
         {sx1 - nx, sy1 - ny, 0, 0, c}, {sx0 - nx, sy0 - ny, 0, 0, c});
}

void QuadBuilder::Plot(float x, float y, const TDraw2DGraphics& g) {
    const uint32_t c = PackColour(g);
    Push({x, y, 0, 0, c}, {x + 1, y, 0, 0, c}, {x + 1, y + 1, 0, 0, c}, {x, y + 1, 0, 0, c});
}

void QuadBuilder::Oval(float x, float y, float w, float h, const TDraw2DGraphics& g) {
    const float rx = w * 0.5f, ry = h * 0.5f;
    const float cx = -g.handle_x + rx, cy = -g.handle_y + ry;
    const int segments =
        std::clamp(static_cast<int>((std::fabs(rx) + std::fabs(ry)) * 0.75f), 12, 96);
    const uint32_t c = PackColour(g);
    const auto at = [&](int i, float& sx, float& sy) {
        const double a = 2.0 * kPi * i / segments;
        const float lx = cx + rx * static_cast<float>(std::cos(a));
        const float ly = cy + ry * static_cast<float>(std::sin(a));
        sx = x + lx * g.tform_ix + ly * g.tform_iy;
        sy = y + lx * g.tform_jx + ly * g.tform_jy;
    };
    const float ccx = x + cx * g.tform_ix + cy * g.tform_iy;
    const float ccy = y + cx * g.tform_jx + cy * g.tform_jy;
    float px, py;
    at(0, px, py);
    for (int i = 1; i <= segments; ++i) {
        float qx, qy;
        at(i, qx, qy);
        Push({ccx, ccy, 0, 0, c}, {px, py, 0, 0, c}, {qx, qy, 0, 0, c}, {qx, qy, 0, 0, c});
        px = qx;
        py = qy;
    }
}

void QuadBuilder::Text(TImageFont& font, const std::string& text, float x, float y,
                       const TDraw2DGraphics& g) {
    const uint32_t c = PackColour(g);
    const float iw = 1.0f / static_cast<float>(font.atlas_w);
    const float ih = 1.0f / static_cast<float>(font.atlas_h);
    int pen = 0;
    for (char ch : text) {
        const TGlyph& gl = font.Glyph(static_cast<unsigned char>(ch));
        if (!gl.present) continue;
        if (gl.w > 0 && gl.h > 0) {
            const float x0 = static_cast<float>(pen + gl.x_off) - g.handle_x;
            const float y0 = static_cast<float>(gl.y_off) - g.handle_y;
            const float u0 = static_cast<float>(gl.atlas_x) * iw;
            const float v0 = static_cast<float>(gl.atlas_y) * ih;
            Quad(x, y, x0, y0, x0 + static_cast<float>(gl.w), y0 + static_cast<float>(gl.h), u0,
                 v0, u0 + static_cast<float>(gl.w) * iw, v0 + static_cast<float>(gl.h) * ih, c, g);
        }
        pen = static_cast<int>(static_cast<float>(pen) + gl.advance);
    }
}

void QuadBuilder::Quad(float x, float y, float x0, float y0, float x1, float y1, float u0,
                       float v0, float u1, float v1, uint32_t c, const TDraw2DGraphics& g) {
    const float ix = g.tform_ix, iy = g.tform_iy, jx = g.tform_jx, jy = g.tform_jy;
    Push({x + x0 * ix + y0 * iy, y + x0 * jx + y0 * jy, u0, v0, c},
         {x + x1 * ix + y0 * iy, y + x1 * jx + y0 * jy, u1, v0, c},
         {x + x1 * ix + y1 * iy, y + x1 * jx + y1 * jy, u1, v1, c},
         {x + x0 * ix + y1 * iy, y + x0 * jx + y1 * jy, u0, v1, c});
}

void QuadBuilder::Push(const QuadVertex& a, const QuadVertex& b, const QuadVertex& c,
                       const QuadVertex& d) {
    verts.push_back(a);
    verts.push_back(b);
    verts.push_back(c);
    verts.push_back(d);
}

std::vector<uint8_t> PaddedImageAtlas(const TImage& image) {
    const int aw = image.atlas_w, ah = image.atlas_h, w = image.width, h = image.height;
    std::vector<uint8_t> atlas(static_cast<size_t>(aw) * ah * 4, 0);
    for (size_t i = 0; i < image.frames.size(); ++i) {
        const TPixmap* pm = image.pixmaps[i].get();
        if (!pm) continue;
        const int ax = image.frames[i].atlas_x, ay = image.frames[i].atlas_y;
        for (int row = -1; row <= h; ++row) {
            const uint8_t* src = pm->Row(std::clamp(row, 0, h - 1));
            uint8_t* dst = &atlas[(static_cast<size_t>(ay + row) * aw + ax) * 4];
            std::memcpy(dst, src, static_cast<size_t>(w) * 4);
            std::memcpy(dst - 4, src, 4);
            std::memcpy(dst + static_cast<size_t>(w) * 4, src + static_cast<size_t>(w - 1) * 4, 4);
        }
    }
    return atlas;
}

void PrepareFontAtlas(TImageFont& font, const std::string& text) {
    for (char ch : text) font.Glyph(static_cast<unsigned char>(ch));
    if (font.atlas.empty()) {
        font.atlas.assign(1, 0);
        font.atlas_w = font.atlas_h = 1;
        ++font.atlas_version;
    }
}

}  // namespace media
