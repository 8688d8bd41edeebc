// The board server's log on standard error.
#include "board/log.h"

#include <atomic>
#include <cstdio>

namespace board {

namespace {

std::atomic<bool> g_quiet{false};

}  // namespace

void Log(const std::string& line) {
    if (g_quiet.load(std::memory_order_relaxed)) return;
    // One write per line keeps lines from several threads whole.
    const std::string text = "zarquill-board: " + line + "\n";
    std::fwrite(text.data(), 1, text.size(), stderr);
}

void SetLogQuiet(bool quiet) {
    g_quiet.store(quiet, std::memory_order_relaxed);
}

}  // namespace board
