// The sharing client's whole interface, for the game and its tests: the
// player's choice of board (board_ini.h), the token that owns the player's
// names there (token_file.h), the queue of runs to send (queue_file.h), one
// exchange with the board (exchange.h), the game's background sharing
// (background.h) and the panel's texts (panel_texts.h). Nothing is ever sent
// unless "Board.ini" names a server.
#pragma once

#include "share/background.h"
#include "share/board_ini.h"
#include "share/exchange.h"
#include "share/panel_texts.h"
#include "share/queue_file.h"
#include "share/token_file.h"
