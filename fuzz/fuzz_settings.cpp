// Fuzz target for the settings reader: the input is "Setup.ini"; after
// loading, no number the file carries may be negative and no slot outside the
// tables may change; then the file is written and read back, and every slot
// the file carries must survive.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/settings_file.h"
#include "engine/media/files.h"
#include "engine/media/folders.h"
#include "engine/setup_table.h"

namespace {

std::string g_root;

void Check(bool ok) {
    if (!ok) std::abort();
}

void RemoveTree() {
    ::unlink((g_root + "/Files/Setup.ini").c_str());
    ::rmdir((g_root + "/Files/274").c_str());
    ::rmdir((g_root + "/Files").c_str());
    ::rmdir(g_root.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // tmpfs when there is one: the writer syncs every file it replaces.
    char pattern[] = "/dev/shm/zq_fuzz_setup_XXXXXX";
    char fallback[] = "/tmp/zq_fuzz_setup_XXXXXX";
    const char* dir = ::mkdtemp(pattern);
    if (dir == nullptr) dir = ::mkdtemp(fallback);
    if (dir == nullptr) std::abort();
    // The canonical path, as the current directory will report it.
    if (!media::ChangeDir(dir)) std::abort();
    g_root = media::CurrentDir();
    if (::mkdir((g_root + "/Files").c_str(), 0700) != 0 ||
        ::mkdir((g_root + "/Files/274").c_str(), 0700) != 0) {
        std::abort();
    }
    std::atexit(RemoveTree);
    engine::AudioDriverNames = {"Null", "FreeMixer", "FreeMixer OpenSound System", "OpenAL"};
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace engine;
    Check(media::ChangeDir(g_root + "/Files"));
    {
        std::unique_ptr<media::TStream> out = media::WriteFile(app::kSetupFileName);
        Check(out && out->WriteBytes(data, size) && media::CloseFile(out));
    }
    SetupDefaults();
    app::LoadSetup();
    for (int slot : {SETUP_WIDTH, SETUP_HEIGHT, SETUP_MASTER, SETUP_SOUND, SETUP_MUSIC}) {
        Check(Setup[slot] >= 0);
    }
    Check(Setup[SETUP_AUDIODRIVER] >= 0 &&
          Setup[SETUP_AUDIODRIVER] < static_cast<int>(AudioDriverNames.size()));
    Check(KeyMap[100] == 0);
    for (int v : KeyMap) Check(v >= 0);

    // A file over the reader's cap is left as it is, never replaced.
    if (size > (1u << 20)) return 0;
    const auto setup = Setup;
    const auto keys = KeyMap;
    Check(media::ChangeDir(g_root + "/Files/274"));
    Check(app::SaveSetup());
    Check(media::CurrentDir() == g_root + "/Files/274");
    Check(media::ChangeDir(g_root + "/Files"));
    SetupDefaults();
    app::LoadSetup();
    for (int slot : {SETUP_FULLSCREEN, SETUP_GFXENGINE, SETUP_WIDTH, SETUP_HEIGHT, SETUP_ESS,
                     SETUP_MASTER, SETUP_SOUND, SETUP_MUSIC, SETUP_AUDIODRIVER}) {
        Check(Setup[slot] == setup[slot]);
    }
    for (int slot = 0; slot < kKeyMapSlots; ++slot) {
        if (keys[slot] > 0) Check(KeyMap[slot] == keys[slot]);
    }
    return 0;
}
