// Fuzz target for the font loader: the input is a TrueType file, loaded at a
// pixel size taken from its last byte and drawn into the font's atlas glyph
// by glyph, as the game's text drawing does. Every glyph must lie inside the
// atlas; nothing may crash, hang or overflow.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "engine/media/image_font.h"
#include "fuzz/fuzz_scratch.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::InitScratch("font.ttf");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const int pixels = 6 + data[size - 1] % 60;
    auto font = media::LoadImageFont(fuzz::WriteScratch(data, size - 1), pixels);
    if (!font) return 0;
    for (int code = 0; code < 256; ++code) {
        const media::TGlyph& g = font->Glyph(code);
        if (g.w > 0 && g.h > 0 &&
            (g.atlas_x < 0 || g.atlas_y < 0 || g.atlas_x + g.w > font->atlas_w ||
             g.atlas_y + g.h > font->atlas_h)) {
            std::abort();
        }
    }
    font->TextWidth("Zarquill \xE9t\xE9 0123456789");
    return 0;
}
