// The player's files as one zip archive: the score file and every replay,
// named as they lie in the game's folder ("nuscores.dat", "replays/<name>"),
// for a download, and the import of such an archive (or of a desktop game
// folder zipped with its replays) that merges into what is stored and never
// replaces it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace scores {

// What an import did, for the player.
struct ImportReport {
    int runsAdded = 0;       // runs the score file did not hold yet
    int runsPresent = 0;     // runs it held already (kept as they were)
    int replaysAdded = 0;    // replays stored under their own names
    int replaysRenamed = 0;  // replays stored beside a different one of the same name
    int replaysPresent = 0;  // replays stored already, byte for byte
    // One line per thing not imported or not saved, each naming the file.
    std::vector<std::string> problems;
};

// Makes the archive of the score file and every replay in out; false with a
// reason when there is nothing to export or the archive cannot be made. A
// file that cannot be read is left out and named in problems.
bool ExportYourFiles(std::string& out, std::vector<std::string>& problems);
// Merges an archive into the stored files: runs the score file lacks are
// added, the account only when none is set; a replay lands under its own name
// when that is free, is skipped when the same bytes are there, and otherwise
// goes under the next free "-2", "-3" ... name (or is refused with a message
// when its name takes none). A damaged member is named in report.problems and
// the others are still read. Returns false (with the reason in
// report.problems) when the archive cannot be read at all, in which case
// nothing was changed.
bool ImportYourFiles(std::string_view archive, ImportReport& report);

}  // namespace scores
