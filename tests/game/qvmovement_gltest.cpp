// The movement controllers on bare objects: falling and stopping, the vehicle's
// speed, coasting, ground clearance, climbing, respawn and frontal bounce.
// No context is needed (the objects carry only collision data); the file is
// a GL test because the controllers live beside the GL controls.
#include <gtest/gtest.h>

#include <glm/geometric.hpp>

#include <cmath>

#include "game/qvcollision.h"
#include "game/qvmovement.h"
#include "movement_fixture.h"

using namespace movementtest;

namespace {

constexpr double kFrame60 = 1.0 / 60.0;

std::string printedDuring(const std::function<void()>& body)
{
    ::testing::internal::CaptureStdout();
    body();
    return ::testing::internal::GetCapturedStdout();
}

int lines(const std::string& text)
{
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

glm::vec3 position(const QvMaterialObject& o)
{
    return o.transform->getTranslationVector();
}

class Movement : public ::testing::Test {
protected:
    Camera camera{cameraData()};
};

}  // namespace

TEST_F(Movement, FallsOneStepPerObjectMissedAndNoneWithAnEmptyList)
{
    auto tile = makeTile({0, 10, 0});
    QvMovement movement(tile.get(), &camera);
    camera.frameTime = kFrame60;
    EXPECT_EQ(printedDuring([&] { movement.tick(); }), "");
    EXPECT_FLOAT_EQ(movement.frequency, 1.0f);
    EXPECT_EQ(position(*tile), glm::vec3(0, 10, 0));

    auto farA = makeFloor("QvModel_A", -50.0f), farB = makeFloor("QvModel_B", -60.0f);
    auto farC = makeFloor("QvModel_C", -70.0f);
    tile->collisionObjects = {farA.get(), farB.get(), farC.get()};
    const std::string printed = printedDuring([&] { movement.tick(); });
    EXPECT_EQ(lines(printed), 3);
    EXPECT_NE(printed.find(" name = QvModel_B "), std::string::npos);
    EXPECT_NEAR(position(*tile).y, 10.0f - 0.03f, 1e-5f);
    EXPECT_TRUE(movement.falling);
}

TEST_F(Movement, StopsOnTheFirstObjectHitAndStaysThere)
{
    auto tile = makeTile({0, 10, 0});
    auto miss = makeFloor("QvModel_Miss", -50.0f);
    auto floor = makeFloor("QvModel_Floor", 9.8f);  // 0.705 below the box's top corner after one step
    auto never = makeFloor("QvModel_Never", -60.0f);
    tile->collisionObjects = {miss.get(), floor.get(), never.get()};
    QvMovement movement(tile.get(), &camera);
    const std::string printed = printedDuring([&] { movement.tick(); });
    EXPECT_EQ(lines(printed), 2);  // the third object is neither printed nor tested
    EXPECT_FALSE(movement.falling);
    // One fall step, then the level floor leaves the translation as it was
    // and the spin without rotation.
    EXPECT_NEAR(position(*tile).y, 9.99f, 1e-5f);
    const glm::mat4 m = tile->transform->getMatrix();
    EXPECT_NEAR(m[1][1], 1.0f, 1e-6f);
    EXPECT_TRUE(std::isfinite(m[0][0]) && std::isfinite(m[2][2]));
    EXPECT_EQ(printedDuring([&] { movement.tick(); }), "");
    EXPECT_NEAR(position(*tile).y, 9.99f, 1e-5f);
}

TEST_F(Movement, VehicleSpeedBuildsUpBrakesAndCoastsDown)
{
    auto tile = makeTile({0, 10, 0});
    QvVehicleMovement vehicle(tile.get(), &camera);
    vehicle.setFrequency(1.0f);
    vehicle.moveToForward();  // the kick from rest, then the gentler push
    vehicle.moveToForward();
    EXPECT_FLOAT_EQ(vehicle.speed, 0.00075f + 0.000075f);
    // Until the first turn the heading is zero: moves only slide.
    EXPECT_EQ(vehicle.direction, glm::vec3(0.0f));

    vehicle.speed = 0.001f;
    vehicle.inertia = true;
    vehicle.falling = false;
    int steps = 0;
    while (vehicle.inertia && steps < 10) {
        vehicle.inertialMotion();
        ++steps;
    }
    EXPECT_EQ(steps, 5);  // four to spend the speed, one to stop
    EXPECT_LE(vehicle.speed, 1e-9f);
    EXPECT_TRUE(vehicle.falling);

    vehicle.speed = -0.5f;  // reversing keeps its speed when the coasting ends
    vehicle.inertia = true;
    vehicle.inertialMotion();
    EXPECT_FALSE(vehicle.inertia);
    EXPECT_EQ(vehicle.speed, -0.5f);
}

TEST_F(Movement, VehicleCoastsAtMostOncePerMillisecond)
{
    auto tile = makeTile({0, 10, 0});
    camera.frameTime = 50.0;
    QvVehicleMovement vehicle(tile.get(), &camera);
    vehicle.speed = 0.01f;
    vehicle.inertia = true;
    vehicle.falling = false;
    camera.frameTime = 50.0 + kFrame60;
    vehicle.tick();
    // The first frame is one frame long, not the fifty seconds since start.
    EXPECT_NEAR(vehicle.frequency, 1.0f, 1e-4f);
    const float afterFirst = vehicle.speed;
    EXPECT_NEAR(afterFirst, 0.01f - 0.00025f, 1e-7f);
    camera.frameTime += 0.0004;
    vehicle.tick();
    EXPECT_EQ(vehicle.speed, afterFirst);
    camera.frameTime += 0.0007;
    vehicle.tick();
    EXPECT_LT(vehicle.speed, afterFirst);
}

TEST_F(Movement, TurnsAreRefusedWhileClimbing)
{
    auto tile = makeTile({0, 10, 0});
    QvVehicleMovement vehicle(tile.get(), &camera);
    vehicle.setFrequency(1.0f);
    vehicle.falling = false;
    vehicle.rising = true;
    const glm::mat4 before = tile->transform->getMatrix();
    vehicle.turnToLeft();
    vehicle.turnToRight();
    EXPECT_FALSE(vehicle.falling);
    EXPECT_EQ(tile->transform->getMatrix(), before);
    vehicle.moveToForward();
    EXPECT_TRUE(vehicle.inertia);
    EXPECT_EQ(vehicle.speed, 0.0f);

    vehicle.rising = false;
    vehicle.turnToLeft();
    EXPECT_TRUE(vehicle.falling);
    // The heading follows the camera, which orbits behind the tile.
    EXPECT_EQ(vehicle.direction.y, 0.0f);
    EXPECT_GT(glm::length(vehicle.direction), 0.5f);
}

TEST_F(Movement, VehicleStandsAboveTheGroundAndClimbsOnlyAtSpeed)
{
    const auto hill = [](float x, float) { return x > 10.0f ? (x - 10.0f) * 0.8f : 0.0f; };
    auto terrain = makeTerrain(hill);
    auto tile = makeTile({0.3f, 0.6f, 0.3f});
    tile->collisionObjects = {terrain.get()};
    QvVehicleMovement vehicle(tile.get(), &camera);
    camera.frameTime = kFrame60;
    vehicle.tick();
    EXPECT_FALSE(vehicle.falling);
    EXPECT_NEAR(position(*tile).y, 0.61f, 1e-4f);
    EXPECT_NEAR(glm::length(vehicle.slide), 0.0f, 1e-6f);  // level: nothing to slide down

    // The climb needs speed above 0.02 and a negative tilt g = n . heading
    // steeper than 0.1. The terrain's triangles are wound with their normals
    // down, so g is negative looking down the face (-x) and positive looking
    // up it (+x).
    for (const float facing : {-1.0f, 1.0f}) {
        camera.cameraData.target = {facing, 0.0f, 0.0f};
        for (const float speed : {0.01f, 0.03f}) {
            tile->transform->translate(glm::vec3(14.1f, hill(14.1f, 0.3f) + 0.6f, 0.3f), 1);
            vehicle.speed = speed;
            vehicle.rising = false;
            vehicle.riseSpeed = 0.0f;
            tile->updateAABBbox();
            bool flag = true;
            ASSERT_TRUE(vehicle.checkHitWithObject(*terrain, flag)) << speed;
            EXPECT_TRUE(flag);
            EXPECT_NEAR(position(*tile).y, hill(14.1f, 0.3f) + 0.61f, 0.05f);
            const bool climbs = speed > 0.02f && facing < 0.0f;
            EXPECT_EQ(vehicle.rising, climbs) << speed << " facing " << facing;
            EXPECT_EQ(vehicle.slideSpeed > 0.0f, !climbs) << speed << " facing " << facing;
            EXPECT_EQ(vehicle.riseSpeed > 0.001f, climbs);
        }
    }
    bool flag = false;
    auto box = makeFloor("QvModel_Box", 0.0f);
    EXPECT_FALSE(vehicle.checkHitWithObject(*box, flag));
    EXPECT_FALSE(flag);
}

TEST_F(Movement, VehicleLostBelowTheWorldComesBackAtTheStart)
{
    auto tile = makeTile({5, -25, 5});
    auto far = makeFloor("QvModel_Far", -100.0f);
    tile->collisionObjects = {far.get()};
    QvVehicleMovement vehicle(tile.get(), &camera);
    vehicle.tick();
    EXPECT_EQ(position(*tile), glm::vec3(0, 2, 0));
}

TEST_F(Movement, WallHitTurnsAndHalvesTheMotion)
{
    auto tile = makeTile({0, 0, 0});
    // A slanted wall 0.1 from the box's corner along the probe (the first
    // face's normal), built around its own normal (1, 0, -1) / sqrt 2.
    const glm::vec3 probe = *qvcollision::probeDirection(tile->normalSegments, tile->transform->getMatrix());
    const QvAABB& box = *tile->aabb;
    const glm::vec3 p = glm::vec3(box.minX, box.maxY, box.minZ) + 0.1f * probe;
    const glm::vec3 u(0, 1, 0), v = glm::normalize(glm::vec3(1, 0, 1));
    const glm::vec3 wallNormal = glm::normalize(glm::vec3(1, 0, -1));
    auto wall = makeTriangles("QvModel_Wall",
                              {{glm::vec4(p - 3.0f * u - 3.0f * v, 1), glm::vec4(p + 6.0f * u - 3.0f * v, 1),
                                glm::vec4(p - 3.0f * u + 6.0f * v, 1)}});
    QvVehicleMovement vehicle(tile.get(), &camera);
    vehicle.speed = 0.004f;
    ASSERT_TRUE(vehicle.checkHitWithMe(*wall));
    EXPECT_FLOAT_EQ(vehicle.speed, 0.002f);
    EXPECT_NEAR(glm::distance(vehicle.direction, glm::normalize(probe + wallNormal)), 0.0f, 1e-5f);
    // Farther than 0.2 along the probe it is no hit.
    wall->transform->translate(0.15f * probe, 1);
    EXPECT_FALSE(vehicle.checkHitWithMe(*wall));

    // Without face normals there is nothing to probe with.
    auto bare = makeTile({0, 0, 0});
    bare->normalSegments.clear();
    QvVehicleMovement blind(bare.get(), &camera);
    blind.speed = 0.004f;
    EXPECT_FALSE(blind.checkHitWithMe(*wall));
    EXPECT_EQ(blind.speed, 0.004f);
}
