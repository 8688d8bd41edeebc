// The public display and drawing calls: the drawing context, the pacing of
// Flip(-1), images and their frames, and forwarding to the current driver.
#include "engine/media/graphics.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/media/clock.h"
#include "engine/media/platform_seam.h"
#include "engine/media/recording_driver.h"
#include "engine/media/text.h"
#include "engine/media/trig.h"

namespace media {

namespace {

// Largest texture an image's frames may fill together: one largest pixmap and
// its border, with room to spare.
constexpr int64_t kMaxImageTextureBytes = 2 * kMaxPixmapBytes;

// Everything the display side of the media layer keeps between calls.
struct GraphicsGlobals {
    std::shared_ptr<TDraw2DDriver> driver;
    int default_flags = 2;
    std::shared_ptr<TDraw2DGraphics> context = std::make_shared<TDraw2DGraphics>();
    bool auto_mid_handle = false;
    std::string title = "Zarquill";
    // Pacing of Flip(-1) in a window: the next tick and the carried remainder.
    int64_t next_tick = 0;
    int tick_carry = 0;
    // HideMouse holds for every window opened later, until ShowMouse.
    bool pointer_hidden = false;
};

GraphicsGlobals g_gfx;

TDraw2DDriver& Driver() {
    if (!g_gfx.driver) g_gfx.driver = DefaultGraphicsDriver();
    return *g_gfx.driver;
}

bool Open() {
    return g_gfx.driver && g_gfx.driver->IsOpen();
}

void RebuildMatrix(TDraw2DGraphics& g) {
    double c = Cos(g.tform_rot), s = Sin(g.tform_rot);
    g.tform_ix = static_cast<float>(c * g.tform_scale_x);
    g.tform_iy = static_cast<float>(-s * g.tform_scale_y);
    g.tform_jx = static_cast<float>(s * g.tform_scale_x);
    g.tform_jy = static_cast<float>(c * g.tform_scale_y);
}

// Lays the frames of an image out in one texture: a grid with a one-pixel
// border around every cell (the border repeats the cell's edge when uploaded).
void LayOutFrames(TImage& image, int count) {
    int cols = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(count))));
    cols = std::max(cols, 1);
    int rows = (count + cols - 1) / cols;
    image.frames.resize(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        image.frames[i].atlas_x = (i % cols) * (image.width + 2) + 1;
        image.frames[i].atlas_y = (i / cols) * (image.height + 2) + 1;
    }
    image.atlas_w = cols * (image.width + 2);
    image.atlas_h = rows * (image.height + 2);
}

// Returns true when count frames of w × h fit the pixmap caps, bordered in one texture.
bool ImageSizeOk(int w, int h, int count) {
    if (count <= 0 || !PixmapSizeOk(w, h)) return false;
    int64_t cols = static_cast<int64_t>(std::ceil(std::sqrt(static_cast<double>(count))));
    int64_t rows = (count + cols - 1) / cols;
    int64_t texture_bytes = cols * (w + 2) * rows * (h + 2) * 4;
    return texture_bytes <= kMaxImageTextureBytes;
}

// Makes an image shell of count frames of w × h (null beyond the caps).
std::shared_ptr<TImage> NewImage(int w, int h, int count, int flags) {
    if (!ImageSizeOk(w, h, count)) return nullptr;
    auto image = std::make_shared<TImage>();
    image->width = w;
    image->height = h;
    image->flags = flags < 0 ? DEFAULT_IMAGE_FLAGS : flags;
    if (g_gfx.auto_mid_handle) {
        image->handle_x = static_cast<float>(w) / 2.0f;
        image->handle_y = static_cast<float>(h) / 2.0f;
    }
    image->pixmaps.resize(static_cast<size_t>(count));
    LayOutFrames(*image, count);
    return image;
}

const std::shared_ptr<TImageFont>& FontInUse() {
    static std::shared_ptr<TImageFont> builtin;
    if (g_gfx.context->image_font) return g_gfx.context->image_font;
    if (!builtin) builtin = DefaultImageFont();
    return builtin;
}

}  // namespace

// --- TImage --------------------------------------------------------------

const TImageFrame* TImage::Frame(int n) const {
    if (n < 0 || n >= static_cast<int>(frames.size())) return nullptr;
    return &frames[static_cast<size_t>(n)];
}

void TImage::SetPixmap(int n, const std::shared_ptr<TPixmap>& pixmap) {
    if (n < 0 || n >= static_cast<int>(pixmaps.size())) return;
    std::shared_ptr<TPixmap> pm;
    if (pixmap && pixmap->format == PF_RGBA8888 && pixmap->width == width &&
        pixmap->height == height) {
        pm = std::make_shared<TPixmap>(*pixmap);
    } else if (pixmap) {
        auto rgba = pixmap->format == PF_RGBA8888 ? pixmap : ConvertPixmap(*pixmap, PF_RGBA8888);
        pm = rgba ? PixmapWindow(*rgba, 0, 0, width, height) : nullptr;
    }
    if (!pm) pm = CreatePixmap(width, height);
    if (flags & MASKEDIMAGE) {
        for (int y = 0; y < height; ++y) {
            uint8_t* p = pm->Row(y);
            for (int x = 0; x < width; ++x, p += 4) {
                if (p[0] == mask_r && p[1] == mask_g && p[2] == mask_b) p[3] = 0;
            }
        }
    }
    pixmaps[static_cast<size_t>(n)] = std::move(pm);
    ++version;
}

// --- Graphics and display ------------------------------------------------

void SetAppTitle(const std::string& title) {
    g_gfx.title = title;
    if (Open()) g_gfx.driver->SetTitle(title);
}

std::shared_ptr<TDraw2DDriver> DefaultGraphicsDriver() {
    if (detail::Platform().drawDriver) return detail::Platform().drawDriver();
    return std::make_shared<TRecordingDriver>();
}

const std::string& AppTitle() {
    return g_gfx.title;
}

void SetGraphicsDriver(std::shared_ptr<TDraw2DDriver> driver, int default_flags) {
    if (g_gfx.driver && driver != g_gfx.driver) g_gfx.driver->CloseGraphics();
    g_gfx.driver = driver ? std::move(driver) : DefaultGraphicsDriver();
    g_gfx.default_flags = default_flags;
}

TDraw2DDriver& CurrentDriver() {
    return Driver();
}

int CountGraphicsModes() {
    return static_cast<int>(Driver().GraphicsModes().size());
}

bool GetGraphicsMode(int index, int& width, int& height, int& depth, int& hertz) {
    auto modes = Driver().GraphicsModes();
    width = height = depth = hertz = 0;
    if (index < 0 || index >= static_cast<int>(modes.size())) return false;
    const TGraphicsMode& m = modes[static_cast<size_t>(index)];
    width = m.width;
    height = m.height;
    depth = m.depth;
    hertz = m.hertz;
    return true;
}

bool GraphicsModeExists(int width, int height, int depth, int hertz) {
    for (const TGraphicsMode& m : Driver().GraphicsModes()) {
        if ((width == 0 || m.width == width) && (height == 0 || m.height == height) &&
            (depth == 0 || m.depth == depth) && (hertz == 0 || m.hertz == hertz)) {
            return true;
        }
    }
    return false;
}

std::shared_ptr<TDraw2DGraphics> OpenGraphics(int width, int height, int depth, int hertz,
                                              int flags) {
    TDraw2DDriver& driver = Driver();
    driver.CloseGraphics();
    if (width <= 0 || height <= 0) return nullptr;
    if (!driver.CreateGraphics(width, height, depth, hertz, flags | g_gfx.default_flags,
                               g_gfx.title)) {
        return nullptr;
    }
    TDraw2DGraphics& g = *g_gfx.context;
    g.g_width = width;
    g.g_height = height;
    g.g_depth = depth;
    g.g_hertz = hertz;
    g.viewport_x = g.viewport_y = 0;
    g.viewport_w = static_cast<float>(width);
    g.viewport_h = static_cast<float>(height);
    SetVirtualResolution(static_cast<float>(width), static_cast<float>(height));
    g_gfx.next_tick = CurrentClock().NowMs();
    g_gfx.tick_carry = 0;
    if (g_gfx.pointer_hidden) driver.SetPointerVisible(false);
    if (depth != 0) MoveVirtualMouse(g.vres_width / 2, g.vres_height / 2);
    return g_gfx.context;
}

void CloseGraphics() {
    if (g_gfx.driver) g_gfx.driver->CloseGraphics();
}

bool GraphicsOpen() {
    return Open();
}

TDraw2DGraphics& DrawState() {
    return *g_gfx.context;
}

void Flip(int sync) {
    if (!Open()) return;
    const TDraw2DGraphics& g = *g_gfx.context;
    if (sync >= 0) {
        g_gfx.driver->Flip(sync ? 1 : 0);
        return;
    }
    if (g.g_depth != 0) {
        g_gfx.driver->Flip(1);
        return;
    }
    if (g.g_hertz <= 0) {
        g_gfx.driver->Flip(0);
        return;
    }
    // Paced on the 64-bit clock: the 32-bit Millisecs wraps after 24.8 days.
    int64_t now = CurrentClock().NowMs();
    if (now < g_gfx.next_tick) {
        Delay(static_cast<int>(g_gfx.next_tick - now));
    } else if (now > g_gfx.next_tick) {
        // Missed the tick: present now and count the next tick from here.
        g_gfx.next_tick = now;
        g_gfx.tick_carry = 0;
    }
    g_gfx.driver->Flip(0);
    // Ticks of 1000/hertz ms; the remainder is carried so hertz ticks make one second.
    g_gfx.next_tick += 1000 / g.g_hertz;
    g_gfx.tick_carry += 1000 % g.g_hertz;
    if (g_gfx.tick_carry >= g.g_hertz) {
        g_gfx.tick_carry -= g.g_hertz;
        g_gfx.next_tick += 1;
    }
}

void Cls() {
    if (Open()) g_gfx.driver->Cls(*g_gfx.context);
}

void SetClsColor(int r, int g, int b) {
    TDraw2DGraphics& c = *g_gfx.context;
    c.clscolor_red = std::clamp(r, 0, 255);
    c.clscolor_green = std::clamp(g, 0, 255);
    c.clscolor_blue = std::clamp(b, 0, 255);
}

void SetVirtualResolution(float width, float height) {
    TDraw2DGraphics& g = *g_gfx.context;
    if (!(width > 0) || !(height > 0)) return;
    g.vres_width = width;
    g.vres_height = height;
    if (g.g_width > 0 && g.g_height > 0) {
        g.vres_mousexscale = width / static_cast<float>(g.g_width);
        g.vres_mouseyscale = height / static_cast<float>(g.g_height);
    }
    if (Open()) g_gfx.driver->SetResolution(width, height);
}

float VirtualResolutionWidth() {
    return g_gfx.context->vres_width;
}

float VirtualResolutionHeight() {
    return g_gfx.context->vres_height;
}

float VirtualMouseX() {
    detail::PumpEvents();
    return static_cast<float>(detail::PointerWindowX()) * g_gfx.context->vres_mousexscale;
}

float VirtualMouseY() {
    detail::PumpEvents();
    return static_cast<float>(detail::PointerWindowY()) * g_gfx.context->vres_mouseyscale;
}

void MoveVirtualMouse(float x, float y) {
    const TDraw2DGraphics& g = *g_gfx.context;
    if (!Open() || g.vres_mousexscale <= 0 || g.vres_mouseyscale <= 0) return;
    int wx = TruncToInt(x / g.vres_mousexscale);
    int wy = TruncToInt(y / g.vres_mouseyscale);
    g_gfx.driver->WarpPointer(wx, wy);
    detail::SetPointerWindowPosition(wx, wy);
}

void ShowMouse() {
    g_gfx.pointer_hidden = false;
    if (Open()) g_gfx.driver->SetPointerVisible(true);
}

void HideMouse() {
    g_gfx.pointer_hidden = true;
    if (Open()) g_gfx.driver->SetPointerVisible(false);
}

// --- Draw state ----------------------------------------------------------

void SetColor(int r, int g, int b) {
    TDraw2DGraphics& c = *g_gfx.context;
    c.color_red = r < 0 ? 0 : (r > 255 ? 255 : r);
    c.color_green = g < 0 ? 0 : (g > 255 ? 255 : g);
    c.color_blue = b < 0 ? 0 : (b > 255 ? 255 : b);
}

void GetColor(int& r, int& g, int& b) {
    const TDraw2DGraphics& c = *g_gfx.context;
    r = c.color_red;
    g = c.color_green;
    b = c.color_blue;
}

void SetAlpha(float alpha) {
    // NaN fails both comparisons and becomes 0.
    g_gfx.context->color_alpha = alpha >= 0 ? (alpha <= 1 ? alpha : 1.0f) : 0.0f;
}

float GetAlpha() {
    return g_gfx.context->color_alpha;
}

void SetBlend(int mode) {
    g_gfx.context->blend_mode = mode;
}

int GetBlend() {
    return g_gfx.context->blend_mode;
}

void SetRotation(float degrees) {
    TDraw2DGraphics& g = *g_gfx.context;
    g.tform_rot = degrees;
    RebuildMatrix(g);
}

float GetRotation() {
    return g_gfx.context->tform_rot;
}

void SetScale(float sx, float sy) {
    TDraw2DGraphics& g = *g_gfx.context;
    g.tform_scale_x = sx;
    g.tform_scale_y = sy;
    RebuildMatrix(g);
}

void GetScale(float& sx, float& sy) {
    sx = g_gfx.context->tform_scale_x;
    sy = g_gfx.context->tform_scale_y;
}

void SetHandle(float x, float y) {
    g_gfx.context->handle_x = x;
    g_gfx.context->handle_y = y;
}

void SetLineWidth(float width) {
    g_gfx.context->line_width = width > 0 ? width : 1.0f;
}

void SetImageFont(std::shared_ptr<TImageFont> font) {
    g_gfx.context->image_font = std::move(font);
}

std::shared_ptr<TImageFont> GetImageFont() {
    return FontInUse();
}

void AutoMidHandle(bool on) {
    g_gfx.auto_mid_handle = on;
}

// --- Drawing -------------------------------------------------------------

void DrawImage(const std::shared_ptr<TImage>& image, float x, float y, int frame) {
    if (!image || !image->Frame(frame) || !Open()) return;
    g_gfx.driver->DrawFrame(*image, frame, x, y, *g_gfx.context);
}

void DrawRect(float x, float y, float w, float h) {
    if (Open()) g_gfx.driver->DrawRect(x, y, w, h, *g_gfx.context);
}

void DrawLine(float x1, float y1, float x2, float y2, bool last_pixel) {
    if (Open()) g_gfx.driver->DrawLine(x1, y1, x2, y2, last_pixel, *g_gfx.context);
}

void Plot(float x, float y) {
    if (Open()) g_gfx.driver->Plot(x, y, *g_gfx.context);
}

void DrawOval(float x, float y, float w, float h) {
    if (Open()) g_gfx.driver->DrawOval(x, y, w, h, *g_gfx.context);
}

void DrawText(const std::string& text, float x, float y) {
    const TDraw2DGraphics& g = *g_gfx.context;
    FontInUse()->Draw(text, x, y, g.tform_ix, g.tform_iy, g.tform_jx, g.tform_jy);
}

// Defined here rather than with the glyphs: drawing goes through the driver.
void TImageFont::Draw(const std::string& text, float x, float y, float ix, float iy, float jx,
                      float jy) {
    if (!Open()) return;
    const TDraw2DGraphics& current = *g_gfx.context;
    if (current.tform_ix == ix && current.tform_iy == iy && current.tform_jx == jx &&
        current.tform_jy == jy) {
        g_gfx.driver->DrawText(*this, text, x, y, current);
        return;
    }
    TDraw2DGraphics g = current;
    g.tform_ix = ix;
    g.tform_iy = iy;
    g.tform_jx = jx;
    g.tform_jy = jy;
    g_gfx.driver->DrawText(*this, text, x, y, g);
}

int TextWidth(const std::string& text) {
    return FontInUse()->TextWidth(text);
}

int TextHeight() {
    return FontInUse()->Height();
}

std::shared_ptr<TPixmap> GrabPixmap(int x, int y, int w, int h) {
    if (!Open() || w <= 0 || h <= 0) return nullptr;
    return g_gfx.driver->GrabPixmap(x, y, w, h);
}

void GrabImage(const std::shared_ptr<TImage>& image, int x, int y, int frame) {
    if (!image || !image->Frame(frame)) return;
    auto pm = GrabPixmap(x, y, image->width, image->height);
    if (pm) image->SetPixmap(frame, pm);
}

// --- Images --------------------------------------------------------------

std::shared_ptr<TImage> LoadImage(const std::string& path, int flags) {
    auto pm = LoadPixmap(path);
    if (!pm) return nullptr;
    return LoadImageFromPixmaps({pm}, flags);
}

std::shared_ptr<TImage> LoadAnimImage(const std::string& path, int cell_width, int cell_height,
                                      int first_cell, int cell_count, int flags) {
    if (cell_width <= 0 || cell_height <= 0 || first_cell < 0 || cell_count <= 0) return nullptr;
    auto pm = LoadPixmap(path);
    if (!pm) return nullptr;
    int across = pm->width / cell_width;
    int down = pm->height / cell_height;
    if (across <= 0 || down <= 0) return nullptr;
    // Only whole cells of the picture count; asking for more than it holds fails.
    if (int64_t{first_cell} + cell_count > int64_t{across} * down) return nullptr;
    auto image = NewImage(cell_width, cell_height, cell_count, flags);
    if (!image) return nullptr;
    for (int i = 0; i < cell_count; ++i) {
        int cell = first_cell + i;
        image->SetPixmap(i, PixmapWindow(*pm, (cell % across) * cell_width,
                                         (cell / across) * cell_height, cell_width, cell_height));
    }
    return image;
}

std::shared_ptr<TImage> LoadImageFromPixmaps(const std::vector<std::shared_ptr<TPixmap>>& frames,
                                             int flags) {
    if (frames.empty() || !frames[0]) return nullptr;
    auto image =
        NewImage(frames[0]->width, frames[0]->height, static_cast<int>(frames.size()), flags);
    if (!image) return nullptr;
    for (size_t i = 0; i < frames.size(); ++i) image->SetPixmap(static_cast<int>(i), frames[i]);
    return image;
}

std::shared_ptr<TImage> CreateImage(int width, int height, int frames, int flags) {
    auto image =
        NewImage(width, height, frames, (flags < 0 ? DEFAULT_IMAGE_FLAGS : flags) | DYNAMICIMAGE);
    if (!image) return nullptr;
    for (int i = 0; i < frames; ++i) image->pixmaps[i] = CreatePixmap(width, height);
    ++image->version;
    return image;
}

int ImageWidth(const std::shared_ptr<TImage>& image) {
    return image ? image->width : 0;
}

int ImageHeight(const std::shared_ptr<TImage>& image) {
    return image ? image->height : 0;
}

void SetImageHandle(const std::shared_ptr<TImage>& image, float x, float y) {
    if (!image) return;
    image->handle_x = x;
    image->handle_y = y;
}

void MidHandleImage(const std::shared_ptr<TImage>& image) {
    if (image) SetImageHandle(image, image->width / 2.0f, image->height / 2.0f);
}

}  // namespace media
