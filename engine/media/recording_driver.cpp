// The recording drawing driver; see recording_driver.h.
#include "engine/media/recording_driver.h"

#include "engine/media/clock.h"

namespace media {

namespace {

DrawRecord Make(DrawKind kind, float x, float y, float w, float h, const TDraw2DGraphics& g) {
    DrawRecord r;
    r.kind = kind;
    r.x = x;
    r.y = y;
    r.w = w;
    r.h = h;
    r.state = g;
    return r;
}

}  // namespace

void TRecordingDriver::Clear() {
    records.clear();
    presents = 0;
    flip_syncs.clear();
    flip_times.clear();
}

std::vector<DrawRecord> TRecordingDriver::OfKind(DrawKind kind) const {
    std::vector<DrawRecord> out;
    for (const DrawRecord& r : records) {
        if (r.kind == kind) out.push_back(r);
    }
    return out;
}

bool TRecordingDriver::CreateGraphics(int w, int h, int d, int hz, int f, const std::string& t) {
    if (fail_open) return false;
    if (d != 0) {
        bool listed = false;
        for (const TGraphicsMode& m : modes) listed = listed || (m.width == w && m.height == h);
        if (!listed) return false;
    }
    open_ = true;
    ++opens;
    pointer_visible = true;  // a new window starts with the system pointer
    width = w;
    height = h;
    depth = d;
    hertz = hz;
    flags = f;
    title = t;
    res_width = static_cast<float>(w);
    res_height = static_cast<float>(h);
    return true;
}

void TRecordingDriver::Flip(int sync) {
    ++presents;
    flip_syncs.push_back(sync);
    flip_times.push_back(Millisecs());
}

void TRecordingDriver::SetResolution(float w, float h) {
    res_width = w;
    res_height = h;
}

void TRecordingDriver::Cls(const TDraw2DGraphics& g) {
    records.push_back(Make(DrawKind::Cls, 0, 0, 0, 0, g));
}

void TRecordingDriver::DrawFrame(TImage& image, int frame, float x, float y,
                                 const TDraw2DGraphics& g) {
    DrawRecord r = Make(DrawKind::Image, x, y, static_cast<float>(image.width),
                        static_cast<float>(image.height), g);
    r.image = &image;
    r.frame = frame;
    r.image_handle_x = image.handle_x;
    r.image_handle_y = image.handle_y;
    records.push_back(std::move(r));
}

void TRecordingDriver::DrawRect(float x, float y, float w, float h, const TDraw2DGraphics& g) {
    records.push_back(Make(DrawKind::Rect, x, y, w, h, g));
}

void TRecordingDriver::DrawLine(float x1, float y1, float x2, float y2, bool,
                                const TDraw2DGraphics& g) {
    records.push_back(Make(DrawKind::Line, x1, y1, x2, y2, g));
}

void TRecordingDriver::Plot(float x, float y, const TDraw2DGraphics& g) {
    records.push_back(Make(DrawKind::Plot, x, y, 0, 0, g));
}

void TRecordingDriver::DrawOval(float x, float y, float w, float h, const TDraw2DGraphics& g) {
    records.push_back(Make(DrawKind::Oval, x, y, w, h, g));
}

void TRecordingDriver::DrawText(TImageFont& font, const std::string& text, float x, float y,
                                const TDraw2DGraphics& g) {
    DrawRecord r = Make(DrawKind::Text, x, y, static_cast<float>(font.TextWidth(text)),
                        static_cast<float>(font.Height()), g);
    r.text = text;
    records.push_back(std::move(r));
}

std::shared_ptr<TPixmap> TRecordingDriver::GrabPixmap(int, int, int w, int h) {
    auto pm = CreatePixmap(w, h);
    if (!pm) return nullptr;
    for (size_t i = 3; i < pm->pixels.size(); i += 4) pm->pixels[i] = 255;
    return pm;
}

void TRecordingDriver::WarpPointer(int x, int y) {
    pointer_x = x;
    pointer_y = y;
}

std::shared_ptr<TRecordingDriver> UseRecordingDriver() {
    auto driver = std::make_shared<TRecordingDriver>();
    SetGraphicsDriver(driver, 2);
    return driver;
}

}  // namespace media
