// zarquill-board-verify: the board's verification child on its own. It links
// only the game and what a verdict needs (no database or network libraries),
// so that starting one for every run costs a fraction of starting the server.
#include "board/verify.h"

int main() {
    return board::RunVerifyChild();
}
