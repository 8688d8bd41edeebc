// Installation of the desktop part behind the core's seams, and the audio
// drivers it offers.
#include "engine/media/desktop/desktop.h"

#include <string>
#include <vector>

#include "engine/media/audio_driver.h"
#include "engine/media/desktop/audio_freemixer.h"
#include "engine/media/desktop/openal_driver.h"
#include "engine/media/desktop/oss_output.h"
#include "engine/media/desktop/sound_vorbis.h"
#include "engine/media/joystick.h"
// Last: Xlib's macros must not reach the code above.
#include "engine/media/desktop/display.h"

namespace media {

namespace {

constexpr const char* kFreeMixerNames[] = {"FreeMixer", "FreeMixer OpenSound System"};
constexpr const char* kOpenALName = "OpenAL";
constexpr const char* kOpenALDefaultName = "OpenAL Default";

// What EnableOpenALAudio found: -1 before it ran, then 1 or 0.
struct OpenALState {
    int result = -1;
    std::vector<std::string> devices;
};

OpenALState& OpenAL() {
    static OpenALState state;
    return state;
}

bool g_installed = false;

std::vector<std::string> FreeMixerNames() {
    if (!DspDeviceAvailable()) return {};
    return {std::begin(kFreeMixerNames), std::end(kFreeMixerNames)};
}

std::unique_ptr<audio_detail::AudioDriver> MakeFreeMixer(const std::string&) {
    return audio_detail::MakeFreeMixerDriver();
}

std::vector<std::string> OpenALNames() {
    if (OpenAL().result != 1) return {};
    std::vector<std::string> names{kOpenALName, kOpenALDefaultName};
    for (const std::string& device : OpenAL().devices) {
        names.push_back(std::string(kOpenALName) + " " + device);
    }
    return names;
}

std::unique_ptr<audio_detail::AudioDriver> MakeOpenAL(const std::string& name) {
    if (name == kOpenALName || name == kOpenALDefaultName) {
        return std::make_unique<audio_detail::OpenALDriver>("");
    }
    return std::make_unique<audio_detail::OpenALDriver>(
        name.substr(std::string(kOpenALName).size() + 1));
}

}  // namespace

void InstallDesktopMedia() {
    if (g_installed) return;
    g_installed = true;
    detail::PlatformHooks& hooks = detail::Platform();
    hooks.pumpEvents = detail::PumpWindowEvents;
    hooks.restoreDesktopMode = detail::RestoreDesktopMode;
    hooks.setConnectionLostHandler = detail::SetConnectionLostHandler;
    hooks.drawDriver = GLDraw2DDriver;
    hooks.decodeVorbis = detail::DecodeVorbis;
    audio_detail::AddAudioDriverSource({FreeMixerNames, MakeFreeMixer});
    audio_detail::AddAudioDriverSource({OpenALNames, MakeOpenAL});
    SetJoystickPaths(DefaultJoystickPaths());
}

int EnableOpenALAudio() {
    OpenALState& state = OpenAL();
    if (state.result < 0) state.result = audio_detail::LoadOpenAL(state.devices) ? 1 : 0;
    return state.result;
}

}  // namespace media
