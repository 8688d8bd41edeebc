// The own software mixer: voice state, resampling by linear interpolation,
// balance panning and 16-bit clipping.
#include "engine/media/desktop/mixer.h"

#include <algorithm>
#include <cmath>

namespace media {

// Types ------------------------------------------------------------------------

// A voice of the mixer; keeps the mixer alive while it exists, so a channel
// that outlives its driver stays harmless.
class MixerVoice : public audio_detail::Voice {
  public:
    explicit MixerVoice(std::shared_ptr<Mixer> mixer)
        : mixer_(std::move(mixer)), track_(std::make_shared<Mixer::Track>()) {}

    ~MixerVoice() override {
        // A sound that was cued but never started would wait forever: drop it.
        // One that is playing is left to finish.
        std::lock_guard lock(mixer_->mutex_);
        if (track_->paused) mixer_->Unlist(track_);
    }

    void Cue(const std::shared_ptr<const SoundData>& sound, bool loop,
             const audio_detail::VoiceSettings& settings) override {
        std::lock_guard lock(mixer_->mutex_);
        if (mixer_->closed_) return;
        track_->sound = sound;
        track_->loop = loop;
        track_->live = true;
        track_->paused = true;
        track_->position = 0.0;
        track_->settings = settings;
        if (!track_->listed) {
            track_->listed = true;
            mixer_->tracks_.push_back(track_);
        }
    }
    void Stop() override {
        std::lock_guard lock(mixer_->mutex_);
        mixer_->Unlist(track_);
    }
    void SetPaused(bool paused) override {
        std::lock_guard lock(mixer_->mutex_);
        if (track_->live) track_->paused = paused;
    }
    void Apply(const audio_detail::VoiceSettings& settings) override {
        std::lock_guard lock(mixer_->mutex_);
        track_->settings = settings;
    }
    bool Playing() override {
        std::lock_guard lock(mixer_->mutex_);
        return track_->live;
    }

  private:
    std::shared_ptr<Mixer> mixer_;
    std::shared_ptr<Mixer::Track> track_;
};

// Internal helpers -----------------------------------------------------------

void Mixer::Unlist(std::shared_ptr<Track> t) {
    t->live = false;
    t->paused = false;
    t->sound.reset();
    if (t->listed) {
        t->listed = false;
        tracks_.erase(std::remove(tracks_.begin(), tracks_.end(), t), tracks_.end());
    }
}

void Mixer::MixTrack(Track& t, float* acc, int frames) {
    const SoundData& s = *t.sound;
    const size_t length = s.Frames();
    if (length == 0) {
        t.live = false;
        return;
    }
    const double step = t.settings.rate * s.rate / output_rate_;
    const float pan = static_cast<float>(t.settings.pan);
    const float volume = static_cast<float>(t.settings.volume);
    const float left_gain = volume * std::min(1.0f, 1.0f - pan);
    const float right_gain = volume * std::min(1.0f, 1.0f + pan);
    const int right_channel = s.channels > 1 ? 1 : 0;
    const int16_t* data = s.samples.data();
    const size_t stride = static_cast<size_t>(s.channels);
    const double end = static_cast<double>(length);
    double pos = t.position;
    for (int i = 0; i < frames; ++i) {
        if (pos >= end) {
            if (!t.loop) {
                t.live = false;
                break;
            }
            pos = std::fmod(pos, end);
        }
        const size_t frame = static_cast<size_t>(pos);
        const float frac = static_cast<float>(pos - static_cast<double>(frame));
        const int16_t* here = data + frame * stride;
        float left = here[0];
        float right = here[right_channel];
        if (frac > 0.0f) {
            // The frame after the last is the first again for a looping
            // sound, silence otherwise.
            const size_t next = frame + 1;
            float next_left = 0.0f, next_right = 0.0f;
            if (next < length || t.loop) {
                const int16_t* there = data + (next < length ? next : 0) * stride;
                next_left = there[0];
                next_right = there[right_channel];
            }
            left += (next_left - left) * frac;
            right += (next_right - right) * frac;
        }
        acc[2 * i] += left * left_gain;
        acc[2 * i + 1] += right * right_gain;
        pos += step;
    }
    t.position = pos;
}

// Public functions -------------------------------------------------------------

Mixer::Mixer(int output_rate) : output_rate_(output_rate > 0 ? output_rate : kMixerRate) {}

std::shared_ptr<audio_detail::Voice> Mixer::NewVoice() {
    return std::make_shared<MixerVoice>(shared_from_this());
}

void Mixer::Render(int16_t* out, int frames) {
    if (frames <= 0) return;
    std::lock_guard lock(mutex_);
    accumulator_.assign(static_cast<size_t>(frames) * 2, 0.0f);
    for (auto& t : tracks_) {
        if (t->live && !t->paused) MixTrack(*t, accumulator_.data(), frames);
    }
    // Sounds that ended leave the list (and let go of their samples).
    for (size_t i = tracks_.size(); i-- > 0;) {
        if (!tracks_[i]->live) Unlist(tracks_[i]);
    }
    for (size_t i = 0; i < accumulator_.size(); ++i) {
        float v = std::clamp(std::round(accumulator_[i]), -32768.0f, 32767.0f);
        out[i] = static_cast<int16_t>(v);
    }
}

void Mixer::StopAll() {
    std::lock_guard lock(mutex_);
    while (!tracks_.empty()) Unlist(tracks_.back());
}

void Mixer::Close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    while (!tracks_.empty()) Unlist(tracks_.back());
}

int Mixer::ActiveTracks() {
    std::lock_guard lock(mutex_);
    return static_cast<int>(tracks_.size());
}

}  // namespace media
