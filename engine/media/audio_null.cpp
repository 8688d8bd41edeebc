// The "Null" audio driver: silent, accepts every call. Its voices follow each
// sound's length on the program clock, so that code waiting for a sound to
// end (music restarts, effect slots) behaves as it does with real output.
#include <memory>

#include "engine/media/audio_driver.h"
#include "engine/media/clock.h"

namespace media::audio_detail {

namespace {

// Types ------------------------------------------------------------------------

class NullVoice : public Voice {
  public:
    void Cue(const std::shared_ptr<const SoundData>& sound, bool loop,
             const VoiceSettings& settings) override {
        live_ = true;
        paused_ = true;
        loop_ = loop;
        rate_ = settings.rate;
        position_ms_ = 0.0;
        length_ms_ = sound->rate > 0 ? 1000.0 * sound->Frames() / sound->rate : 0.0;
        last_ms_ = CurrentClock().NowMs();
    }
    void Stop() override { live_ = false; }
    void SetPaused(bool paused) override {
        Update();
        paused_ = paused;
    }
    void Apply(const VoiceSettings& settings) override {
        Update();
        rate_ = settings.rate;
    }
    bool Playing() override {
        Update();
        return live_;
    }

  private:
    // Moves the play position on by the clock time since the last look.
    void Update() {
        const int64_t now = CurrentClock().NowMs();
        if (live_ && !paused_ && !loop_) {
            position_ms_ += static_cast<double>(now - last_ms_) * rate_;
            if (position_ms_ >= length_ms_) live_ = false;
        }
        last_ms_ = now;
    }

    bool live_ = false;
    bool paused_ = false;
    bool loop_ = false;
    double rate_ = 1.0;
    double position_ms_ = 0.0;
    double length_ms_ = 0.0;
    int64_t last_ms_ = 0;
};

class NullDriver : public AudioDriver {
  public:
    bool Start() override { return true; }
    std::shared_ptr<Voice> NewVoice() override { return std::make_shared<NullVoice>(); }
    void Shutdown() override {}
};

}  // namespace

// Public functions -------------------------------------------------------------

std::unique_ptr<AudioDriver> MakeNullDriver() {
    return std::make_unique<NullDriver>();
}

}  // namespace media::audio_detail
