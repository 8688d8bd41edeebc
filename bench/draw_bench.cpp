// Drawing benchmark: the engine test's load (a 16x16 icon frame at scale 2,
// random rotation, black at alpha 0, alpha blend) drawn N times per frame
// through the public calls, then 1-pixel sprites, against a raw-GL baseline
// that sends the same quads prebuilt in one draw call. Prints the median
// milliseconds per frame and the ratio baseline / ours.
#include <GL/gl.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "engine/media/desktop/desktop.h"
#include "engine/media/desktop/gl_driver.h"
#include "engine/media/graphics.h"
#include "engine/media/random.h"
#include "tests/support/xvfb.h"

namespace {

constexpr int kLoads[] = {1000, 2000, 5000, 10000, 20000};
constexpr int kWarmFrames = 3;
constexpr int kFrames = 21;
constexpr float kVirtualW = 1280, kVirtualH = 960;
constexpr double kPi = 3.14159265358979323846;

struct Sprite {
    float x, y, angle;
};

struct Vertex {
    float x, y, u, v;
    uint32_t rgba;
};

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The engine test's random draws: angle, then y, then x from the program's generator.
std::vector<Sprite> MakeSprites(int n) {
    std::vector<Sprite> s(static_cast<size_t>(n));
    for (Sprite& p : s) {
        p.angle = static_cast<float>(media::RandomInt(360, 1));
        p.y = static_cast<float>(media::RandomInt(static_cast<int>(kVirtualH), 1));
        p.x = static_cast<float>(media::RandomInt(static_cast<int>(kVirtualW), 1));
    }
    return s;
}

// An icon sheet of 8 x 8 cells of 16 x 16 with a shape in every cell.
std::shared_ptr<media::TPixmap> IconSheet() {
    auto pm = media::CreatePixmap(128, 128);
    for (int y = 0; y < 128; ++y) {
        for (int x = 0; x < 128; ++x) {
            int cx = x % 16 - 8, cy = y % 16 - 8;
            bool in = cx * cx + cy * cy < 40;
            pm->WritePixel(x, y, in ? 0xFF000000u | uint32_t(x * 2) << 16 | uint32_t(y * 2) : 0);
        }
    }
    return pm;
}

double OursFrame(const std::shared_ptr<media::TImage>& img, const std::vector<Sprite>& sprites,
                 float scale) {
    auto start = Clock::now();
    media::Cls();
    media::SetBlend(media::ALPHABLEND);
    for (const Sprite& s : sprites) {
        media::SetRotation(s.angle);
        media::SetColor(0, 0, 0);
        media::SetAlpha(0);
        media::SetScale(scale, scale);
        media::DrawImage(img, s.x, s.y, 0);
    }
    media::Flip(0);
    media::GLFinish();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The same quads as the driver makes, built once.
std::vector<Vertex> Prebuild(const std::vector<Sprite>& sprites, float size, float scale, float u1,
                             float v1) {
    std::vector<Vertex> out;
    out.reserve(sprites.size() * 4);
    float h = size / 2;
    for (const Sprite& s : sprites) {
        double r = s.angle * kPi / 180.0;
        float ix = float(std::cos(r) * scale), iy = float(-std::sin(r) * scale);
        float jx = float(std::sin(r) * scale), jy = float(std::cos(r) * scale);
        float xs[4] = {-h, h, h, -h}, ys[4] = {-h, -h, h, h};
        float us[4] = {0, u1, u1, 0}, vs[4] = {0, 0, v1, v1};
        for (int k = 0; k < 4; ++k) {
            out.push_back(
                {s.x + xs[k] * ix + ys[k] * iy, s.y + xs[k] * jx + ys[k] * jy, us[k], vs[k], 0u});
        }
    }
    return out;
}

double BaselineFrame(GLuint tex, const std::vector<Vertex>& quads) {
    auto start = Clock::now();
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, tex);
    glEnable(GL_BLEND);
    glDisable(GL_ALPHA_TEST);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glVertexPointer(2, GL_FLOAT, sizeof(Vertex), &quads[0].x);
    glTexCoordPointer(2, GL_FLOAT, sizeof(Vertex), &quads[0].u);
    glColorPointer(4, GL_UNSIGNED_BYTE, sizeof(Vertex), &quads[0].rgba);
    glDrawArrays(GL_QUADS, 0, static_cast<GLsizei>(quads.size()));
    media::Flip(0);
    media::GLFinish();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

GLuint BaselineTexture(const media::TPixmap& pm, int w, int h) {
    GLuint tex = 0;
    glGenTextures(1, &tex);
    glBindTexture(GL_TEXTURE_2D, tex);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    auto cell = media::PixmapWindow(pm, 0, 0, w, h);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 cell->pixels.data());
    return tex;
}

}  // namespace

int main() {
    media::InstallDesktopMedia();
    std::unique_ptr<zqtest::XvfbServer> xvfb;
    if (!std::getenv("DISPLAY")) {
        xvfb = std::make_unique<zqtest::XvfbServer>();
        if (!xvfb->Ok()) {
            std::fprintf(stderr, "draw_bench: no display and Xvfb failed\n");
            return 1;
        }
    }
    media::SetAppTitle("Zarquill draw benchmark");
    if (!media::OpenGraphics(800, 600, 0, 0, 0)) {
        std::fprintf(stderr, "draw_bench: cannot open an 800x600 window\n");
        return 1;
    }
    media::SetVirtualResolution(kVirtualW, kVirtualH);
    media::AutoMidHandle(true);
    auto sheet = IconSheet();
    std::vector<std::shared_ptr<media::TPixmap>> cells;
    for (int i = 0; i < 64; ++i) {
        cells.push_back(media::PixmapWindow(*sheet, (i % 8) * 16, (i / 8) * 16, 16, 16));
    }
    auto icons = media::LoadImageFromPixmaps(cells, media::MASKEDIMAGE);
    auto dot_pm = media::CreatePixmap(1, 1);
    dot_pm->WritePixel(0, 0, 0xFFFFFFFFu);
    auto dot = media::LoadImageFromPixmaps({dot_pm}, 0);

    struct Row {
        int n;
        double ours, base;
    };
    std::vector<Row> sprite_rows, dot_rows;
    media::SeedRandom(12345);
    std::vector<std::vector<Sprite>> loads;
    for (int n : kLoads) loads.push_back(MakeSprites(n));

    // The driver draws the icon with a one-pixel border in its texture; the
    // baseline uses a texture of the bare cell (texture coordinates 0..1).
    GLuint icon_tex = BaselineTexture(*cells[0], 16, 16);
    GLuint dot_tex = BaselineTexture(*dot_pm, 1, 1);
    media::GLResetState();
    // Frames of ours and of the baseline alternate, so that both see the same
    // load from whatever else runs on the machine.
    for (size_t i = 0; i < loads.size(); ++i) {
        for (int pass = 0; pass < 2; ++pass) {
            const auto& img = pass == 0 ? icons : dot;
            float scale = pass == 0 ? 2.0f : 1.0f;
            auto quads =
                pass == 0 ? Prebuild(loads[i], 16, 2, 1, 1) : Prebuild(loads[i], 1, 1, 1, 1);
            std::vector<double> ours, base;
            for (int f = 0; f < kWarmFrames + kFrames; ++f) {
                double a = OursFrame(img, loads[i], scale);
                double b = BaselineFrame(pass == 0 ? icon_tex : dot_tex, quads);
                media::GLResetState();
                if (f >= kWarmFrames) {
                    ours.push_back(a);
                    base.push_back(b);
                }
            }
            (pass == 0 ? sprite_rows : dot_rows).push_back({kLoads[i], Median(ours), Median(base)});
        }
    }
    glDeleteTextures(1, &icon_tex);
    glDeleteTextures(1, &dot_tex);

    auto stats = media::GLStats();
    std::printf("Draw benchmark: 800x600 window, logical 1280x960, median of %d frames\n", kFrames);
    const char* titles[] = {"engine-test sprites (16x16 at scale 2, alpha 0, alpha blend)",
                            "1-pixel sprites"};
    const double targets[] = {0.9, 0.85};
    bool all_ok = true;
    for (int table = 0; table < 2; ++table) {
        const auto& rows = table == 0 ? sprite_rows : dot_rows;
        std::printf("\n%s\n%8s %12s %14s %8s\n", titles[table], "N", "ours ms", "baseline ms",
                    "ratio");
        for (const Row& r : rows) {
            double ratio = r.base / r.ours;
            bool ok = ratio >= targets[table];
            all_ok = all_ok && ok;
            std::printf("%8d %12.2f %14.2f %8.3f%s\n", r.n, r.ours, r.base, ratio,
                        ok ? "" : "  (below target)");
        }
        std::printf("target ratio >= %.2f\n", targets[table]);
    }
    std::printf("\nGL batches sent by the driver: %lld for %lld quads\n",
                static_cast<long long>(stats.batches), static_cast<long long>(stats.quads));
    media::CloseGraphics();
    return all_ok ? 0 : 2;
}
