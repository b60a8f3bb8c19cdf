// qvgamelogic: the rules acting on the letter tiles of the board.
#include "game/qvgamelogic.h"

#include <algorithm>

#include "engine/core/qvtransform.h"
#include "game/qvcube.h"

QvCube* QvGameLogic::asTile(QvMaterialObject* object)
{
    if (object == nullptr || object->name != kTileName) return nullptr;
    return dynamic_cast<QvCube*>(object);
}

bool QvGameLogic::inFoundWord(QvMaterialObject* object) const
{
    const QvCube* tile = asTile(object);
    return tile != nullptr && tile->getColumnIndex() == foundColumn && tile->getRowIndex() >= foundRow;
}

void QvGameLogic::positionCube(QvMaterialObject* hit, const std::vector<QvMaterialObject*>& objects,
                               QvCube* cube, QvCube* reference)
{
    if (cube == nullptr) return;
    glm::vec3 position;
    if (QvCube* below = asTile(hit)) {
        position = below->transform->getTranslationVector() - glm::vec3(0.0f, kRowHeight, 0.0f);
        cube->setColumnIndex(below->getColumnIndex());
        cube->setRowIndex(below->getRowIndex() + 1);
    } else {
        // The top of the board: the column under the reference, below its
        // lowest tile when it has letters already.
        const glm::vec3 at =
            reference != nullptr ? reference->transform->getTranslationVector() : glm::vec3(0.0f);
        const int column = dockColumn(at.x);
        position = {columnCentre(column), rowY(0), at.z};
        cube->setColumnIndex(column);
        cube->setRowIndex(0);
        const auto letters = columnLetters.find(column);
        if (letters != columnLetters.end() && !letters->second.empty()) {
            const auto lowestRow = static_cast<std::int32_t>(letters->second.size()) - 1;
            for (QvMaterialObject* object : objects) {
                const auto* tile = dynamic_cast<const QvCube*>(object);
                if (tile == nullptr || tile == cube || tile->getColumnIndex() != column ||
                    tile->getRowIndex() != lowestRow) {
                    continue;
                }
                position = tile->transform->getTranslationVector() - glm::vec3(0.0f, kRowHeight, 0.0f);
                cube->setColumnIndex(tile->getColumnIndex());
                cube->setRowIndex(tile->getRowIndex() + 1);
            }
        }
    }
    cube->transform->setRelativeTranslation(position);
    cube->updateAABBbox();
    appendLetter(cube->getColumnIndex(), cube->getLabel());
}

bool QvGameLogic::findCombination(QvMaterialObject* docked, std::u16string& word)
{
    const QvCube* tile = asTile(docked);
    if (tile == nullptr) return false;
    return findWordInColumn(tile->getColumnIndex(), word);
}

void QvGameLogic::highlightCubes(const std::vector<QvMaterialObject*>& objects)
{
    for (QvMaterialObject* object : objects) {
        if (inFoundWord(object)) object->currentColor = kHighlight;
    }
}

void QvGameLogic::lowlightCubes(const std::vector<QvMaterialObject*>& objects)
{
    for (QvMaterialObject* object : objects) {
        if (inFoundWord(object)) object->currentColor = object->color;
    }
}

void QvGameLogic::deleteCubes(std::vector<QvMaterialObject*>& objects, std::int32_t& scoreOut)
{
    if (wordFound) {
        std::erase_if(objects, [this](QvMaterialObject* object) { return inFoundWord(object); });
        scoreFoundWord();
    }
    scoreOut = score;
}
