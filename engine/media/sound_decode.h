// Sound file decoding: PCM WAV (8 or 16 bits, mono or stereo) and Ogg Vorbis
// into 16-bit interleaved samples. Needs no audio driver, so the asset code and
// the tools can decode sounds on their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace media {

// Largest decoded sound accepted, in samples (about 6 minutes of 44.1 kHz
// stereo); longer files are refused instead of exhausting memory.
inline constexpr size_t kMaxSoundSamples = size_t{32} * 1024 * 1024;

// Highest sample rate accepted, in frames per second.
inline constexpr int kMaxSoundRate = 384000;

// A decoded sound: 1 or 2 channels of 16-bit samples at rate frames per second.
struct SoundData {
    int channels = 0;
    int rate = 0;
    std::vector<int16_t> samples;  // interleaved
    // A sound the audio driver decodes itself (Ogg Vorbis in the browser build, where the page
    // decodes it): the file's bytes, and no samples.
    std::string encoded = {};

    // Returns the number of frames (samples per channel).
    size_t Frames() const { return channels > 0 ? samples.size() / channels : 0; }
    // Returns true when there is something to hear: samples at a rate, or encoded bytes.
    bool Audible() const { return !encoded.empty() || (Frames() > 0 && rate > 0); }
};

// Decodes a WAV or Ogg Vorbis file (told apart by their contents, not by the
// name; Ogg Vorbis only once the desktop part is installed, see desktop/desktop.h); returns false
// and leaves out empty when the file is missing, and logs one line too when it is unreadable, too
// large, damaged or of an unsupported kind.
bool DecodeSoundFile(const std::string& path, SoundData& out);
// Decodes WAV or Ogg Vorbis bytes held in memory; same rules as DecodeSoundFile.
bool DecodeSoundBytes(std::string_view bytes, SoundData& out);

}  // namespace media
