// GetField: the field reader, with its exact edge behaviour (a text without
// the separator answers field 2 with the whole text; callers rely on that).
#include "scores/fields/get_field.h"

#include "engine/media/text.h"

namespace scores {

std::string GetField(std::string_view text_in, std::string_view separator, int n) {
    // An empty separator is found at every position with length 0, so every
    // field is empty; answer at once instead of looping n times.
    if (separator.empty()) return {};
    std::string text = media::Trim(text_in);
    int start = 1;
    int pos = 0;
    bool missing = false;
    const int sepLen = static_cast<int>(separator.size());
    for (int i = 1; i < n; ++i) {
        int f = media::Instr(text, separator, start);
        if (f + 1 <= pos) {
            // Once a field is missing every later one is too: stop here, so
            // that a huge n costs no more than the text's separators.
            missing = true;
            break;
        } else {
            pos = f != 0 ? f + sepLen : 1;
        }
        start = pos;
    }
    if (missing) return kMissingField;
    int length = media::Instr(text, separator, start) - start;
    if (length < 0) return media::Mid(text, start);
    return media::Mid(text, start, length);
}

}  // namespace scores
