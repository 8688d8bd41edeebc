// Reader and writer of "Setup.ini". The reader does not track sections: every
// line is split at "=" into an upper-cased key and a value, unknown keys are
// skipped and later lines override earlier ones. The writer's layout is fixed
// (CR LF line ends, no empty line after the last key line).
#include "app/settings_file.h"

#include <climits>
#include <memory>
#include <string>

#include "engine/log.h"
#include "engine/media/files.h"
#include "engine/media/paths.h"
#include "engine/media/text.h"
#include "engine/setup_table.h"
#include "scores/get_field.h"

namespace app {

namespace {

constexpr int kLastKeySlot = 99;

// State: set when the file held an "AudioDriver" line.
bool g_audioDriverChosen = false;

// Returns the absolute value of a number read from the file; the one value
// without a positive twin reads as the largest int, so nothing is negative.
int AbsNumber(int v) {
    if (v == INT_MIN) return INT_MAX;
    return v < 0 ? -v : v;
}

int AbsNumber(std::string_view text) {
    return AbsNumber(media::ToInt(text));
}

void ApplyLine(const std::string& line) {
    using namespace engine;
    const std::string key = media::Upper(media::Trim(scores::GetField(line, "=", 1)));
    const std::string value = media::Trim(scores::GetField(line, "=", 2));
    const std::string upperValue = media::Upper(value);

    if (key == "AUDIODRIVER") {
        g_audioDriverChosen = true;
        for (size_t i = 0; i < AudioDriverNames.size(); ++i) {
            if (AudioDriverNames[i] == value) Setup[SETUP_AUDIODRIVER] = static_cast<int>(i);
        }
    } else if (key == "FULLSCREEN") {
        if (upperValue == "TRUE" || upperValue == "ON") {
            Setup[SETUP_FULLSCREEN] = 1;
            WriteLog("\tSetting to Fullscreen");
        }
    } else if (key == "GFX ENGINE" || key == "GFXENGINE") {
        if (upperValue == "DX9") {
            Setup[SETUP_GFXENGINE] = 1;
            WriteLog("\tDirectX 9 Mode");
        } else if (upperValue == "DX7") {
            Setup[SETUP_GFXENGINE] = 2;
            WriteLog("\tDirectX 7 Mode");
        }
    } else if (key == "WIDTH") {
        Setup[SETUP_WIDTH] = AbsNumber(value);
    } else if (key == "HEIGHT") {
        Setup[SETUP_HEIGHT] = AbsNumber(value);
    } else if (key == "ESS") {
        // Whatever the value: only removing the line turns the mode off.
        Setup[SETUP_ESS] = 1;
        WriteLog("\tAssuming Emergency Slow System values.");
    } else if (key == "KEY") {
        const int slot = AbsNumber(scores::GetField(value, ",", 1));
        const int code = AbsNumber(scores::GetField(value, ",", 2));
        if (slot >= 0 && slot <= kLastKeySlot) KeyMap[static_cast<size_t>(slot)] = code;
    } else if (key == "MASTER") {
        Setup[SETUP_MASTER] = AbsNumber(value);
    } else if (key == "SOUND") {
        Setup[SETUP_SOUND] = AbsNumber(value);
    } else if (key == "MUSIC") {
        Setup[SETUP_MUSIC] = AbsNumber(value);
    }
}

// Returns where the settings file is read from: the path fixed at start-up,
// else "Setup.ini" in the current folder.
std::string SetupReadPath() {
    return media::ProgramPathOr(media::ProgramPaths().setupFile, kSetupFileName);
}

// Returns where the settings file is written: the path fixed at start-up,
// else "Files/Setup.ini" seen from the game folder.
std::string SetupWritePath() {
    return media::ProgramPathOr(media::ProgramPaths().setupFile, "../Setup.ini");
}

void WriteSetupLines(media::TStream& out) {
    using namespace engine;
    out.WriteLine("[Graphics]");
    if (Setup[SETUP_FULLSCREEN] == 0) out.WriteLine("Fullscreen = False");
    if (Setup[SETUP_FULLSCREEN] == 1) out.WriteLine("Fullscreen = True");
    switch (Setup[SETUP_GFXENGINE]) {
        case 0:
            out.WriteLine("GFX Engine = OpenGL");
            break;
        case 1:
            out.WriteLine("GFX Engine = DX9");
            break;
        case 2:
            out.WriteLine("GFX Engine = DX7");
            break;
        default:
            break;
    }
    out.WriteLine("Width=" + media::Str(Setup[SETUP_WIDTH]));
    out.WriteLine("Height=" + media::Str(Setup[SETUP_HEIGHT]));
    if (Setup[SETUP_ESS] == 1) {
        out.WriteLine(
            "ESS=1 ; This is a slow system, and things must run a wee bit slower for it.  Awww..");
    }
    out.WriteLine("");
    out.WriteLine("[Audio]");
    out.WriteLine("Master = " + media::Str(Setup[SETUP_MASTER]));
    out.WriteLine("Sound = " + media::Str(Setup[SETUP_SOUND]));
    out.WriteLine("Music = " + media::Str(Setup[SETUP_MUSIC]));
    // With no driver at the chosen index (an empty list, or a slot out of
    // range) the line names none; reading it back still marks a driver as
    // chosen, so the first listed driver is used.
    const int driver = Setup[SETUP_AUDIODRIVER];
    std::string driverLine = "AudioDriver = ";
    if (driver >= 0 && static_cast<size_t>(driver) < AudioDriverNames.size()) {
        driverLine += AudioDriverNames[static_cast<size_t>(driver)];
    }
    out.WriteLine(driverLine);
    for (const std::string& name : AudioDriverNames) out.WriteLine("; AudioDriver = " + name);
    out.WriteLine("");
    out.WriteLine("[Controls]");
    for (int slot = 0; slot <= kLastKeySlot; ++slot) {
        const int code = KeyMap[static_cast<size_t>(slot)];
        if (code > 0) out.WriteLine("Key=" + media::Str(slot) + "," + media::Str(code));
    }
}

}  // namespace

void LoadSetup() {
    g_audioDriverChosen = false;
    const std::string path = SetupReadPath();
    if (media::FileType(path) == 0) return;
    // A "Setup.ini" that cannot be read (a folder of that name, say) counts as absent.
    std::unique_ptr<media::TStream> file = media::ReadFile(path);
    if (!file) return;
    engine::WriteLog("\tReading Setup File");
    // At least one line is processed, even for an empty file.
    do {
        ApplyLine(file->ReadLine());
    } while (!file->Eof());
    file->Close();
}

bool SaveSetup() {
    bool ok = false;
    if (std::unique_ptr<media::TStream> out = media::WriteFileDurable(SetupWritePath())) {
        WriteSetupLines(*out);
        ok = media::CloseFile(out);
    }
    return ok;
}

bool AudioDriverChosen() {
    return g_audioDriverChosen;
}

}  // namespace app
