// The WebGL drawing driver of the browser build: draws into the page's canvas
// (the module's `canvas`) through the calls of webgl.js. Quads are gathered by
// the QuadBuilder the desktop's OpenGL driver uses too, and handed to WebGL in
// one call per run of the same texture and blend mode.
#include "engine/media/browser/webgl_driver.h"

#include <memory>
#include <string>

#include "engine/media/quad_builder.h"

extern "C" {
// The script side (webgl.js); see there.
int zqgl_open(int width, int height, int* restored);
void zqgl_close();
void zqgl_pointer_visible(int visible);
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

// Most quads sent in one call (their corners are numbered with 16 bits).
constexpr size_t kMaxBatchQuads = 16384;

// Counts the contexts opened, so a texture of a closed one is never deleted in a new one.
int g_context = 0;
// Counts the contexts the browser took away and gave back (the script adds to it), and the
// count the driver last saw.
int g_restored = 0;
int g_restoredSeen = 0;

// Returns the context's number, a new one once the browser has given the canvas a new
// context: every texture is then made and uploaded again on its next use.
int CurrentContext() {
    if (g_restored != g_restoredSeen) {
        g_restoredSeen = g_restored;
        ++g_context;
    }
    return g_context;
}

// A WebGL texture of one context.
class WebGLTexture : public TDriverTexture {
  public:
    WebGLTexture() : id(zqgl_texture_new()), context(CurrentContext()) {}
    ~WebGLTexture() override {
        if (context == CurrentContext() && id > 0) zqgl_texture_delete(id);
    }
    int id = 0;
    int context = 0;
    int version = -1;
};

class TWebGLDriver : public TDraw2DDriver {
  public:
    ~TWebGLDriver() override { CloseGraphics(); }

    // One mode: the logical screen the data pack's glyphs are baked for (the page scales the
    // canvas to the window, and its full screen is the page's, not the program's).
    std::vector<TGraphicsMode> GraphicsModes() override { return {{1280, 960, 32, 60}}; }

    bool CreateGraphics(int width, int height, int, int, int, const std::string&) override {
        CloseGraphics();
        if (!zqgl_open(width, height, &g_restored)) return false;
        CurrentContext();
        ++g_context;
        open_ = true;
        quads_.verts.clear();
        quads_.verts.reserve(4 * 4096);
        batch_tex_ = 0;
        batch_alpha_ = false;
        batch_blend_ = -1;
        SetResolution(static_cast<float>(width), static_cast<float>(height));
        return true;
    }

    void CloseGraphics() override {
        if (!open_) return;
        quads_.verts.clear();
        zqgl_close();
        ++g_context;  // textures of the closed context skip their deletes
        open_ = false;
    }

    bool IsOpen() const override { return open_; }

    // The page shows the canvas when the script returns to it: presenting only sends the quads.
    void Flip(int) override { Flush(); }
    // The game draws its own pointer: the system's is hidden over the canvas.
    void SetPointerVisible(bool visible) override { zqgl_pointer_visible(visible ? 1 : 0); }

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
        quads_.Frame(image, frame, x, y, g);
    }

    void DrawRect(float x, float y, float w, float h, const TDraw2DGraphics& g) override {
        Use(0, false, g.blend_mode);
        quads_.Rect(x, y, w, h, g);
    }

    void DrawLine(float x1, float y1, float x2, float y2, bool last_pixel,
                  const TDraw2DGraphics& g) override {
        Use(0, false, g.blend_mode);
        quads_.Line(x1, y1, x2, y2, last_pixel, g);
    }

    void Plot(float x, float y, const TDraw2DGraphics& g) override {
        Use(0, false, g.blend_mode);
        quads_.Plot(x, y, g);
    }

    void DrawOval(float x, float y, float w, float h, const TDraw2DGraphics& g) override {
        Use(0, false, g.blend_mode);
        quads_.Oval(x, y, w, h, g);
    }

    void DrawText(TImageFont& font, const std::string& text, float x, float y,
                  const TDraw2DGraphics& g) override {
        PrepareFontAtlas(font, text);
        WebGLTexture* tex = FontTexture(font);
        if (!tex) return;
        Use(tex->id, true, g.blend_mode);
        quads_.Text(font, text, x, y, g);
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
        if (quads_.verts.empty()) return;
        zqgl_draw(quads_.verts.data(), static_cast<int>(quads_.verts.size()), batch_tex_, batch_alpha_ ? 1 : 0,
                  batch_blend_);
        quads_.verts.clear();
    }

    // Starts a new batch when the texture or blend mode really changes.
    void Use(int tex, bool alphaOnly, int blend) {
        blend = NormalBlend(blend);
        if (tex != batch_tex_ || blend != batch_blend_ || quads_.verts.size() >= 4 * kMaxBatchQuads) {
            Flush();
            batch_tex_ = tex;
            batch_alpha_ = alphaOnly;
            batch_blend_ = blend;
        }
    }

    // Returns the texture in slot for this context (made afresh for another context's or none),
    // setting upload when its pixels are older than version.
    WebGLTexture* Fresh(std::shared_ptr<TDriverTexture>& slot, int version, bool& upload) {
        auto* tex = dynamic_cast<WebGLTexture*>(slot.get());
        upload = true;
        if (tex && tex->context == CurrentContext()) {
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
        const std::vector<uint8_t> atlas = PaddedImageAtlas(image);
        zqgl_texture_upload(tex->id, image.atlas_w, image.atlas_h, 0,
                            (image.flags & FILTEREDIMAGE) != 0, atlas.data());
        tex->version = image.version;
        return tex;
    }

    // Returns the font's atlas texture, uploading it when changed.
    WebGLTexture* FontTexture(TImageFont& font) {
        bool upload = false;
        WebGLTexture* tex = Fresh(font.texture, font.atlas_version, upload);
        if (!tex || !upload) return tex;
        zqgl_texture_upload(tex->id, font.atlas_w, font.atlas_h, 1, 1, font.atlas.data());
        tex->version = font.atlas_version;
        return tex;
    }

    bool open_ = false;
    QuadBuilder quads_;  // the pending batch
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
