// The own software mixer: mixes every playing voice into 16-bit interleaved
// stereo, with volume, pan and playback rate per voice, clipped to the 16-bit
// range. Render() is called by the output thread of the "FreeMixer" driver
// (audio_freemixer.cpp) and directly by tests; voices are driven from the
// main thread. One mutex guards all voice state.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/media/audio_driver.h"

namespace media {

// Output rate used when the device does not ask for another.
inline constexpr int kMixerRate = 44100;

class Mixer : public std::enable_shared_from_this<Mixer> {
  public:
    // One voice's state; every field is guarded by the mixer's mutex.
    struct Track {
        std::shared_ptr<const SoundData> sound;
        bool loop = false;
        bool live = false;
        bool paused = false;
        bool listed = false;    // in the mixer's list of tracks to mix
        double position = 0.0;  // in source frames
        audio_detail::VoiceSettings settings;
    };

    explicit Mixer(int output_rate = kMixerRate);

    // Returns the output rate in frames per second.
    int OutputRate() const { return output_rate_; }
    // Returns a new idle voice that plays through this mixer.
    std::shared_ptr<audio_detail::Voice> NewVoice();
    // Mixes the next frames into out (2 * frames samples, left then right).
    // Note: a mono sound feeds both sides; pan is a balance: at 0 both sides
    // get the full volume, towards one side the other fades linearly to 0.
    void Render(int16_t* out, int frames);
    // Ends every sound; their voices answer Playing() false afterwards.
    void StopAll();
    // Ends every sound and ignores all later cues (the output is gone).
    void Close();
    // Returns the number of sounds cued or playing.
    int ActiveTracks();

  private:
    friend class MixerVoice;
    void MixTrack(Track& t, float* acc, int frames);
    // Takes its own reference: t may be an element of the list it edits.
    void Unlist(std::shared_ptr<Track> t);

    const int output_rate_;
    std::mutex mutex_;
    std::vector<std::shared_ptr<Track>> tracks_;  // cued or playing
    std::vector<float> accumulator_;
    bool closed_ = false;
};

}  // namespace media
