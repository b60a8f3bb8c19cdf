// qvgamelogic: the Lexfall word game's rules object.
//
// The scene creates one at start-up: its constructor reads the saved game and
// the options, and its `language` is the interface language of the whole
// program. The state, save files, word lists, letters and scoring are
// QvGameRules (GL-free); this class is where the rules meet the letter tiles.
#pragma once

#include "game/qvgamerules.h"

class QvGameLogic : public QvGameRules {
public:
    QvGameLogic() = default;
};
