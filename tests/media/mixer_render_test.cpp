// Tests of the own software mixer: what Render() produces for volume, pan,
// rate, stereo sounds, clipping, looping and the end of a sound, and how
// voices behave when paused, stopped or dropped. No threads or devices,
// except one case that renders while the main thread drives voices.
#include "engine/media/desktop/mixer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

using media::Mixer;
using media::SoundData;
using media::audio_detail::VoiceSettings;

std::shared_ptr<const SoundData> Constant(int16_t value, int frames, int rate = 44100) {
    auto s = std::make_shared<SoundData>();
    s->channels = 1;
    s->rate = rate;
    s->samples.assign(frames, value);
    return s;
}

// A mono ramp: frame i holds i * step.
std::shared_ptr<const SoundData> Ramp(int frames, int step, int rate = 44100) {
    auto s = std::make_shared<SoundData>();
    s->channels = 1;
    s->rate = rate;
    for (int i = 0; i < frames; ++i) s->samples.push_back(static_cast<int16_t>(i * step));
    return s;
}

class MixerTest : public ::testing::Test {
  protected:
    std::vector<int16_t> Render(int frames) {
        std::vector<int16_t> out(frames * 2, 12345);  // junk: Render must overwrite it
        mixer->Render(out.data(), frames);
        return out;
    }
    // Cues a sound with settings and starts it.
    std::shared_ptr<media::audio_detail::Voice> Start(std::shared_ptr<const SoundData> s,
                                                      VoiceSettings settings = {},
                                                      bool loop = false) {
        auto v = mixer->NewVoice();
        v->Cue(s, loop, settings);
        v->SetPaused(false);
        return v;
    }

    std::shared_ptr<Mixer> mixer = std::make_shared<Mixer>(44100);
};

TEST_F(MixerTest, SilenceWithoutVoices) {
    auto out = Render(64);
    for (int16_t s : out) EXPECT_EQ(s, 0);
}

TEST_F(MixerTest, VolumeScalesBothSides) {
    auto v = Start(Constant(10000, 100), {0.5, 0.0, 1.0});
    auto out = Render(10);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(out[2 * i], 5000);
        EXPECT_EQ(out[2 * i + 1], 5000);
    }
    v->Apply({0.0, 0.0, 1.0});
    out = Render(10);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 0);
}

TEST_F(MixerTest, PanIsABalance) {
    struct Case {
        double pan;
        int16_t left, right;
    };
    for (Case c : {Case{-1.0, 10000, 0}, Case{1.0, 0, 10000}, Case{0.5, 5000, 10000},
                   Case{-0.25, 10000, 7500}, Case{0.0, 10000, 10000}}) {
        auto m = std::make_shared<Mixer>(44100);
        auto v = m->NewVoice();
        v->Cue(Constant(10000, 50), false, {1.0, c.pan, 1.0});
        v->SetPaused(false);
        int16_t out[8];
        m->Render(out, 4);
        EXPECT_EQ(out[6], c.left) << "pan " << c.pan;
        EXPECT_EQ(out[7], c.right) << "pan " << c.pan;
    }
}

TEST_F(MixerTest, StereoSoundKeepsItsSides) {
    auto s = std::make_shared<SoundData>();
    s->channels = 2;
    s->rate = 44100;
    for (int i = 0; i < 20; ++i) s->samples.insert(s->samples.end(), {1000, -2000});
    auto v = Start(s, {1.0, 0.5, 1.0});
    auto out = Render(4);
    EXPECT_EQ(out[0], 500);    // left side halved by the pan
    EXPECT_EQ(out[1], -2000);  // right side untouched
}

TEST_F(MixerTest, RateTwoSkipsEveryOtherFrame) {
    auto v = Start(Ramp(100, 10), {1.0, -1.0, 2.0});
    auto out = Render(10);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(out[2 * i], i * 20) << i;
}

TEST_F(MixerTest, RateHalfInterpolatesBetweenFrames) {
    auto v = Start(Ramp(100, 10), {1.0, -1.0, 0.5});
    auto out = Render(10);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(out[2 * i], i * 5) << i;
}

TEST_F(MixerTest, SoundRateIsConvertedToOutputRate) {
    // A 22050 Hz sound at rate 1 advances half a frame per output frame.
    auto v = Start(Ramp(100, 10, 22050), {1.0, -1.0, 1.0});
    auto out = Render(6);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(out[2 * i], i * 5) << i;
}

TEST_F(MixerTest, SumsVoicesAndClipsToSixteenBits) {
    auto a = Start(Constant(30000, 50));
    auto b = Start(Constant(30000, 50));
    auto c = Start(Constant(-30000, 50), {1.0, 1.0, 1.0});  // right side only
    auto out = Render(4);
    EXPECT_EQ(out[0], 32767);  // 60000 clipped
    EXPECT_EQ(out[1], 30000);  // 60000 - 30000
    auto m = std::make_shared<Mixer>(44100);
    std::vector<std::shared_ptr<media::audio_detail::Voice>> voices;
    for (int i = 0; i < 2; ++i) {
        voices.push_back(m->NewVoice());
        voices.back()->Cue(Constant(-30000, 50), false, {});
        voices.back()->SetPaused(false);
    }
    int16_t low[2];
    m->Render(low, 1);
    EXPECT_EQ(low[0], -32768);
}

TEST_F(MixerTest, SoundEndsAfterItsLastFrame) {
    auto v = Start(Constant(1000, 100));
    auto out = Render(150);
    EXPECT_EQ(out[2 * 99], 1000);
    EXPECT_EQ(out[2 * 100], 0);
    EXPECT_EQ(out[2 * 149], 0);
    EXPECT_FALSE(v->Playing());
    EXPECT_EQ(mixer->ActiveTracks(), 0);
}

TEST_F(MixerTest, LoopingSoundWrapsAround) {
    auto v = Start(Ramp(10, 100), {1.0, -1.0, 1.0}, true);
    auto out = Render(25);
    EXPECT_EQ(out[2 * 9], 900);
    EXPECT_EQ(out[2 * 10], 0);
    EXPECT_EQ(out[2 * 23], 300);
    EXPECT_TRUE(v->Playing());
}

TEST_F(MixerTest, CueIsPausedAtTheStartUntilResumed) {
    auto v = mixer->NewVoice();
    v->Cue(Ramp(100, 10), false, {1.0, -1.0, 1.0});
    EXPECT_TRUE(v->Playing());
    auto out = Render(5);
    EXPECT_EQ(out[2 * 4], 0);
    v->SetPaused(false);
    out = Render(5);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[2 * 4], 40);
    v->SetPaused(true);
    Render(5);
    v->SetPaused(false);
    out = Render(1);
    EXPECT_EQ(out[0], 50);  // carries on where it was paused
}

TEST_F(MixerTest, RecueRestartsFromTheBeginning) {
    auto v = Start(Ramp(100, 10), {1.0, -1.0, 1.0});
    Render(30);
    v->Cue(Ramp(100, 10), false, {1.0, -1.0, 1.0});
    v->SetPaused(false);
    auto out = Render(2);
    EXPECT_EQ(out[2], 10);
    EXPECT_EQ(mixer->ActiveTracks(), 1);
}

TEST_F(MixerTest, StoppedVoiceIsSilentAndIgnoresCalls) {
    auto v = Start(Constant(1000, 100));
    v->Stop();
    EXPECT_FALSE(v->Playing());
    v->SetPaused(false);
    v->Apply({1.0, 0.0, 2.0});
    v->Stop();
    EXPECT_FALSE(v->Playing());
    auto out = Render(4);
    EXPECT_EQ(out[0], 0);
}

TEST_F(MixerTest, DroppedVoiceFinishesButAnUnstartedOneIsForgotten) {
    Start(Constant(1000, 100));  // handle dropped at once
    {
        auto cued = mixer->NewVoice();
        cued->Cue(Constant(1000, 100), false, {});
    }
    EXPECT_EQ(mixer->ActiveTracks(), 1);
    auto out = Render(4);
    EXPECT_EQ(out[0], 1000);
    Render(100);
    EXPECT_EQ(mixer->ActiveTracks(), 0);
}

TEST_F(MixerTest, ClosedMixerEndsSoundsAndIgnoresCues) {
    auto v = Start(Constant(1000, 100));
    mixer->Close();
    EXPECT_FALSE(v->Playing());
    v->Cue(Constant(1000, 100), false, {});
    v->SetPaused(false);
    EXPECT_FALSE(v->Playing());
    EXPECT_EQ(Render(2)[0], 0);
}

TEST_F(MixerTest, RenderingThreadAndMainThreadShareVoices) {
    std::atomic<bool> done{false};
    std::thread renderer([&] {
        int16_t block[256];
        while (!done) mixer->Render(block, 128);
    });
    auto sound = Constant(500, 300);
    for (int i = 0; i < 2000; ++i) {
        auto v = mixer->NewVoice();
        v->Cue(sound, i % 3 == 0, {0.5, 0.1, 1.5});
        v->SetPaused(false);
        v->Apply({0.2, -0.3, 0.7});
        if (i % 2 == 0) v->Stop();
        (void)v->Playing();
    }
    mixer->StopAll();
    done = true;
    renderer.join();
    EXPECT_EQ(mixer->ActiveTracks(), 0);
}

}  // namespace
