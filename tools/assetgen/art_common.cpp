// The shared images: the 64 interface icons, the series logo and the site logo.
// Icons are drawn light so the caller's colour tints them.
#include <cmath>
#include <functional>

#include "tools/assetgen/assetgen.h"

namespace assetgen {

using Sdf = std::function<float(float, float)>;

static constexpr int kIcon = 16;

// Paints one 16 x 16 icon frame of the sheet with the interface's crisp neon style.
static void Icon(Canvas& sheet, int frame, const Sdf& sdf, float fill = 0.8f) {
    NeonStyle s;
    s.body = {fill, fill, fill};
    s.edge = {0.92f, 0.92f, 0.92f};
    s.shade_depth = 2;
    s.rim = {1, 1, 1};
    s.rim_width = 0.6f;
    s.glow_radius = 0.9f;
    s.glow_strength = 0.35f;
    PaintNeon(sheet, (frame % 8) * kIcon, (frame / 8) * kIcon, kIcon, kIcon, sdf, s);
}

// Paints a dim translucent backing (an inside that is meant to be seen through a little).
static void Backing(Canvas& sheet, int frame, const Sdf& sdf, float level, float alpha) {
    PaintFlat(sheet, (frame % 8) * kIcon, (frame / 8) * kIcon, kIcon, kIcon, sdf,
              {level, level, level + 0.03f}, alpha);
}

static float Ring(float d, float half) {
    return std::fabs(d) - half;
}

static Sdf Speaker() {
    return [](float x, float y) {
        return SdPolygon(x, y, {2, 6, 4.5f, 6, 8, 3, 8, 13, 4.5f, 10, 2, 10});
    };
}

// Returns a speaker with n sound arcs to its right.
static Sdf SpeakerWaves(int n) {
    Sdf sp = Speaker();
    return [sp, n](float x, float y) {
        float d = sp(x, y);
        for (int i = 0; i < n; ++i) {
            float r = 3.0f + 2.5f * i;
            float arc = Ring(SdCircle(x, y, 8, 8, r), 0.6f);
            arc = std::max(arc, 8.8f - x);  // right half only
            d = std::min(d, arc);
        }
        return d;
    };
}

static Canvas MakeIcons() {
    Canvas c(8 * kIcon, 8 * kIcon);
    // 0: the engine test's sprite, a four-pointed sparkle.
    Icon(c, 0, [](float x, float y) {
        return SdPolygon(
            x, y, {8, 1, 9.3f, 6.7f, 15, 8, 9.3f, 9.3f, 8, 15, 6.7f, 9.3f, 1, 8, 6.7f, 6.7f});
    });
    // 1: tick, 2: cross.
    Icon(c, 1, [](float x, float y) {
        return std::min(SdSegment(x, y, 3, 8.5f, 6.5f, 12), SdSegment(x, y, 6.5f, 12, 13, 4)) -
               1.2f;
    });
    Icon(c, 2, [](float x, float y) {
        return std::min(SdSegment(x, y, 4, 4, 12, 12), SdSegment(x, y, 12, 4, 4, 12)) - 1.2f;
    });
    // 3: a key cap; its label is drawn over the middle, so the face is a dim backing.
    Backing(
        c, 3, [](float x, float y) { return SdBox(x, y, 8, 7.5f, 5.8f, 5.3f, 2); }, 0.18f, 0.55f);
    Icon(c, 3, [](float x, float y) {
        float outer = Ring(SdBox(x, y, 8, 8, 6.8f, 6.8f, 2.5f), 0.55f);
        float lip = SdSegment(x, y, 3.5f, 14.2f, 12.5f, 14.2f) - 0.7f;
        return std::min(outer, lip);
    });
    // 4: heart, 5: star, 6: diamond.
    Icon(c, 4, [](float x, float y) {
        float l = SdCircle(x, y, 5.5f, 6, 3.2f), r = SdCircle(x, y, 10.5f, 6, 3.2f);
        float v = SdPolygon(x, y, {2.5f, 7.2f, 13.5f, 7.2f, 8, 14});
        return std::min(std::min(l, r), v);
    });
    Icon(c, 5, [](float x, float y) {
        std::vector<float> p;
        for (int i = 0; i < 10; ++i) {
            float a = -kPi / 2 + i * kPi / 5, r = (i % 2) ? 3.0f : 7.0f;
            p.push_back(8 + r * std::cos(a));
            p.push_back(8.5f + r * std::sin(a));
        }
        return SdPolygon(x, y, p);
    });
    Icon(c, 6, [](float x, float y) { return SdPolygon(x, y, {8, 1.5f, 14, 8, 8, 14.5f, 2, 8}); });
    // 7: the graph dot, a small bright bead centred in the cell.
    Icon(
        c, 7, [](float x, float y) { return SdCircle(x, y, 8, 8, 3.3f); }, 1.0f);
    // 8: a joystick hat (direction pad); labels go at its top-left.
    Backing(
        c, 8, [](float x, float y) { return SdCircle(x, y, 8, 8, 7.2f); }, 0.16f, 0.5f);
    Icon(c, 8, [](float x, float y) {
        float h = SdBox(x, y, 8, 8, 6.5f, 2.2f, 0.8f), v = SdBox(x, y, 8, 8, 2.2f, 6.5f, 0.8f);
        return std::max(std::min(h, v), -SdCircle(x, y, 8, 8, 1.1f));
    });
    // 9: an axis: a stick on its base.
    Backing(
        c, 9, [](float x, float y) { return SdCircle(x, y, 8, 8, 7.2f); }, 0.16f, 0.5f);
    Icon(c, 9, [](float x, float y) {
        float base = Ring(SdBox(x, y, 8, 12.5f, 6, 2, 1.5f), 0.5f);
        float stick = SdSegment(x, y, 8, 11, 10, 5) - 0.9f;
        float knob = SdCircle(x, y, 10.3f, 4.3f, 2.6f);
        return std::min(base, std::min(stick, knob));
    });
    // 10: a button seen from above.
    Backing(
        c, 10, [](float x, float y) { return SdCircle(x, y, 8, 8, 6.6f); }, 0.16f, 0.5f);
    Icon(c, 10, [](float x, float y) {
        return std::min(Ring(SdCircle(x, y, 8, 8, 6.6f), 0.55f), SdCircle(x, y, 8, 8, 3.6f));
    });
    // 11, 12: resolution in 4:3 and wide screen.
    for (int f = 11; f <= 12; ++f) {
        float hw = f == 11 ? 5.5f : 7.0f, hh = f == 11 ? 4.5f : 3.6f, cy = 7;
        Backing(
            c, f, [=](float x, float y) { return SdBox(x, y, 8, cy, hw, hh, 0.5f); }, 0.2f, 0.5f);
        Icon(c, f, [=](float x, float y) {
            float screen = Ring(SdBox(x, y, 8, cy, hw, hh, 1), 0.55f);
            float stand = std::min(SdSegment(x, y, 8, cy + hh, 8, 13.5f) - 0.6f,
                                   SdSegment(x, y, 5, 14, 11, 14) - 0.6f);
            return std::min(screen, stand);
        });
    }
    // 13: windowed (a small window with a title bar), 14: full screen (corners pushed out).
    Backing(
        c, 13, [](float x, float y) { return SdBox(x, y, 8, 8.5f, 5.5f, 4.5f, 0.5f); }, 0.2f,
        0.45f);
    Icon(c, 13, [](float x, float y) {
        float frame = Ring(SdBox(x, y, 8, 8, 6.3f, 5.5f, 1), 0.55f);
        float bar = SdBox(x, y, 8, 4, 6, 1.2f, 0.3f);
        return std::min(frame, bar);
    });
    Icon(c, 14, [](float x, float y) {
        float d = 1e9f;
        for (int sx = -1; sx <= 1; sx += 2) {
            for (int sy = -1; sy <= 1; sy += 2) {
                float cx = 8 + sx * 6.5f, cy = 8 + sy * 6.5f;
                d = std::min(d, SdSegment(x, y, cx, cy, cx - sx * 4, cy) - 0.8f);
                d = std::min(d, SdSegment(x, y, cx, cy, cx, cy - sy * 4) - 0.8f);
                d = std::min(d, SdSegment(x, y, cx, cy, cx - sx * 3, cy - sy * 3) - 0.6f);
            }
        }
        return d;
    });
    // 15: gear, 16: play, 17: pause.
    Icon(c, 15, [](float x, float y) {
        float a = std::atan2(y - 8, x - 8), r = std::hypot(x - 8, y - 8);
        float teeth = 5.2f + 1.5f * Clamp01(std::cos(a * 8) * 3);
        return std::max(r - teeth, -(r - 2.2f));
    });
    Icon(c, 16, [](float x, float y) { return SdPolygon(x, y, {4, 2.5f, 13.5f, 8, 4, 13.5f}); });
    Icon(c, 17, [](float x, float y) {
        return std::min(SdBox(x, y, 5, 8, 1.8f, 5.5f, 0.5f), SdBox(x, y, 11, 8, 1.8f, 5.5f, 0.5f));
    });
    // 18, 19: every frame drawn (a full film strip) and frame skipping (every other frame out).
    for (int f = 18; f <= 19; ++f) {
        bool skip = f == 19;
        Backing(
            c, f, [](float x, float y) { return SdBox(x, y, 8, 8, 7, 5, 0.5f); }, 0.18f, 0.45f);
        Icon(c, f, [skip](float x, float y) {
            float strip = Ring(SdBox(x, y, 8, 8, 7, 5.5f, 1), 0.5f);
            float d = strip;
            for (int i = 0; i < 3; ++i) {
                float cx = 3.8f + i * 4.2f;
                float cell = SdBox(x, y, cx, 8, 1.5f, 2.2f, 0.4f);
                if (skip && i == 1) cell = Ring(cell, 0.35f);
                d = std::min(d, cell);
                d = std::min(d, SdBox(x, y, cx, 3.9f, 0.6f, 0.45f, 0));
                d = std::min(d, SdBox(x, y, cx, 12.1f, 0.6f, 0.45f, 0));
            }
            return d;
        });
    }
    // 20: a music note.
    Icon(c, 20, [](float x, float y) {
        float head = SdCircle(x, y, 5.5f, 12, 2.4f);
        float stem = SdSegment(x, y, 7.5f, 12, 7.5f, 2.5f) - 0.7f;
        float flag = SdSegment(x, y, 7.5f, 2.5f, 12, 5.5f) - 0.8f;
        return std::min(head, std::min(stem, flag));
    });
    // 21, 22: the two halves of a slider track, open where they meet.
    Icon(c, 21, [](float x, float y) {
        float bar = SdBox(x, y, 11.5f, 8, 10.5f, 2.3f, 2.3f);
        return std::max(bar, -SdBox(x, y, 11.5f, 8, 10, 0.6f, 0.3f));
    });
    Icon(c, 22, [](float x, float y) {
        float bar = SdBox(x, y, 4.5f, 8, 10.5f, 2.3f, 2.3f);
        return std::max(bar, -SdBox(x, y, 4.5f, 8, 10, 0.6f, 0.3f));
    });
    // The track's inner groove is a dim line, not a hole.
    Backing(
        c, 21, [](float x, float y) { return SdBox(x, y, 11.5f, 8, 10, 0.8f, 0.3f); }, 0.3f, 0.7f);
    Backing(
        c, 22, [](float x, float y) { return SdBox(x, y, 4.5f, 8, 10, 0.8f, 0.3f); }, 0.3f, 0.7f);
    // 23: the slider knob, a grip standing across the track.
    Icon(
        c, 23,
        [](float x, float y) {
            float body = SdBox(x, y, 8, 8, 3.6f, 6.8f, 2.2f);
            return std::max(body, -SdBox(x, y, 8, 8, 1.6f, 0.35f, 0));
        },
        0.9f);
    // 24 and up: audio drivers: silent, mixer, mixer on the sound device, and library drivers.
    Icon(c, 24, [](float x, float y) {
        float sp = Speaker()(x, y);
        float cross = std::min(SdSegment(x, y, 10, 5.5f, 14.5f, 10.5f),
                               SdSegment(x, y, 14.5f, 5.5f, 10, 10.5f));
        return std::min(sp, cross - 0.75f);
    });
    Icon(c, 25, SpeakerWaves(1));
    Icon(c, 26, SpeakerWaves(2));
    Icon(c, 27, SpeakerWaves(3));
    Icon(c, 28, [](float x, float y) {  // headphones
        float band = std::max(Ring(SdCircle(x, y, 8, 9, 5.8f), 0.8f), y - 9.5f);
        float l = SdBox(x, y, 2.8f, 11.5f, 1.6f, 3, 1), r = SdBox(x, y, 13.2f, 11.5f, 1.6f, 3, 1);
        return std::min(band, std::min(l, r));
    });
    Icon(c, 29, [](float x, float y) {  // a chip with a wave on it
        float body = Ring(SdBox(x, y, 8, 8, 5, 5, 1), 0.55f);
        float pins = 1e9f;
        for (int i = 0; i < 3; ++i) {
            float p = 5 + i * 3.0f;
            pins = std::min(
                pins, std::min(SdSegment(x, y, p, 0.8f, p, 3), SdSegment(x, y, p, 13, p, 15.2f)));
            pins = std::min(
                pins, std::min(SdSegment(x, y, 0.8f, p, 3, p), SdSegment(x, y, 13, p, 15.2f, p)));
        }
        float wave = std::fabs(y - 8 - 1.8f * std::sin((x - 5) * 1.1f)) - 0.6f;
        wave = std::max(wave, std::fabs(x - 8) - 3);
        return std::min(body, std::min(pins - 0.5f, wave));
    });
    Backing(
        c, 29, [](float x, float y) { return SdBox(x, y, 8, 8, 4.5f, 4.5f, 0.5f); }, 0.18f, 0.5f);
    // 30..37: arrows in eight directions.
    for (int i = 0; i < 8; ++i) {
        float a = -kPi / 2 + i * kPi / 4, ca = std::cos(a), sa = std::sin(a);
        Icon(c, 30 + i, [ca, sa](float x, float y) {
            float u = (x - 8) * ca + (y - 8) * sa, v = -(x - 8) * sa + (y - 8) * ca;
            float head = SdPolygon(u, v, {6.5f, 0, 1, -5, 1, 5});
            float shaft = SdBox(u, v, -2, 0, 4.5f, 1.4f, 0.4f);
            return std::min(head, shaft);
        });
    }
    // 63: the mouse pointer, its tip on the cell's top-left corner.
    Canvas pointer(kIcon, kIcon);
    std::vector<float> arrow{0.6f,  0.6f, 0.6f,  13.5f, 3.9f, 10.4f, 6.3f,
                             15.2f, 8.6f, 14.1f, 6.2f,  9.4f, 10.8f, 9.4f};
    NeonStyle ps;
    ps.body = {0.96f, 0.98f, 1.0f};
    ps.edge = {0.96f, 0.98f, 1.0f};
    ps.rim = {0.25f, 0.3f, 0.38f};  // a dark (never black) outline keeps it readable on white
    ps.rim_width = 0.7f;
    ps.glow = {0.6f, 0.9f, 1.0f};
    ps.glow_radius = 0.8f;
    ps.glow_strength = 0.4f;
    PaintNeon(
        c, 7 * kIcon, 7 * kIcon, kIcon, kIcon,
        [&](float x, float y) { return SdPolygon(x, y, arrow); }, ps);
    return c;
}

// Paints neon lettering: a coloured glow, the tube, and a white-hot core.
static void NeonText(Canvas& c, const std::string& text, float x, float y, float size, float thick,
                     float spacing, Rgb colour) {
    NeonStyle s;
    s.body = MixRgb(colour, {1, 1, 1}, 0.75f);
    s.edge = colour;
    s.shade_depth = thick * 0.9f;
    s.rim = colour;
    s.rim_width = 0.6f;
    s.glow = colour;
    s.glow_radius = thick * 1.6f;
    s.glow_strength = 0.75f;
    PaintNeon(
        c, 0, 0, c.Width(), c.Height(),
        [&](float px, float py) { return SdStrokeText(text, px, py, x, y, size, thick, spacing); },
        s);
}

// The series logo: the series name in neon over a rounded plate.
static Canvas MakeSeriesLogo() {
    Canvas c(320, 128);
    NeonStyle plate;
    plate.body = {0.08f, 0.06f, 0.16f};
    plate.edge = {0.14f, 0.1f, 0.28f};
    plate.shade_depth = 16;
    plate.rim = {0.55f, 0.35f, 1.0f};
    plate.rim_width = 1.2f;
    plate.glow = {0.5f, 0.3f, 1.0f};
    plate.glow_radius = 4;
    plate.glow_strength = 0.6f;
    PaintNeon(
        c, 0, 0, 320, 128, [](float x, float y) { return SdBox(x, y, 160, 64, 148, 50, 18); },
        plate);
    std::string name = "VANTRELLE";
    float w = StrokeTextWidth(name, 32, 6);
    NeonText(c, name, 160 - w / 2, 34, 32, 2.0f, 6, {1.0f, 0.35f, 0.85f});
    float w2 = StrokeTextWidth("WEEKLY", 14, 6);
    NeonText(c, "WEEKLY", 160 - w2 / 2, 84, 14, 1.1f, 6, {0.4f, 0.9f, 1.0f});
    return c;
}

// The site logo: its name on a tilted neon badge.
static Canvas MakeSiteLogo() {
    Canvas c(320, 128);
    NeonStyle ring;
    ring.body = {0.05f, 0.12f, 0.1f};
    ring.edge = {0.1f, 0.25f, 0.2f};
    ring.rim = {0.3f, 1.0f, 0.7f};
    ring.rim_width = 1.3f;
    ring.glow = {0.3f, 1.0f, 0.6f};
    ring.glow_radius = 4;
    ring.glow_strength = 0.6f;
    PaintNeon(
        c, 0, 0, 320, 128,
        [](float x, float y) {
            float pill = SdBox(x, y, 170, 64, 138, 36, 36);
            float disc = SdCircle(x, y, 52, 64, 46);
            return std::min(pill, disc);
        },
        ring);
    // A stylised C in the disc.
    NeonText(c, "C", 30, 36, 56, 4, 0, {1.0f, 0.85f, 0.3f});
    std::string name = "CODALOO";
    NeonText(c, name, 114, 49, 30, 2.0f, 6, {0.45f, 1.0f, 0.75f});
    return c;
}

std::vector<NamedImage> MakeCommonImages() {
    std::vector<NamedImage> out;
    out.push_back({"Common", "icons.png", MakeIcons(), kIcon, kIcon});
    out.push_back({"Common", "logo.png", MakeSeriesLogo(), 320, 128});
    out.push_back({"Common", "Codaloo.png", MakeSiteLogo(), 320, 128});
    return out;
}

}  // namespace assetgen
