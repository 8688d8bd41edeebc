// The program's entry and start-up spine.
#pragma once

namespace app {

// Runs the program with its command line; returns the process exit status.
int Main(int argc, char** argv);

}  // namespace app
