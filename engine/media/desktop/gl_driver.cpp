// The OpenGL drawing driver; see gl_driver.h.
#include "engine/media/desktop/gl_driver.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

#include "engine/media/desktop/desktop.h"
#include "engine/media/desktop/display.h"

namespace media {

namespace {

constexpr double kPi = 3.14159265358979323846;

// One corner of a quad as GL reads it.
struct Vertex {
    float x, y;
    float u, v;
    uint32_t rgba;  // bytes r, g, b, a in memory order
};
static_assert(sizeof(Vertex) == 20);

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

uint32_t PackColour(const TDraw2DGraphics& g) {
    uint32_t a = static_cast<uint32_t>(g.AlphaByte()) & 0xFF;
    return static_cast<uint32_t>(g.color_red) | (static_cast<uint32_t>(g.color_green) << 8) |
           (static_cast<uint32_t>(g.color_blue) << 16) | (a << 24);
}

int NormalBlend(int mode) {
    return (mode >= MASKBLEND && mode <= SHADEBLEND) ? mode : SOLIDBLEND;
}

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
        verts_.clear();
        verts_.reserve(4 * 4096);
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
        verts_.clear();
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
        const TImageFrame& f = image.frames[static_cast<size_t>(frame)];
        float iw = 1.0f / static_cast<float>(image.atlas_w);
        float ih = 1.0f / static_cast<float>(image.atlas_h);
        float u0 = static_cast<float>(f.atlas_x) * iw;
        float v0 = static_cast<float>(f.atlas_y) * ih;
        float u1 = static_cast<float>(f.atlas_x + image.width) * iw;
        float v1 = static_cast<float>(f.atlas_y + image.height) * ih;
        float x0 = -image.handle_x, y0 = -image.handle_y;
        Quad(x, y, x0, y0, x0 + static_cast<float>(image.width),
             y0 + static_cast<float>(image.height), u0, v0, u1, v1, PackColour(g), g);
    }

    void DrawRect(float x, float y, float w, float h, const TDraw2DGraphics& g) override {
        Use(0, g.blend_mode);
        float x0 = -g.handle_x, y0 = -g.handle_y;
        Quad(x, y, x0, y0, x0 + w, y0 + h, 0, 0, 0, 0, PackColour(g), g);
    }

    void DrawLine(float x1, float y1, float x2, float y2, bool last_pixel,
                  const TDraw2DGraphics& g) override {
        Use(0, g.blend_mode);
        // The line runs through pixel centres as a quad line_width thick.
        float lx0 = -g.handle_x + 0.5f, ly0 = -g.handle_y + 0.5f;
        float lx1 = lx0 + (x2 - x1), ly1 = ly0 + (y2 - y1);
        float sx0 = x1 + lx0 * g.tform_ix + ly0 * g.tform_iy;
        float sy0 = y1 + lx0 * g.tform_jx + ly0 * g.tform_jy;
        float sx1 = x1 + lx1 * g.tform_ix + ly1 * g.tform_iy;
        float sy1 = y1 + lx1 * g.tform_jx + ly1 * g.tform_jy;
        float dx = sx1 - sx0, dy = sy1 - sy0;
        float len = std::sqrt(dx * dx + dy * dy);
        if (len <= 0) {
            Plot(x1, y1, g);
            return;
        }
        dx /= len;
        dy /= len;
        float half = g.line_width * 0.5f;
        float ex = last_pixel ? dx * 0.5f : 0, ey = last_pixel ? dy * 0.5f : 0;
        sx0 -= dx * 0.5f;
        sy0 -= dy * 0.5f;
        sx1 += ex;
        sy1 += ey;
        float nx = -dy * half, ny = dx * half;
        uint32_t c = PackColour(g);
        verts_.push_back({sx0 + nx, sy0 + ny, 0, 0, c});
        verts_.push_back({sx1 + nx, sy1 + ny, 0, 0, c});
        verts_.push_back({sx1 - nx, sy1 - ny, 0, 0, c});
        verts_.push_back({sx0 - nx, sy0 - ny, 0, 0, c});
    }

    void Plot(float x, float y, const TDraw2DGraphics& g) override {
        Use(0, g.blend_mode);
        uint32_t c = PackColour(g);
        verts_.push_back({x, y, 0, 0, c});
        verts_.push_back({x + 1, y, 0, 0, c});
        verts_.push_back({x + 1, y + 1, 0, 0, c});
        verts_.push_back({x, y + 1, 0, 0, c});
    }

    void DrawOval(float x, float y, float w, float h, const TDraw2DGraphics& g) override {
        Use(0, g.blend_mode);
        float rx = w * 0.5f, ry = h * 0.5f;
        float cx = -g.handle_x + rx, cy = -g.handle_y + ry;
        int segments =
            std::clamp(static_cast<int>((std::fabs(rx) + std::fabs(ry)) * 0.75f), 12, 96);
        uint32_t c = PackColour(g);
        auto at = [&](int i, float& sx, float& sy) {
            double a = 2.0 * kPi * i / segments;
            float lx = cx + rx * static_cast<float>(std::cos(a));
            float ly = cy + ry * static_cast<float>(std::sin(a));
            sx = x + lx * g.tform_ix + ly * g.tform_iy;
            sy = y + lx * g.tform_jx + ly * g.tform_jy;
        };
        float ccx = x + cx * g.tform_ix + cy * g.tform_iy;
        float ccy = y + cx * g.tform_jx + cy * g.tform_jy;
        float px, py;
        at(0, px, py);
        for (int i = 1; i <= segments; ++i) {
            float qx, qy;
            at(i, qx, qy);
            // A fan slice as a quad with its last corner doubled.
            verts_.push_back({ccx, ccy, 0, 0, c});
            verts_.push_back({px, py, 0, 0, c});
            verts_.push_back({qx, qy, 0, 0, c});
            verts_.push_back({qx, qy, 0, 0, c});
            px = qx;
            py = qy;
        }
    }

    void DrawText(TImageFont& font, const std::string& text, float x, float y,
                  const TDraw2DGraphics& g) override {
        // Make every glyph first: making one may grow the atlas.
        for (char ch : text) font.Glyph(static_cast<unsigned char>(ch));
        GLTexture* tex = FontTexture(font);
        if (!tex) return;
        Use(tex->id, g.blend_mode);
        uint32_t c = PackColour(g);
        float iw = 1.0f / static_cast<float>(font.atlas_w);
        float ih = 1.0f / static_cast<float>(font.atlas_h);
        int pen = 0;
        for (char ch : text) {
            const TGlyph& gl = font.Glyph(static_cast<unsigned char>(ch));
            if (!gl.present) continue;
            if (gl.w > 0 && gl.h > 0) {
                float x0 = static_cast<float>(pen + gl.x_off) - g.handle_x;
                float y0 = static_cast<float>(gl.y_off) - g.handle_y;
                float u0 = static_cast<float>(gl.atlas_x) * iw;
                float v0 = static_cast<float>(gl.atlas_y) * ih;
                Quad(x, y, x0, y0, x0 + static_cast<float>(gl.w), y0 + static_cast<float>(gl.h), u0,
                     v0, u0 + static_cast<float>(gl.w) * iw, v0 + static_cast<float>(gl.h) * ih, c,
                     g);
            }
            pen = static_cast<int>(static_cast<float>(pen) + gl.advance);
        }
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
        if (verts_.empty()) return;
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
        const Vertex* v = verts_.data();
        glVertexPointer(2, GL_FLOAT, sizeof(Vertex), &v->x);
        glColorPointer(4, GL_UNSIGNED_BYTE, sizeof(Vertex), &v->rgba);
        if (gl_tex_) glTexCoordPointer(2, GL_FLOAT, sizeof(Vertex), &v->u);
        glDrawArrays(GL_QUADS, 0, static_cast<GLsizei>(verts_.size()));
        ++stats_.batches;
        stats_.quads += static_cast<int64_t>(verts_.size() / 4);
        verts_.clear();
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

    // Appends one transformed quad: local box x0,y0..x1,y1 about screen point x,y.
    void Quad(float x, float y, float x0, float y0, float x1, float y1, float u0, float v0,
              float u1, float v1, uint32_t c, const TDraw2DGraphics& g) {
        const float ix = g.tform_ix, iy = g.tform_iy, jx = g.tform_jx, jy = g.tform_jy;
        size_t n = verts_.size();
        verts_.resize(n + 4);
        Vertex* v = &verts_[n];
        v[0] = {x + x0 * ix + y0 * iy, y + x0 * jx + y0 * jy, u0, v0, c};
        v[1] = {x + x1 * ix + y0 * iy, y + x1 * jx + y0 * jy, u1, v0, c};
        v[2] = {x + x1 * ix + y1 * iy, y + x1 * jx + y1 * jy, u1, v1, c};
        v[3] = {x + x0 * ix + y1 * iy, y + x0 * jx + y1 * jy, u0, v1, c};
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
        // Every frame in its cell, the cell's edge repeated into its border so that
        // filtering at a frame's edge never reaches the neighbouring frame.
        const int aw = image.atlas_w, ah = image.atlas_h, w = image.width, h = image.height;
        std::vector<uint8_t> atlas(static_cast<size_t>(aw) * ah * 4, 0);
        for (size_t i = 0; i < image.frames.size(); ++i) {
            const TPixmap* pm = image.pixmaps[i].get();
            if (!pm) continue;
            int ax = image.frames[i].atlas_x, ay = image.frames[i].atlas_y;
            for (int row = -1; row <= h; ++row) {
                int sy = std::clamp(row, 0, h - 1);
                const uint8_t* src = pm->Row(sy);
                uint8_t* dst = &atlas[(static_cast<size_t>(ay + row) * aw + ax) * 4];
                std::memcpy(dst, src, static_cast<size_t>(w) * 4);
                std::memcpy(dst - 4, src, 4);
                std::memcpy(dst + static_cast<size_t>(w) * 4, src + static_cast<size_t>(w - 1) * 4,
                            4);
            }
        }
        BeginUpload(*tex, (image.flags & FILTEREDIMAGE) != 0);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, aw, ah, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                     atlas.data());
        tex->version = image.version;
        return tex;
    }

    // Returns the font's atlas texture for this context, uploading it when changed.
    GLTexture* FontTexture(TImageFont& font) {
        if (font.atlas.empty()) {
            // Nothing with pixels yet (spaces only): an empty 1×1 atlas will do.
            font.atlas.assign(1, 0);
            font.atlas_w = font.atlas_h = 1;
            ++font.atlas_version;
        }
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
    std::vector<Vertex> verts_;
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
