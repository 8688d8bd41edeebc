// The game's images and track, the effect channel pool and the music
// channel.
#include "game/game_assets.h"

#include <string>
#include <utility>

#include "engine/draw_helpers.h"
#include "engine/graphics_setup.h"
#include "engine/log.h"
#include "engine/setup_table.h"
#include "engine/sprite_budgets.h"

namespace game {

namespace {

constexpr int kImageFlags = media::MASKEDIMAGE | media::FILTEREDIMAGE;
constexpr int kEngineTestAim = 60;
constexpr double kEngineTestScale = 2;

}  // namespace

std::shared_ptr<media::TImage> TitleImage;
std::shared_ptr<media::TImage> GridImage;
std::shared_ptr<media::TImage> ShipsImage;
std::shared_ptr<media::TImage> StarsImage;
std::shared_ptr<media::TImage> ShipImage;
std::shared_ptr<media::TImage> OrbImage;
std::shared_ptr<media::TImage> Orb2Image;
std::shared_ptr<media::TImage> SplodgeImage;
std::shared_ptr<media::TSound> GameTrack;
int SfxCursor = 0;
std::shared_ptr<media::TChannel> MusicChannel;

namespace {

// Loads one image and logs a line when it is missing.
std::shared_ptr<media::TImage> LoadOne(const std::string& file) {
    auto image = media::LoadImage(file, kImageFlags);
    if (!image) engine::WriteLog("\tGame: missing image " + file);
    return image;
}

// Loads an image of equal cells and logs a line when it is missing.
std::shared_ptr<media::TImage> LoadCells(const std::string& file, int size, int count) {
    auto image = media::LoadAnimImage(file, size, size, 0, count, kImageFlags);
    if (!image) engine::WriteLog("\tGame: missing image " + file);
    return image;
}

}  // namespace

std::unique_ptr<engine::Screen> MakeGameEngineTest(std::function<void()> done) {
    return engine::MakeEngineTest(kEngineTestAim, kEngineTestScale, std::move(done));
}

void LoadGameAssets() {
    TitleImage = LoadOne("logo.png");
    GridImage = LoadCells("grid.png", 64, 100);
    ShipsImage = LoadCells("ships.png", 64, 64);
    StarsImage = LoadCells("stars.png", 1, 256);
    ShipImage = LoadOne("ship.png");
    OrbImage = LoadOne("orb.png");
    Orb2Image = LoadOne("orb2.png");
    SplodgeImage = LoadCells("splodge.png", 256, 16);
    GameTrack = media::LoadSound("MicrobesLight.ogg", 0);
    if (!GameTrack) engine::WriteLog("\tGame: missing sound MicrobesLight.ogg");
}

void PlaySfx(int entry, double rate, double volume, double pan) {
    const int sound = engine::Setup[engine::SETUP_SOUND];
    if (sound <= 0) return;
    if (entry < 1 || entry >= engine::kSoundBankSlots || !engine::SoundBank[entry]) return;
    SfxCursor += 1;
    if (SfxCursor > kLastSfxSlot) SfxCursor = kSfxWrapSlot;
    volume = engine::ClampReal(volume, 0, 1);
    rate = engine::ClampReal(rate, 0.25, 4);
    pan = engine::ClampReal(pan, -1, 1);
    auto& slot = engine::SfxChannels[SfxCursor];
    if (slot && slot->Playing()) {
        slot->Stop();
        slot.reset();
    }
    if (!slot) slot = media::AllocChannel();
    media::CueSound(engine::SoundBank[entry], slot);
    slot->SetVolume(sound * engine::Setup[engine::SETUP_MASTER] / 100.0 / 100.0 * volume);
    engine::SfxVolumes[SfxCursor] = volume;
    slot->SetPan(pan);
    slot->SetRate(rate);
    slot->SetPaused(false);
}

void PlayMusic(const std::shared_ptr<media::TSound>& sound) {
    const int music = engine::Setup[engine::SETUP_MUSIC];
    if (music <= 0 || !sound) return;
    if (MusicChannel) MusicChannel->Stop();
    MusicChannel = media::AllocChannel();
    media::CueSound(sound, MusicChannel);
    MusicChannel->SetVolume(music * engine::Setup[engine::SETUP_MASTER] / 100.0 / 100.0);
    MusicChannel->SetPaused(false);
}

void ResetGameAssets() {
    TitleImage.reset();
    GridImage.reset();
    ShipsImage.reset();
    StarsImage.reset();
    ShipImage.reset();
    OrbImage.reset();
    Orb2Image.reset();
    SplodgeImage.reset();
    GameTrack.reset();
    if (MusicChannel) MusicChannel->Stop();
    MusicChannel.reset();
    SfxCursor = 0;
}

}  // namespace game
