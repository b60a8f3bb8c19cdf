// The movement controllers' geometry: the terrain island, the ray tests and
// the surface measures, each held against an independent property.
#include <gtest/gtest.h>

#include <glm/geometric.hpp>
#include <glm/gtc/matrix_transform.hpp>

#include <cmath>
#include <numbers>

#include "game/qvcollision.h"

using namespace qvcollision;

namespace {

std::vector<std::int64_t> range(std::int64_t first, std::int64_t last)
{
    std::vector<std::int64_t> r;
    for (std::int64_t i = first; i <= last; ++i) r.push_back(i);
    return r;
}

void expectNear(glm::vec3 a, glm::vec3 b, float tolerance = 1e-5f)
{
    EXPECT_NEAR(a.x, b.x, tolerance);
    EXPECT_NEAR(a.y, b.y, tolerance);
    EXPECT_NEAR(a.z, b.z, tolerance);
}

}  // namespace

TEST(CollisionIsland, CentreOfTheGridIsTheMiddleOfRowOneHundred)
{
    ASSERT_EQ(islandIndex({0.0f, 5.0f, 0.0f}), 40200);
    std::vector<std::int64_t> expected = range(39798, 39803);
    for (std::int64_t i : range(40198, 40203)) expected.push_back(i);
    for (std::int64_t i : range(40598, 40603)) expected.push_back(i);
    EXPECT_EQ(islandTriangles(40200, 80000), expected);
}

TEST(CollisionIsland, GridEdgesNeverWrapIntoTheNextRow)
{
    EXPECT_EQ(islandIndex({-320.0f, 0.0f, -200.0f}), 0);
    EXPECT_EQ(islandIndex({319.99f, 0.0f, 0.0f}), 40399);  // last triangle of row 100
    EXPECT_EQ(islandIndex({320.01f, 0.0f, 0.0f}), std::nullopt);
    EXPECT_EQ(islandIndex({-320.01f, 0.0f, 0.0f}), std::nullopt);
    EXPECT_EQ(islandIndex({0.0f, 0.0f, 200.0f}), std::nullopt);
    EXPECT_EQ(islandIndex({0.0f, 0.0f, -200.5f}), std::nullopt);
    EXPECT_EQ(islandIndex({NAN, 0.0f, 0.0f}), std::nullopt);
    // One cell (3.2 units) to the right is two triangles on; one row (2 units)
    // deeper in z is 400 on.
    EXPECT_EQ(*islandIndex({3.3f, 0.0f, 0.0f}) - *islandIndex({0.1f, 0.0f, 0.0f}), 2);
    EXPECT_EQ(*islandIndex({0.1f, 0.0f, 2.1f}) - *islandIndex({0.1f, 0.0f, 0.1f}), 400);
}

TEST(CollisionIsland, ShrinksNearTheEndsAndStaysInsideTheList)
{
    EXPECT_EQ(islandTriangles(1, 80000), (std::vector<std::int64_t>{1}));
    EXPECT_EQ(islandTriangles(2, 80000), (std::vector<std::int64_t>{2}));
    EXPECT_EQ(islandTriangles(3, 80000), range(1, 6));
    EXPECT_EQ(islandTriangles(402, 80000), range(400, 405));
    EXPECT_EQ(islandTriangles(403, 80000).size(), 18u);
    EXPECT_TRUE(islandTriangles(0, 80000).empty());
    EXPECT_TRUE(islandTriangles(80000, 80000).empty());
    EXPECT_EQ(islandTriangles(79999, 80000), (std::vector<std::int64_t>{79999}));
    // A list shorter than the grid bounds the island, never the constant.
    for (std::size_t available : {0u, 1u, 5u, 100u, 500u, 1000u}) {
        for (std::int64_t index = -5; index < 1100; ++index) {
            for (std::int64_t i : islandTriangles(index, available)) {
                ASSERT_GE(i, 0);
                ASSERT_LT(i, static_cast<std::int64_t>(available)) << index;
            }
        }
    }
    EXPECT_TRUE(islandTriangles(40200, 1000).empty());
}

TEST(CollisionSurface, NormalsAreUnitAndFollowTheWinding)
{
    expectNear(surfaceNormal({0, 0, 0}, {0, 0, 1}, {1, 0, 0}), {0, 1, 0});
    expectNear(surfaceNormal({0, 0, 0}, {1, 0, 0}, {0, 0, 1}), {0, -1, 0});
    expectNear(surfaceNormal({0, 0, 0}, {0, 0, 0}, {1, 1, 1}), {0, 0, 0});  // degenerate
    // A tiny positive z residue is dropped, a larger one kept.
    const glm::vec3 almostFlat = surfaceNormal({0, 0, 0}, {1, 0, 0}, {0, 1e-6f, 1});
    EXPECT_EQ(almostFlat.z, 0.0f);
    EXPECT_GT(surfaceNormal({0, 0, 0}, {1, 0, 0}, {0, 0.1f, 1}).z, 0.0f);
}

// The tilt stands the object flush on the surface: its up is carried onto
// the surface's normal on the side the ray came from, by the slope's own
// angle, for either winding. A slope of half a degree tilts it half a degree.
TEST(CollisionSurface, TiltStandsTheObjectFlushOnTheSurface)
{
    const glm::vec3 down(0, -1, 0), up(0, 1, 0);
    for (float degrees : {-60.0f, -10.0f, -0.5f, 0.5f, 10.0f, 30.0f, 60.0f, 89.0f}) {
        const float a = glm::radians(degrees);
        const glm::vec3 upward(std::sin(a), std::cos(a), 0.0f);
        for (const glm::vec3& n : {upward, -upward}) {
            SCOPED_TRACE(testing::Message() << degrees << " degrees, normal y " << n.y);
            const Tilt tilt = tiltOnto(n, down);
            const glm::mat4 r = glm::rotate(glm::mat4(1.0f), tilt.angle, glm::normalize(tilt.spinAxis));
            expectNear(glm::vec3(r * glm::vec4(up, 0.0f)), upward);
            EXPECT_NEAR(tilt.angle, std::abs(a), 1e-6f);
            expectNear(tilt.axis, glm::cross(-n, -down));  // the nudge keeps the winding's axis
        }
    }
    // Level ground, either winding, and a normal a rounding error past unit
    // length: no rotation and nothing that is not a number.
    for (const glm::vec3& n : {glm::vec3(0, 1, 0), glm::vec3(0, -1, 0), glm::vec3(0, -1.0000001f, 0)}) {
        const Tilt tilt = tiltOnto(n, down);
        EXPECT_EQ(tilt.angle, 0.0f);
        EXPECT_EQ(tilt.axis, glm::vec3(0.0f));  // the nudge leaves the object where it is
        EXPECT_EQ(glm::length(tilt.spinAxis), 1.0f);
    }
    const Tilt nearlyParallel = tiltOnto(glm::vec3(1e-4f, -1.0000001f, 0.0f), down);
    EXPECT_TRUE(std::isfinite(nearlyParallel.angle));
    EXPECT_LT(nearlyParallel.angle, 1e-3f);
}

TEST(CollisionSurface, DownhillPointsDownTheSlopeWithTheSineOfItsAngle)
{
    expectNear(downhill({0, 1, 0}), {0, 0, 0});
    const float a = glm::radians(30.0f);
    const glm::vec3 n(std::sin(a), std::cos(a), 0.0f);  // rises towards -x
    const glm::vec3 d = downhill(n);
    EXPECT_NEAR(glm::length(d), std::sin(a), 1e-6f);
    EXPECT_NEAR(glm::dot(d, n), 0.0f, 1e-6f);  // along the surface
    EXPECT_LT(d.y, 0.0f);
    EXPECT_GT(d.x, 0.0f);
}

TEST(CollisionRays, GroundRayReachesOneUnitEitherSide)
{
    const glm::vec3 v0(-5, 0, -5), v1(-5, 0, 5), v2(5, 0, 0);
    const glm::vec3 down(0, -1, 0);
    const auto half = groundRay({0, 0.5f, 0}, down, v0, v1, v2, kGroundReach);
    ASSERT_TRUE(half);
    expectNear(half->point, {0, 0, 0});
    expectNear(half->normal, {0, 1, 0});
    EXPECT_TRUE(groundRay({0, 1.0f, 0}, down, v0, v1, v2, kGroundReach));
    EXPECT_FALSE(groundRay({0, 1.01f, 0}, down, v0, v1, v2, kGroundReach));
    EXPECT_TRUE(groundRay({0, -0.5f, 0}, down, v0, v1, v2, kGroundReach));  // behind the origin counts
    EXPECT_FALSE(groundRay({6, 0.5f, 0}, down, v0, v1, v2, kGroundReach));  // beside the triangle
    EXPECT_FALSE(groundRay({0, 0.5f, 0}, down, v0, v0, v2, kGroundReach));  // degenerate
}

TEST(CollisionRays, FrontRayLooksAheadOnly)
{
    const glm::vec4 v0(-1, -1, 0, 1), v1(1, -1, 0, 1), v2(0, 1, 0, 1);  // a wall at z = 0
    const glm::vec3 ahead(0, 0, -1);
    const auto hit = frontRay({0, 0, 0.15f}, ahead, v0, v1, v2, kFrontReach);
    ASSERT_TRUE(hit);
    expectNear(hit->point, {0, 0, 0});
    expectNear(hit->normal, {0, 0, 1});
    EXPECT_FALSE(frontRay({0, 0, 0.25f}, ahead, v0, v1, v2, kFrontReach));
    EXPECT_FALSE(frontRay({0, 0, -0.1f}, ahead, v0, v1, v2, kFrontReach));
}

TEST(CollisionRays, ProbeIsTheFirstFaceNormalInWorldSpace)
{
    EXPECT_FALSE(probeDirection({}, glm::mat4(1.0f)));
    EXPECT_FALSE(probeDirection({0, 0, 0, 0, 0}, glm::mat4(1.0f)));
    const std::vector<float> segments{0.5f, 0.5f, -1.0f, 0.5f, 0.5f, -2.0f, 9, 9, 9, 9, 9, 9};
    glm::mat4 model = glm::translate(glm::mat4(1.0f), glm::vec3(10, 0, 0));
    model = glm::rotate(model, std::numbers::pi_v<float> / 2, glm::vec3(0, 1, 0));
    model = glm::scale(model, glm::vec3(2.0f));
    expectNear(*probeDirection(segments, model), {-2, 0, 0});
}
