// The WebGL drawing driver of the browser build: draws into the page's canvas
// (the module's `canvas`) through the calls of webgl.js. Quads are gathered
// here, as the desktop's OpenGL driver gathers them, and handed to WebGL in one
// call per run of the same texture and blend mode.
#include "engine/media/browser/webgl_driver.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

extern "C" {
// The script side (webgl.js); see there.
int zqgl_open(int width, int height);
void zqgl_close();
void zqgl_resolution(float width, float height);
void zqgl_clear(float r, float g, float b);
int zqgl_texture_new();
void zqgl_texture_upload(int id, int width, int height, int alphaOnly, int filtered,
                         const uint8_t* pixels);
void zqgl_texture_delete(int id);
void zqgl_draw(const void* vertices, int count, int texture, int alphaTexture, int blend);
}

namespace media {

namespace {

constexpr double kPi = 3.14159265358979323846;
// Most quads sent in one call (their corners are numbered with 16 bits).
constexpr size_t kMaxBatchQuads = 16384;

// One corner of a quad as the shader reads it.
struct Vertex {
    float x, y;
    float u, v;
    uint32_t rgba;  // bytes r, g, b, a in memory order
};
static_assert(sizeof(Vertex) == 20);

// Counts the contexts opened, so a texture of a closed one is never deleted in a new one.
int g_context = 0;

// A WebGL texture of one context.
class WebGLTexture : public TDriverTexture {
  public:
    WebGLTexture() : id(zqgl_texture_new()), context(g_context) {}
    ~WebGLTexture() override {
        if (context == g_context && id > 0) zqgl_texture_delete(id);
    }
    int id = 0;
    int context = 0;
    int version = -1;
};

uint32_t PackColour(const TDraw2DGraphics& g) {
    const uint32_t a = static_cast<uint32_t>(g.AlphaByte()) & 0xFF;
    return static_cast<uint32_t>(g.color_red) | (static_cast<uint32_t>(g.color_green) << 8) |
           (static_cast<uint32_t>(g.color_blue) << 16) | (a << 24);
}

int NormalBlend(int mode) {
    return (mode >= MASKBLEND && mode <= SHADEBLEND) ? mode : SOLIDBLEND;
}

class TWebGLDriver : public TDraw2DDriver {
  public:
    ~TWebGLDriver() override { CloseGraphics(); }

    std::vector<TGraphicsMode> GraphicsModes() override {
        return {{1280, 720, 32, 60}, {1280, 800, 32, 60}, {1280, 960, 32, 60}};
    }

    bool CreateGraphics(int width, int height, int, int, int, const std::string&) override {
        CloseGraphics();
        if (!zqgl_open(width, height)) return false;
        ++g_context;
        open_ = true;
        verts_.clear();
        verts_.reserve(4 * 4096);
        batch_tex_ = 0;
        batch_alpha_ = false;
        batch_blend_ = -1;
        SetResolution(static_cast<float>(width), static_cast<float>(height));
        return true;
    }

    void CloseGraphics() override {
        if (!open_) return;
        verts_.clear();
        zqgl_close();
        ++g_context;  // textures of the closed context skip their deletes
        open_ = false;
    }

    bool IsOpen() const override { return open_; }

    // The page shows the canvas when the script returns to it: presenting only sends the quads.
    void Flip(int) override { Flush(); }

    void SetResolution(float width, float height) override {
        Flush();
        zqgl_resolution(width, height);
    }

    void Cls(const TDraw2DGraphics& g) override {
        Flush();
        zqgl_clear(g.clscolor_red / 255.0f, g.clscolor_green / 255.0f, g.clscolor_blue / 255.0f);
    }

    void DrawFrame(TImage& image, int frame, float x, float y, const TDraw2DGraphics& g) override {
        WebGLTexture* tex = ImageTexture(image);
        if (!tex) return;
        Use(tex->id, false, g.blend_mode);
        const TImageFrame& f = image.frames[static_cast<size_t>(frame)];
        const float iw = 1.0f / static_cast<float>(image.atlas_w);
        const float ih = 1.0f / static_cast<float>(image.atlas_h);
        const float u0 = static_cast<float>(f.atlas_x) * iw;
        const float v0 = static_cast<float>(f.atlas_y) * ih;
        const float u1 = static_cast<float>(f.atlas_x + image.width) * iw;
        const float v1 = static_cast<float>(f.atlas_y + image.height) * ih;
        const float x0 = -image.handle_x, y0 = -image.handle_y;
        Quad(x, y, x0, y0, x0 + static_cast<float>(image.width),
             y0 + static_cast<float>(image.height), u0, v0, u1, v1, PackColour(g), g);
    }

    void DrawRect(float x, float y, float w, float h, const TDraw2DGraphics& g) override {
        Use(0, false, g.blend_mode);
        const float x0 = -g.handle_x, y0 = -g.handle_y;
        Quad(x, y, x0, y0, x0 + w, y0 + h, 0, 0, 0, 0, PackColour(g), g);
    }

    void DrawLine(float x1, float y1, float x2, float y2, bool last_pixel,
                  const TDraw2DGraphics& g) override {
        Use(0, false, g.blend_mode);
        // The line runs through pixel centres as a quad line_width thick.
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

    void Plot(float x, float y, const TDraw2DGraphics& g) override {
        Use(0, false, g.blend_mode);
        const uint32_t c = PackColour(g);
        Push({x, y, 0, 0, c}, {x + 1, y, 0, 0, c}, {x + 1, y + 1, 0, 0, c}, {x, y + 1, 0, 0, c});
    }

    void DrawOval(float x, float y, float w, float h, const TDraw2DGraphics& g) override {
        Use(0, false, g.blend_mode);
        const float rx = w * 0.5f, ry = h * 0.5f;
        const float cx = -g.handle_x + rx, cy = -g.handle_y + ry;
        const int segments =
            std::clamp(static_cast<int>((std::fabs(rx) + std::fabs(ry)) * 0.75f), 12, 96);
        const uint32_t c = PackColour(g);
        auto at = [&](int i, float& sx, float& sy) {
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
            // A fan slice as a quad with its last corner doubled.
            Push({ccx, ccy, 0, 0, c}, {px, py, 0, 0, c}, {qx, qy, 0, 0, c}, {qx, qy, 0, 0, c});
            px = qx;
            py = qy;
        }
    }

    void DrawText(TImageFont& font, const std::string& text, float x, float y,
                  const TDraw2DGraphics& g) override {
        // Make every glyph first: making one may grow the atlas.
        for (char ch : text) font.Glyph(static_cast<unsigned char>(ch));
        WebGLTexture* tex = FontTexture(font);
        if (!tex) return;
        Use(tex->id, true, g.blend_mode);
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
                Quad(x, y, x0, y0, x0 + static_cast<float>(gl.w), y0 + static_cast<float>(gl.h),
                     u0, v0, u0 + static_cast<float>(gl.w) * iw, v0 + static_cast<float>(gl.h) * ih,
                     c, g);
            }
            pen = static_cast<int>(static_cast<float>(pen) + gl.advance);
        }
    }

    // The page reads no pixels back: a grab is a black picture of the size.
    std::shared_ptr<TPixmap> GrabPixmap(int, int, int w, int h) override {
        Flush();
        auto pm = CreatePixmap(w, h);
        if (!pm) return nullptr;
        for (int row = 0; row < h; ++row) {
            uint8_t* dst = pm->Row(row);
            for (int i = 0; i < w; ++i) dst[i * 4 + 3] = 255;
        }
        return pm;
    }

  private:
    // Sends pending quads to WebGL.
    void Flush() {
        if (verts_.empty()) return;
        zqgl_draw(verts_.data(), static_cast<int>(verts_.size()), batch_tex_, batch_alpha_ ? 1 : 0,
                  batch_blend_);
        verts_.clear();
    }

    // Starts a new batch when the texture or blend mode really changes.
    void Use(int tex, bool alphaOnly, int blend) {
        blend = NormalBlend(blend);
        if (tex != batch_tex_ || blend != batch_blend_ || verts_.size() >= 4 * kMaxBatchQuads) {
            Flush();
            batch_tex_ = tex;
            batch_alpha_ = alphaOnly;
            batch_blend_ = blend;
        }
    }

    // Appends one quad's corners as given.
    void Push(const Vertex& a, const Vertex& b, const Vertex& c, const Vertex& d) {
        verts_.push_back(a);
        verts_.push_back(b);
        verts_.push_back(c);
        verts_.push_back(d);
    }

    // Appends one transformed quad: local box x0,y0..x1,y1 about screen point x,y.
    void Quad(float x, float y, float x0, float y0, float x1, float y1, float u0, float v0,
              float u1, float v1, uint32_t c, const TDraw2DGraphics& g) {
        const float ix = g.tform_ix, iy = g.tform_iy, jx = g.tform_jx, jy = g.tform_jy;
        Push({x + x0 * ix + y0 * iy, y + x0 * jx + y0 * jy, u0, v0, c},
             {x + x1 * ix + y0 * iy, y + x1 * jx + y0 * jy, u1, v0, c},
             {x + x1 * ix + y1 * iy, y + x1 * jx + y1 * jy, u1, v1, c},
             {x + x0 * ix + y1 * iy, y + x0 * jx + y1 * jy, u0, v1, c});
    }

    // Returns the texture in slot for this context (made afresh for another context's or none),
    // setting upload when its pixels are older than version.
    WebGLTexture* Fresh(std::shared_ptr<TDriverTexture>& slot, int version, bool& upload) {
        auto* tex = dynamic_cast<WebGLTexture*>(slot.get());
        upload = true;
        if (tex && tex->context == g_context) {
            if (tex->version == version) upload = false;
            if (upload && batch_tex_ == tex->id) Flush();
            return tex->id > 0 ? tex : nullptr;
        }
        if (tex && batch_tex_ == tex->id) Flush();
        slot = std::make_shared<WebGLTexture>();
        tex = static_cast<WebGLTexture*>(slot.get());
        return tex->id > 0 ? tex : nullptr;
    }

    // Returns the image's texture, uploading all frames when stale.
    WebGLTexture* ImageTexture(TImage& image) {
        bool upload = false;
        WebGLTexture* tex = Fresh(image.texture, image.version, upload);
        if (!tex || !upload) return tex;
        // Every frame in its cell, the cell's edge repeated into its border so that
        // filtering at a frame's edge never reaches the neighbouring frame.
        const int aw = image.atlas_w, ah = image.atlas_h, w = image.width, h = image.height;
        std::vector<uint8_t> atlas(static_cast<size_t>(aw) * ah * 4, 0);
        for (size_t i = 0; i < image.frames.size(); ++i) {
            const TPixmap* pm = image.pixmaps[i].get();
            if (!pm) continue;
            const int ax = image.frames[i].atlas_x, ay = image.frames[i].atlas_y;
            for (int row = -1; row <= h; ++row) {
                const int sy = std::clamp(row, 0, h - 1);
                const uint8_t* src = pm->Row(sy);
                uint8_t* dst = &atlas[(static_cast<size_t>(ay + row) * aw + ax) * 4];
                std::memcpy(dst, src, static_cast<size_t>(w) * 4);
                std::memcpy(dst - 4, src, 4);
                std::memcpy(dst + static_cast<size_t>(w) * 4, src + static_cast<size_t>(w - 1) * 4,
                            4);
            }
        }
        zqgl_texture_upload(tex->id, aw, ah, 0, (image.flags & FILTEREDIMAGE) != 0, atlas.data());
        tex->version = image.version;
        return tex;
    }

    // Returns the font's atlas texture, uploading it when changed.
    WebGLTexture* FontTexture(TImageFont& font) {
        if (font.atlas.empty()) {
            // Nothing with pixels yet (spaces only): an empty 1×1 atlas will do.
            font.atlas.assign(1, 0);
            font.atlas_w = font.atlas_h = 1;
            ++font.atlas_version;
        }
        bool upload = false;
        WebGLTexture* tex = Fresh(font.texture, font.atlas_version, upload);
        if (!tex || !upload) return tex;
        zqgl_texture_upload(tex->id, font.atlas_w, font.atlas_h, 1, 1, font.atlas.data());
        tex->version = font.atlas_version;
        return tex;
    }

    bool open_ = false;
    std::vector<Vertex> verts_;
    int batch_tex_ = 0;         // texture of the pending quads (0: none)
    bool batch_alpha_ = false;  // the texture holds alpha only (a font's atlas)
    int batch_blend_ = -1;      // blend mode of the pending quads
};

}  // namespace

std::shared_ptr<TDraw2DDriver> WebGLDraw2DDriver() {
    static auto driver = std::make_shared<TWebGLDriver>();
    return driver;
}

}  // namespace media
