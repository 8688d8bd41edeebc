// The OpenAL audio drivers. The OpenAL library is loaded at run time (never
// linked), so a machine without it still runs, silently or with the own
// mixer. Also offers OpenAL Soft's loopback device, which renders into a
// buffer: tests use it to hear what OpenAL plays without a sound card.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/media/audio_driver.h"

namespace media::audio_detail {

// Library names tried in order; the last is the one Debian's runtime ships.
inline constexpr const char* kOpenALLibraryNames[] = {"libopenal.so", "libopenal.so.0",
                                                      "libopenal.so.0.0.8", "libopenal.so.1"};

// Loads the OpenAL library (first call only) and lists its output devices;
// returns false when no library loads or it cannot list devices.
bool LoadOpenAL(std::vector<std::string>& devices);

class OpenALDriver : public AudioDriver {
  public:
    // Plays on the named OpenAL device ("" for the default device).
    explicit OpenALDriver(std::string device);
    // Makes a loopback driver: Start() opens OpenAL Soft's loopback device at
    // rate, and RenderLoopback() pulls the sound out.
    static std::unique_ptr<OpenALDriver> Loopback(int rate);
    ~OpenALDriver() override;
    OpenALDriver(const OpenALDriver&) = delete;
    OpenALDriver& operator=(const OpenALDriver&) = delete;

    bool Start() override;
    std::shared_ptr<Voice> NewVoice() override;
    void Shutdown() override;
    // Renders frames of 16-bit stereo into out (2 * frames samples); returns
    // false for a driver that is not a started loopback driver.
    bool RenderLoopback(int16_t* out, int frames);

    struct Shared;  // device, context, sources and buffers

  private:
    std::string device_;
    bool loopback_ = false;
    int rate_ = 0;
    std::shared_ptr<Shared> shared_;
};

}  // namespace media::audio_detail
