// Sound for the whole program: the audio drivers ("Null", the own mixer on
// the OSS device as "FreeMixer" / "FreeMixer OpenSound System", OpenAL loaded
// at run time), sounds loaded from WAV and Ogg Vorbis files, and channels.
// Every sound in the program is started the same way: cue it (paused), set
// volume, pan and rate, then unpause the channel.
// Handles are shared pointers; a null sound is a failed load. Calls on a
// stopped channel, or on one made under a driver that has since been shut
// down, do nothing. Main thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/media/sound_decode.h"

namespace media {

// Constants ------------------------------------------------------------------

// LoadSound flag: the sound repeats until it is stopped.
inline constexpr int SOUND_LOOP = 1;
// Most driver names AudioDrivers() returns.
inline constexpr int kMaxAudioDriverNames = 100;

// Types ------------------------------------------------------------------------

namespace audio_detail {
class Voice;
}

class TChannel;

// A loaded sound; its samples stay in memory for its whole life and can be
// played under any driver.
class TSound {
  public:
    // Makes a sound from decoded samples; flags as for LoadSound.
    TSound(SoundData data, int flags);

    // Plays the sound on channel (a new channel when null) and returns it.
    std::shared_ptr<TChannel> Play(std::shared_ptr<TChannel> channel = nullptr);
    // Attaches the sound to channel (a new channel when null) paused at its
    // start and returns the channel; SetPaused(false) starts it.
    std::shared_ptr<TChannel> Cue(std::shared_ptr<TChannel> channel = nullptr);
    // Returns the decoded samples.
    const SoundData& Data() const { return *data_; }
    // Returns true for a sound loaded with SOUND_LOOP.
    bool Loops() const { return loop_; }

  private:
    std::shared_ptr<const SoundData> data_;
    bool loop_ = false;
};

// One voice. Settings stay with the channel from one sound to the next.
class TChannel {
  public:
    TChannel() = default;
    TChannel(const TChannel&) = delete;
    TChannel& operator=(const TChannel&) = delete;

    // Stops the sound; the channel is idle afterwards.
    void Stop();
    // Pauses (true) or resumes (false) the sound.
    void SetPaused(bool paused);
    // Sets the volume, 0 (silent) .. 1 (as recorded); clamped.
    void SetVolume(double volume);
    // Sets the pan, -1 (left) .. 1 (right); clamped.
    void SetPan(double pan);
    // Sets the depth of the sound.
    // Note: no driver here places sound in depth; the value is kept only.
    void SetDepth(double depth);
    // Sets the playback-rate factor (1 = recorded pitch, 2 = an octave up).
    // Note: kept within 1/64 .. 64.
    void SetRate(double rate);
    // Returns 1 from the cue until the sound ended or was stopped (paused
    // counts as playing), else 0.
    int Playing();

  private:
    friend class TSound;
    // Attaches a sound paused at its start (a voice of the current driver).
    void Attach(const std::shared_ptr<const SoundData>& sound, bool loop);
    // Returns the voice when it belongs to the running driver, else null.
    audio_detail::Voice* LiveVoice();
    void ApplySettings();

    std::shared_ptr<audio_detail::Voice> voice_;
    uint64_t generation_ = 0;
    double volume_ = 1.0;
    double pan_ = 0.0;
    double depth_ = 0.0;
    double rate_ = 1.0;
};

// Public functions -------------------------------------------------------------

// Returns the names of the audio drivers this machine offers, in order:
// "Null"; with the desktop part installed (desktop/desktop.h) "FreeMixer" and
// "FreeMixer OpenSound System" when the OSS device can be opened, and after
// EnableOpenALAudio succeeded "OpenAL", "OpenAL Default" and "OpenAL " + each
// device name. At most 100 names.
// Note: both FreeMixer names are the same mixer on the same device.
std::vector<std::string> AudioDrivers();
// Returns true when AudioDrivers() holds the name, compared without regard to case.
bool AudioDriverExists(const std::string& name);
// Shuts the current driver down and starts the named one (any case); returns
// 1 on success. Returns 0 for an unknown name (the current driver stays) or a
// driver that fails to start (the program then stays silent on "Null").
int SetAudioDriver(const std::string& name);
// Returns the name of the running driver ("Null" before any choice).
std::string CurrentAudioDriver();
// Loads a WAV or Ogg Vorbis sound (Ogg needs the desktop part); flags
// SOUND_LOOP makes it repeat.
// Returns null when the file is missing, unreadable or of another kind.
std::shared_ptr<TSound> LoadSound(const std::string& path, int flags);
// Returns a new idle channel.
std::shared_ptr<TChannel> AllocChannel();
// Cues sound on channel (a new one when null) and returns the channel, which
// is never null. A null sound changes nothing.
std::shared_ptr<TChannel> CueSound(const std::shared_ptr<TSound>& sound,
                                   std::shared_ptr<TChannel> channel);
// Plays sound on channel (a new one when null) and returns the channel, which
// is never null. A null sound changes nothing.
std::shared_ptr<TChannel> PlaySound(const std::shared_ptr<TSound>& sound,
                                    std::shared_ptr<TChannel> channel);

}  // namespace media
