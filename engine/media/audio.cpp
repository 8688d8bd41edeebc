// The public sound API: the driver list and the running driver, sounds and
// channels. All program-wide audio state lives in AudioState below.
#include "engine/media/audio.h"

#include <cmath>

#include <utility>

#include "engine/media/audio_driver.h"
#include "engine/media/text.h"

namespace media {

// Constants ------------------------------------------------------------------

constexpr const char* kNullName = "Null";
constexpr double kMinRate = 1.0 / 64.0;
constexpr double kMaxRate = 64.0;

// State --------------------------------------------------------------------------

namespace {

struct AudioState {
    std::unique_ptr<audio_detail::AudioDriver> driver = audio_detail::MakeNullDriver();
    std::string driver_name = kNullName;
    // Changes with every driver change; a channel's voice from an older
    // generation belongs to a driver that is gone.
    uint64_t generation = 1;
    // The sources of the other drivers, with their numbers, in order.
    std::vector<std::pair<int, audio_detail::AudioDriverSource>> sources;
    int next_source = 1;

    // Stops the running driver (and joins the mixer thread) at process exit.
    ~AudioState() {
        if (driver) driver->Shutdown();
    }
};

AudioState& State() {
    static AudioState state;
    return state;
}

// Internal helpers -----------------------------------------------------------

double Clamp(double v, double lo, double hi, double fallback) {
    if (std::isnan(v)) return fallback;
    return v < lo ? lo : (v > hi ? hi : v);
}

// Returns the driver of a listed name: "Null", else the first source offering it.
std::unique_ptr<audio_detail::AudioDriver> MakeDriver(const std::string& name) {
    if (name == kNullName) return audio_detail::MakeNullDriver();
    for (const auto& [id, source] : State().sources) {
        for (const std::string& offered : source.names()) {
            if (offered == name) return source.make(name);
        }
    }
    return nullptr;
}

}  // namespace

namespace audio_detail {

VoiceSettings ClampSettings(const VoiceSettings& s) {
    return VoiceSettings{Clamp(s.volume, 0.0, 1.0, 1.0), Clamp(s.pan, -1.0, 1.0, 0.0),
                         Clamp(s.rate, kMinRate, kMaxRate, 1.0)};
}

int AddAudioDriverSource(AudioDriverSource source) {
    AudioState& state = State();
    state.sources.emplace_back(state.next_source, std::move(source));
    return state.next_source++;
}

void RemoveAudioDriverSource(int id) {
    auto& sources = State().sources;
    for (auto it = sources.begin(); it != sources.end(); ++it) {
        if (it->first == id) {
            sources.erase(it);
            return;
        }
    }
}

}  // namespace audio_detail

// Public functions -------------------------------------------------------------

TSound::TSound(SoundData data, int flags)
    : data_(std::make_shared<const SoundData>(std::move(data))), loop_((flags & SOUND_LOOP) != 0) {}

std::shared_ptr<TChannel> TSound::Play(std::shared_ptr<TChannel> channel) {
    channel = Cue(std::move(channel));
    channel->SetPaused(false);
    return channel;
}

std::shared_ptr<TChannel> TSound::Cue(std::shared_ptr<TChannel> channel) {
    if (!channel) channel = AllocChannel();
    channel->Attach(data_, loop_);
    return channel;
}

void TChannel::Attach(const std::shared_ptr<const SoundData>& sound, bool loop) {
    AudioState& state = State();
    if (!voice_ || generation_ != state.generation) {
        voice_ = state.driver->NewVoice();
        generation_ = state.generation;
    }
    if (!sound->Audible()) {
        voice_->Stop();  // nothing to hear: the channel is idle
        return;
    }
    voice_->Cue(sound, loop, audio_detail::ClampSettings({volume_, pan_, rate_}));
}

audio_detail::Voice* TChannel::LiveVoice() {
    return voice_ && generation_ == State().generation ? voice_.get() : nullptr;
}

void TChannel::ApplySettings() {
    if (auto* v = LiveVoice()) v->Apply(audio_detail::ClampSettings({volume_, pan_, rate_}));
}

void TChannel::Stop() {
    if (auto* v = LiveVoice()) v->Stop();
}

void TChannel::SetPaused(bool paused) {
    if (auto* v = LiveVoice()) v->SetPaused(paused);
}

void TChannel::SetVolume(double volume) {
    volume_ = audio_detail::ClampSettings({volume, 0.0, 1.0}).volume;
    ApplySettings();
}

void TChannel::SetPan(double pan) {
    pan_ = audio_detail::ClampSettings({1.0, pan, 1.0}).pan;
    ApplySettings();
}

void TChannel::SetDepth(double depth) {
    if (!std::isnan(depth)) depth_ = depth;
}

void TChannel::SetRate(double rate) {
    rate_ = audio_detail::ClampSettings({1.0, 0.0, rate}).rate;
    ApplySettings();
}

int TChannel::Playing() {
    auto* v = LiveVoice();
    return v != nullptr && v->Playing() ? 1 : 0;
}

std::vector<std::string> AudioDrivers() {
    std::vector<std::string> names{kNullName};
    for (const auto& [id, source] : State().sources) {
        for (std::string& name : source.names()) names.push_back(std::move(name));
    }
    if (names.size() > static_cast<size_t>(kMaxAudioDriverNames)) {
        names.resize(kMaxAudioDriverNames);
    }
    return names;
}

bool AudioDriverExists(const std::string& name) {
    std::string wanted = Upper(name);
    for (const auto& n : AudioDrivers()) {
        if (Upper(n) == wanted) return true;
    }
    return false;
}

int SetAudioDriver(const std::string& name) {
    std::string canonical;
    std::string wanted = Upper(name);
    for (const auto& n : AudioDrivers()) {
        if (Upper(n) == wanted) {
            canonical = n;
            break;
        }
    }
    if (canonical.empty()) return 0;
    AudioState& state = State();
    state.driver->Shutdown();
    state.driver.reset();
    ++state.generation;
    auto driver = MakeDriver(canonical);
    if (driver && driver->Start()) {
        state.driver = std::move(driver);
        state.driver_name = canonical;
        return 1;
    }
    state.driver = audio_detail::MakeNullDriver();
    state.driver_name = kNullName;
    return 0;
}

std::string CurrentAudioDriver() {
    return State().driver_name;
}

std::shared_ptr<TSound> LoadSound(const std::string& path, int flags) {
    SoundData data;
    if (!DecodeSoundFile(path, data)) return nullptr;
    return std::make_shared<TSound>(std::move(data), flags);
}

std::shared_ptr<TChannel> AllocChannel() {
    return std::make_shared<TChannel>();
}

std::shared_ptr<TChannel> CueSound(const std::shared_ptr<TSound>& sound,
                                   std::shared_ptr<TChannel> channel) {
    if (!channel) channel = AllocChannel();
    if (sound) sound->Cue(channel);
    return channel;
}

std::shared_ptr<TChannel> PlaySound(const std::shared_ptr<TSound>& sound,
                                    std::shared_ptr<TChannel> channel) {
    if (!channel) channel = AllocChannel();
    if (sound) sound->Play(channel);
    return channel;
}

}  // namespace media
