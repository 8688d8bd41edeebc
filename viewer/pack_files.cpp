// The data pack's game files put in place for a browser program.
#include "viewer/pack_files.h"

#include <sys/stat.h>

#include <cstdio>
#include <vector>

#include "engine/media/browser/baked_face.h"
#include "viewer/data_pack.h"

namespace viewer {

namespace {

// Writes one game file of the pack into the in-memory file system; false when it cannot.
bool WriteGameFile(const PackEntry& e) {
    const std::string path = kPackFilesRoot + e.name;
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        ::mkdir(path.substr(0, slash).c_str(), 0755);
    }
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(e.bytes.data(), 1, e.bytes.size(), f) == e.bytes.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace

bool InstallPackFiles(std::string_view pack, std::string& why) {
    std::vector<PackEntry> entries;
    std::string problem;
    if (!ReadPack(pack, entries, problem)) {
        why = "The game's data is " + problem;
        return false;
    }
    for (const PackEntry& e : entries) {
        if (e.name.compare(0, kFacePrefix.size(), kFacePrefix) == 0) {
            media::BakedFace face;
            if (!ReadBakedFace(e.bytes, e.a, face, problem)) {
                why = "The game's data holds damaged glyphs (" + e.name + "): " + problem;
                return false;
            }
            media::AddBakedFace(e.name.substr(kFacePrefix.size()), std::move(face));
        } else if (!e.name.ends_with(".png") && !WriteGameFile(e)) {
            why = "The game's data could not keep " + e.name;
            return false;
        }
    }
    return true;
}

}  // namespace viewer
