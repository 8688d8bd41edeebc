// Glyphs rendered ahead of time for the browser build, which carries no font
// renderer: the native build renders each face the game opens (one file at one
// pixel size) and ships its glyphs; the browser's font faces hand them out as
// a font renderer would.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace media {

// Character codes a baked face covers (those of image fonts: 0..255).
inline constexpr int kBakedCodes = 256;

// One glyph as the native renderer made it.
struct BakedGlyph {
    int index = -1;  // the face's glyph index, -1 when the face lacks the character
    bool rendered = false;
    float advance = 0;
    int left = 0, top = 0;
    int width = 0, rows = 0;
    std::vector<uint8_t> bits;  // width × rows grey bytes, rows top to bottom
};

// One face at one pixel size.
struct BakedFace {
    long ascent = 0;
    long descent = 0;
    std::array<BakedGlyph, kBakedCodes> glyphs;
};

// Returns the name a face is kept under: the font file's name without its folder, '@', the size.
inline std::string BakedFaceKey(const std::string& path, int pixelSize) {
    const size_t slash = path.find_last_of('/');
    return path.substr(slash == std::string::npos ? 0 : slash + 1) + "@" +
           std::to_string(pixelSize);
}
// Keeps a face for the font file and size of its key (replacing one kept before).
void AddBakedFace(const std::string& key, BakedFace face);
// Forgets every kept face (faces already opened keep their glyphs).
void ClearBakedFaces();

}  // namespace media
