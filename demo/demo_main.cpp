// A small demo of the media layer: opens a window, draws turning sprites in
// each of the five blend modes over a striped background, writes text in a
// TrueType font and plays a short chime. Escape or the close button ends it;
// "--frames N" ends it after N frames and "--shot file.png" saves the last one.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/media/audio.h"
#include "engine/media/desktop/desktop.h"
#include "engine/media/graphics.h"
#include "engine/media/input.h"
#include "engine/media/key_codes.h"
#include "engine/media/random.h"

namespace {

constexpr int kWidth = 800, kHeight = 600;
constexpr float kVirtualW = 1280, kVirtualH = 960;
constexpr const char* kFontFile = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";
constexpr double kPi = 3.14159265358979323846;

// A soft round sprite: white in the middle fading to transparent.
std::shared_ptr<media::TImage> MakeBall(int size) {
    auto pm = media::CreatePixmap(size, size);
    float r = size / 2.0f;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            float dx = x + 0.5f - r, dy = y + 0.5f - r;
            float d = std::sqrt(dx * dx + dy * dy) / r;
            int a = d >= 1 ? 0 : static_cast<int>((1 - d * d) * 255);
            int shade = 160 + static_cast<int>(95 * (1 - d > 0 ? 1 - d : 0));
            pm->WritePixel(
                x, y,
                uint32_t(a) << 24 | uint32_t(shade) << 16 | uint32_t(shade) << 8 | uint32_t(shade));
        }
    }
    return media::LoadImageFromPixmaps({pm}, media::FILTEREDIMAGE);
}

// A 440 Hz to 880 Hz chime of 0.6 s, made in memory.
std::shared_ptr<media::TSound> MakeChime() {
    media::SoundData data;
    data.channels = 1;
    data.rate = 22050;
    int frames = data.rate * 6 / 10;
    data.samples.resize(static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i) {
        double t = static_cast<double>(i) / data.rate;
        double f = i < frames / 2 ? 440.0 : 880.0;
        double env = std::exp(-4.0 * t);
        data.samples[i] = static_cast<int16_t>(12000 * env * std::sin(2 * kPi * f * t));
    }
    return std::make_shared<media::TSound>(std::move(data), 0);
}

void StartAudio() {
    if (media::AudioDriverExists("FreeMixer") && media::SetAudioDriver("FreeMixer")) return;
    if (media::EnableOpenALAudio() && media::SetAudioDriver("OpenAL")) return;
    media::SetAudioDriver("Null");
}

}  // namespace

int main(int argc, char** argv) {
    media::InstallDesktopMedia();
    int max_frames = -1;
    std::string shot;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--frames") == 0) max_frames = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--shot") == 0) shot = argv[i + 1];
    }
    media::SetAppTitle("Zarquill media demo");
    if (!media::OpenGraphics(kWidth, kHeight, 0, 60, 0)) {
        std::fprintf(stderr, "demo: cannot open a window (is DISPLAY set?)\n");
        return 1;
    }
    media::SetVirtualResolution(kVirtualW, kVirtualH);
    StartAudio();
    auto chime = MakeChime();
    auto channel = media::CueSound(chime, nullptr);
    channel->SetVolume(0.7);
    channel->SetPaused(false);
    std::printf("demo: audio driver %s\n", media::CurrentAudioDriver().c_str());

    media::AutoMidHandle(true);
    auto ball = MakeBall(64);
    auto font = media::LoadImageFont(kFontFile, 36);
    auto small = media::LoadImageFont(kFontFile, 20);
    const int modes[] = {media::MASKBLEND, media::SOLIDBLEND, media::ALPHABLEND, media::LIGHTBLEND,
                         media::SHADEBLEND};
    const char* names[] = {"MASK", "SOLID", "ALPHA", "LIGHT", "SHADE"};

    for (int frame = 0; max_frames < 0 || frame < max_frames; ++frame) {
        media::SetClsColor(20, 24, 40);
        media::Cls();
        // Background stripes, so the blend modes have something to mix with.
        media::SetBlend(media::SOLIDBLEND);
        media::SetRotation(0);
        media::SetScale(1, 1);
        media::SetAlpha(1);
        for (int i = 0; i < 12; ++i) {
            media::SetColor(40 + i * 15, 60, 140 - i * 8);
            media::DrawRect(0, i * 80.0f, kVirtualW, 40);
        }
        for (int m = 0; m < 5; ++m) {
            float cx = 160 + m * 240.0f;
            media::SetBlend(modes[m]);
            for (int k = 0; k < 6; ++k) {
                float a = static_cast<float>(frame * 2 + k * 60);
                double r = a * kPi / 180.0;
                media::SetRotation(a);
                media::SetScale(1.0f + 0.3f * k, 1.0f + 0.3f * k);
                media::SetColor(255, 120 + k * 20, 80 + k * 30);
                media::SetAlpha(0.7f);
                media::DrawImage(ball, cx + 60 * static_cast<float>(std::cos(r)),
                                 420 + 60 * static_cast<float>(std::sin(r)));
            }
            media::SetBlend(media::ALPHABLEND);
            media::SetRotation(0);
            media::SetScale(1, 1);
            media::SetAlpha(1);
            media::SetColor(255, 255, 255);
            media::SetImageFont(small);
            media::DrawText(names[m], cx - media::TextWidth(names[m]) / 2, 560);
        }
        media::SetImageFont(font);
        media::SetColor(255, 230, 120);
        std::string title = "Zarquill \xB7 blend modes \xB7 TrueType text";
        media::SetRotation(std::sin(frame / 30.0f) * 5);
        media::DrawText(title, kVirtualW / 2 - media::TextWidth(title) / 2, 120);
        media::SetRotation(0);
        media::SetImageFont(nullptr);
        media::SetColor(200, 200, 200);
        media::DrawText("Escape quits. Built-in font: \xA9 \xE9\xE8\xE0", 20, kVirtualH - 40);
        if (!shot.empty() && frame + 1 == max_frames) {
            media::SavePixmapPNG(media::GrabPixmap(0, 0, kWidth, kHeight), shot, 9);
        }
        media::Flip(-1);
        if (media::KeyDown(media::KEY_ESCAPE) || media::AppTerminate()) break;
    }
    media::CloseGraphics();
    return 0;
}
