// qvgamelogic: the Lexfall word game's rules object.
//
// The scene creates one at start-up: its constructor reads the saved game and
// the options, and its `language` is the interface language of the whole
// program. The state, save files, word lists, letters and scoring are
// QvGameRules (GL-free); this class is where the rules meet the letter tiles,
// which it finds among the scene's objects by the name "QvModel_Cube".
#pragma once

#include <string>
#include <vector>

#include <glm/vec4.hpp>

#include "game/qvgamerules.h"

class QvCube;
class QvMaterialObject;

class QvGameLogic : public QvGameRules {
public:
    static constexpr const char* kTileName = "QvModel_Cube";
    static constexpr glm::vec4 kHighlight{0.1058f, 0.9803f, 0.298f, 1.0f};

    QvGameLogic() = default;

    // Docks `cube` (a flying tile that hit the top of the board or another
    // tile): under the column below `reference` at the top, or below the
    // column's lowest tile, or below the tile it hit; its letter joins the
    // column's text.
    virtual void positionCube(QvMaterialObject* hit, const std::vector<QvMaterialObject*>& objects,
                              QvCube* cube, QvCube* reference);
    // Looks for a word at the end of the docked tile's column.
    virtual bool findCombination(QvMaterialObject* docked, std::u16string& word);
    // The found word's tiles in the highlight colour, and back.
    virtual void highlightCubes(const std::vector<QvMaterialObject*>& objects);
    virtual void lowlightCubes(const std::vector<QvMaterialObject*>& objects);
    // Takes the found word's tiles out of `objects` (the caller owns them)
    // and scores the word; `score` receives the new score.
    virtual void deleteCubes(std::vector<QvMaterialObject*>& objects, std::int32_t& score);

private:
    // The tile `object` is, or null.
    static QvCube* asTile(QvMaterialObject* object);
    // Is `object` a tile of the found word?
    bool inFoundWord(QvMaterialObject* object) const;
};
