// Reader and writer of "Setup.ini". The reader does not track sections: every
// line is split at "=" into an upper-cased key and a value, unknown keys are
// skipped and later lines override earlier ones. The writer's layout is fixed
// (CR LF line ends, no empty line after the last key line).
#include "app/settings_file.h"

#include <algorithm>
#include <climits>
#include <memory>
#include <string>

#include "engine/frame_end.h"
#include "engine/log.h"
#include "engine/media/durable_file.h"
#include "engine/media/files.h"
#include "engine/media/paths.h"
#include "engine/media/text.h"
#include "engine/setup_table.h"
#include "scores/fields/get_field.h"

namespace app {

namespace {

constexpr int kLastKeySlot = 99;
// A settings file larger than this is not a settings file: it is not read,
// and not replaced either.
constexpr int64_t kMaxSetupBytes = 1 << 20;
// Volumes are percentages; sizes are capped well above any display so that
// no arithmetic on them can overflow.
constexpr int kMaxVolume = 100;
constexpr int kMaxScreenSide = 16384;

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

// Returns the absolute value of a number read from the file, at most limit.
int AbsNumberUpTo(std::string_view text, int limit) {
    return std::min(AbsNumber(text), limit);
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
        Setup[SETUP_WIDTH] = AbsNumberUpTo(value, kMaxScreenSide);
    } else if (key == "HEIGHT") {
        Setup[SETUP_HEIGHT] = AbsNumberUpTo(value, kMaxScreenSide);
    } else if (key == "ESS") {
        // Whatever the value: only removing the line turns the mode off.
        Setup[SETUP_ESS] = 1;
        WriteLog("\tAssuming Emergency Slow System values.");
    } else if (key == "KEY") {
        const int slot = AbsNumber(scores::GetField(value, ",", 1));
        const int code = AbsNumber(scores::GetField(value, ",", 2));
        if (slot >= 0 && slot <= kLastKeySlot) KeyMap[static_cast<size_t>(slot)] = code;
    } else if (key == "MASTER") {
        Setup[SETUP_MASTER] = AbsNumberUpTo(value, kMaxVolume);
    } else if (key == "SOUND") {
        Setup[SETUP_SOUND] = AbsNumberUpTo(value, kMaxVolume);
    } else if (key == "MUSIC") {
        Setup[SETUP_MUSIC] = AbsNumberUpTo(value, kMaxVolume);
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
    media::OpenResult result;
    std::unique_ptr<media::TStream> file = media::OpenDataFile(path, kMaxSetupBytes, result);
    if (result == media::OpenResult::kAbsent) return;
    if (!file) {
        engine::WriteLog("\tSetup file cannot be read, using the defaults: " + path);
        return;
    }
    engine::WriteLog("\tReading Setup File");
    // At least one line is processed, even for an empty file.
    do {
        ApplyLine(file->ReadLine());
    } while (!file->Eof());
    if (file->ReadFailed()) engine::WriteLog("\tSetup file could not be read to its end: " + path);
    file->Close();
}

bool SaveSetup() {
    const std::string path = SetupWritePath();
    // A file that is there but cannot be read may hold what the player wants
    // to keep: it is never replaced.
    media::OpenResult found;
    media::OpenDataFile(path, kMaxSetupBytes, found);
    bool ok = false;
    if (found != media::OpenResult::kUnreadable) {
        if (std::unique_ptr<media::TStream> out = media::WriteFileDurable(path)) {
            WriteSetupLines(*out);
            ok = media::CloseFile(out);
        }
    }
    if (!ok) {
        engine::WriteLog(found == media::OpenResult::kUnreadable
                             ? "\tSettings not saved: the file cannot be read, so it is kept: " +
                                   path
                             : "\tSettings not saved: cannot write " + path);
        engine::AddNotice(kSetupNotSavedNotice, 1);
    }
    return ok;
}

bool AudioDriverChosen() {
    return g_audioDriverChosen;
}

}  // namespace app
