// Tests of the public sound API with the Null and FreeMixer drivers: the
// driver list with and without an OSS device, choosing drivers, channels that
// outlive their driver, null sounds, and the samples the mixer thread writes
// to a FIFO standing in for "/dev/dsp".
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "engine/media/audio.h"
#include "engine/media/clock.h"
#include "engine/media/desktop/audio_freemixer.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"

namespace {

using media::AllocChannel;
using media::AudioDriverExists;
using media::AudioDrivers;
using media::SetAudioDriver;
using media::SoundData;
using media::TSound;

std::shared_ptr<TSound> ConstantSound(int16_t value, int frames, int flags = 0) {
    SoundData d;
    d.channels = 1;
    d.rate = 44100;
    d.samples.assign(frames, value);
    return std::make_shared<TSound>(std::move(d), flags);
}

// Closes a file descriptor at the end of a test.
struct Fd {
    Fd() = default;
    explicit Fd(int f) : fd(f) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int fd = -1;
    ~Fd() {
        if (fd >= 0) close(fd);
    }
};

class AudioDriverTest : public ::testing::Test {
  protected:
    void SetUp() override {
        old_clock = media::SetClock(clock);
        SetDevice(dir / "no-such-device");
        ASSERT_EQ(SetAudioDriver("Null"), 1);
    }
    void TearDown() override {
        SetAudioDriver("Null");
        unsetenv("ZQ_DSP_DEVICE");
        media::SetClock(old_clock);
    }
    void SetDevice(const std::string& path) { setenv("ZQ_DSP_DEVICE", path.c_str(), 1); }

    zqtest::TempDir dir;
    std::shared_ptr<media::VirtualClock> clock = std::make_shared<media::VirtualClock>();
    std::shared_ptr<media::Clock> old_clock;
};

TEST_F(AudioDriverTest, ListWithoutDeviceHasNoFreeMixer) {
    auto names = AudioDrivers();
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(names[0], "Null");
    for (const auto& n : names) EXPECT_NE(n.rfind("FreeMixer", 0), 0u) << n;
    EXPECT_FALSE(AudioDriverExists("FreeMixer"));
    EXPECT_EQ(SetAudioDriver("FreeMixer"), 0);
    EXPECT_EQ(media::CurrentAudioDriver(), "Null");
}

TEST_F(AudioDriverTest, ListWithDeviceOffersBothFreeMixerNamesAfterNull) {
    ASSERT_TRUE(zqtest::WriteWholeFile(dir / "dsp", ""));
    SetDevice(dir / "dsp");
    auto names = AudioDrivers();
    ASSERT_GE(names.size(), 3u);
    EXPECT_EQ(names[0], "Null");
    EXPECT_EQ(names[1], "FreeMixer");
    EXPECT_EQ(names[2], "FreeMixer OpenSound System");
    EXPECT_LE(names.size(), 100u);
    EXPECT_TRUE(AudioDriverExists("freemixer opensound SYSTEM"));
    EXPECT_FALSE(AudioDriverExists("FreeMixer OSS"));
    EXPECT_FALSE(AudioDriverExists(""));
}

TEST_F(AudioDriverTest, SettingDriversByAnyCase) {
    ASSERT_TRUE(zqtest::WriteWholeFile(dir / "dsp", ""));
    SetDevice(dir / "dsp");
    EXPECT_EQ(SetAudioDriver("FREEMIXER OPENSOUND SYSTEM"), 1);
    EXPECT_EQ(media::CurrentAudioDriver(), "FreeMixer OpenSound System");
    // An unknown name changes nothing.
    EXPECT_EQ(SetAudioDriver("DirectSound"), 0);
    EXPECT_EQ(media::CurrentAudioDriver(), "FreeMixer OpenSound System");
    EXPECT_EQ(SetAudioDriver("null"), 1);
    EXPECT_EQ(media::CurrentAudioDriver(), "Null");
}

TEST_F(AudioDriverTest, FreeMixerThatCannotOpenItsDeviceFailsToStart) {
    auto driver = media::audio_detail::MakeFreeMixerDriver();
    EXPECT_FALSE(driver->Start());
    // Its voices stay idle and harmless.
    auto voice = driver->NewVoice();
    auto sound = std::make_shared<const SoundData>(ConstantSound(1, 10)->Data());
    voice->Cue(sound, false, {});
    voice->SetPaused(false);
    driver->Shutdown();
    EXPECT_FALSE(voice->Playing());
}

TEST_F(AudioDriverTest, NullDriverFollowsTheSoundLengthOnTheClock) {
    auto sound = ConstantSound(100, 44100);  // one second
    auto ch = media::CueSound(sound, nullptr);
    EXPECT_EQ(ch->Playing(), 1);
    clock->Advance(5000);  // paused: time does not count
    EXPECT_EQ(ch->Playing(), 1);
    ch->SetPaused(false);
    clock->Advance(999);
    EXPECT_EQ(ch->Playing(), 1);
    clock->Advance(2);
    EXPECT_EQ(ch->Playing(), 0);

    ch = sound->Cue(ch);
    ch->SetRate(2.0);
    ch->SetPaused(false);
    clock->Advance(499);
    EXPECT_EQ(ch->Playing(), 1);
    clock->Advance(2);
    EXPECT_EQ(ch->Playing(), 0);

    auto loop = ConstantSound(100, 441, media::SOUND_LOOP)->Play();
    clock->Advance(60000);
    EXPECT_EQ(loop->Playing(), 1);
    loop->Stop();
    EXPECT_EQ(loop->Playing(), 0);
}

TEST_F(AudioDriverTest, NullSoundsAndStoppedChannelsAreHarmless) {
    auto ch = media::CueSound(nullptr, nullptr);
    ASSERT_NE(ch, nullptr);
    EXPECT_EQ(ch->Playing(), 0);
    EXPECT_EQ(media::PlaySound(nullptr, ch), ch);
    EXPECT_EQ(ch->Playing(), 0);
    ch->Stop();
    ch->SetPaused(false);
    ch->SetVolume(2.0);
    ch->SetPan(-7);
    ch->SetDepth(1);
    ch->SetRate(0.0);
    ch->Stop();
    EXPECT_EQ(ch->Playing(), 0);
    auto idle = AllocChannel();
    EXPECT_EQ(idle->Playing(), 0);
    // A sound without samples leaves the channel idle.
    auto empty = std::make_shared<TSound>(SoundData{1, 44100, {}}, 0);
    EXPECT_EQ(empty->Play(idle)->Playing(), 0);
}

TEST_F(AudioDriverTest, LoadSoundReadsFilesAndTheLoopFlag) {
    const std::string wav(
        "RIFF\x2A\x00\x00\x00WAVEfmt \x10\x00\x00\x00\x01\x00\x01\x00"
        "\x44\xAC\x00\x00\x88\x58\x01\x00\x02\x00\x10\x00"
        "data\x04\x00\x00\x00\x01\x00\x02\x00",
        48);  // the literal holds zero bytes
    ASSERT_TRUE(zqtest::WriteWholeFile(dir / "s.wav", wav));
    auto once = media::LoadSound(dir / "s.wav", 0);
    auto looped = media::LoadSound(dir / "s.wav", media::SOUND_LOOP);
    ASSERT_NE(once, nullptr);
    ASSERT_NE(looped, nullptr);
    EXPECT_FALSE(once->Loops());
    EXPECT_TRUE(looped->Loops());
    EXPECT_EQ(once->Data().samples, (std::vector<int16_t>{1, 2}));
    EXPECT_EQ(media::LoadSound(dir / "missing.wav", 0), nullptr);
    ASSERT_TRUE(zqtest::WriteWholeFile(dir / "junk.wav", "not a sound"));
    EXPECT_EQ(media::LoadSound(dir / "junk.wav", 0), nullptr);
}

TEST_F(AudioDriverTest, ChannelsOutliveADriverChange) {
    ASSERT_TRUE(zqtest::WriteWholeFile(dir / "dsp", ""));
    SetDevice(dir / "dsp");
    ASSERT_EQ(SetAudioDriver("FreeMixer"), 1);
    auto sound = ConstantSound(100, 44100 * 60, media::SOUND_LOOP);
    auto ch = sound->Play();
    ch->SetVolume(0.3);
    EXPECT_EQ(ch->Playing(), 1);
    ASSERT_EQ(SetAudioDriver("Null"), 1);
    EXPECT_EQ(ch->Playing(), 0);
    ch->SetPaused(false);
    ch->SetRate(3);
    ch->Stop();
    // Cued again it plays on the driver now running.
    sound->Cue(ch);
    EXPECT_EQ(ch->Playing(), 1);
}

// Reads stereo frames from a FIFO until pred says stop or time runs out.
template <typename Pred>
std::vector<int16_t> ReadFrames(int fd, Pred done, std::chrono::seconds limit) {
    std::vector<int16_t> frames;
    std::string pending;
    auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end && !done(frames)) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char buffer[4096];
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) continue;
        pending.append(buffer, n);
        size_t whole = pending.size() / 4 * 4;
        for (size_t i = 0; i < whole; i += 2) {
            frames.push_back(static_cast<int16_t>(static_cast<unsigned char>(pending[i]) |
                                                  static_cast<unsigned char>(pending[i + 1]) << 8));
        }
        pending.erase(0, whole);
    }
    return frames;
}

TEST_F(AudioDriverTest, MixerThreadWritesMixedSamplesToTheDevice) {
    std::string fifo = dir / "dsp-fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    SetDevice(fifo);
    EXPECT_FALSE(AudioDriverExists("FreeMixer"));  // nobody reading yet
    Fd reader(open(fifo.c_str(), O_RDONLY | O_NONBLOCK));
    ASSERT_GE(reader.fd, 0);
    ASSERT_TRUE(AudioDriverExists("FreeMixer"));
    ASSERT_EQ(SetAudioDriver("FreeMixer"), 1);

    const int kFrames = 4410;
    auto ch = AllocChannel();
    ch->SetVolume(0.5);  // set before the cue: stays with the channel
    ConstantSound(12000, kFrames)->Cue(ch);
    ch->SetPan(-1.0);
    ch->SetPaused(false);

    // Read until the sound has come and gone (a silent frame after it).
    auto samples = ReadFrames(
        reader.fd,
        [](const std::vector<int16_t>& s) {
            bool seen = false;
            for (size_t i = 0; i + 1 < s.size(); i += 2) {
                if (s[i] != 0)
                    seen = true;
                else if (seen)
                    return true;
            }
            return false;
        },
        std::chrono::seconds(20));
    int loud = 0, other = 0;
    for (size_t i = 0; i + 1 < samples.size(); i += 2) {
        if (samples[i] == 6000 && samples[i + 1] == 0) {
            ++loud;
        } else if (samples[i] != 0 || samples[i + 1] != 0) {
            ++other;
        }
    }
    EXPECT_EQ(loud, kFrames);
    EXPECT_EQ(other, 0);
    EXPECT_EQ(ch->Playing(), 0);
    EXPECT_EQ(SetAudioDriver("Null"), 1);  // joins the mixer thread
}

TEST_F(AudioDriverTest, DeviceThatGoesAwayLeavesTheProgramRunningSilently) {
    std::string fifo = dir / "dsp-fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    SetDevice(fifo);
    auto reader = std::make_unique<Fd>();
    reader->fd = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader->fd, 0);
    ASSERT_EQ(SetAudioDriver("FreeMixer"), 1);
    auto ch = ConstantSound(1000, 44100, media::SOUND_LOOP)->Play();
    EXPECT_EQ(ch->Playing(), 1);
    reader.reset();  // the reader goes: writes now fail with a broken pipe
    EXPECT_TRUE(zqtest::WaitFor([&] { return ch->Playing() == 0; }, 10000));
    EXPECT_EQ(SetAudioDriver("Null"), 1);
}

}  // namespace

namespace {

TEST(AudioExit, ProcessExitStopsTheMixerThread) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    zqtest::TempDir dir;
    ASSERT_TRUE(zqtest::WriteWholeFile(dir / "dsp", ""));
    std::string device = dir / "dsp";
    // The child leaves the driver running; exit must join its thread and end.
    EXPECT_EXIT(
        {
            setenv("ZQ_DSP_DEVICE", device.c_str(), 1);
            if (media::SetAudioDriver("FreeMixer") != 1) std::_Exit(3);
            ConstantSound(1000, 44100, media::SOUND_LOOP)->Play();
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
