// Fuzz target for one sound decoder: the input is a sound file whose first
// four bytes are forced to the decoder's mark (ZQ_SOUND_MARK: "RIFF" for WAV,
// "OggS" for Ogg Vorbis), so every input reaches that decoder. A decoded sound
// must have a sane layout; nothing may crash, hang or allocate without bound.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/media/asset_read.h"
#include "engine/media/desktop/desktop.h"
#include "engine/media/sound_decode.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    media::SetLoadFailureSink([](std::string_view) {});
    media::InstallDesktopMedia();  // the Ogg Vorbis decoder
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    if (bytes.size() < 4) bytes.resize(4);
    std::memcpy(bytes.data(), ZQ_SOUND_MARK, 4);
    media::SoundData sound;
    if (!media::DecodeSoundBytes(bytes, sound)) return 0;
    if (sound.channels < 1 || sound.channels > 2 || sound.rate < 1 ||
        sound.samples.size() % static_cast<size_t>(sound.channels) != 0 ||
        sound.samples.size() > media::kMaxSoundSamples) {
        std::abort();
    }
    return 0;
}
