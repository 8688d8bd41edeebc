// Where the platform keeps the program's own files beyond the file system it
// writes them to. The desktop's files are durable where they are written; the
// browser's file system lives in memory, so there every file a durable save
// completes, and every removal, is also sent to the page's IndexedDB store,
// from which the page loads the folder again before the program starts. The
// program's log lines go to the browser's console the same way.
#pragma once

#include <string>
#include <string_view>

namespace media {

// Tells the platform that a durable save of path completed (the file there is whole).
void MirrorFileWritten(const std::string& path);
// Tells the platform that the file at path was removed.
void MirrorFileRemoved(const std::string& path);
// Returns "" while every file sent to the platform's store was kept, else
// why the last one was not ("IndexedDB unavailable", a quota error ...);
// the program then goes on with the files in memory.
std::string StorageProblem();
// Shows one log line in the platform's console (nothing on the desktop, whose log is Debug.txt).
void ConsoleLine(std::string_view text, bool warning);

}  // namespace media
