// Memory figures for the debug overlay. C++ has no collector, so these report
// the C allocator: MemoryInUse is the bytes the allocator has handed out and
// not yet got back, and GCCollect asks the allocator to hand free pages back
// to the system and returns 1 when it released any, else 0.
// Depends on glibc malloc.
#pragma once

#include <cstdint>

namespace media {

// Returns the bytes of heap memory currently allocated by the program.
int64_t MemoryInUse();
// Returns free heap pages to the system; returns 1 when any were released.
int GCCollect();

}  // namespace media
