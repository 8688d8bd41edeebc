// The board server's spine: options, storage, workers and HTTP started in
// order, and stopped in reverse on SIGTERM or SIGINT.
#pragma once

namespace board {

// Runs the board server (or the verification child) with a command line;
// returns the exit status.
int Main(int argc, char** argv);

}  // namespace board
