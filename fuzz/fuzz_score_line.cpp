// Fuzz target for the score file's readers: Unscramble under both keys, the
// score-line parser, Scramble round trips and the whole loader over the input
// as a file.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "engine/media/files.h"
#include "engine/media/folders.h"
#include "scores/score_file.h"
#include "scores/scrambler.h"

namespace {

std::string g_dir;

void Check(bool ok) {
    if (!ok) std::abort();
}

void RemoveDir() {
    ::unlink((g_dir + "/" + scores::kScoreFileName).c_str());
    ::rmdir(g_dir.c_str());
}

// A line that parses must come back unchanged through the writer's layout.
void CheckLine(const std::string& plain) {
    scores::Scores r;
    if (!scores::ParseScoreLine(plain, r)) return;
    scores::Scores again;
    Check(scores::ParseScoreLine(scores::FormatScoreLine(r), again));
    Check(again == r);
}

void CheckUnscramble(const std::string& text, std::string_view key) {
    const std::string out = scores::Unscramble(text, key);
    if (out == scores::kRejected) return;
    Check(text.size() >= 26 && out.size() == text.size() / 2 - 12);
    CheckLine(out);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // tmpfs when there is one: every input is written as a file.
    char pattern[] = "/dev/shm/zq_fuzz_scores_XXXXXX";
    char fallback[] = "/tmp/zq_fuzz_scores_XXXXXX";
    const char* dir = ::mkdtemp(pattern);
    if (dir == nullptr) dir = ::mkdtemp(fallback);
    if (dir == nullptr || !media::ChangeDir(dir)) std::abort();
    g_dir = dir;
    std::atexit(RemoveDir);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);

    CheckUnscramble(input, "");
    CheckUnscramble(input, scores::AccountKey);
    CheckLine(input);

    // Any text comes back through the scrambler under a key taken from the input.
    if (!input.empty() && input.size() < 512) {
        const std::string key = input.substr(0, 1 + input.size() % 7);
        Check(scores::Unscramble(scores::Scramble(input, key), key) == input);
        Check(scores::Unscramble(scores::Scramble(input, ""), "") == input);
    }

    // The loader over the input as a whole file.
    {
        std::unique_ptr<media::TStream> out = media::WriteFile(scores::kScoreFileName);
        Check(out && out->WriteBytes(data, size) && media::CloseFile(out));
    }
    scores::ResetScores();
    scores::LoadScores();
    // The loader's order must be the one a full re-sort after every line gives.
    {
        // The file's lines: ended by LF or a zero byte, CR dropped; the first
        // is the account line; a last line without an end counts when it is
        // not empty; at least one line follows the account line.
        std::vector<std::string> lines(1);
        for (char c : input) {
            if (c == '\n' || c == '\0') {
                lines.emplace_back();
            } else if (c != '\r') {
                lines.back().push_back(c);
            }
        }
        if (lines.back().empty()) lines.pop_back();
        if (lines.size() < 2) lines.resize(2);
        std::list<scores::Scores> expect;
        for (size_t i = 1; i < lines.size(); ++i) {
            const std::string& line = lines[i];
            const std::string plain = line.size() >= 3 ? scores::Unscramble(line, "") : line;
            scores::Scores r;
            if (scores::ParseScoreLine(plain, r)) expect.push_back(r);
            scores::SortScores(expect);
        }
        Check(expect == scores::ScoreList);
    }
    for (const scores::Scores& r : scores::ScoreList) {
        scores::Scores again;
        Check(scores::ParseScoreLine(scores::FormatScoreLine(r), again) && again == r);
        Check(r.Badges >= 0 && r.Level >= 0 && r.GameMode >= 0 && r.GameFlags >= 0 && r.Quit >= 0);
    }
    return 0;
}
