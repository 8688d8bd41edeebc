// The token file: made once from the system's random source, never replaced silently.
#include "share/token_file.h"

#include <cstdint>
#include <memory>

#include "engine/media/asset_read.h"
#include "engine/media/durable_file.h"
#include "engine/media/files.h"
#include "engine/media/folders.h"
#include "engine/media/paths.h"
#include "engine/media/random.h"
#include "scores/score_file.h"
#include "share/share_text.h"

namespace scores {

namespace {

// The largest token file read.
constexpr int64_t kMaxTokenFileBytes = 4096;
// Random bytes in a token (256 bits; the board asks for at least 128).
constexpr size_t kTokenBytes = 32;

}  // namespace

std::string BoardTokenPath() {
    return media::FolderOf(
               media::ProgramPathOr(media::ProgramPaths().scoreFile, kScoreFileName)) +
           kBoardTokenFileName;
}

std::string MakeBoardToken() {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    unsigned char bytes[kTokenBytes];
    if (!media::SystemRandomBytes(bytes, sizeof bytes)) return "";
    // Six bits per character (base64url without padding): 43 characters.
    std::string token;
    uint32_t acc = 0;
    int bits = 0;
    for (unsigned char b : bytes) {
        acc = (acc << 8) | b;
        bits += 8;
        while (bits >= 6) {
            bits -= 6;
            token += kAlphabet[(acc >> bits) & 63];
        }
    }
    if (bits > 0) token += kAlphabet[(acc << (6 - bits)) & 63];
    return token;
}

std::string BoardToken(std::string& problem) {
    problem.clear();
    const std::string path = BoardTokenPath();
    std::string text, why;
    const media::AssetRead read = media::ReadAssetFile(path, kMaxTokenFileBytes, text, why);
    if (read == media::AssetRead::kOk) {
        const std::string token = share_text::TrimSpaces(text.substr(0, text.find('\n')));
        if (IsBoardToken(token)) return token;
        // The token owns the player's names on the board: never replaced silently.
        problem = "the token file " + path + " is damaged; remove it to make a new token";
        return "";
    }
    if (read != media::AssetRead::kMissing) {
        problem = "the token file " + path + " cannot be read (" + why + ")";
        return "";
    }
    const std::string token = MakeBoardToken();
    if (token.empty()) {
        problem = "no random bytes for a token";
        return "";
    }
    std::unique_ptr<media::TStream> out = media::WriteFileDurable(path, true);
    if (out) out->WriteLine(token);
    if (!media::CloseFile(out)) {
        problem = "the token file " + path + " cannot be written";
        return "";
    }
    return token;
}

}  // namespace scores
