// Allocator figures from glibc's mallinfo2 and malloc_trim.
#include "engine/media/memory.h"

#include <malloc.h>

namespace media {

int64_t MemoryInUse() {
    struct mallinfo2 info = mallinfo2();
    return static_cast<int64_t>(info.uordblks + info.hblkhd);
}

int GCCollect() {
    return malloc_trim(0) ? 1 : 0;
}

}  // namespace media
