// The movement controllers on the real landscape control: its 80,000-triangle
// grid shaped into hills, placed over x -320..320, z -200..200 as the island
// lookup expects, letter tiles dropped onto it and a vehicle driven across it, the
// camera following; the terrain is drawn from the camera behind the tile.
// Heights are checked against a brute-force search of every triangle.
#include <gtest/gtest.h>

#include <glm/gtc/constants.hpp>

#include <cmath>
#include <optional>

#include "controlfixtures.h"
#include "controls/qvlandscape.h"
#include "engine/core/qvtransform.h"
#include "game/qvcube.h"
#include "game/qvmovement.h"
#include "movement_fixture.h"

namespace {

float hills(float x, float z)
{
    return 3.0f * std::sin(x * 0.05f) * std::cos(z * 0.04f) + 0.02f * x;
}

class LandscapeScene : public controlfixtures::TextControlDraw {
protected:
    void SetUp() override
    {
        testing::internal::CaptureStdout();
        landscape = std::make_unique<QvLandscape>("QvModel_Landscape", *camera);
        landscape->shader = &textureLight;
        landscape->setSize(2.0f, movementtest::kTerrainSide, 0.1f);
        landscape->generateDefaultLandscape(1024, 768);
        testing::internal::GetCapturedStdout();
        for (glm::vec3& v : landscape->triangleVertices) v.z = -hills(v.x * 1.6f, v.y);
        landscape->updateCollisionCoords();
        landscape->transform->setScaling(1.6f, 1.0f, 1.0f);
        landscape->transform->rotate(glm::half_pi<float>(), 0.0f, 0.0f);
    }

    // The terrain's height under (x, z), searched over every world triangle.
    std::optional<float> groundUnder(float x, float z) const
    {
        const glm::mat4 m = landscape->transform->getMatrix();
        for (const Triangle& t : landscape->aabb->getBoxTriangles()) {
            const glm::vec3 a(m * t.vertexA), b(m * t.vertexB), c(m * t.vertexC);
            const float den = (b.z - c.z) * (a.x - c.x) + (c.x - b.x) * (a.z - c.z);
            if (den == 0.0f) continue;
            const float l1 = ((b.z - c.z) * (x - c.x) + (c.x - b.x) * (z - c.z)) / den;
            const float l2 = ((c.z - a.z) * (x - c.x) + (a.x - c.x) * (z - c.z)) / den;
            const float l3 = 1.0f - l1 - l2;
            if (l1 >= -1e-6f && l2 >= -1e-6f && l3 >= -1e-6f) return l1 * a.y + l2 * b.y + l3 * c.y;
        }
        return std::nullopt;
    }

    void drawTerrain()
    {
        controlfixtures::clearAll();
        landscape->draw(*camera);
        ASSERT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    }

    QvShader textureLight = controlfixtures::shipped("textureLight");
    std::unique_ptr<QvLandscape> landscape;
};

}  // namespace

// Flying letter tiles, each ticking its controller from its own draw.
TEST_F(LandscapeScene, FallingTileStopsWhereItsCornerRayMeetsTheGround)
{
    for (const glm::vec2& at :
         {glm::vec2(0.3f, 0.3f), glm::vec2(37.5f, -81.2f), glm::vec2(-150.9f, 120.4f)}) {
        QvFlyingCube tile("QvModel_Cube", u"A", font2D, nullptr, *camera);
        tile.shader = &flat;
        tile.setSize(1.0f, 1.0f, 1.0f);
        tile.setTextShader(&text);
        tile.initLabel();
        tile.transform->translate(glm::vec3(at.x, *groundUnder(at.x, at.y) + 3.0f, at.y), 1);
        tile.collisionObjects = {landscape.get()};
        QvMovement movement(&tile, camera.get());
        tile.movement = &movement;
        testing::internal::CaptureStdout();
        for (int i = 0; i < 1000 && movement.falling; ++i) tile.draw(*camera);
        testing::internal::GetCapturedStdout();
        ASSERT_FALSE(movement.falling) << at.x;
        ASSERT_EQ(glGetError(), GLenum(GL_NO_ERROR));
        const QvAABB& box = *tile.aabb;
        const float gap = box.maxY - *groundUnder(box.minX, box.minZ);
        EXPECT_LE(gap, 1.0f + 1e-3f) << at.x;
        EXPECT_GT(gap, 1.0f - 0.011f) << at.x;
        movement.updateCamera();
        drawTerrain();
    }
    // The camera sits behind the last tile and sees terrain in front of it.
    const int terrainPixels = controlfixtures::countPixels(
        context, 0, 0, context.width(), context.height(), [](int r, int g, int b) { return r + g + b > 30; });
    EXPECT_GT(terrainPixels, context.width() * context.height() / 4);
}

// The vehicle drives over the hills, turning now and then, at 30 and at 144
// frames a second: its centre keeps 0.61 above the ground after each ground
// hit and never drops below the ground; a vehicle pushed off the world's
// edge comes back at (0, 2, 0).
TEST_F(LandscapeScene, VehicleRidesTheHillsAtAnyFrameRate)
{
    for (const double fps : {30.0, 144.0}) {
        auto tile = movementtest::makeTile({0.3f, hills(0.3f, 0.3f) + 0.61f, 0.3f});
        tile->collisionObjects = {landscape.get()};
        camera->frameTime = 0.0;
        QvVehicleMovement vehicle(tile.get(), camera.get());
        float lowest = 1e9f;
        int grounded = 0;
        for (int frame = 1; frame <= int(8 * fps); ++frame) {
            camera->frameTime = frame / fps;
            if (frame % 120 == 0) vehicle.turnToLeft();
            vehicle.moveToForward();
            vehicle.tick();
            if (frame % 8 != 0) continue;
            const glm::vec3 p = tile->transform->getTranslationVector();
            const float ground = *groundUnder(p.x, p.z);
            lowest = std::min(lowest, p.y - ground);
            if (!vehicle.falling) {
                EXPECT_NEAR(p.y - ground, 0.61f, 0.05f) << fps << " frame " << frame;
                ++grounded;
            }
        }
        EXPECT_GT(lowest, 0.0f) << fps;
        EXPECT_GT(grounded, 10) << fps;
        const glm::vec3 end = tile->transform->getTranslationVector();
        EXPECT_GT(glm::distance(glm::vec2(end.x, end.z), glm::vec2(0.3f, 0.3f)), 1.0f) << fps;
        drawTerrain();
    }

    auto lost = movementtest::makeTile({400.0f, -19.9f, 0.0f});  // off the grid: no ground
    lost->collisionObjects = {landscape.get()};
    QvVehicleMovement falling(lost.get(), camera.get());
    for (int i = 0; i < 200 && lost->transform->getTranslationVector().y < 0.0f; ++i) {
        camera->frameTime += 1.0 / 60.0;  // a fall step is a frame's: no time, no fall
        falling.tick();
    }
    EXPECT_EQ(lost->transform->getTranslationVector(), glm::vec3(0.0f, 2.0f, 0.0f));
}
