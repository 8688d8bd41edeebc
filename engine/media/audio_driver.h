// The narrow interface every audio driver implements (Null, the own mixer on
// the OSS device, OpenAL), used by the public sound API in audio.cpp, and the
// seam through which drivers other than "Null" are offered. Not for code
// outside the media layer and its tests.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/media/sound_decode.h"

namespace media::audio_detail {

// Volume 0..1, pan -1 (left) .. 1 (right), rate as a playback-rate factor.
struct VoiceSettings {
    double volume = 1.0;
    double pan = 0.0;
    double rate = 1.0;
};

// One voice of a driver: plays one sound at a time.
// Note: after its driver has shut down every call does nothing and Playing()
// answers false.
class Voice {
  public:
    virtual ~Voice() = default;
    // Attaches a sound (at least one frame long) paused at its start.
    virtual void Cue(const std::shared_ptr<const SoundData>& sound, bool loop,
                     const VoiceSettings& settings) = 0;
    // Ends the sound; the voice is idle afterwards.
    virtual void Stop() = 0;
    // Pauses or resumes a cued sound.
    virtual void SetPaused(bool paused) = 0;
    // Applies new volume, pan and rate to the sound playing now.
    virtual void Apply(const VoiceSettings& settings) = 0;
    // Returns true from the cue until the sound ended or was stopped (a
    // paused sound counts as playing).
    virtual bool Playing() = 0;
};

// An audio driver: started once, hands out voices, shut down once.
class AudioDriver {
  public:
    virtual ~AudioDriver() = default;
    // Starts the output; returns false when the device cannot be used.
    virtual bool Start() = 0;
    // Returns a new idle voice.
    virtual std::shared_ptr<Voice> NewVoice() = 0;
    // Stops every voice and releases the device; safe to call twice.
    virtual void Shutdown() = 0;
};

// Clamps settings to their ranges (volume 0..1, pan -1..1, rate 1/64..64);
// a value that is not a number takes its default.
VoiceSettings ClampSettings(const VoiceSettings& s);

// Returns the silent driver that accepts everything.
std::unique_ptr<AudioDriver> MakeNullDriver();

// Drivers beyond "Null" that one part of the program offers (the desktop's
// own mixer and OpenAL, or a test's driver): the names it offers now, in
// order, and the driver of one of those names.
struct AudioDriverSource {
    std::function<std::vector<std::string>()> names;
    std::function<std::unique_ptr<AudioDriver>(const std::string& name)> make;
};
// Adds a source whose names follow "Null" and those of the sources added
// before; returns its number for RemoveAudioDriverSource.
int AddAudioDriverSource(AudioDriverSource source);
// Removes a source; a running driver it made keeps running.
void RemoveAudioDriverSource(int id);

}  // namespace media::audio_detail
