// Memory figures for the debug overlay. C++ has no collector, so these report
// the C allocator: MemoryInUse is the bytes the allocator has handed out and
// not yet got back. GCCollect has nothing to collect and returns 0: handing
// free pages back to the system every second frame (malloc_trim) cost about
// 0.9 ms a call on an 80 MB heap, several times a whole game step (see the
// game benchmark), for memory the program reuses a moment later.
#pragma once

#include <cstdint>

namespace media {

// Returns the bytes of heap memory currently allocated by the program.
int64_t MemoryInUse();
// Returns what a collection step released: always 0, there is no collector.
int GCCollect();

}  // namespace media
