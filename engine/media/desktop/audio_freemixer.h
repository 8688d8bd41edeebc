// The "FreeMixer" audio drivers: the own mixer (mixer.h) fed to the OSS
// device (oss_output.h) by a thread of its own. "FreeMixer" and "FreeMixer
// OpenSound System" are the same driver on the same device; the second name
// only says which output it uses.
#pragma once

#include <memory>

#include "engine/media/audio_driver.h"

namespace media::audio_detail {

// Returns a FreeMixer driver writing to the device path DspDevicePath() names
// when it starts.
std::unique_ptr<AudioDriver> MakeFreeMixerDriver();

}  // namespace media::audio_detail
