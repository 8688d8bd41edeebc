// Ogg Vorbis decoding (libvorbisfile), installed by the desktop part as the
// core sound decoder's Ogg hook. Private to the media layer.
#pragma once

#include <string_view>

#include "engine/media/sound_decode.h"

namespace media::detail {

// Decodes Ogg Vorbis bytes into 16-bit samples; false when they are no
// playable sound or decode to more than kMaxSoundSamples.
bool DecodeVorbis(std::string_view bytes, SoundData& out);

}  // namespace media::detail
