// Letter tiles drawn and read back: the unit mesh whatever the size, box and
// letter in the tile's current colour, and flying tiles ticking their
// controller and coasting after a key release.
#include "controlfixtures.h"

#include "engine/core/qvevents.h"
#include "engine/core/qvtransform.h"
#include "engine/text/qvtext3d.h"
#include "game/qvcube.h"
#include "game/qvcubemesh.h"
#include "game/qvgamelogic.h"
#include "game/qvmovement.h"
#include "movement_fixture.h"

namespace {

bool isGreen(std::uint8_t r, std::uint8_t g, std::uint8_t b)
{
    return g > 200 && r < 80 && b < 120;
}
bool isSky(std::uint8_t r, std::uint8_t g, std::uint8_t b)  // the normal tile colour
{
    return b > 200 && g > 150 && r < 80;
}
bool isWhite(std::uint8_t r, std::uint8_t g, std::uint8_t b)
{
    return r > 200 && g > 200 && b > 200;
}

class TileDraw : public controlfixtures::TextControlDraw {
protected:
    // A tile laid out as the game makes them, its front face centred in view.
    void setUp(QvCube& tile, float size = 1.0f)
    {
        tile.shader = &flat;
        tile.setSize(size, size, size);
        tile.setFontSize(16.0f);
        tile.setTextShader(&text);
        tile.initLabel();
        tile.transform->translate(glm::vec3(-0.5f, -0.5f, 0.0f), 1);
        tile.updateAABBbox();
    }

    int count(bool (*test)(std::uint8_t, std::uint8_t, std::uint8_t)) const
    {
        return controlfixtures::countPixels(context, 0, 0, context.width(), context.height(), test);
    }
};

}  // namespace

TEST_F(TileDraw, SizeLaysOutTheLetterButTheMeshStaysTheUnitCube)
{
    QvCube tile("QvModel_Cube", u"W", font2D, nullptr, *camera);
    tile.shader = &flat;
    tile.setSize(2.0f, 2.0f, 2.0f);
    tile.setTextShader(&text);
    tile.initLabel();
    EXPECT_EQ(tile.vertices, qvCubeVertices());
    tile.updateAABBbox();
    EXPECT_FLOAT_EQ(tile.aabb->minX, -0.1f);
    EXPECT_FLOAT_EQ(tile.aabb->maxY, 1.1f);
    EXPECT_FLOAT_EQ(tile.aabb->minZ, -1.1f);
    EXPECT_EQ(tile.aabb->getBoxTriangles().size(), 12u);
    EXPECT_EQ(tile.normalSegments.size(), 72u);  // a probe for the vehicle's frontal test
    ASSERT_EQ(tile.glyphs2D.size(), 1u);
    EXPECT_FLOAT_EQ(tile.glyphs2D[0]->transform->getTranslationVector().z, 1.03f);

    tile.setRowIndex(-1);
    tile.setColumnIndex(7);
    EXPECT_EQ(tile.getRowIndex(), -1);
    EXPECT_EQ(tile.getColumnIndex(), 7);
}

TEST_F(TileDraw, BoxAndLetterShowTheTilesCurrentColour)
{
    QvCube tile("QvModel_Cube", u"A", font2D, nullptr, *camera);
    setUp(tile);
    tile.currentColor = QvGameLogic::kHighlight;
    controlfixtures::clearAll();
    tile.draw(*camera);
    ASSERT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    EXPECT_GT(count(isGreen), 200);
    EXPECT_EQ(count(isSky), 0);
    EXPECT_EQ(count(isWhite), 0);  // the letter is not in the button's white

    tile.currentColor = tile.color;
    controlfixtures::clearAll();
    tile.draw(*camera);
    EXPECT_GT(count(isSky), 200);
    EXPECT_EQ(count(isGreen), 0);
}

TEST_F(TileDraw, FlyingTileTicksItsControllerFromItsDraw)
{
    QvFlyingCube tile("QvModel_Cube", u"B", font2D, nullptr, *camera);
    setUp(tile);
    const glm::vec3 start = tile.transform->getTranslationVector();
    controlfixtures::clearAll();
    tile.draw(*camera);  // no controller: drawn, not moved
    EXPECT_EQ(tile.transform->getTranslationVector(), start);
    QvKeyboardEventArgs key;
    tile.onKeyUp->opCall(&tile, &key);  // and a key release is ignored

    auto farFloor = movementtest::makeFloor("QvModel_Floor", -50.0f);
    tile.collisionObjects = {farFloor.get()};
    QvVehicleMovement vehicle(&tile, camera.get());
    tile.movement = &vehicle;
    camera->frameTime += 1.0 / 60.0;
    tile.draw(*camera);
    ASSERT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    EXPECT_LT(tile.transform->getTranslationVector().y, start.y);  // one fall step
    EXPECT_FALSE(vehicle.inertia);
    tile.onKeyUp->opCall(&tile, &key);
    EXPECT_TRUE(vehicle.inertia);
}
