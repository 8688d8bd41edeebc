// Program entry of the board server: hands the command line to the server's spine.
#include "board/server.h"

int main(int argc, char** argv) {
    return board::Main(argc, argv);
}
