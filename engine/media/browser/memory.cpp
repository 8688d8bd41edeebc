// Allocator figures from the WebAssembly C library's mallinfo.
#include "engine/media/memory.h"

#include <malloc.h>

namespace media {

int64_t MemoryInUse() {
    const struct mallinfo info = mallinfo();
    return static_cast<int64_t>(info.uordblks) + static_cast<int64_t>(info.hblkhd);
}

int GCCollect() {
    return 0;
}

}  // namespace media
