// Fuzz target for the PNG loader: the input is an image file, loaded as the
// game loads its pictures (a one-frame image and a sheet of cells). A loaded
// image must have the size its pixels say; nothing may crash or overflow.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "engine/media/graphics.h"
#include "fuzz/fuzz_scratch.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::InitScratch("image.png");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = fuzz::WriteScratch(data, size);
    auto image = media::LoadImage(path);
    if (!image) return 0;
    const auto& pm = image->pixmaps.at(0);
    if (!pm || pm->width != image->width || pm->height != image->height ||
        pm->pixels.size() != static_cast<size_t>(pm->pitch) * pm->height) {
        std::abort();
    }
    media::LoadAnimImage(path, 3, 2, 0, 2);
    return 0;
}
