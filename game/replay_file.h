// Replay files: what one recorded game needs to be played again and checked.
// A fixed header (magic, format and program versions, difficulty, logical
// screen size, slow-system flag, frame count, final score, lives, quit flag,
// the run's level and flags, the rules version it was played under, and the
// run's timestamp and name as the score file stores them), then the
// input of every game step coded as changes and runs of equal steps, plus a
// check value of the game state every 60 steps, packed with zlib, and a CRC
// of the whole file. Reading trusts nothing: every size and count is checked.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "game/game_math.h"

namespace game {

// The format version this program writes. Version 2 added the rules version to the header;
// a version 1 file has none and was played under rules 1.
inline constexpr uint32_t kReplayFormatVersion = 2;
// The oldest format version this program still reads.
inline constexpr uint32_t kReplayOldestFormatVersion = 1;
// Steps between two check values (the first is taken before the first step).
inline constexpr uint32_t kReplayCheckInterval = 60;
// The most steps a replay may hold: ten hours of play.
inline constexpr uint32_t kReplayMaxFrames = 60u * 60u * 60u * 10u;
// The largest replay file read.
inline constexpr size_t kReplayMaxFileBytes = size_t{16} << 20;

// The input one game step reads, and the logical screen it runs on.
struct ReplayStep {
    int32_t pointerX = 0;  // the pointer the frame end stored, logical pixels
    int32_t pointerY = 0;
    bool left = false;  // mouse buttons held
    bool right = false;
    int32_t width = 0;  // logical screen size during the step
    int32_t height = 0;

    bool operator==(const ReplayStep&) const = default;
};

// Everything the header of a replay holds.
struct ReplayHeader {
    std::string programVersion;
    int32_t difficulty = 0;
    int32_t width = 0;  // logical screen size at the start
    int32_t height = 0;
    int32_t slowSystem = 0;   // the slow-system (frame skipping) setting
    int32_t startParity = 0;  // FrameParity when the game started
    uint32_t frames = 0;
    int64_t score = 0;  // the run's final score, lives and quit flag
    int32_t lives = 0;
    int32_t quit = 0;
    int64_t timestamp = 0;  // as stored in the score file
    std::string name;
    int32_t level = 0;
    int32_t gameFlags = 0;
    uint32_t rules = kNewestRules;  // the rules version the game was played under

    bool operator==(const ReplayHeader&) const = default;
};

// A whole replay: header, one entry per step, and the check values taken
// before step 1 and after every 60th step (frames / 60 + 1 of them).
struct Replay {
    ReplayHeader header;
    std::vector<ReplayStep> steps;
    std::vector<uint32_t> checks;

    bool operator==(const Replay&) const = default;
};

// Returns the number of check values a replay of so many frames holds.
uint32_t ReplayCheckCount(uint32_t frames);
// Returns the file's bytes for a replay, or "" when it cannot be coded
// (inconsistent counts, more steps than allowed, unknown rules).
std::string EncodeReplay(const Replay& replay);
// Reads only the header of a replay from a file's bytes (after its check value
// and sizes are checked), never unpacking the steps; false with a reason as below.
bool DecodeReplayHeader(std::string_view bytes, ReplayHeader& out, std::string& error);
// Reads a replay from a file's bytes; false with a one-line reason in error
// when the bytes are not a replay, of a format version or rules version this
// program does not know, truncated or damaged.
bool DecodeReplay(std::string_view bytes, Replay& out, std::string& error);
// Reads a replay file (a regular file no larger than the cap); false with a reason.
bool ReadReplayFile(const std::string& path, Replay& out, std::string& error);
// Writes a replay file durably (temporary file, sync, rename); true on success.
bool WriteReplayFile(const std::string& path, const Replay& replay);

}  // namespace game
