// Start-up's choice of audio driver: an automatic preference over the names
// the audio layer lists, unless the settings file named a driver.
#pragma once

#include <string>
#include <vector>

namespace app {

// Returns the index of the driver to use. When the settings file held an
// AudioDriver line (driverChosen), that is configuredIndex as the file left
// it; otherwise the first name beginning with "OPENAL" or "FREE" (case
// ignored) wins, except that a later name beginning with "DIRECT" overrides
// it; with no match the index stays configuredIndex.
int ChooseAudioDriver(const std::vector<std::string>& names, bool driverChosen,
                      int configuredIndex);

// Returns true when a driver name belongs to the OpenAL family.
bool IsOpenALDriverName(const std::string& name);

}  // namespace app
