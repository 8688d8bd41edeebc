// Tests of the OpenAL drivers with OpenAL Soft and no sound card: its null
// backend (chosen through ALSOFT_DRIVERS) plays in real time, and its
// loopback device renders into a buffer, so volume, pan and rate can be heard.
#include <gtest/gtest.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>

#include "engine/media/audio.h"
#include "engine/media/desktop/desktop.h"
#include "engine/media/desktop/openal_driver.h"
#include "tests/support/wait.h"

namespace {

using media::SoundData;
using media::audio_detail::OpenALDriver;
using media::audio_detail::VoiceSettings;

std::shared_ptr<const SoundData> Constant(int16_t value, int frames) {
    auto s = std::make_shared<SoundData>();
    s->channels = 1;
    s->rate = 44100;
    s->samples.assign(frames, value);
    return s;
}

class OpenALTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        // OpenAL Soft's silent backend that still plays in real time.
        setenv("ALSOFT_DRIVERS", "null", 1);
        enabled = media::EnableOpenALAudio();
    }
    void SetUp() override {
        if (enabled != 1) GTEST_SKIP() << "no OpenAL library on this machine";
        ASSERT_EQ(media::SetAudioDriver("Null"), 1);
    }
    void TearDown() override { media::SetAudioDriver("Null"); }

    static inline int enabled = 0;
};

TEST_F(OpenALTest, RegistersItsDriversAfterTheOthers) {
    EXPECT_EQ(media::EnableOpenALAudio(), 1);  // later calls give the first result
    auto names = media::AudioDrivers();
    auto first = std::find(names.begin(), names.end(), "OpenAL");
    ASSERT_NE(first, names.end());
    ASSERT_GE(names.end() - first, 3);
    EXPECT_EQ(first[1], "OpenAL Default");
    EXPECT_EQ(first[2], "OpenAL No Output");  // the null backend's device
    for (auto it = names.begin(); it != first; ++it) {
        EXPECT_NE(it->rfind("OpenAL", 0), 0u) << *it;
    }
    EXPECT_EQ(names[0], "Null");
    EXPECT_TRUE(media::AudioDriverExists("openal no output"));
}

// Waits (bounded) until the channel stops playing; returns its last answer.
int WaitUntilSilent(media::TChannel& ch, std::chrono::seconds limit) {
    zqtest::WaitFor([&] { return ch.Playing() != 1; }, static_cast<int>(limit.count() * 1000));
    return ch.Playing();
}

TEST_F(OpenALTest, PlaysThroughTheDefaultDevice) {
    ASSERT_EQ(media::SetAudioDriver("OpenAL Default"), 1);
    EXPECT_EQ(media::CurrentAudioDriver(), "OpenAL Default");
    SoundData d;
    d.channels = 1;
    d.rate = 44100;
    d.samples.assign(2205, 3000);  // 50 ms
    auto sound = std::make_shared<media::TSound>(std::move(d), 0);
    auto ch = media::CueSound(sound, nullptr);
    EXPECT_EQ(ch->Playing(), 1);  // cued, paused
    ch->SetVolume(0.7);
    ch->SetPan(0.3);
    ch->SetRate(1.5);
    ch->SetPaused(false);
    EXPECT_EQ(WaitUntilSilent(*ch, std::chrono::seconds(10)), 0);
    // A finished sound is not started again by unpausing.
    ch->SetPaused(false);
    EXPECT_EQ(ch->Playing(), 0);

    auto looped = std::make_shared<media::TSound>(sound->Data(), media::SOUND_LOOP);
    auto loop_ch = looped->Play();
    EXPECT_EQ(loop_ch->Playing(), 1);
    loop_ch->SetPaused(true);
    EXPECT_EQ(loop_ch->Playing(), 1);
    loop_ch->Stop();
    EXPECT_EQ(loop_ch->Playing(), 0);

    loop_ch = looped->Play(loop_ch);
    ASSERT_EQ(media::SetAudioDriver("OpenAL No Output"), 1);
    EXPECT_EQ(loop_ch->Playing(), 0);  // its driver is gone
    loop_ch->SetVolume(0.1);
    looped->Play(loop_ch);
    EXPECT_EQ(loop_ch->Playing(), 1);  // and it works on the new one
}

class OpenALLoopbackTest : public OpenALTest {
  protected:
    void SetUp() override {
        OpenALTest::SetUp();
        if (IsSkipped()) return;
        driver = OpenALDriver::Loopback(44100);
        if (!driver->Start()) GTEST_SKIP() << "OpenAL library without a loopback device";
    }
    void TearDown() override {
        if (driver) driver->Shutdown();
        OpenALTest::TearDown();
    }

    struct Level {
        double left = 0, right = 0;
    };
    // Plays a constant sound and returns the mean levels of the two sides
    // once the start of the sound has passed.
    Level Play(VoiceSettings settings) {
        auto voice = driver->NewVoice();
        voice->Cue(Constant(8000, 44100), false, settings);
        voice->SetPaused(false);
        std::vector<int16_t> out(2 * 2048);
        driver->RenderLoopback(out.data(), 2048);
        Level level;
        for (int i = 1024; i < 2048; ++i) {
            level.left += std::abs(out[2 * i]) / 1024.0;
            level.right += std::abs(out[2 * i + 1]) / 1024.0;
        }
        voice->Stop();
        return level;
    }

    std::unique_ptr<OpenALDriver> driver;
};

TEST_F(OpenALLoopbackTest, CentredSoundIsEvenOnBothSides) {
    Level c = Play({1.0, 0.0, 1.0});
    EXPECT_GT(c.left, 1000);
    EXPECT_NEAR(c.left, c.right, c.left * 0.05);
}

TEST_F(OpenALLoopbackTest, PanMovesTheSoundToOneSide) {
    Level left = Play({1.0, -1.0, 1.0});
    Level right = Play({1.0, 1.0, 1.0});
    EXPECT_GT(left.left, 3 * left.right + 100);
    EXPECT_GT(right.right, 3 * right.left + 100);
}

TEST_F(OpenALLoopbackTest, VolumeScalesTheLevel) {
    Level full = Play({1.0, 0.0, 1.0});
    Level half = Play({0.5, 0.0, 1.0});
    Level none = Play({0.0, 0.0, 1.0});
    EXPECT_NEAR(half.left / full.left, 0.5, 0.05);
    EXPECT_LT(none.left, 1.0);
}

TEST_F(OpenALLoopbackTest, RateChangesHowLongTheSoundLasts) {
    auto sound = Constant(8000, 4410);
    std::vector<int16_t> out(2 * 3000);
    auto normal = driver->NewVoice();
    auto fast = driver->NewVoice();
    normal->Cue(sound, false, {1.0, 0.0, 1.0});
    fast->Cue(sound, false, {1.0, 0.0, 2.0});
    normal->SetPaused(false);
    fast->SetPaused(false);
    driver->RenderLoopback(out.data(), 1900);
    EXPECT_TRUE(fast->Playing());
    driver->RenderLoopback(out.data(), 1100);  // 3000 frames in: past 4410 / 2
    EXPECT_FALSE(fast->Playing());
    EXPECT_TRUE(normal->Playing());
    driver->RenderLoopback(out.data(), 3000);
    EXPECT_FALSE(normal->Playing());
}

TEST_F(OpenALLoopbackTest, VoicesAreHarmlessAfterShutdown) {
    auto voice = driver->NewVoice();
    voice->Cue(Constant(8000, 44100), true, {});
    voice->SetPaused(false);
    driver->Shutdown();
    EXPECT_FALSE(voice->Playing());
    voice->Cue(Constant(8000, 100), false, {});
    voice->SetPaused(false);
    voice->Apply({0.5, 0.5, 0.5});
    voice->Stop();
    EXPECT_FALSE(voice->Playing());
    std::vector<int16_t> out(8);
    EXPECT_FALSE(driver->RenderLoopback(out.data(), 4));
}

}  // namespace
