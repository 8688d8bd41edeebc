// The durable writer's temporary files: how they are named, and the clean-up
// of those that a save killed part-way left behind.
#pragma once

#include <string>

namespace media {

// Returns the mkstemp template of a temporary file beside target:
// "<target>.tmp-<this process's number>-XXXXXX".
std::string TempFileTemplate(const std::string& target);
// Removes from folder the regular files named by TempFileTemplate whose
// process is gone; the files of running saves (of this or another process)
// and every other name are kept. Returns how many were removed.
int RemoveStaleTempFiles(const std::string& folder);

}  // namespace media
