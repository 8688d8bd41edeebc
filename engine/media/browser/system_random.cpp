// The system's random source in the browser: crypto.getRandomValues, which
// fills at most 65,536 bytes a call.
#include <emscripten.h>

#include <algorithm>

#include "engine/media/random.h"

namespace {

// Fills n (at most 65,536) bytes at out; returns 0 when the page has no crypto.getRandomValues.
EM_JS(int, zq_random_fill, (unsigned char* out, int n), {
    if (typeof crypto !== 'object' || typeof crypto.getRandomValues !== 'function') return 0;
    crypto.getRandomValues(HEAPU8.subarray(out, out + n));
    return 1;
});

constexpr size_t kMostPerCall = 65536;

}  // namespace

namespace media {

bool SystemRandomBytes(void* out, size_t n) {
    auto* bytes = static_cast<unsigned char*>(out);
    for (size_t done = 0; done < n;) {
        const size_t chunk = std::min(n - done, kMostPerCall);
        if (!zq_random_fill(bytes + done, static_cast<int>(chunk))) return false;
        done += chunk;
    }
    return true;
}

}  // namespace media
