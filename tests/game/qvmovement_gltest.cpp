// The movement controllers on bare objects: falling, stopping and leaning
// with the surface, the vehicle's speed, braking, reversing, coasting at any
// frame rate, a stalled frame, ground clearance, climbing, respawn and
// frontal bounce.
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

constexpr float kCruise = 0.02f;

// Drives a vehicle heading along -z from cruising speed at `fps` frames a
// second: the forward key held (a move each frame) for `heldSeconds`, then
// released to coast for `coastSeconds`. Returns how far it went.
float distanceDriven(double fps, double heldSeconds, double coastSeconds)
{
    Camera camera{cameraData()};
    auto tile = makeTile({0, 10, 0});
    QvVehicleMovement vehicle(tile.get(), &camera);
    vehicle.direction = {0.0f, 0.0f, -1.0f};
    vehicle.speed = kCruise;
    const glm::vec3 start = position(*tile);
    const long held = std::lround(heldSeconds * fps), frames = held + std::lround(coastSeconds * fps);
    for (long frame = 1; frame <= frames; ++frame) {
        camera.frameTime = double(frame) / fps;
        vehicle.tick();
        if (frame <= held) vehicle.moveToForward();
        if (frame == held + 1) vehicle.inertia = true;  // the key comes up
    }
    EXPECT_FALSE(vehicle.inertia) << fps << " fps: still coasting";
    return glm::distance(position(*tile), start);
}

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

// A tile landing on a slope leans with it, upright on level ground, half a
// degree on half a degree, whichever way the slope's triangles are wound.
TEST_F(Movement, LandedTileLeansWithTheSurface)
{
    for (const float degrees : {0.0f, 0.5f, -0.5f, 20.0f}) {
        for (const bool normalUp : {true, false}) {
            SCOPED_TRACE(testing::Message() << degrees << " degrees, normal up " << normalUp);
            auto tile = makeTile({0, 10, 0});
            auto slope = makeSlope("QvModel_Slope", 9.8f, degrees, normalUp);
            tile->collisionObjects = {slope.get()};
            QvMovement movement(tile.get(), &camera);
            printedDuring([&] { movement.tick(); });
            ASSERT_FALSE(movement.falling);
            const glm::vec3 tileUp(tile->transform->getMatrix()[1]);
            const glm::vec3 slopeUp(-std::sin(glm::radians(degrees)), std::cos(glm::radians(degrees)), 0.0f);
            const float off = std::atan2(glm::length(glm::cross(tileUp, slopeUp)), glm::dot(tileUp, slopeUp));
            EXPECT_NEAR(glm::degrees(off), 0.0f, 0.005f);
        }
    }
}

TEST_F(Movement, VehicleSpeedBuildsUpAndCoastsDown)
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

// Braking takes 0.00025 a frame off a forward speed (past standstill into
// reverse), reversing 0.0000075 off a standing or backward one, both scaled
// by the frame time; a reversing vehicle moves straight back.
TEST_F(Movement, VehicleBrakesThenReverses)
{
    auto tile = makeTile({0, 10, 0});
    QvVehicleMovement vehicle(tile.get(), &camera);
    vehicle.turnToLeft();
    const glm::vec3 heading = vehicle.direction;
    vehicle.setFrequency(1.0f);
    for (auto [from, to] :
         {std::pair{0.001f, 0.00075f}, {0.0001f, 0.0001f - 0.00025f}, {0.0f, -0.0000075f}}) {
        vehicle.speed = from;
        vehicle.moveToBackward();
        EXPECT_FLOAT_EQ(vehicle.speed, to) << from;
        EXPECT_TRUE(vehicle.falling && !vehicle.inertia) << from;
    }
    const glm::vec3 before = position(*tile);
    for (int i = 0; i < 100; ++i) vehicle.moveToBackward();
    EXPECT_FLOAT_EQ(vehicle.speed, -0.0000075f * 101);
    const glm::vec3 moved = position(*tile) - before;
    EXPECT_LT(glm::dot(moved, heading), 0.0f);
    EXPECT_NEAR(glm::length(glm::cross(moved, heading)), 0.0f, 1e-7f);

    vehicle.setFrequency(2.0f);  // at 30 frames a second a frame brakes twice as hard
    vehicle.speed = 0.001f;
    vehicle.moveToBackward();
    EXPECT_FLOAT_EQ(vehicle.speed, 0.0005f);
}

// The same drive covers the same ground at 30, 60 and 144 frames a second,
// and at 60 each frame moves the vehicle by its speed, as it always did:
// held for one second, the speeds 0.02 + 0.000075 k, k = 1..60.
TEST(VehicleFrameRate, SameDriveCoversTheSameGroundAtAnyFrameRate)
{
    const float at60 = distanceDriven(60.0, 4.0, 4.0);
    for (const double fps : {30.0, 144.0})
        EXPECT_NEAR(distanceDriven(fps, 4.0, 4.0), at60, 0.01f * at60) << fps;
    EXPECT_NEAR(distanceDriven(60.0, 1.0, 0.0), 60 * kCruise + 0.000075f * (60 * 61 / 2), 1e-4f);
}

// A frame that stalls five seconds steps as a tenth of one: a vehicle
// dropping from beyond the ground ray's reach (1.0) falls six frames' worth
// and lands; a whole stalled step (3.0) would carry it past the ray for good.
TEST(VehicleFrameRate, StalledFrameLandsOnTheGroundInsteadOfFallingThrough)
{
    Camera camera{cameraData()};
    auto terrain = makeTerrain([](float, float) { return 0.0f; });
    auto tile = makeTile({0.3f, 1.5f, 0.3f});
    tile->collisionObjects = {terrain.get()};
    QvVehicleMovement vehicle(tile.get(), &camera);
    for (int frame = 0; frame <= 60; ++frame) {
        camera.frameTime += frame == 0 ? 5.0 : kFrame60;
        vehicle.tick();
        if (frame == 0) {
            EXPECT_NEAR(vehicle.displacement.y, -0.06f, 1e-7f);
        }
    }
    EXPECT_FALSE(vehicle.falling);
    EXPECT_NEAR(position(*tile).y, 0.61f, 1e-5f);
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

    // Driving at it, now 0.25 ahead, through a frame that stalls five
    // seconds: the frame steps six frames' worth (0.12), within the probe's
    // reach, so the vehicle meets the wall and stops short of it.
    tile->collisionObjects = {wall.get()};
    QvVehicleMovement driver(tile.get(), &camera);
    driver.direction = probe;
    driver.speed = kCruise;
    float nearest = 1e9f;  // the corner's least distance in front of the wall
    for (int frame = 0; frame <= 60; ++frame) {
        camera.frameTime += frame == 0 ? 5.0 : kFrame60;
        driver.tick();
        if (frame == 0) {
            const glm::vec3 sixFrames = (probe * kCruise + glm::vec3(0, -0.01f, 0)) * 6.0f;
            EXPECT_LT(glm::distance(driver.displacement, sixFrames), 1e-6f);
        }
        tile->updateAABBbox();
        const glm::vec3 corner(tile->aabb->minX, tile->aabb->maxY, tile->aabb->minZ);
        nearest = std::min(nearest, glm::dot(corner - (p + 0.15f * probe), wallNormal));
    }
    EXPECT_GT(nearest, 0.0f);
    EXPECT_LT(std::abs(driver.speed), 1e-5f);  // turned off the wall and coasted to a stop

    // Without face normals there is nothing to probe with.
    auto bare = makeTile({0, 0, 0});
    bare->normalSegments.clear();
    QvVehicleMovement blind(bare.get(), &camera);
    blind.speed = 0.004f;
    EXPECT_FALSE(blind.checkHitWithMe(*wall));
    EXPECT_EQ(blind.speed, 0.004f);
}
