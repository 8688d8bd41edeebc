// Shared helpers of the asset generator: random numbers, noise, the float canvas with its
// signed-distance painters, the stroke font and PNG output.
#include "tools/assetgen/gen_util.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <sstream>

namespace assetgen {

// Strokes of the lettering font on a doubled 8 x 12 grid: polylines separated by '|'.
static const char* const kGlyphs[][2] = {
    {"A", "0,12 0,4 4,0 8,4 8,12|0,8 8,8"},
    {"B", "0,0 0,12 6,12 8,10 8,8 6,6 0,6|0,0 6,0 8,2 8,4 6,6"},
    {"C", "8,0 2,0 0,2 0,10 2,12 8,12"},
    {"D", "0,0 0,12 4,12 8,8 8,4 4,0 0,0"},
    {"E", "8,0 0,0 0,12 8,12|0,6 6,6"},
    {"F", "8,0 0,0 0,12|0,6 6,6"},
    {"G", "8,2 6,0 2,0 0,2 0,10 2,12 8,12 8,6 4,6"},
    {"H", "0,0 0,12|8,0 8,12|0,6 8,6"},
    {"I", "2,0 6,0|4,0 4,12|2,12 6,12"},
    {"J", "8,0 8,10 6,12 2,12 0,10"},
    {"K", "0,0 0,12|0,8 8,0|3,5 8,12"},
    {"L", "0,0 0,12 8,12"},
    {"M", "0,12 0,0 4,6 8,0 8,12"},
    {"N", "0,12 0,0 8,12 8,0"},
    {"O", "2,0 6,0 8,2 8,10 6,12 2,12 0,10 0,2 2,0"},
    {"P", "0,12 0,0 6,0 8,2 8,4 6,6 0,6"},
    {"Q", "2,0 6,0 8,2 8,10 6,12 2,12 0,10 0,2 2,0|5,9 8,12"},
    {"R", "0,12 0,0 6,0 8,2 8,4 6,6 0,6|4,6 8,12"},
    {"S", "8,2 6,0 2,0 0,2 0,4 2,6 6,6 8,8 8,10 6,12 2,12 0,10"},
    {"T", "0,0 8,0|4,0 4,12"},
    {"U", "0,0 0,10 2,12 6,12 8,10 8,0"},
    {"V", "0,0 4,12 8,0"},
    {"W", "0,0 2,12 4,6 6,12 8,0"},
    {"X", "0,0 8,12|8,0 0,12"},
    {"Y", "0,0 4,6 8,0|4,6 4,12"},
    {"Z", "0,0 8,0 0,12 8,12"},
    {"0", "2,0 6,0 8,2 8,10 6,12 2,12 0,10 0,2 2,0|8,2 0,10"},
    {"1", "2,2 4,0 4,12|2,12 6,12"},
    {"2", "0,2 2,0 6,0 8,2 8,4 0,12 8,12"},
    {"3", "0,0 8,0 4,5 6,5 8,7 8,10 6,12 2,12 0,10"},
    {"4", "6,12 6,0 0,8 8,8"},
    {"5", "8,0 0,0 0,6 6,6 8,8 8,10 6,12 0,12"},
    {"6", "6,0 2,0 0,2 0,10 2,12 6,12 8,10 8,8 6,6 0,6"},
    {"7", "0,0 8,0 2,12"},
    {"8", "2,0 6,0 8,2 8,4 6,6 2,6 0,4 0,2 2,0|2,6 0,8 0,10 2,12 6,12 8,10 8,8 6,6"},
    {"9", "8,6 2,6 0,4 0,2 2,0 6,0 8,2 8,10 6,12 2,12"},
    {"-", "2,6 6,6"},
    {".", "4,11 4,12"},
    {":", "4,3 4,4|4,9 4,10"},
};

// Mixes the bits of a lattice point with a seed.
static uint32_t Hash3(int x, int y, uint32_t seed) {
    uint32_t h = static_cast<uint32_t>(x) * 0x8da6b343u ^ static_cast<uint32_t>(y) * 0xd8163841u ^
                 seed * 0xcb1ab31fu;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return h;
}

static float Smooth(float t) {
    return t * t * t * (t * (t * 6 - 15) + 10);
}

static int Wrap(int v, int period) {
    if (period <= 0) return v;
    int m = v % period;
    return m < 0 ? m + period : m;
}

// Encodes rows of RGBA bytes into an open file. Note: holds no C++ objects, since libpng
// reports errors by jumping back to the setjmp here.
static bool EncodeRgbaRows(FILE* f, int w, int h, png_bytep* rows) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, f);
    png_set_compression_level(png, 9);
    png_set_IHDR(png, info, static_cast<png_uint_32>(w), static_cast<png_uint_32>(h), 8,
                 PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

Rng::Rng(uint64_t seed) : state_(seed * 6364136223846793005ULL + 1442695040888963407ULL) {
    Next();
}

uint32_t Rng::Next() {
    uint64_t old = state_;
    state_ = old * 6364136223846793005ULL + 1442695040888963407ULL;
    uint32_t xorshifted = static_cast<uint32_t>(((old >> 18u) ^ old) >> 27u);
    uint32_t rot = static_cast<uint32_t>(old >> 59u);
    return (xorshifted >> rot) | (xorshifted << ((32 - rot) & 31));
}

float Rng::Real(float lo, float hi) {
    return lo + (hi - lo) * static_cast<float>(Next() >> 8) / 16777216.0f;
}

int Rng::Int(int lo, int hi) {
    return lo + static_cast<int>(Next() % static_cast<uint32_t>(hi - lo + 1));
}

Canvas::Canvas(int width, int height)
    : width_(width), height_(height), px_(static_cast<size_t>(width) * height * 4, 0.0f) {}

void Canvas::Over(int x, int y, Rgb c, float a) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_ || a <= 0) return;
    a = Clamp01(a);
    float* p = &px_[(static_cast<size_t>(y) * width_ + x) * 4];
    p[0] = c.r * a + p[0] * (1 - a);
    p[1] = c.g * a + p[1] * (1 - a);
    p[2] = c.b * a + p[2] * (1 - a);
    p[3] = a + p[3] * (1 - a);
}

void Canvas::Add(int x, int y, Rgb c, float k) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_ || k <= 0) return;
    float* p = &px_[(static_cast<size_t>(y) * width_ + x) * 4];
    p[0] = std::min(1.0f, p[0] + c.r * k);
    p[1] = std::min(1.0f, p[1] + c.g * k);
    p[2] = std::min(1.0f, p[2] + c.b * k);
    p[3] = std::min(1.0f, p[3] + k);
}

void Canvas::Set(int x, int y, Rgb c) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
    float* p = &px_[(static_cast<size_t>(y) * width_ + x) * 4];
    p[0] = c.r;
    p[1] = c.g;
    p[2] = c.b;
    p[3] = 1;
}

void Canvas::Get(int x, int y, Rgb& c, float& a) const {
    const float* p = &px_[(static_cast<size_t>(y) * width_ + x) * 4];
    a = p[3];
    if (a <= 0) {
        c = {0, 0, 0};
        return;
    }
    c = {Clamp01(p[0] / a), Clamp01(p[1] / a), Clamp01(p[2] / a)};
}

void Canvas::Blit(const Canvas& src, int x, int y) {
    for (int j = 0; j < src.height_; ++j) {
        for (int i = 0; i < src.width_; ++i) {
            Rgb c;
            float a;
            src.Get(i, j, c, a);
            Over(x + i, y + j, c, a);
        }
    }
}

std::vector<uint8_t> Canvas::ToRgba8() const {
    std::vector<uint8_t> out(static_cast<size_t>(width_) * height_ * 4, 0);
    for (int y = 0; y < height_; ++y) {
        for (int x = 0; x < width_; ++x) {
            Rgb c;
            float a;
            Get(x, y, c, a);
            uint8_t* o = &out[(static_cast<size_t>(y) * width_ + x) * 4];
            int a8 = static_cast<int>(std::lround(Clamp01(a) * 255));
            if (a8 == 0) continue;
            int r = static_cast<int>(std::lround(c.r * 255));
            int g = static_cast<int>(std::lround(c.g * 255));
            int b = static_cast<int>(std::lround(c.b * 255));
            int hi = std::max(r, std::max(g, b));
            if (hi < 3) {  // never emit the mask colour for a visible pixel
                r = std::max(r, 3);
                g = std::max(g, 3);
                b = std::max(b, 3);
            }
            o[0] = static_cast<uint8_t>(r);
            o[1] = static_cast<uint8_t>(g);
            o[2] = static_cast<uint8_t>(b);
            o[3] = static_cast<uint8_t>(a8);
        }
    }
    return out;
}

float SdCircle(float px, float py, float cx, float cy, float r) {
    return std::hypot(px - cx, py - cy) - r;
}

float SdSegment(float px, float py, float ax, float ay, float bx, float by) {
    float dx = bx - ax, dy = by - ay;
    float len2 = dx * dx + dy * dy;
    float t = len2 > 0 ? Clamp01(((px - ax) * dx + (py - ay) * dy) / len2) : 0;
    return std::hypot(px - ax - t * dx, py - ay - t * dy);
}

float SdBox(float px, float py, float cx, float cy, float hw, float hh, float round) {
    float qx = std::fabs(px - cx) - hw + round;
    float qy = std::fabs(py - cy) - hh + round;
    float outside = std::hypot(std::max(qx, 0.0f), std::max(qy, 0.0f));
    return outside + std::min(std::max(qx, qy), 0.0f) - round;
}

float SdPolygon(float px, float py, const std::vector<float>& xy) {
    size_t n = xy.size() / 2;
    float d = 1e9f;
    bool inside = false;
    for (size_t i = 0, j = n - 1; i < n; j = i++) {
        float ax = xy[2 * j], ay = xy[2 * j + 1], bx = xy[2 * i], by = xy[2 * i + 1];
        d = std::min(d, SdSegment(px, py, ax, ay, bx, by));
        if ((by > py) != (ay > py) && px < (ax - bx) * (py - by) / (ay - by) + bx) inside = !inside;
    }
    return inside ? -d : d;
}

float Coverage(float d) {
    return Clamp01(0.5f - d);
}

void PaintNeon(Canvas& c, int ox, int oy, int w, int h,
               const std::function<float(float, float)>& sdf, const NeonStyle& s) {
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            float d = sdf(x + 0.5f, y + 0.5f);
            if (d > 0) {
                float g = s.glow_strength * std::exp(-d / s.glow_radius);
                if (g > 0.004f) c.Add(ox + x, oy + y, s.glow, g * (1 - Coverage(d)));
            }
            float cov = Coverage(d);
            if (cov <= 0) continue;
            float depth = Clamp01(-d / s.shade_depth);
            Rgb fill = MixRgb(s.edge, s.body, depth);
            float rim = Clamp01(s.rim_width + 0.5f + d);  // 1 within rim_width of the edge
            Rgb col = MixRgb(fill, s.rim, rim);
            c.Over(ox + x, oy + y, col, cov);
        }
    }
}

void PaintFlat(Canvas& c, int ox, int oy, int w, int h,
               const std::function<float(float, float)>& sdf, Rgb col, float alpha) {
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            float cov = Coverage(sdf(x + 0.5f, y + 0.5f));
            if (cov > 0) c.Over(ox + x, oy + y, col, cov * alpha);
        }
    }
}

float ValueNoise(float x, float y, uint32_t seed, int period) {
    int x0 = static_cast<int>(std::floor(x)), y0 = static_cast<int>(std::floor(y));
    float fx = Smooth(x - x0), fy = Smooth(y - y0);
    auto v = [&](int i, int j) {
        return static_cast<float>(Hash3(Wrap(i, period), Wrap(j, period), seed) & 0xffff) /
               65535.0f;
    };
    float a = Mix(v(x0, y0), v(x0 + 1, y0), fx);
    float b = Mix(v(x0, y0 + 1), v(x0 + 1, y0 + 1), fx);
    return Mix(a, b, fy);
}

float FractalNoise(float x, float y, uint32_t seed, int octaves, int period) {
    float sum = 0, amp = 0.5f, norm = 0;
    for (int o = 0; o < octaves; ++o) {
        sum += amp * ValueNoise(x, y, seed + static_cast<uint32_t>(o) * 1013u, period);
        norm += amp;
        x *= 2;
        y *= 2;
        if (period > 0) period *= 2;
        amp *= 0.5f;
    }
    return sum / norm;
}

std::vector<float> StrokeGlyph(char ch) {
    std::vector<float> segs;
    for (const auto& g : kGlyphs) {
        if (g[0][0] != ch) continue;
        std::stringstream all(g[1]);
        std::string line;
        while (std::getline(all, line, '|')) {
            std::stringstream pts(line);
            std::string pt;
            float px = 0, py = 0;
            bool first = true;
            while (pts >> pt) {
                float x = 0, y = 0;
                std::sscanf(pt.c_str(), "%f,%f", &x, &y);
                x /= 2;
                y /= 2;
                if (!first) segs.insert(segs.end(), {px, py, x, y});
                px = x;
                py = y;
                first = false;
            }
        }
    }
    return segs;
}

float SdStrokeText(const std::string& text, float px, float py, float x, float y, float size,
                   float thick, float spacing) {
    float unit = size / 6.0f;
    float d = 1e9f;
    float cx = x;
    for (char ch : text) {
        if (px > cx - 2 * thick - unit && px < cx + 4 * unit + 2 * thick + unit) {
            std::vector<float> s = StrokeGlyph(ch);
            for (size_t i = 0; i + 3 < s.size(); i += 4) {
                d = std::min(d, SdSegment(px, py, cx + s[i] * unit, y + s[i + 1] * unit,
                                          cx + s[i + 2] * unit, y + s[i + 3] * unit));
            }
        }
        cx += 4 * unit + spacing;
    }
    return d - thick;
}

float StrokeTextWidth(const std::string& text, float size, float spacing) {
    if (text.empty()) return 0;
    return static_cast<float>(text.size()) * (4 * size / 6.0f + spacing) - spacing;
}

bool WritePng(const std::string& path, const Canvas& c) {
    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "wb"), std::fclose);
    if (!f) return false;
    std::vector<uint8_t> rgba = c.ToRgba8();
    std::vector<png_bytep> rows(static_cast<size_t>(c.Height()));
    for (int y = 0; y < c.Height(); ++y) rows[y] = &rgba[static_cast<size_t>(y) * c.Width() * 4];
    if (!EncodeRgbaRows(f.get(), c.Width(), c.Height(), rows.data())) return false;
    return std::fflush(f.get()) == 0;
}

Rgb Hsv(float h, float s, float v) {
    h = h - std::floor(h);
    float r = Clamp01(std::fabs(h * 6 - 3) - 1);
    float g = Clamp01(2 - std::fabs(h * 6 - 2));
    float b = Clamp01(2 - std::fabs(h * 6 - 4));
    return {v * Mix(1, r, s), v * Mix(1, g, s), v * Mix(1, b, s)};
}

}  // namespace assetgen
