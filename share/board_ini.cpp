// Reading "Board.ini": which board, if any, the player shares runs with.
#include "share/board_ini.h"

#include <algorithm>
#include <cstdint>

#include "engine/log.h"
#include "engine/media/asset_read.h"
#include "engine/media/folders.h"
#include "engine/media/paths.h"
#include "share/share_text.h"

namespace scores {

namespace {

// The largest "Board.ini" read.
constexpr int64_t kMaxBoardIniBytes = 64 * 1024;

std::string LowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

}  // namespace

std::string ParseBoardIni(std::string_view text, std::string& problem) {
    using share_text::TrimSpaces;
    problem.clear();
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = std::min(text.find('\n', start), text.size());
        const std::string line = TrimSpaces(text.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line[0] == ';' || line[0] == '#' || line[0] == '[') continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos || LowerAscii(TrimSpaces(line.substr(0, eq))) != "server") {
            continue;
        }
        std::string url = TrimSpaces(line.substr(eq + 1));
        if (url.empty()) return "";
        const std::string lower = LowerAscii(url.substr(0, 8));
        const size_t schemeEnd = lower.rfind("https://", 0) == 0  ? 8
                                 : lower.rfind("http://", 0) == 0 ? 7
                                                                  : 0;
        bool clean = true;
        for (char c : url) {
            const auto u = static_cast<unsigned char>(c);
            if (u <= 32 || u == 127) clean = false;
        }
        if (schemeEnd == 0 || url.size() <= schemeEnd || url[schemeEnd] == '/' || !clean) {
            problem = "Server is not an http:// or https:// address";
            return "";
        }
        while (url.size() > schemeEnd && url.back() == '/') url.pop_back();
        return url;
    }
    return "";
}

std::string BoardIniPath() {
    return media::FolderOf(
               media::ProgramPathOr(media::ProgramPaths().setupFile, "Setup.ini")) +
           kBoardFileName;
}

std::string NamedBoard() {
    std::string text, why;
    const std::string path = BoardIniPath();
    const media::AssetRead read = media::ReadAssetFile(path, kMaxBoardIniBytes, text, why);
    if (read == media::AssetRead::kMissing) return "";
    if (read != media::AssetRead::kOk) {
        engine::WriteLog("\tBoard: " + path + " cannot be read (" + why + "); nothing is shared");
        return "";
    }
    std::string problem;
    const std::string server = ParseBoardIni(text, problem);
    if (!problem.empty()) {
        engine::WriteLog("\tBoard: " + path + ": " + problem + "; nothing is shared");
    }
    return server;
}

}  // namespace scores
