// The automatic audio driver choice over lists of driver names.
#include "app/audio_choice.h"

#include <gtest/gtest.h>

namespace {

using app::ChooseAudioDriver;
using Names = std::vector<std::string>;

TEST(AudioChoice, FirstOpenALOrFreeNameWinsInListOrder) {
    EXPECT_EQ(ChooseAudioDriver({"FreeMixer", "OpenAL"}, false, 0), 0);
    EXPECT_EQ(ChooseAudioDriver({"Null", "FreeMixer", "FreeMixer OpenSound System"}, false, 0), 1);
    EXPECT_EQ(ChooseAudioDriver({"Null", "OpenAL", "FreeMixer"}, false, 0), 1);
    EXPECT_EQ(ChooseAudioDriver({"Null", "OpenAL Default", "OpenAL Built-in Audio"}, false, 0), 1);
    // Case does not matter for the preference.
    EXPECT_EQ(ChooseAudioDriver({"Null", "openal soft"}, false, 0), 1);
    EXPECT_EQ(ChooseAudioDriver({"Null", "freemixer"}, false, 0), 1);
}

TEST(AudioChoice, DirectNamesOverrideAndTheLastOneWins) {
    EXPECT_EQ(ChooseAudioDriver({"FreeMixer", "DirectSound", "OpenAL"}, false, 0), 1);
    EXPECT_EQ(ChooseAudioDriver({"DirectSound", "FreeMixer", "DirectX"}, false, 0), 2);
}

TEST(AudioChoice, NoMatchKeepsTheConfiguredIndex) {
    EXPECT_EQ(ChooseAudioDriver({"Null"}, false, 0), 0);
    EXPECT_EQ(ChooseAudioDriver({"Null", "Pulse"}, false, 0), 0);
    EXPECT_EQ(ChooseAudioDriver({}, false, 0), 0);
    // Names shorter than the prefixes never match.
    EXPECT_EQ(ChooseAudioDriver({"Null", "Open", "Fre"}, false, 0), 0);
}

TEST(AudioChoice, AnAudioDriverLineDisablesThePreference) {
    // The file named a driver that exists: its index stands.
    EXPECT_EQ(ChooseAudioDriver({"Null", "FreeMixer", "OpenAL Default"}, true, 2), 2);
    // The file named a driver that does not exist (for example "openal" in the
    // wrong case): the slot stayed 0, so the first listed driver is used.
    EXPECT_EQ(ChooseAudioDriver({"Null", "FreeMixer", "OpenAL Default"}, true, 0), 0);
}

TEST(AudioChoice, RecognisesTheOpenALFamily) {
    EXPECT_TRUE(app::IsOpenALDriverName("OpenAL Default"));
    EXPECT_TRUE(app::IsOpenALDriverName("OPENAL"));
    EXPECT_FALSE(app::IsOpenALDriverName("FreeMixer"));
    EXPECT_FALSE(app::IsOpenALDriverName("Open"));
}

}  // namespace
