// The program's entry and start-up spine: folders, log banner, settings,
// audio driver, graphics and assets, the minimum loading time, then the front
// end.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace app {

// The audio layer as start-up sees it; tests replace it with fakes.
struct AudioBackend {
    std::function<std::vector<std::string>()> drivers;
    std::function<bool(const std::string&)> exists;
    std::function<bool(const std::string&)> set;
    std::function<bool()> enableOpenAL;
};

// The steps other subsystems supply. An empty step is skipped.
struct StartupStages {
    std::function<void()> createTables;       // program-wide tables, pointer, frame clock
    std::function<void()> discoverJoysticks;  // joystick ports and rest positions
    std::function<void()> applyGraphics;      // window, common and game assets, scores
    std::function<void()> afterGraphics;      // pointer mode, badge count, game flag
    std::function<void()> frontEnd;           // puts the front end's screens on the stack
};

// Minimum time from the folder change into the game folder to the front end.
inline constexpr int kMinimumLoadingMs = 2500;

// Removes the temporary files that saves killed part-way left in every folder
// the durable writer saves into (the settings', the score file's and the
// replays' folder of the paths fixed at start-up).
void RemoveKilledSaves();
// Returns the audio layer's real operations; enableOpenAL loads the OpenAL
// library where the platform has one (none: OpenAL is never offered).
AudioBackend MediaAudioBackend(std::function<bool()> enableOpenAL);

// Selects the driver at index of names by the start-up rules: nothing when
// the index is outside the list or the driver does not exist; OpenAL names
// only once the OpenAL library proved usable.
void SelectAudioDriver(const AudioBackend& audio, const std::vector<std::string>& names, int index);

// Connects the engine's upward calls (saving the settings, the closing and
// name-entry screens, asset loading, the settings panel, a lost display) to
// the layers above it.
void InstallHooks();
// Returns the start-up steps of the full program.
StartupStages ProgramStages();

// Runs the start-up sequence from the current folder up to the window: the
// log, settings, audio driver and graphics; the engine test and the end of
// loading are then on the screen stack for an executor to step.
void BeginStartup(const AudioBackend& audio, const StartupStages& stages);
// Runs BeginStartup, then steps the screens (the engine test, the end of
// loading, the front end) until none is left; returns the exit status the
// last one left with.
int RunStartup(const AudioBackend& audio, const StartupStages& stages);

// Runs the program with its command line (the platform's media installed);
// returns the process exit status.
int Main(int argc, char** argv, std::function<bool()> enableOpenAL);

}  // namespace app
