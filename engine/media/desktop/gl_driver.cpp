// The OpenGL drawing driver; see gl_driver.h.
#include "engine/media/desktop/gl_driver.h"

#include <GL/gl.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

#include "engine/media/desktop/desktop.h"
#include "engine/media/desktop/display.h"
#include "engine/media/quad_builder.h"

namespace media {

namespace {

// A live GL context as its textures see it: how to delete one of them, which
// first sends any queued quads that still use it to GL.
struct GLContextToken {
    std::function<void(GLuint)> release;
};

// A GL texture, deleted only while the context that made it is alive.
class GLTexture : public TDriverTexture {
  public:
    GLTexture(std::weak_ptr<GLContextToken> context) : context_(std::move(context)) {
        glGenTextures(1, &id);
    }
    ~GLTexture() override {
        if (auto context = context_.lock()) context->release(id);
    }
    // Returns true when the texture belongs to the live context `token`.
    bool Of(const std::shared_ptr<GLContextToken>& token) const {
        return !context_.expired() && context_.lock() == token;
    }

    GLuint id = 0;
    int version = -1;
    int width = 0, height = 0;

  private:
    std::weak_ptr<GLContextToken> context_;
};

class TGLDraw2DDriver : public TDraw2DDriver {
  public:
    ~TGLDraw2DDriver() override { CloseGraphics(); }

    std::vector<TGraphicsMode> GraphicsModes() override { return detail::QueryDisplayModes(); }

    bool CreateGraphics(int width, int height, int depth, int hertz, int /*flags*/,
                        const std::string& title) override {
        CloseGraphics();
        window_ = detail::XWindow::Open(width, height, depth, hertz, title);
        if (!window_) return false;
        token_ = std::make_shared<GLContextToken>();
        token_->release = [this](GLuint id) { ReleaseTexture(id); };
        stats_ = {};
        quads_.verts.clear();
        quads_.verts.reserve(4 * 4096);
        batch_tex_ = 0;
        batch_blend_ = gl_blend_ = -1;
        gl_tex_ = 0;
        glViewport(0, 0, width, height);
        glDisable(GL_DEPTH_TEST);
        glDisable(GL_CULL_FACE);
        glDisable(GL_LIGHTING);
        glDisable(GL_DITHER);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
        glAlphaFunc(GL_GEQUAL, 0.5f);
        glEnableClientState(GL_VERTEX_ARRAY);
        glEnableClientState(GL_COLOR_ARRAY);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        SetResolution(static_cast<float>(width), static_cast<float>(height));
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        return true;
    }

    void CloseGraphics() override {
        if (!window_) return;
        quads_.verts.clear();
        token_.reset();  // textures of this context now skip their deletes
        window_.reset();
    }

    bool IsOpen() const override { return window_ != nullptr; }

    void Flip(int sync) override {
        Flush();
        window_->Swap(sync ? 1 : 0);
        detail::PumpEvents();
    }

    void SetResolution(float width, float height) override {
        Flush();
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(0, width, height, 0, -1, 1);
        glMatrixMode(GL_MODELVIEW);
    }

    void Cls(const TDraw2DGraphics& g) override {
        Flush();
        glClearColor(g.clscolor_red / 255.0f, g.clscolor_green / 255.0f, g.clscolor_blue / 255.0f,
                     1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
    }

    void DrawFrame(TImage& image, int frame, float x, float y, const TDraw2DGraphics& g) override {
        GLTexture* tex = ImageTexture(image);
        if (!tex) return;
        Use(tex->id, g.blend_mode);
        quads_.Frame(image, frame, x, y, g);
    }

    void DrawRect(float x, float y, float w, float h, const TDraw2DGraphics& g) override {
        Use(0, g.blend_mode);
        quads_.Rect(x, y, w, h, g);
    }

    void DrawLine(float x1, float y1, float x2, float y2, bool last_pixel,
                  const TDraw2DGraphics& g) override {
        Use(0, g.blend_mode);
        quads_.Line(x1, y1, x2, y2, last_pixel, g);
    }

    void Plot(float x, float y, const TDraw2DGraphics& g) override {
        Use(0, g.blend_mode);
        quads_.Plot(x, y, g);
    }

    void DrawOval(float x, float y, float w, float h, const TDraw2DGraphics& g) override {
        Use(0, g.blend_mode);
        quads_.Oval(x, y, w, h, g);
    }

    void DrawText(TImageFont& font, const std::string& text, float x, float y,
                  const TDraw2DGraphics& g) override {
        PrepareFontAtlas(font, text);
        GLTexture* tex = FontTexture(font);
        if (!tex) return;
        Use(tex->id, g.blend_mode);
        quads_.Text(font, text, x, y, g);
    }

    std::shared_ptr<TPixmap> GrabPixmap(int x, int y, int w, int h) override {
        Flush();
        auto pm = CreatePixmap(w, h);
        if (!pm) return nullptr;
        int ww = window_->Width(), wh = window_->Height();
        int x0 = std::max(x, 0), y0 = std::max(y, 0);
        int x1 = std::min(x + w, ww), y1 = std::min(y + h, wh);
        if (x1 > x0 && y1 > y0) {
            int cw = x1 - x0, ch = y1 - y0;
            std::vector<uint8_t> buf(static_cast<size_t>(cw) * ch * 4);
            glReadBuffer(GL_BACK);
            glReadPixels(x0, wh - y1, cw, ch, GL_RGBA, GL_UNSIGNED_BYTE, buf.data());
            // GL rows run bottom-up; pixmap rows top-down.
            for (int row = 0; row < ch; ++row) {
                const uint8_t* src = &buf[static_cast<size_t>(ch - 1 - row) * cw * 4];
                uint8_t* dst = pm->Row(y0 - y + row) + static_cast<size_t>(x0 - x) * 4;
                std::memcpy(dst, src, static_cast<size_t>(cw) * 4);
                // What the screen shows is opaque, whatever alpha the
                // framebuffer kept from blending: read-backs are too.
                for (int i = 0; i < cw; ++i) dst[i * 4 + 3] = 255;
            }
        }
        return pm;
    }

    void SetPointerVisible(bool visible) override { window_->SetCursorVisible(visible); }
    void WarpPointer(int x, int y) override { window_->Warp(x, y); }
    void SetTitle(const std::string& title) override { window_->SetTitle(title); }

    // Sends pending quads to GL.
    void Flush() {
        if (quads_.verts.empty()) return;
        if (batch_tex_ != gl_tex_) {
            if (batch_tex_) {
                if (!gl_tex_) {
                    glEnable(GL_TEXTURE_2D);
                    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
                }
                glBindTexture(GL_TEXTURE_2D, batch_tex_);
            } else {
                glDisable(GL_TEXTURE_2D);
                glDisableClientState(GL_TEXTURE_COORD_ARRAY);
            }
            gl_tex_ = batch_tex_;
        }
        if (batch_blend_ != gl_blend_) {
            ApplyBlend(batch_blend_);
            gl_blend_ = batch_blend_;
        }
        const QuadVertex* v = quads_.verts.data();
        glVertexPointer(2, GL_FLOAT, sizeof(QuadVertex), &v->x);
        glColorPointer(4, GL_UNSIGNED_BYTE, sizeof(QuadVertex), &v->rgba);
        if (gl_tex_) glTexCoordPointer(2, GL_FLOAT, sizeof(QuadVertex), &v->u);
        glDrawArrays(GL_QUADS, 0, static_cast<GLsizei>(quads_.verts.size()));
        ++stats_.batches;
        stats_.quads += static_cast<int64_t>(quads_.verts.size() / 4);
        quads_.verts.clear();
    }

    void Finish() {
        if (!window_) return;
        Flush();
        glFinish();
    }

    void ResetState() {
        if (!window_) return;
        Flush();
        glEnableClientState(GL_VERTEX_ARRAY);
        glEnableClientState(GL_COLOR_ARRAY);
        glDisableClientState(GL_TEXTURE_COORD_ARRAY);
        glDisable(GL_TEXTURE_2D);
        gl_tex_ = 0;
        gl_blend_ = -1;
    }

    GLDriverStats stats_;

  private:
    // Deletes a texture of this context. Quads still queued with it are drawn
    // first, and GL is left untextured if it was bound, so that a texture made
    // later under the same name is bound afresh.
    void ReleaseTexture(GLuint id) {
        if (batch_tex_ == id) {
            Flush();
            batch_tex_ = 0;
        }
        if (gl_tex_ == id) {
            glBindTexture(GL_TEXTURE_2D, 0);
            glDisable(GL_TEXTURE_2D);
            glDisableClientState(GL_TEXTURE_COORD_ARRAY);
            gl_tex_ = 0;
        }
        glDeleteTextures(1, &id);
    }

    // Starts a new batch when the texture or blend state really changes.
    void Use(GLuint tex, int blend) {
        blend = NormalBlend(blend);
        if (tex != batch_tex_ || blend != batch_blend_) {
            Flush();
            batch_tex_ = tex;
            batch_blend_ = blend;
        }
    }

    static void ApplyBlend(int mode) {
        switch (mode) {
            case MASKBLEND:
                glDisable(GL_BLEND);
                glEnable(GL_ALPHA_TEST);
                break;
            case ALPHABLEND:
                glEnable(GL_BLEND);
                glDisable(GL_ALPHA_TEST);
                glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
                break;
            case LIGHTBLEND:
                glEnable(GL_BLEND);
                glDisable(GL_ALPHA_TEST);
                glBlendFunc(GL_SRC_ALPHA, GL_ONE);
                break;
            case SHADEBLEND:
                glEnable(GL_BLEND);
                glDisable(GL_ALPHA_TEST);
                glBlendFunc(GL_DST_COLOR, GL_ZERO);
                break;
            default:
                glDisable(GL_BLEND);
                glDisable(GL_ALPHA_TEST);
                break;
        }
    }

    // Binds a fresh texture for an upload (the pending batch may not use it).
    void BeginUpload(GLTexture& tex, bool filtered) {
        if (batch_tex_ == tex.id) Flush();
        glBindTexture(GL_TEXTURE_2D, tex.id);
        // With texturing on, the new binding is what GL now draws with.
        if (gl_tex_ != 0) gl_tex_ = tex.id;
        GLint f = filtered ? GL_LINEAR : GL_NEAREST;
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, f);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, f);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        ++stats_.uploads;
    }

    // Returns the image's texture for this context, uploading all frames when stale.
    GLTexture* ImageTexture(TImage& image) {
        auto* tex = static_cast<GLTexture*>(image.texture.get());
        if (tex && tex->version == image.version && tex->Of(token_)) return tex;
        if (!tex || !tex->Of(token_)) {
            if (tex && batch_tex_ == tex->id) Flush();
            image.texture = std::make_shared<GLTexture>(token_);
            tex = static_cast<GLTexture*>(image.texture.get());
        }
        const std::vector<uint8_t> atlas = PaddedImageAtlas(image);
        BeginUpload(*tex, (image.flags & FILTEREDIMAGE) != 0);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, image.atlas_w, image.atlas_h, 0, GL_RGBA,
                     GL_UNSIGNED_BYTE, atlas.data());
        tex->version = image.version;
        return tex;
    }

    // Returns the font's atlas texture for this context, uploading it when changed.
    GLTexture* FontTexture(TImageFont& font) {
        auto* tex = static_cast<GLTexture*>(font.texture.get());
        if (tex && tex->version == font.atlas_version && tex->Of(token_)) return tex;
        if (!tex || !tex->Of(token_)) {
            if (tex && batch_tex_ == tex->id) Flush();
            font.texture = std::make_shared<GLTexture>(token_);
            tex = static_cast<GLTexture*>(font.texture.get());
        }
        BeginUpload(*tex, true);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_ALPHA8, font.atlas_w, font.atlas_h, 0, GL_ALPHA,
                     GL_UNSIGNED_BYTE, font.atlas.data());
        tex->version = font.atlas_version;
        return tex;
    }

    std::unique_ptr<detail::XWindow> window_;
    std::shared_ptr<GLContextToken> token_;
    QuadBuilder quads_;  // the pending batch
    GLuint batch_tex_ = 0;  // texture of the pending quads (0: none)
    int batch_blend_ = -1;  // blend mode of the pending quads
    GLuint gl_tex_ = 0;     // texture GL has bound and enabled (0: texturing off)
    int gl_blend_ = -1;     // blend mode GL is set to
};

std::shared_ptr<TGLDraw2DDriver>& TheDriver() {
    static auto driver = std::make_shared<TGLDraw2DDriver>();
    return driver;
}

}  // namespace

std::shared_ptr<TDraw2DDriver> GLDraw2DDriver() {
    return TheDriver();
}

GLDriverStats GLStats() {
    return TheDriver()->stats_;
}

void GLFinish() {
    TheDriver()->Finish();
}

void GLResetState() {
    TheDriver()->ResetState();
}

}  // namespace media
