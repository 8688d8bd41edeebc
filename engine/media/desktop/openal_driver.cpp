// The OpenAL audio drivers: run-time loading of the library, device listing,
// one AL source per voice and one AL buffer per sound (made on first use).
// All OpenAL calls happen on the main thread; the library mixes on its own.
#include "engine/media/desktop/openal_driver.h"

#include <AL/al.h>
#include <AL/alc.h>
#include <AL/alext.h>
#include <dlfcn.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <set>
#include <unordered_map>

#include "engine/media/terminate.h"

namespace media::audio_detail {

// Constants ------------------------------------------------------------------

// Enough sources for every effect slot, the music and the jingle.
constexpr ALCint kMonoSources = 320;
constexpr ALCint kStereoSources = 32;

// Types ------------------------------------------------------------------------

namespace {

// The loaded library and the entry points the drivers use.
struct AlLibrary {
    struct Closer {
        void operator()(void* h) const { dlclose(h); }
    };
    std::unique_ptr<void, Closer> handle;

    decltype(&::alcOpenDevice) OpenDevice = nullptr;
    decltype(&::alcCloseDevice) CloseDevice = nullptr;
    decltype(&::alcCreateContext) CreateContext = nullptr;
    decltype(&::alcDestroyContext) DestroyContext = nullptr;
    decltype(&::alcMakeContextCurrent) MakeContextCurrent = nullptr;
    decltype(&::alcGetString) GetString = nullptr;
    decltype(&::alcIsExtensionPresent) IsExtensionPresent = nullptr;
    decltype(&::alcGetProcAddress) GetProcAddress = nullptr;
    decltype(&::alGetError) GetError = nullptr;
    decltype(&::alGenSources) GenSources = nullptr;
    decltype(&::alDeleteSources) DeleteSources = nullptr;
    decltype(&::alGenBuffers) GenBuffers = nullptr;
    decltype(&::alDeleteBuffers) DeleteBuffers = nullptr;
    decltype(&::alBufferData) BufferData = nullptr;
    decltype(&::alSourcei) Sourcei = nullptr;
    decltype(&::alSourcef) Sourcef = nullptr;
    decltype(&::alSource3f) Source3f = nullptr;
    decltype(&::alGetSourcei) GetSourcei = nullptr;
    decltype(&::alSourcePlay) SourcePlay = nullptr;
    decltype(&::alSourcePause) SourcePause = nullptr;
    decltype(&::alSourceStop) SourceStop = nullptr;
    decltype(&::alSourceRewind) SourceRewind = nullptr;
    // Loopback extension (OpenAL Soft); null when missing.
    LPALCLOOPBACKOPENDEVICESOFT LoopbackOpenDevice = nullptr;
    LPALCRENDERSAMPLESSOFT RenderSamples = nullptr;
};

}  // namespace

struct OpenALDriver::Shared {
    struct BufferEntry {
        std::weak_ptr<const SoundData> sound;
        ALuint buffer = 0;
    };

    std::shared_ptr<AlLibrary> al;
    ALCdevice* device = nullptr;
    ALCcontext* context = nullptr;
    bool alive = false;
    std::set<ALuint> sources;
    // Keyed by address; the weak pointer tells a live sound from one that
    // has gone (and whose address may be reused by a new sound).
    std::unordered_map<const SoundData*, BufferEntry> buffers;

    ALuint BufferFor(const std::shared_ptr<const SoundData>& sound);
    void Release();
};

// State --------------------------------------------------------------------------

namespace {

std::shared_ptr<AlLibrary>& Library() {
    static std::shared_ptr<AlLibrary> library;
    return library;
}

// Internal helpers -----------------------------------------------------------

template <typename F>
bool Bind(void* handle, const char* name, F& fn) {
    fn = reinterpret_cast<F>(dlsym(handle, name));
    return fn != nullptr;
}

// Takes ALSA's error messages: standard error is for the program's own.
void SilentAlsaError(const char*, int, const char*, int, const char*, ...) {}

// Keeps the sound libraries from printing to standard error: OpenAL Soft
// reads its log level when it loads (a level the user set is kept), and
// ALSA, which it loads for its ALSA backend, takes an error handler. ALSA is
// never linked: when it is on the machine it is loaded here, stays loaded,
// and the library's own load then finds this copy.
void QuietSoundLibraries() {
    setenv("ALSOFT_LOGLEVEL", "0", 0);
    using ErrorHandler = void (*)(const char*, int, const char*, int, const char*, ...);
    using SetErrorHandler = int (*)(ErrorHandler);
    void* alsa = dlopen("libasound.so.2", RTLD_NOW | RTLD_GLOBAL);
    if (alsa == nullptr) return;
    auto set = reinterpret_cast<SetErrorHandler>(dlsym(alsa, "snd_lib_error_set_handler"));
    if (set != nullptr) set(SilentAlsaError);
}

std::shared_ptr<AlLibrary> OpenLibrary() {
    QuietSoundLibraries();
    for (const char* name : kOpenALLibraryNames) {
        void* h = dlopen(name, RTLD_NOW | RTLD_LOCAL);
        if (h == nullptr) continue;
        auto lib = std::make_shared<AlLibrary>();
        lib->handle.reset(h);
        bool ok =
            Bind(h, "alcOpenDevice", lib->OpenDevice) &&
            Bind(h, "alcCloseDevice", lib->CloseDevice) &&
            Bind(h, "alcCreateContext", lib->CreateContext) &&
            Bind(h, "alcDestroyContext", lib->DestroyContext) &&
            Bind(h, "alcMakeContextCurrent", lib->MakeContextCurrent) &&
            Bind(h, "alcGetString", lib->GetString) &&
            Bind(h, "alcIsExtensionPresent", lib->IsExtensionPresent) &&
            Bind(h, "alcGetProcAddress", lib->GetProcAddress) &&
            Bind(h, "alGetError", lib->GetError) && Bind(h, "alGenSources", lib->GenSources) &&
            Bind(h, "alDeleteSources", lib->DeleteSources) &&
            Bind(h, "alGenBuffers", lib->GenBuffers) &&
            Bind(h, "alDeleteBuffers", lib->DeleteBuffers) &&
            Bind(h, "alBufferData", lib->BufferData) && Bind(h, "alSourcei", lib->Sourcei) &&
            Bind(h, "alSourcef", lib->Sourcef) && Bind(h, "alSource3f", lib->Source3f) &&
            Bind(h, "alGetSourcei", lib->GetSourcei) && Bind(h, "alSourcePlay", lib->SourcePlay) &&
            Bind(h, "alSourcePause", lib->SourcePause) &&
            Bind(h, "alSourceStop", lib->SourceStop) &&
            Bind(h, "alSourceRewind", lib->SourceRewind);
        if (!ok) continue;  // not a usable OpenAL: try the next name
        if (lib->IsExtensionPresent(nullptr, "ALC_SOFT_loopback")) {
            Bind(h, "alcLoopbackOpenDeviceSOFT", lib->LoopbackOpenDevice);
            Bind(h, "alcRenderSamplesSOFT", lib->RenderSamples);
        }
        return lib;
    }
    return nullptr;
}

// Splits the library's list of names: each ends with a zero, an empty name ends it.
std::vector<std::string> SplitNameList(const ALCchar* list) {
    std::vector<std::string> names;
    while (list != nullptr && *list != '\0') {
        names.emplace_back(list);
        list += std::strlen(list) + 1;
    }
    return names;
}

void ApplyToSource(const AlLibrary& al, ALuint source, const VoiceSettings& s) {
    al.Sourcef(source, AL_GAIN, static_cast<ALfloat>(s.volume));
    al.Sourcef(source, AL_PITCH, static_cast<ALfloat>(s.rate));
    // Pan as a direction on a unit circle in front of the listener.
    float pan = static_cast<float>(s.pan);
    al.Source3f(source, AL_POSITION, pan, 0.0f, -std::sqrt(std::max(0.0f, 1.0f - pan * pan)));
}

// Types (continued) --------------------------------------------------------------

// One channel's AL source, made at the first cue.
// Note: OpenAL pans only mono sounds; a stereo sound plays unpanned.
class OpenALVoice : public Voice {
  public:
    explicit OpenALVoice(std::shared_ptr<OpenALDriver::Shared> shared) : s_(std::move(shared)) {}

    ~OpenALVoice() override {
        if (s_->alive && source_ != 0) {
            s_->al->SourceStop(source_);
            s_->al->DeleteSources(1, &source_);
            s_->sources.erase(source_);
        }
    }

    void Cue(const std::shared_ptr<const SoundData>& sound, bool loop,
             const VoiceSettings& settings) override {
        if (!s_->alive) return;
        const AlLibrary& al = *s_->al;
        if (source_ == 0) {
            al.GetError();
            ALuint source = 0;
            al.GenSources(1, &source);
            if (al.GetError() != AL_NO_ERROR || source == 0) return;  // out of sources
            source_ = source;
            s_->sources.insert(source_);
            al.Sourcei(source_, AL_SOURCE_RELATIVE, AL_TRUE);
            al.Sourcef(source_, AL_ROLLOFF_FACTOR, 0.0f);
        }
        Stop();
        ALuint buffer = s_->BufferFor(sound);
        if (buffer == 0) return;
        al.Sourcei(source_, AL_BUFFER, static_cast<ALint>(buffer));
        al.Sourcei(source_, AL_LOOPING, loop ? AL_TRUE : AL_FALSE);
        ApplyToSource(al, source_, settings);
        al.SourceRewind(source_);
        sound_ = sound;
        cued_ = true;
        paused_ = true;
    }

    void Stop() override {
        if (!s_->alive || source_ == 0) return;
        s_->al->SourceStop(source_);
        s_->al->Sourcei(source_, AL_BUFFER, 0);
        sound_.reset();
        cued_ = false;
    }

    void SetPaused(bool paused) override {
        if (!s_->alive || !cued_) return;
        ALint state = State();
        if (paused) {
            if (state == AL_PLAYING) s_->al->SourcePause(source_);
            paused_ = true;
        } else {
            // A sound that has already ended is not started again.
            if (state == AL_INITIAL || state == AL_PAUSED) s_->al->SourcePlay(source_);
            paused_ = false;
        }
    }

    void Apply(const VoiceSettings& settings) override {
        if (!s_->alive || source_ == 0) return;
        ApplyToSource(*s_->al, source_, settings);
    }

    bool Playing() override {
        if (!s_->alive || !cued_) return false;
        ALint state = State();
        if (state == AL_PLAYING || state == AL_PAUSED) return true;
        if (state == AL_INITIAL) return paused_;
        return false;
    }

  private:
    ALint State() {
        ALint state = AL_STOPPED;
        s_->al->GetSourcei(source_, AL_SOURCE_STATE, &state);
        return state;
    }

    std::shared_ptr<OpenALDriver::Shared> s_;
    ALuint source_ = 0;
    std::shared_ptr<const SoundData> sound_;  // keeps the buffer's sound alive
    bool cued_ = false;
    bool paused_ = false;
};

}  // namespace

ALuint OpenALDriver::Shared::BufferFor(const std::shared_ptr<const SoundData>& sound) {
    // Buffers of sounds that are gone are used by no source any more.
    for (auto it = buffers.begin(); it != buffers.end();) {
        if (it->second.sound.expired()) {
            al->DeleteBuffers(1, &it->second.buffer);
            it = buffers.erase(it);
        } else {
            ++it;
        }
    }
    auto found = buffers.find(sound.get());
    if (found != buffers.end()) return found->second.buffer;
    if (sound->channels < 1 || sound->channels > 2 || sound->samples.empty()) return 0;
    al->GetError();
    ALuint buffer = 0;
    al->GenBuffers(1, &buffer);
    if (al->GetError() != AL_NO_ERROR) return 0;
    al->BufferData(buffer, sound->channels == 2 ? AL_FORMAT_STEREO16 : AL_FORMAT_MONO16,
                   sound->samples.data(),
                   static_cast<ALsizei>(sound->samples.size() * sizeof(int16_t)), sound->rate);
    if (al->GetError() != AL_NO_ERROR) {
        al->DeleteBuffers(1, &buffer);
        return 0;
    }
    buffers[sound.get()] = BufferEntry{sound, buffer};
    return buffer;
}

void OpenALDriver::Shared::Release() {
    if (!alive) return;
    for (ALuint source : sources) {
        al->SourceStop(source);
        al->DeleteSources(1, &source);
    }
    sources.clear();
    for (auto& [key, entry] : buffers) al->DeleteBuffers(1, &entry.buffer);
    buffers.clear();
    al->MakeContextCurrent(nullptr);
    al->DestroyContext(context);
    al->CloseDevice(device);
    context = nullptr;
    device = nullptr;
    alive = false;
}

// Public functions -------------------------------------------------------------

bool LoadOpenAL(std::vector<std::string>& devices) {
    devices.clear();
    // Listing devices may start the library's threads: keep the signals off them.
    detail::TerminateSignalsBlocked blocked;
    auto& library = Library();
    if (!library) library = OpenLibrary();
    if (!library || !library->IsExtensionPresent(nullptr, "ALC_ENUMERATION_EXT")) return false;
    if (library->IsExtensionPresent(nullptr, "ALC_ENUMERATE_ALL_EXT")) {
        devices = SplitNameList(library->GetString(nullptr, ALC_ALL_DEVICES_SPECIFIER));
    } else {
        devices = SplitNameList(library->GetString(nullptr, ALC_DEVICE_SPECIFIER));
    }
    return true;
}

OpenALDriver::OpenALDriver(std::string device) : device_(std::move(device)) {}

std::unique_ptr<OpenALDriver> OpenALDriver::Loopback(int rate) {
    auto driver = std::make_unique<OpenALDriver>("");
    driver->loopback_ = true;
    driver->rate_ = rate;
    return driver;
}

OpenALDriver::~OpenALDriver() {
    Shutdown();
}

bool OpenALDriver::Start() {
    Shutdown();
    // The library's mixing threads start here; they leave SIGTERM, SIGINT and
    // SIGHUP to the main thread.
    detail::TerminateSignalsBlocked blocked;
    auto shared = std::make_shared<Shared>();
    shared->al = Library();
    if (!shared->al) return false;
    const AlLibrary& al = *shared->al;
    std::vector<ALCint> attributes;
    if (loopback_) {
        if (al.LoopbackOpenDevice == nullptr || al.RenderSamples == nullptr) return false;
        shared->device = al.LoopbackOpenDevice(nullptr);
        attributes = {ALC_FORMAT_CHANNELS_SOFT, ALC_STEREO_SOFT, ALC_FORMAT_TYPE_SOFT,
                      ALC_SHORT_SOFT,           ALC_FREQUENCY,   rate_};
    } else {
        shared->device = al.OpenDevice(device_.empty() ? nullptr : device_.c_str());
    }
    if (shared->device == nullptr) return false;
    attributes.insert(attributes.end(),
                      {ALC_MONO_SOURCES, kMonoSources, ALC_STEREO_SOURCES, kStereoSources, 0});
    shared->context = al.CreateContext(shared->device, attributes.data());
    if (shared->context == nullptr || !al.MakeContextCurrent(shared->context)) {
        if (shared->context != nullptr) al.DestroyContext(shared->context);
        al.CloseDevice(shared->device);
        return false;
    }
    shared->alive = true;
    shared_ = std::move(shared);
    return true;
}

std::shared_ptr<Voice> OpenALDriver::NewVoice() {
    // A driver that never started hands out voices that stay idle.
    if (!shared_) shared_ = std::make_shared<Shared>();
    return std::make_shared<OpenALVoice>(shared_);
}

void OpenALDriver::Shutdown() {
    if (shared_) shared_->Release();
}

bool OpenALDriver::RenderLoopback(int16_t* out, int frames) {
    if (!loopback_ || !shared_ || !shared_->alive || frames <= 0) return false;
    shared_->al->RenderSamples(shared_->device, out, frames);
    return true;
}

}  // namespace media::audio_detail
