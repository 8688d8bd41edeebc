// The automatic audio driver preference.
#include "app/audio_choice.h"

#include "engine/media/text.h"

namespace app {

namespace {

bool StartsWith(const std::string& name, const char* prefix, int length) {
    return media::Upper(media::Left(name, length)) == prefix;
}

}  // namespace

bool IsOpenALDriverName(const std::string& name) {
    return StartsWith(name, "OPENAL", 6);
}

int ChooseAudioDriver(const std::vector<std::string>& names, bool driverChosen,
                      int configuredIndex) {
    if (driverChosen) return configuredIndex;
    int index = configuredIndex;
    bool chosen = false;
    for (size_t i = 0; i < names.size(); ++i) {
        const std::string& n = names[i];
        if (StartsWith(n, "OPENAL", 6) && !chosen) {
            index = static_cast<int>(i);
            chosen = true;
        }
        if (StartsWith(n, "FREE", 4) && !chosen) {
            index = static_cast<int>(i);
            chosen = true;
        }
        if (StartsWith(n, "DIRECT", 6)) {
            index = static_cast<int>(i);
            chosen = true;
        }
    }
    return index;
}

}  // namespace app
