// What the drawing backends (desktop/ on OpenGL, browser/ on WebGL) share: the
// driver's draw calls turned into quads in screen space, four corners each,
// textured from an image's or a font's atlas or plain, ready for one draw call
// per batch; and the atlas pixels they upload for an image.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/media/graphics.h"
#include "engine/media/image_font.h"

namespace media {

// One corner of a quad as both backends send it (20 bytes).
struct QuadVertex {
    float x, y;
    float u, v;
    uint32_t rgba;  // bytes r, g, b, a in memory order
};
static_assert(sizeof(QuadVertex) == 20);

// Returns the drawing state's colour and alpha as QuadVertex::rgba.
uint32_t PackColour(const TDraw2DGraphics& g);
// Returns the blend mode a batch uses for a drawing state's mode (unknown ones draw solid).
int NormalBlend(int mode);

// The quads of the pending batch. Each call appends the quads of one draw call,
// turned and scaled by the drawing state's matrix about its handle; the caller
// has chosen the batch's texture and blend mode before.
class QuadBuilder {
  public:
    // The corners appended since the last clear, four per quad.
    std::vector<QuadVertex> verts;

    // Appends one frame of an image, its texture coordinates in the image's atlas.
    void Frame(const TImage& image, int frame, float x, float y, const TDraw2DGraphics& g);
    // Appends a plain rectangle.
    void Rect(float x, float y, float w, float h, const TDraw2DGraphics& g);
    // Appends a line through pixel centres as a quad line_width thick (a point when it has no
    // length).
    void Line(float x1, float y1, float x2, float y2, bool last_pixel, const TDraw2DGraphics& g);
    // Appends one pixel.
    void Plot(float x, float y, const TDraw2DGraphics& g);
    // Appends an ellipse as a fan of slices, each a quad with its last corner doubled.
    void Oval(float x, float y, float w, float h, const TDraw2DGraphics& g);
    // Appends the glyphs of text from the font's atlas.
    // Note: every glyph of text must have been made before the atlas was uploaded.
    void Text(TImageFont& font, const std::string& text, float x, float y,
              const TDraw2DGraphics& g);

  private:
    // Appends one transformed quad: local box x0,y0..x1,y1 about screen point x,y.
    void Quad(float x, float y, float x0, float y0, float x1, float y1, float u0, float v0,
              float u1, float v1, uint32_t c, const TDraw2DGraphics& g);
    // Appends one quad's corners as given.
    void Push(const QuadVertex& a, const QuadVertex& b, const QuadVertex& c, const QuadVertex& d);
};

// Returns an image's atlas as RGBA rows (atlas_w × atlas_h): every frame in its cell, the
// cell's edge repeated into its border so that filtering at a frame's edge never reaches the
// neighbouring frame.
std::vector<uint8_t> PaddedImageAtlas(const TImage& image);
// Makes every glyph of text (making one may grow the atlas) and gives a font without any
// pixels yet (spaces only) an empty 1×1 atlas, so that there is always one to upload.
void PrepareFontAtlas(TImageFont& font, const std::string& text);

}  // namespace media
