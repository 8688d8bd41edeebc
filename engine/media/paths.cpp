// Storage for the program's folders and files, fixed once at start-up.
#include "engine/media/paths.h"

namespace media {

namespace {
TProgramPaths g_paths;
}  // namespace

const TProgramPaths& ProgramPaths() { return g_paths; }

void SetProgramPaths(const TProgramPaths& paths) { g_paths = paths; }

}  // namespace media
