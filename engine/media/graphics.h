// The public display and drawing API: the window and its display modes, the
// draw state, images, pixmaps and fonts, and the drawing calls. Every call
// goes through the current drawing driver (the desktop's OpenGL one, or the
// recording driver of tests and headless programs). With no window open the
// drawing calls do nothing.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/media/image_font.h"
#include "engine/media/pixmap.h"

namespace media {

// Blend modes.
constexpr int MASKBLEND = 1;
constexpr int SOLIDBLEND = 2;
constexpr int ALPHABLEND = 3;
constexpr int LIGHTBLEND = 4;
constexpr int SHADEBLEND = 5;

// Image flags (bit set).
constexpr int MASKEDIMAGE = 1;
constexpr int FILTEREDIMAGE = 2;
constexpr int MIPMAPPEDIMAGE = 4;
constexpr int DYNAMICIMAGE = 8;
constexpr int DEFAULT_IMAGE_FLAGS = MASKEDIMAGE | FILTEREDIMAGE;

// One display mode.
struct TGraphicsMode {
    int width = 0;
    int height = 0;
    int depth = 0;  // bits per pixel
    int hertz = 0;
};

// A driver's copy of pixels (a texture); opaque outside the driver.
class TDriverTexture {
  public:
    virtual ~TDriverTexture() = default;
};

// Where one frame of an image sits in the image's texture (pixels).
struct TImageFrame {
    int atlas_x = 0;
    int atlas_y = 0;
};

// An image with one or more frames of equal size, all in one texture.
class TImage {
  public:
    int width = 0;   // one frame
    int height = 0;  // one frame
    int flags = 0;
    int mask_r = 0, mask_g = 0, mask_b = 0;
    float handle_x = 0, handle_y = 0;
    std::vector<std::shared_ptr<TPixmap>> pixmaps;  // one RGBA pixmap per frame
    std::vector<TImageFrame> frames;                // one placement per frame
    int atlas_w = 0, atlas_h = 0;                   // texture size holding every frame
    int version = 0;                                // bumped whenever pixels change
    std::shared_ptr<TDriverTexture> texture;        // the driver's upload

    // Returns frame n, or null when n is out of range.
    const TImageFrame* Frame(int n) const;
    // Replaces the pixels of frame n (masked when MASKEDIMAGE) and marks the image changed.
    // Note: the pixmap is converted to RGBA and cut or padded to the frame size.
    void SetPixmap(int n, const std::shared_ptr<TPixmap>& pixmap);
};

// The drawing context: everything a draw call reads. Setters only store here.
struct TDraw2DGraphics {
    int color_red = 255, color_green = 255, color_blue = 255;
    float color_alpha = 1;
    int clscolor_red = 0, clscolor_green = 0, clscolor_blue = 0;
    float line_width = 1;
    float tform_rot = 0, tform_scale_x = 1, tform_scale_y = 1;
    float tform_ix = 1, tform_iy = 0, tform_jx = 0, tform_jy = 1;
    float viewport_x = 0, viewport_y = 0, viewport_w = 0, viewport_h = 0;
    float origin_x = 0, origin_y = 0;
    float handle_x = 0, handle_y = 0;
    std::shared_ptr<TImageFont> image_font;  // null: the built-in font
    int blend_mode = MASKBLEND;
    float vres_width = 0, vres_height = 0;
    float vres_mousexscale = 1, vres_mouseyscale = 1;
    int g_width = 0, g_height = 0;
    int g_depth = 0, g_hertz = 0;

    // Returns the alpha as the byte drawing uses: clamped, times 255, truncated.
    int AlphaByte() const { return static_cast<int>(color_alpha * 255.0f); }
};

// The drawing driver: the seam under every public drawing call.
class TDraw2DDriver {
  public:
    virtual ~TDraw2DDriver() = default;
    // Returns the display modes the driver offers.
    virtual std::vector<TGraphicsMode> GraphicsModes() = 0;
    // Opens graphics of the size; depth 0 is a window. Returns false when the mode cannot be set.
    virtual bool CreateGraphics(int width, int height, int depth, int hertz, int flags,
                                const std::string& title) = 0;
    // Closes the graphics (nothing when none are open).
    virtual void CloseGraphics() = 0;
    // Returns true while graphics are open.
    virtual bool IsOpen() const = 0;
    // Presents the frame: sync 1 waits for the vertical blank, 0 does not.
    virtual void Flip(int sync) = 0;
    // Makes drawing coordinates logical pixels of a width × height screen.
    virtual void SetResolution(float width, float height) = 0;
    // Clears the frame to the clear colour of g.
    virtual void Cls(const TDraw2DGraphics& g) = 0;
    // Draws frame `frame` of an image (the frame exists) with its handle at x,y.
    virtual void DrawFrame(TImage& image, int frame, float x, float y,
                           const TDraw2DGraphics& g) = 0;
    // Draws a filled rectangle with top-left x,y, transformed about x,y.
    virtual void DrawRect(float x, float y, float w, float h, const TDraw2DGraphics& g) = 0;
    // Draws a line from x1,y1 to x2,y2, transformed about x1,y1.
    virtual void DrawLine(float x1, float y1, float x2, float y2, bool last_pixel,
                          const TDraw2DGraphics& g) = 0;
    // Draws one pixel at x,y.
    virtual void Plot(float x, float y, const TDraw2DGraphics& g) = 0;
    // Draws a filled oval in the box x,y,w,h, transformed about x,y.
    virtual void DrawOval(float x, float y, float w, float h, const TDraw2DGraphics& g) = 0;
    // Draws text in a font with its top-left at x,y, transformed about x,y.
    virtual void DrawText(TImageFont& font, const std::string& text, float x, float y,
                          const TDraw2DGraphics& g) = 0;
    // Reads window pixels x,y,w,h (top row first) into an RGBA pixmap; null on failure.
    virtual std::shared_ptr<TPixmap> GrabPixmap(int x, int y, int w, int h) = 0;
    // Shows or hides the pointer over the window.
    virtual void SetPointerVisible(bool /*visible*/) {}
    // Moves the pointer to window pixel x,y.
    virtual void WarpPointer(int /*x*/, int /*y*/) {}
    // Changes the window title.
    virtual void SetTitle(const std::string& /*title*/) {}
};

// Returns the driver the program draws with by default: the desktop's OpenGL
// driver once InstallDesktopMedia (desktop/desktop.h) ran, else a new recording driver.
std::shared_ptr<TDraw2DDriver> DefaultGraphicsDriver();

// --- Graphics and display ------------------------------------------------

// Sets the title of windows opened from now on (and of the open one).
void SetAppTitle(const std::string& title);
// Returns the application title.
const std::string& AppTitle();
// Selects the drawing driver; default_flags are OR-ed into every OpenGraphics.
// Note: an open window of the previous driver is closed first.
void SetGraphicsDriver(std::shared_ptr<TDraw2DDriver> driver, int default_flags = 2);
// Returns the drawing driver in use (the default one until another is set).
TDraw2DDriver& CurrentDriver();
// Returns the number of display modes.
int CountGraphicsModes();
// Reads display mode `index` (0-based); false and zeros when out of range.
bool GetGraphicsMode(int index, int& width, int& height, int& depth, int& hertz);
// Returns true when a listed mode matches; a zero argument matches any value.
bool GraphicsModeExists(int width, int height, int depth = 0, int hertz = 0);
// Closes any open window and opens a new one (depth 0: a window; 16/24/32: full screen).
// Returns the drawing context, or null when the mode cannot be set.
std::shared_ptr<TDraw2DGraphics> OpenGraphics(int width, int height, int depth = 0, int hertz = 60,
                                              int flags = 0);
// Closes the window (nothing when none is open).
void CloseGraphics();
// Returns true while a window is open.
bool GraphicsOpen();
// Returns the drawing context (state survives between windows).
TDraw2DGraphics& DrawState();
// Presents the frame: 0 at once, 1 on the vertical blank, -1 paced to the window's hertz.
void Flip(int sync = -1);
// Clears the frame to the clear colour.
void Cls();
// Sets the clear colour.
void SetClsColor(int r, int g, int b);
// Makes all drawing coordinates logical pixels of a width × height screen.
void SetVirtualResolution(float width, float height);
// Returns the logical screen width (the window width until set).
float VirtualResolutionWidth();
// Returns the logical screen height.
float VirtualResolutionHeight();
// Returns the pointer x in logical pixels.
float VirtualMouseX();
// Returns the pointer y in logical pixels.
float VirtualMouseY();
// Moves the pointer to a logical position.
void MoveVirtualMouse(float x, float y);
// Shows the pointer over the window.
void ShowMouse();
// Hides the pointer over the window.
// Note: it stays hidden over every window opened later, until ShowMouse.
void HideMouse();

// --- Draw state ----------------------------------------------------------

// Sets the drawing colour (components 0..255).
void SetColor(int r, int g, int b);
// Reads the drawing colour.
void GetColor(int& r, int& g, int& b);
// Sets the alpha, clamped to 0..1.
void SetAlpha(float alpha);
// Returns the stored alpha.
float GetAlpha();
// Sets the blend mode (unknown values behave as SOLIDBLEND).
void SetBlend(int mode);
// Returns the blend mode.
int GetBlend();
// Sets the rotation in degrees (positive turns clockwise on screen).
void SetRotation(float degrees);
// Returns the rotation in degrees.
float GetRotation();
// Sets the scale.
void SetScale(float sx, float sy);
// Reads the scale.
void GetScale(float& sx, float& sy);
// Sets the handle used by rectangles, ovals and text (images use their own).
void SetHandle(float x, float y);
// Sets the line width in pixels.
void SetLineWidth(float width);
// Selects the font for text; null selects the built-in font.
void SetImageFont(std::shared_ptr<TImageFont> font);
// Returns the selected font (the built-in one when none is selected).
std::shared_ptr<TImageFont> GetImageFont();
// Turns on or off centred handles for images loaded from now on.
void AutoMidHandle(bool on);

// --- Drawing -------------------------------------------------------------

// Draws frame `frame` of an image with its handle on x,y; a null image or bad frame draws nothing.
void DrawImage(const std::shared_ptr<TImage>& image, float x, float y, int frame = 0);
// Draws a filled rectangle with top-left x,y.
void DrawRect(float x, float y, float w, float h);
// Draws a line.
void DrawLine(float x1, float y1, float x2, float y2, bool last_pixel = true);
// Draws one pixel.
void Plot(float x, float y);
// Draws a filled oval inside the box x,y,w,h.
void DrawOval(float x, float y, float w, float h);
// Draws text with its top-left at x,y in the current font.
void DrawText(const std::string& text, float x, float y);
// Returns the width of text in the current font (running sum truncated per glyph).
int TextWidth(const std::string& text);
// Returns the height of the current font.
int TextHeight();
// Reads window pixels x,y,w,h of the frame being drawn into an RGBA pixmap (null without a window).
std::shared_ptr<TPixmap> GrabPixmap(int x, int y, int w, int h);
// Reads a frame-sized rectangle at window pixel x,y into frame `frame` of the image.
void GrabImage(const std::shared_ptr<TImage>& image, int x, int y, int frame = 0);

// --- Images --------------------------------------------------------------

// Loads a one-frame image from a PNG file (flags -1: masked and filtered); null on failure.
std::shared_ptr<TImage> LoadImage(const std::string& path, int flags = -1);
// Loads an image cut into cells (left to right, then top to bottom); null on failure.
std::shared_ptr<TImage> LoadAnimImage(const std::string& path, int cell_width, int cell_height,
                                      int first_cell, int cell_count, int flags = -1);
// Makes an image of one or more frames from pixmaps (all frames take the first's size).
std::shared_ptr<TImage> LoadImageFromPixmaps(const std::vector<std::shared_ptr<TPixmap>>& frames,
                                             int flags = -1);
// Makes an empty (transparent) image; DYNAMICIMAGE is added to the flags.
std::shared_ptr<TImage> CreateImage(int width, int height, int frames = 1, int flags = -1);
// Returns the frame width of an image (0 for null).
int ImageWidth(const std::shared_ptr<TImage>& image);
// Returns the frame height of an image (0 for null).
int ImageHeight(const std::shared_ptr<TImage>& image);
// Sets an image's handle.
void SetImageHandle(const std::shared_ptr<TImage>& image, float x, float y);
// Centres an image's handle.
void MidHandleImage(const std::shared_ptr<TImage>& image);

}  // namespace media
