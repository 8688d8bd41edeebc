// Tests of the effect channel pool (cursor, wrap to slot 20, skipped
// entries, clamping) and of the music channel.
#include <memory>

#include "game/game_assets.h"
#include "tests/game/game_fixture.h"

namespace {

using game_test::GameFixture;

std::shared_ptr<media::TSound> ShortSound() {
    media::SoundData data;
    data.channels = 1;
    data.rate = 22050;
    data.samples.assign(2205, 1000);
    return std::make_shared<media::TSound>(data, 0);
}

class SfxTest : public GameFixture {
  protected:
    void SetUp() override {
        GameFixture::SetUp();
        engine::Setup[engine::SETUP_SOUND] = 80;
        engine::Setup[engine::SETUP_MASTER] = 50;
        engine::SoundBank[2] = ShortSound();
    }
};

TEST_F(SfxTest, CursorWrapsToSlotTwentyAfterTwoHundredFiftyFive) {
    for (int i = 1; i <= 255; ++i) {
        game::PlaySfx(2, 1, 1, 0);
        ASSERT_EQ(game::SfxCursor, i);
        ASSERT_NE(engine::SfxChannels[i], nullptr);
    }
    game::PlaySfx(2, 1, 1, 0);
    EXPECT_EQ(game::SfxCursor, 20);
    game::PlaySfx(2, 1, 1, 0);
    EXPECT_EQ(game::SfxCursor, 21);
    EXPECT_EQ(engine::SfxChannels[256], nullptr);  // the jingle's slot is never touched
}

TEST_F(SfxTest, MissingEntryOrSilencedEffectsPlayNothing) {
    game::PlaySfx(3, 1, 1, 0);  // no sound in entry 3
    game::PlaySfx(0, 1, 1, 0);
    game::PlaySfx(500, 1, 1, 0);
    EXPECT_EQ(game::SfxCursor, 0);
    engine::Setup[engine::SETUP_SOUND] = 0;
    game::PlaySfx(2, 1, 1, 0);
    EXPECT_EQ(game::SfxCursor, 0);
    EXPECT_EQ(engine::SfxChannels[1], nullptr);
}

TEST_F(SfxTest, VolumeAboveOneIsClampedInTheSlotsVolume) {
    game::PlaySfx(2, 0.1, 1.3, -4);
    EXPECT_DOUBLE_EQ(engine::SfxVolumes[1], 1.0);
    game::PlaySfx(2, 1, -0.5, 0);
    EXPECT_DOUBLE_EQ(engine::SfxVolumes[2], 0.0);
}

TEST_F(SfxTest, AFinishedChannelIsReusedAndAPlayingOneReplaced) {
    game::PlaySfx(2, 1, 1, 0);
    auto first = engine::SfxChannels[1];
    ASSERT_NE(first, nullptr);
    first->Stop();
    game::SfxCursor = 0;
    game::PlaySfx(2, 1, 1, 0);
    EXPECT_EQ(engine::SfxChannels[1], first);  // reused, not replaced
    ASSERT_EQ(first->Playing(), 1);
    game::SfxCursor = 0;
    game::PlaySfx(2, 1, 1, 0);
    EXPECT_NE(engine::SfxChannels[1], first);  // still sounding: cut off, new channel
    EXPECT_EQ(first->Playing(), 0);
}

TEST_F(SfxTest, MusicStartsOnlyWithAVolumeAndATrack) {
    engine::Setup[engine::SETUP_MUSIC] = 0;
    game::PlayMusic(ShortSound());
    EXPECT_EQ(game::MusicChannel, nullptr);
    engine::Setup[engine::SETUP_MUSIC] = 40;
    game::PlayMusic(nullptr);
    EXPECT_EQ(game::MusicChannel, nullptr);
    game::PlayMusic(ShortSound());
    auto first = game::MusicChannel;
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->Playing(), 1);
    game::PlayMusic(ShortSound());
    EXPECT_NE(game::MusicChannel, first);
    EXPECT_EQ(first->Playing(), 0);
}

}  // namespace
