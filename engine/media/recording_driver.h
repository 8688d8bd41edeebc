// A drawing driver that draws nothing and records every call instead, so
// tests can check what was drawn, in order and with the full draw state,
// without any X display. Text stays measurable (fonts work without a window).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/media/graphics.h"

namespace media {

// What a recorded draw call was.
enum class DrawKind { Image, Rect, Line, Plot, Oval, Text, Cls };

// One recorded draw call.
struct DrawRecord {
    DrawKind kind = DrawKind::Rect;
    const TImage* image = nullptr;  // DrawImage only
    int frame = 0;
    float x = 0, y = 0;                            // position given to the call
    float w = 0, h = 0;                            // size (rect, oval) or second point (line)
    std::string text;                              // DrawText only
    float image_handle_x = 0, image_handle_y = 0;  // DrawImage only
    TDraw2DGraphics state;                         // the whole draw state at the call
};

// The recording driver.
class TRecordingDriver : public TDraw2DDriver {
  public:
    // Every draw call since the last Clear, in call order.
    std::vector<DrawRecord> records;
    // Presents since the last Clear, with their sync values and times (Millisecs).
    int presents = 0;
    std::vector<int> flip_syncs;
    std::vector<int> flip_times;
    // The modes GraphicsModes reports; tests may replace them.
    std::vector<TGraphicsMode> modes{{640, 480, 32, 60},   {800, 600, 32, 60},
                                     {1024, 768, 32, 60},  {1280, 960, 32, 60},
                                     {1280, 1024, 32, 60}, {1920, 1080, 32, 60}};
    // When true, CreateGraphics fails (as when the display cannot be opened).
    bool fail_open = false;
    // Number of windows opened so far, and the arguments of the last one.
    int opens = 0;
    int width = 0, height = 0, depth = 0, hertz = 0, flags = 0;
    std::string title;
    float res_width = 0, res_height = 0;
    bool pointer_visible = true;
    int pointer_x = 0, pointer_y = 0;

    // Forgets the recorded draws and presents.
    void Clear();
    // Returns the records of one kind, in order.
    std::vector<DrawRecord> OfKind(DrawKind kind) const;

    std::vector<TGraphicsMode> GraphicsModes() override { return modes; }
    bool CreateGraphics(int width, int height, int depth, int hertz, int flags,
                        const std::string& title) override;
    void CloseGraphics() override { open_ = false; }
    bool IsOpen() const override { return open_; }
    void Flip(int sync) override;
    void SetResolution(float width, float height) override;
    void Cls(const TDraw2DGraphics& g) override;
    void DrawFrame(TImage& image, int frame, float x, float y, const TDraw2DGraphics& g) override;
    void DrawRect(float x, float y, float w, float h, const TDraw2DGraphics& g) override;
    void DrawLine(float x1, float y1, float x2, float y2, bool last_pixel,
                  const TDraw2DGraphics& g) override;
    void Plot(float x, float y, const TDraw2DGraphics& g) override;
    void DrawOval(float x, float y, float w, float h, const TDraw2DGraphics& g) override;
    void DrawText(TImageFont& font, const std::string& text, float x, float y,
                  const TDraw2DGraphics& g) override;
    // Returns a black opaque pixmap of the size (there are no real pixels).
    std::shared_ptr<TPixmap> GrabPixmap(int x, int y, int w, int h) override;
    void SetPointerVisible(bool visible) override { pointer_visible = visible; }
    void WarpPointer(int x, int y) override;
    void SetTitle(const std::string& t) override { title = t; }

  private:
    bool open_ = false;
};

// Installs a fresh recording driver as the drawing driver and returns it.
// Note: then call OpenGraphics(width, height) to make drawing calls record.
std::shared_ptr<TRecordingDriver> UseRecordingDriver();

}  // namespace media
