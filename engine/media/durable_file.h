// Durable replacement of a file: every save of the program's own files (the
// settings, the score file, replays) writes a temporary file beside the file,
// syncs it and renames it over the old one, so that a crash or a full disk
// never leaves a half-written file behind.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/media/files.h"

namespace media {

// Opens a durable replacement of path: writes go to a temporary file in the
// same folder, and Close() syncs it and renames it over path. Until Close()
// succeeds the old file stays byte-identical. A symbolic link at path stays a
// link (the file it points to is replaced), an existing file's permission
// bits are kept and a new file follows the umask. Null when the temporary
// file cannot be created (for example in a read-only folder). A private file
// (a secret) is always written with mode 0600, whatever the old file's bits.
std::unique_ptr<TStream> WriteFileDurable(const std::string& path, bool privateFile = false);
// Copies the file at from (a regular file of at most maxBytes) durably to to;
// returns true when the copy is complete.
bool CopyFileDurable(const std::string& from, const std::string& to, int64_t maxBytes);

}  // namespace media
