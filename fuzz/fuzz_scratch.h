// A scratch file for fuzz targets whose loaders read from a path: one file in
// a private folder on tmpfs (when there is one), removed at exit. Also keeps
// the loaders' failure lines out of the fuzzer's output.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/media/asset_read.h"

namespace fuzz {

inline std::string& ScratchDir() {
    static std::string dir;
    return dir;
}

inline std::string& ScratchPath() {
    static std::string path;
    return path;
}

inline void RemoveScratch() {
    ::unlink(ScratchPath().c_str());
    ::rmdir(ScratchDir().c_str());
}

// Makes the scratch folder; the file in it is called name.
inline void InitScratch(const char* name) {
    char pattern[] = "/dev/shm/zq_fuzz_XXXXXX";
    char fallback[] = "/tmp/zq_fuzz_XXXXXX";
    const char* dir = ::mkdtemp(pattern);
    if (dir == nullptr) dir = ::mkdtemp(fallback);
    if (dir == nullptr) std::abort();
    ScratchDir() = dir;
    ScratchPath() = ScratchDir() + "/" + name;
    std::atexit(RemoveScratch);
    media::SetLoadFailureSink([](std::string_view) {});
}

// Replaces the scratch file with the bytes and returns its path.
inline const std::string& WriteScratch(const uint8_t* data, size_t size) {
    FILE* f = std::fopen(ScratchPath().c_str(), "wb");
    if (f == nullptr) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
    if (std::fclose(f) != 0) std::abort();
    return ScratchPath();
}

}  // namespace fuzz
