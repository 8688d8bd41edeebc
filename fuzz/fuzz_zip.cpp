// Fuzz target for the zip reader: on any input, opening and unpacking every
// member ends with a reason or with bytes whose size and check value are the
// directory's, every listed name passes the name check, and nothing is read
// outside the input (AddressSanitizer watches that).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "engine/media/inflate.h"
#include "engine/media/zip_archive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view archive(reinterpret_cast<const char*>(data), size);
    media::TZipReader reader;
    std::string error;
    if (!reader.Open(archive, error)) {
        if (error.empty()) std::abort();
        return 0;
    }
    for (const media::TZipEntry& e : reader.Entries()) {
        if (!media::ZipNameProblem(e.name).empty()) std::abort();
        std::string out;
        if (!reader.Extract(e, out, error)) {
            if (error.compare(0, e.name.size(), e.name) != 0) std::abort();
            continue;
        }
        if (out.size() != e.size || media::TableCrc32(out) != e.crc) std::abort();
    }
    return 0;
}
