// The rules on real letter tiles: docking at the top and below other tiles,
// the column's word found, highlighted, taken off the board and scored.
#include "controlfixtures.h"

#include "engine/core/qvtransform.h"
#include "game/qvcube.h"
#include "game/qvgamelogic.h"
#include "savegame_fixture.h"

namespace {

class Board : public controlfixtures::TextControlDraw {
protected:
    // A tile named as the game names them, at the origin.
    QvCube* tile(const std::u16string& letter)
    {
        tiles.push_back(std::make_unique<QvCube>("QvModel_Cube", letter, font2D, nullptr, *camera));
        return tiles.back().get();
    }
    // A reference point over the board, at x.
    QvCube* reference(float x)
    {
        QvCube* r = tile(u"?");
        r->transform->translate(glm::vec3(x, 9.0f, -2.0f), 1);
        return r;
    }
    static glm::vec3 at(const QvCube* t) { return t->transform->getTranslationVector(); }

    gamefolder::Scratch scratch;  // after the font: it is read from the run directory
    std::vector<std::unique_ptr<QvCube>> tiles;
};

void expectAt(glm::vec3 actual, glm::vec3 expected)
{
    EXPECT_NEAR(actual.x, expected.x, 1e-5f);
    EXPECT_NEAR(actual.y, expected.y, 1e-5f);
    EXPECT_NEAR(actual.z, expected.z, 1e-5f);
}

}  // namespace

TEST_F(Board, TilesDockAtTheTopAndBelowEachOther)
{
    QvGameLogic rules;
    QvMaterialObject top("QvModel_Top");
    std::vector<QvMaterialObject*> objects;

    QvCube* c = tile(u"C");
    rules.positionCube(&top, objects, c, reference(-3.75f));
    expectAt(at(c), {-3.0f, 6.9f, -2.0f});
    EXPECT_EQ(c->getColumnIndex(), 0);
    EXPECT_EQ(c->getRowIndex(), 0);
    objects.push_back(c);

    QvCube* a = tile(u"A");  // hits the C
    rules.positionCube(c, objects, a, reference(0.0f));
    expectAt(at(a), {-3.0f, 6.9f - 1.03f, -2.0f});
    EXPECT_EQ(a->getRowIndex(), 1);
    objects.push_back(a);

    QvCube* t = tile(u"T");  // reaches the top over column 0: below its lowest tile
    rules.positionCube(&top, objects, t, reference(-10.0f));
    expectAt(at(t), {-3.0f, 6.9f - 2.06f, -2.0f});
    EXPECT_EQ(t->getColumnIndex(), 0);
    EXPECT_EQ(t->getRowIndex(), 2);
    objects.push_back(t);
    EXPECT_EQ(rules.columnLetters[0], u"cat");

    QvCube* z = tile(u"Z");
    rules.positionCube(&top, objects, z, reference(3.74f));
    expectAt(at(z), {3.0f, 6.9f, -2.0f});
    EXPECT_EQ(z->getColumnIndex(), 4);
    QvCube* y = tile(u"Ü");
    rules.positionCube(&top, objects, y, reference(99.0f));
    EXPECT_EQ(y->getColumnIndex(), 4);
    EXPECT_EQ(y->getRowIndex(), 0);  // z was not listed among the objects
    EXPECT_EQ(rules.columnLetters[4], u"zü");
}

TEST_F(Board, FoundWordIsHighlightedTakenOffAndScored)
{
    gamefolder::writeText("dictionary/english.txt", "cat at");
    QvGameLogic rules;
    rules.loadDictionary();
    QvMaterialObject top("QvModel_Top");
    std::vector<QvMaterialObject*> objects;
    QvCube* other = tile(u"Q");
    rules.positionCube(&top, objects, other, reference(0.0f));
    objects.push_back(other);
    std::vector<QvCube*> column;
    for (const char16_t* letter : {u"X", u"C", u"A", u"T"}) {
        QvCube* t = tile(letter);
        rules.positionCube(column.empty() ? static_cast<QvMaterialObject*>(&top) : column.back(), objects, t,
                           reference(-3.0f));
        objects.push_back(t);
        column.push_back(t);
    }
    QvMaterialObject notATile("QvModel_Panel");
    std::u16string word;
    EXPECT_FALSE(rules.findCombination(&notATile, word));
    ASSERT_TRUE(rules.findCombination(column.back(), word));
    EXPECT_EQ(word, u"cat");
    EXPECT_EQ(rules.foundRow, 1);

    for (QvMaterialObject* o : objects) o->currentColor = o->color;
    rules.highlightCubes(objects);
    EXPECT_EQ(column[0]->currentColor, column[0]->color);  // the x is not part of the word
    for (int i = 1; i < 4; ++i) EXPECT_EQ(column[i]->currentColor, QvGameLogic::kHighlight);
    EXPECT_EQ(other->currentColor, other->color);
    rules.lowlightCubes(objects);
    for (QvCube* t : column) EXPECT_EQ(t->currentColor, t->color);

    std::int32_t score = -1;
    rules.deleteCubes(objects, score);
    EXPECT_EQ(objects, (std::vector<QvMaterialObject*>{other, column[0]}));
    EXPECT_EQ(score, 900);
    EXPECT_EQ(rules.columnLetters[0], u"x");
    // Nothing found: nothing removed, the score handed back as it is.
    rules.deleteCubes(objects, score);
    EXPECT_EQ(objects.size(), 2u);
    EXPECT_EQ(score, 900);
}
