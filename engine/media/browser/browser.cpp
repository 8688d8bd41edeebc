// Installation of the browser part behind the core's seams, and its Web Audio
// driver. The page's script (webaudio.js) owns the audio nodes; a voice here is
// a number there. Sounds the core decoded (WAV) go over as samples on first
// play; Ogg Vorbis sounds stay compressed in the program and the page decodes
// them (decodeAudioData) once sound is on. Such a sound is held in the core as
// a three-sample stand-in that names it (see MarkerSound).
#include "engine/media/browser/browser.h"

#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/media/audio_driver.h"
#include "engine/media/browser/webgl_driver.h"
#include "engine/media/desktop_seam.h"

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
// The stand-in of a compressed sound: one channel at this rate (no real sound has it), whose
// three samples are the two marks and the sound's number.
constexpr int kMarkerRate = 1;
constexpr int16_t kMarkA = 0x5a51;
constexpr int16_t kMarkB = 0x4f47;

bool g_installed = false;

// The compressed sounds kept, by number (from 0).
std::vector<std::string>& Compressed() {
    static std::vector<std::string> sounds;
    return sounds;
}

// Returns the number of the compressed sound a stand-in names, or -1 for real samples.
int MarkedSound(const SoundData& s) {
    if (s.channels != 1 || s.rate != kMarkerRate || s.samples.size() != 3 ||
        s.samples[0] != kMarkA || s.samples[1] != kMarkB) {
        return -1;
    }
    const int n = static_cast<uint16_t>(s.samples[2]);
    return n < static_cast<int>(Compressed().size()) ? n : -1;
}

// Keeps Ogg Vorbis bytes for the page to decode and hands back their stand-in.
bool KeepCompressed(std::string_view bytes, SoundData& out) {
    if (Compressed().size() >= 0x10000) return false;
    out = SoundData{};
    out.channels = 1;
    out.rate = kMarkerRate;
    out.samples = {kMarkA, kMarkB, static_cast<int16_t>(Compressed().size())};
    Compressed().emplace_back(bytes);
    return true;
}

// The page's sound numbers: compressed sound n is n, sounds with samples follow.
class SoundNumbers {
  public:
    // Returns the page's number of a sound, sending it over on first use.
    int Of(const std::shared_ptr<const SoundData>& sound) {
        const int marked = MarkedSound(*sound);
        if (marked >= 0) {
            if (sent_compressed_.insert(marked).second) {
                const std::string& bytes = Compressed()[static_cast<size_t>(marked)];
                zqau_sound_compressed(marked, bytes.data(), static_cast<int>(bytes.size()));
            }
            return marked;
        }
        auto it = samples_.find(sound.get());
        if (it != samples_.end() && !it->second.sound.expired()) return it->second.number;
        const int number = 0x10000 + next_++;
        samples_[sound.get()] = {sound, number};
        zqau_sound_samples(number, sound->samples.data(), static_cast<int>(sound->Frames()),
                           sound->channels, sound->rate);
        return number;
    }

  private:
    struct Sent {
        std::weak_ptr<const SoundData> sound;
        int number = 0;
    };
    std::map<const SoundData*, Sent> samples_;
    std::set<int> sent_compressed_;
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
    detail::DesktopHooks& hooks = detail::Desktop();
    hooks.drawDriver = WebGLDraw2DDriver;
    hooks.decodeVorbis = KeepCompressed;
    audio_detail::AddAudioDriverSource(
        {[] { return std::vector<std::string>{kDriverName}; },
         [](const std::string&) -> std::unique_ptr<audio_detail::AudioDriver> {
             return std::make_unique<WebAudioDriver>();
         }});
}

}  // namespace media
