// Program entry: installs the desktop's media and hands the command line to
// the start-up spine.
#include "app/startup.h"
#include "engine/media/desktop/desktop.h"

int main(int argc, char** argv) {
    // The window, input, sound devices and Ogg Vorbis come from the desktop
    // part; --verify-replay then swaps in its headless drivers itself.
    media::InstallDesktopMedia();
    return app::Main(argc, argv, [] { return media::EnableOpenALAudio() != 0; });
}
