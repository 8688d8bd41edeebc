// Fuzz target for the replay reader. Byte 0 chooses whether the rest is read
// as it is or first resealed with a correct file check value, so that the
// fuzzer gets past the check into the header and step decoding. Whatever
// decodes must code again into bytes that decode to the same replay.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/media/binary_files.h"
#include "game/replay_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    if ((data[0] & 1) && bytes.size() >= 4) {
        const uint32_t crc = media::Crc32(std::string_view(bytes).substr(0, bytes.size() - 4));
        for (int i = 0; i < 4; ++i) bytes[bytes.size() - 4 + i] = static_cast<char>(crc >> (8 * i));
    }
    game::Replay replay;
    std::string error;
    if (!game::DecodeReplay(bytes, replay, error)) {
        if (error.empty()) std::abort();  // every refusal says why
        return 0;
    }
    const std::string again = game::EncodeReplay(replay);
    game::Replay back;
    if (again.empty() || !game::DecodeReplay(again, back, error) || !(back == replay)) std::abort();
    return 0;
}
