// Shared helpers of the asset generator: a seeded random generator, value noise, a float
// RGBA canvas with signed-distance painting, a stroke font for neon lettering and PNG output.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace assetgen {

inline constexpr float kPi = 3.14159265358979f;

// A colour with components 0..1 (not premultiplied).
struct Rgb {
    float r = 1, g = 1, b = 1;
};

// Small PCG32 generator: the generator's only source of randomness.
class Rng {
  public:
    explicit Rng(uint64_t seed);
    // Returns the next 32 random bits.
    uint32_t Next();
    // Returns a real in [lo, hi).
    float Real(float lo, float hi);
    // Returns an integer in [lo, hi].
    int Int(int lo, int hi);

  private:
    uint64_t state_;
};

// Premultiplied RGBA image with float channels.
class Canvas {
  public:
    Canvas(int width, int height);
    int Width() const { return width_; }
    int Height() const { return height_; }
    // Composites a colour with coverage a over the pixel (ignored outside the canvas).
    void Over(int x, int y, Rgb c, float a);
    // Adds light of colour c and strength k: colour and alpha both grow (glow).
    void Add(int x, int y, Rgb c, float k);
    // Replaces a pixel with an opaque colour.
    void Set(int x, int y, Rgb c);
    // Returns the straight colour and alpha of a pixel.
    void Get(int x, int y, Rgb& c, float& a) const;
    // Copies another canvas in with its top-left at (x, y), compositing it over.
    void Blit(const Canvas& src, int x, int y);
    // Converts to 8-bit RGBA. Note: alpha 0 gives pure black; any visible pixel is never pure
    // black (its brightest channel is raised to at least 3), so black masking keeps shapes whole.
    std::vector<uint8_t> ToRgba8() const;

  private:
    int width_, height_;
    std::vector<float> px_;  // r, g, b, a premultiplied
};

// Signed distance helpers (pixels; negative inside).
float SdCircle(float px, float py, float cx, float cy, float r);
float SdSegment(float px, float py, float ax, float ay, float bx, float by);
float SdBox(float px, float py, float cx, float cy, float hw, float hh, float round);
float SdPolygon(float px, float py, const std::vector<float>& xy);
// Returns the coverage of a pixel whose centre lies at signed distance d.
float Coverage(float d);

// Look of a neon-lit shape painted from a signed distance field.
struct NeonStyle {
    Rgb body{0.55f, 0.55f, 0.6f};  // fill colour deep inside
    Rgb edge{0.9f, 0.9f, 0.95f};   // fill colour near the rim (shaded in between)
    float shade_depth = 6;         // distance over which body blends to edge
    Rgb rim{1, 1, 1};              // the bright outline
    float rim_width = 1.2f;
    Rgb glow{1, 1, 1};
    float glow_radius = 3;  // exponential falloff length outside
    float glow_strength = 0.5f;
};

// Paints a shape given by sdf(x, y) (cell-local pixel coordinates) into the rectangle
// (ox, oy, w, h) of the canvas: outer glow, shaded fill, bright rim.
void PaintNeon(Canvas& c, int ox, int oy, int w, int h,
               const std::function<float(float, float)>& sdf, const NeonStyle& style);
// Paints a flat antialiased shape of colour col and opacity alpha over the rectangle.
void PaintFlat(Canvas& c, int ox, int oy, int w, int h,
               const std::function<float(float, float)>& sdf, Rgb col, float alpha = 1);

// Returns smooth value noise in 0..1; period > 0 makes it tile every period lattice cells.
float ValueNoise(float x, float y, uint32_t seed, int period = 0);
// Returns fractal noise of several octaves in about 0..1 (tiling when period > 0).
float FractalNoise(float x, float y, uint32_t seed, int octaves, int period = 0);

// Returns the line segments (x0, y0, x1, y1 on a 4 x 6 grid, y down) of an upper-case letter,
// digit or space; unknown characters give none.
std::vector<float> StrokeGlyph(char ch);
// Returns the signed distance to the text drawn as tubes of half-width thick, letters of
// height size (pixels) starting at (x, y) top-left, with spacing between letters.
float SdStrokeText(const std::string& text, float px, float py, float x, float y, float size,
                   float thick, float spacing);
// Returns the width in pixels the stroke text takes.
float StrokeTextWidth(const std::string& text, float size, float spacing);

// Writes a canvas as an 8-bit RGBA PNG; returns false when the file cannot be written.
bool WritePng(const std::string& path, const Canvas& c);

// Clamps v to 0..1.
inline float Clamp01(float v) {
    return v < 0 ? 0 : (v > 1 ? 1 : v);
}
// Blends a and b by t.
inline float Mix(float a, float b, float t) {
    return a + (b - a) * t;
}
// Blends two colours by t.
inline Rgb MixRgb(Rgb a, Rgb b, float t) {
    return {Mix(a.r, b.r, t), Mix(a.g, b.g, t), Mix(a.b, b.b, t)};
}
// Returns a colour from hue (0..1), saturation and value.
Rgb Hsv(float h, float s, float v);

}  // namespace assetgen
