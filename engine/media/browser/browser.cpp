// Installation of the browser part behind the core's seams, and its Web Audio
// driver. The page's script (webaudio.js) owns the audio nodes; a voice here is
// a number there. Sounds the core decoded (WAV) go over as samples on first
// play; Ogg Vorbis sounds stay encoded in the program (SoundData::encoded) and
// go over as bytes, which the page decodes (decodeAudioData) once sound is on.
#include "engine/media/browser/browser.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/media/audio_driver.h"
#include "engine/media/browser/webgl_driver.h"
#include "engine/media/platform_seam.h"

extern "C" {
// The script side (webaudio.js); see there.
int zqau_start();
void zqau_shutdown();
int zqau_voice_new();
void zqau_sound_samples(int sound, const int16_t* samples, int frames, int channels, int rate);
void zqau_sound_compressed(int sound, const char* bytes, int size);
void zqau_cue(int voice, int sound, int loop, double volume, double pan, double rate);
void zqau_stop(int voice);
void zqau_pause(int voice, int paused);
void zqau_apply(int voice, double volume, double pan, double rate);
int zqau_playing(int voice);
}

namespace media {

namespace {

constexpr const char* kDriverName = "WebAudio";

bool g_installed = false;

// Keeps Ogg Vorbis bytes for the page to decode.
bool KeepEncoded(std::string_view bytes, SoundData& out) {
    out = SoundData{};
    out.encoded.assign(bytes);
    return true;
}

// The page's sound numbers, a sound sent over (samples or encoded bytes) on first use.
class SoundNumbers {
  public:
    // Returns the page's number of a sound, sending it over on first use.
    int Of(const std::shared_ptr<const SoundData>& sound) {
        auto it = sent_.find(sound.get());
        if (it != sent_.end() && !it->second.sound.expired()) return it->second.number;
        const int number = next_++;
        sent_[sound.get()] = {sound, number};
        if (!sound->encoded.empty()) {
            zqau_sound_compressed(number, sound->encoded.data(),
                                  static_cast<int>(sound->encoded.size()));
        } else {
            zqau_sound_samples(number, sound->samples.data(), static_cast<int>(sound->Frames()),
                               sound->channels, sound->rate);
        }
        return number;
    }

  private:
    struct Sent {
        std::weak_ptr<const SoundData> sound;
        int number = 0;
    };
    std::map<const SoundData*, Sent> sent_;
    int next_ = 0;
};

class WebAudioVoice : public audio_detail::Voice {
  public:
    WebAudioVoice(int id, std::shared_ptr<bool> live, SoundNumbers& numbers)
        : id_(id), live_(std::move(live)), numbers_(numbers) {}
    void Cue(const std::shared_ptr<const SoundData>& sound, bool loop,
             const audio_detail::VoiceSettings& s) override {
        if (!*live_) return;
        zqau_cue(id_, numbers_.Of(sound), loop ? 1 : 0, s.volume, s.pan, s.rate);
    }
    void Stop() override {
        if (*live_) zqau_stop(id_);
    }
    void SetPaused(bool paused) override {
        if (*live_) zqau_pause(id_, paused ? 1 : 0);
    }
    void Apply(const audio_detail::VoiceSettings& s) override {
        if (*live_) zqau_apply(id_, s.volume, s.pan, s.rate);
    }
    bool Playing() override { return *live_ && zqau_playing(id_) != 0; }

  private:
    int id_;
    std::shared_ptr<bool> live_;
    SoundNumbers& numbers_;
};

class WebAudioDriver : public audio_detail::AudioDriver {
  public:
    ~WebAudioDriver() override { Shutdown(); }
    bool Start() override {
        *live_ = zqau_start() != 0;
        return *live_;
    }
    std::shared_ptr<audio_detail::Voice> NewVoice() override {
        return std::make_shared<WebAudioVoice>(*live_ ? zqau_voice_new() : 0, live_, numbers_);
    }
    void Shutdown() override {
        if (!*live_) return;
        *live_ = false;
        zqau_shutdown();
    }

  private:
    std::shared_ptr<bool> live_ = std::make_shared<bool>(false);
    SoundNumbers numbers_;
};

}  // namespace

void InstallBrowserMedia() {
    if (g_installed) return;
    g_installed = true;
    detail::PlatformHooks& hooks = detail::Platform();
    hooks.drawDriver = WebGLDraw2DDriver;
    hooks.decodeVorbis = KeepEncoded;
    audio_detail::AddAudioDriverSource(
        {[] { return std::vector<std::string>{kDriverName}; },
         [](const std::string&) -> std::unique_ptr<audio_detail::AudioDriver> {
             return std::make_unique<WebAudioDriver>();
         }});
}

}  // namespace media
