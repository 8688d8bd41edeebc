// Fuzz target for the field reader: every answer must agree with a plain
// split of the trimmed text. Input: byte 0 picks n, byte 1 the separator's
// length (0..3), then the separator, then the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "scores/fields/get_field.h"

namespace {

// Returns the n-th field of the trimmed text split at sep, "-+-" when missing.
std::string ReferenceField(const std::string& raw, const std::string& sep, int n) {
    if (sep.empty()) return {};
    size_t b = 0, e = raw.size();
    while (b < e && static_cast<unsigned char>(raw[b]) <= 32) ++b;
    while (e > b && static_cast<unsigned char>(raw[e - 1]) <= 32) --e;
    const std::string text = raw.substr(b, e - b);
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t p; (p = text.find(sep, start)) != std::string::npos; start = p + sep.size()) {
        fields.push_back(text.substr(start, p - start));
    }
    fields.push_back(text.substr(start));
    if (fields.size() == 1) fields.push_back(text);
    if (n < 1) n = 1;
    if (static_cast<size_t>(n) > fields.size()) return "-+-";
    return fields[static_cast<size_t>(n - 1)];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const int pick = data[0];
    // Mostly small field numbers, now and then huge or below 1.
    const int n = pick == 255 ? 2147483647 : pick == 254 ? -5 : pick % 40;
    const size_t sepLen = data[1] % 4;
    if (size < 2 + sepLen) return 0;
    const std::string sep(reinterpret_cast<const char*>(data + 2), sepLen);
    const std::string text(reinterpret_cast<const char*>(data + 2 + sepLen), size - 2 - sepLen);
    if (scores::GetField(text, sep, n) != ReferenceField(text, sep, n)) std::abort();
    return 0;
}
