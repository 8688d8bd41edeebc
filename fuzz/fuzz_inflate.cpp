// Fuzz target for the own zlib reader: on any input it must give the zlib
// library's verdict (whole input used, exactly the size asked for) and, when
// both accept, the same bytes. Byte 0 chooses the size asked for: bytes 1-2 as
// a number (even), or the size zlib itself unpacks the rest to (odd), so that
// whole, valid streams are reached as often as damaged ones.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "engine/media/inflate.h"

namespace {

// The most bytes the zlib reference unpacks; larger streams count as refused by both.
constexpr size_t kMostUnpacked = size_t{1} << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const std::string_view packed(reinterpret_cast<const char*>(data + 3), size - 3);
    static std::string reference(kMostUnpacked, '\0');
    uLongf unpacked = kMostUnpacked;
    uLong used = packed.size();
    const int rc = uncompress2(reinterpret_cast<Bytef*>(reference.data()), &unpacked,
                               reinterpret_cast<const Bytef*>(packed.data()), &used);
    const bool whole = rc == Z_OK && used == packed.size();
    const size_t asked = (data[0] & 1) && whole ? unpacked : size_t{data[1]} | size_t{data[2]} << 8;
    const bool zlibAccepts = whole && unpacked == asked;
    std::string out;
    const bool accepted = media::InflateZlib(packed, asked, out);
    if (accepted != zlibAccepts) std::abort();
    if (accepted && std::string_view(out) != std::string_view(reference.data(), asked))
        std::abort();
    if (!accepted && !out.empty()) std::abort();
    return 0;
}
