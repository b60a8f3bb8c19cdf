// qvgamelogic: the rules acting on the letter tiles of the board.
#include "game/qvgamelogic.h"
