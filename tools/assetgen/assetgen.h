// The asset generator's parts: the shared images, the game's images, the icon, sound effects
// and music.
#pragma once

#include <string>
#include <vector>

#include "tools/assetgen/gen_util.h"

namespace assetgen {

// One generated image and where it goes.
struct NamedImage {
    std::string folder;  // "Common" or "274"
    std::string name;    // file name
    Canvas canvas;
    int cell_w, cell_h;  // cell size of an animation strip (the whole image for one cell)
};

// Makes icons.png, logo.png and Codaloo.png of the shared folder.
std::vector<NamedImage> MakeCommonImages();
// Makes the game's images: badges, title, terrain, craft, stars, ship, glows and nebulae.
std::vector<NamedImage> MakeGameImages();
// Makes the program's icon, a square of side size: the title's sun behind the player's ship.
Canvas MakeIcon(int size);
// Writes the numbered sound effects into game_dir and the jingle "open.ogg" into common_dir.
bool WriteSounds(const std::string& common_dir, const std::string& game_dir);
// Writes the music track "MicrobesLight.ogg" into game_dir.
bool WriteMusic(const std::string& game_dir);
// Writes 16-bit PCM samples as a WAV file; returns false when it cannot be written.
bool WriteWav(const std::string& path, const std::vector<float>& samples, int channels, int rate);
// Encodes samples (interleaved floats, -1..1) as Ogg Vorbis with a fixed stream serial.
bool WriteOgg(const std::string& path, const std::vector<float>& samples, int channels, int rate,
              float quality);

}  // namespace assetgen
