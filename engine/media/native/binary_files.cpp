// zlib packing and CRC-32.
#include "engine/media/binary_files.h"

#include <zlib.h>

namespace media {

std::string PackBytes(std::string_view bytes, int level) {
    uLongf size = compressBound(static_cast<uLong>(bytes.size()));
    std::string packed(size, '\0');
    if (compress2(reinterpret_cast<Bytef*>(packed.data()), &size,
                  reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uLong>(bytes.size()),
                  level) != Z_OK) {
        return {};
    }
    packed.resize(size);
    return packed;
}

bool UnpackBytes(std::string_view packed, size_t expectedSize, std::string& out) {
    out.assign(expectedSize, '\0');
    uLongf size = static_cast<uLongf>(expectedSize);
    // uncompress needs a non-null buffer even for an empty result.
    Bytef spare = 0;
    Bytef* dest = expectedSize ? reinterpret_cast<Bytef*>(out.data()) : &spare;
    if (expectedSize == 0) size = 1;
    uLong used = static_cast<uLong>(packed.size());
    const int rc = uncompress2(dest, &size, reinterpret_cast<const Bytef*>(packed.data()), &used);
    // Bytes after the end of the stream are damage too (the browser build's reader says the same).
    if (rc != Z_OK || size != expectedSize || used != packed.size()) {
        out.clear();
        return false;
    }
    return true;
}

uint32_t Crc32(std::string_view bytes) {
    return static_cast<uint32_t>(
        crc32(0L, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

}  // namespace media
