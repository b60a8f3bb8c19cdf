// Picking: ray tests against hand-placed triangles, and the screen-space test
// held against the pointer's pixel and against casting the pointer's ray.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

#include <glm/gtc/matrix_transform.hpp>
#include <glm/mat4x4.hpp>

#include "engine/core/qvboundingvolumes.h"
#include "engine/core/qvpicking.h"
#include "engine/core/qvvectormath.h"

using namespace qvpicking;

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// Counter-clockwise seen from +z: its front face looks at an eye on +z.
const glm::vec3 kA(0, 0, 0), kB(2, 0, 0), kC(0, 2, 0);

// Pointer at window pixel (px, py), counted from the top left, in NDC.
glm::vec2 ndc(float px, float py, float width, float height)
{
    return {2.0f * px / width - 1.0f, 1.0f - 2.0f * py / height};
}

// The twelve triangles of the box [-h, h]^3 (each face as two triangles).
std::vector<Triangle> cubeTriangles(float h)
{
    std::vector<Triangle> list;
    for (int axis = 0; axis < 3; ++axis) {
        for (float side : {-h, h}) {
            glm::vec4 c[4];
            for (int k = 0; k < 4; ++k) {
                glm::vec4 p(0, 0, 0, 1);
                p[axis] = side;
                p[(axis + 1) % 3] = (k == 1 || k == 2) ? h : -h;
                p[(axis + 2) % 3] = (k >= 2) ? h : -h;
                c[k] = p;
            }
            list.push_back({c[0], c[1], c[2]});
            list.push_back({c[0], c[2], c[3]});
        }
    }
    return list;
}

// Index of the first triangle in list order that holds `mouse`, or -1: the
// material object's box test, where the first hit decides.
int firstTriangleUnderMouse(const glm::mat4& projection, const glm::mat4& camera, const glm::mat4& model,
                            const std::vector<Triangle>& triangles, glm::vec2 mouse)
{
    for (std::size_t i = 0; i < triangles.size(); ++i) {
        const Triangle& t = triangles[i];
        if (barycentric3D(projection, model, camera, t.vertexA, t.vertexB, t.vertexC, mouse)) {
            return int(i);
        }
    }
    return -1;
}

}  // namespace

TEST(Picking, CentroidIsTheMeanOfTheCorners)
{
    const glm::vec3 c = findCentroid({0, 0, 0}, {3, 0, 6}, {0, 9, -3});
    EXPECT_FLOAT_EQ(c.x, 1);
    EXPECT_FLOAT_EQ(c.y, 3);
    EXPECT_FLOAT_EQ(c.z, 1);
}

TEST(Picking, RayMeetsPlaneOnlyAheadOfItsOrigin)
{
    glm::vec3 hit(-1);
    // Plane z = 4 (normal (0, 0, 2), distance 8).
    EXPECT_TRUE(rayVsPlane({1, 2, 10}, hit, {0, 0, -1}, {0, 0, 2}, 8));
    EXPECT_FLOAT_EQ(hit.x, 1);
    EXPECT_FLOAT_EQ(hit.y, 2);
    EXPECT_FLOAT_EQ(hit.z, 4);

    glm::vec3 untouched(-1);
    EXPECT_FALSE(rayVsPlane({1, 2, 10}, untouched, {0, 0, 1}, {0, 0, 2}, 8));  // behind
    EXPECT_FALSE(rayVsPlane({1, 2, 10}, untouched, {1, 0, 0}, {0, 0, 2}, 8));  // parallel
    EXPECT_FALSE(rayVsPlane({kNaN, 2, 10}, untouched, {0, 0, -1}, {0, 0, 2}, 8));
    EXPECT_EQ(untouched, glm::vec3(-1));
}

TEST(Picking, TwoSidedRayTestHitsBothFacesAndPointsBehindTheOrigin)
{
    glm::vec3 hit;
    ASSERT_TRUE(barycentric({0.5f, 0.5f, 5}, {0, 0, -1}, kA, kB, kC, hit));
    EXPECT_NEAR(glm::distance(hit, glm::vec3(0.5f, 0.5f, 0)), 0, 1e-6);

    ASSERT_TRUE(barycentric({0.5f, 0.5f, -5}, {0, 0, 1}, kA, kB, kC, hit));  // back face
    EXPECT_NEAR(glm::distance(hit, glm::vec3(0.5f, 0.5f, 0)), 0, 1e-6);

    ASSERT_TRUE(barycentric({0.5f, 0.5f, 5}, {0, 0, 1}, kA, kB, kC, hit));  // behind
    EXPECT_NEAR(hit.z, 0, 1e-6);

    glm::vec3 untouched(7);
    EXPECT_FALSE(barycentric({1.5f, 1.5f, 5}, {0, 0, -1}, kA, kB, kC, untouched));  // past BC
    EXPECT_FALSE(barycentric({-0.1f, 0.5f, 5}, {0, 0, -1}, kA, kB, kC, untouched));
    EXPECT_FALSE(barycentric({0.5f, 0.5f, 5}, {1, 0, 0}, kA, kB, kC, untouched));  // parallel
    EXPECT_EQ(untouched, glm::vec3(7));
}

TEST(Picking, CullingRayTestHitsOnlyTheFrontFace)
{
    glm::vec3 hit;
    ASSERT_TRUE(barycentricTESTCULL({0.5f, 1, 5}, {0, 0, -1}, kA, kB, kC, hit));
    EXPECT_NEAR(glm::distance(hit, glm::vec3(0.5f, 1, 0)), 0, 1e-6);
    // A slanted ray: the hit lies where the line crosses z = 0.
    ASSERT_TRUE(barycentricTESTCULL({0, 0, 4}, {0.25f, 0.25f, -1}, kA, kB, kC, hit));
    EXPECT_NEAR(glm::distance(hit, glm::vec3(1, 1, 0)), 0, 1e-6);

    glm::vec3 untouched(7);
    EXPECT_FALSE(barycentricTESTCULL({0.5f, 0.5f, -5}, {0, 0, 1}, kA, kB, kC, untouched));
    EXPECT_FALSE(barycentricTESTCULL({3, 3, 5}, {0, 0, -1}, kA, kB, kC, untouched));
    // Parallel ray through a corner: det is 0 and the test must not divide by it.
    EXPECT_FALSE(barycentricTESTCULL({0, 0, 0}, {1, 0, 0}, kA, kB, kC, untouched));
    EXPECT_FALSE(barycentricTESTCULL({0, 0, 0}, {0, 0, 0}, kA, kB, kC, untouched));
    EXPECT_EQ(untouched, glm::vec3(7));
}

TEST(Picking, PlaneThenTriangleKeepsThePlanePointOnAMiss)
{
    glm::vec3 hit;
    const glm::vec4 a(kA, 1), b(kB, 1), c(kC, 1);
    ASSERT_TRUE(barycentric3DForTriangles(a, b, c, {0.5f, 0.5f, 3}, {0, 0, -1}, hit));
    EXPECT_NEAR(glm::distance(hit, glm::vec3(0.5f, 0.5f, 0)), 0, 1e-6);

    EXPECT_FALSE(barycentric3DForTriangles(a, b, c, {3, 3, 3}, {0, 0, -1}, hit));
    EXPECT_NEAR(glm::distance(hit, glm::vec3(3, 3, 0)), 0, 1e-6);

    // A triangle of zero area has no plane: never hit.
    EXPECT_FALSE(barycentric3DForTriangles(a, b, b, {0.5f, 0, 3}, {0, 0, -1}, hit));
}

TEST(Picking, ScreenTestFindsTheSquareUnderThePointerPixel)
{
    // Eye at (0, 0, 20) looking down -z, 45 degrees, 1024x768; a square of
    // half-size 1 at the origin. By hand: x_ndc = x / (20 tan(22.5) 4/3) =
    // 0.09053 x, so its right edge is at pixel (1 + 0.09053) / 2 x 1024 = 558.4;
    // y_ndc = y / (20 tan(22.5)) = 0.12071 y, top edge at pixel 337.7.
    const float w = 1024, h = 768;
    const glm::mat4 projection = glm::perspective(glm::radians(45.0f), w / h, 0.1f, 10000.0f);
    const glm::mat4 camera = glm::lookAt(glm::vec3(0, 0, 20), glm::vec3(0, 0, 19), glm::vec3(0, 1, 0));
    const glm::mat4 model(1.0f);
    const std::vector<Triangle> square = {
        {{-1, -1, 0, 1}, {1, -1, 0, 1}, {1, 1, 0, 1}},
        {{-1, -1, 0, 1}, {1, 1, 0, 1}, {-1, 1, 0, 1}},
    };
    EXPECT_EQ(firstTriangleUnderMouse(projection, camera, model, square, ndc(557, 380, w, h)), 0);
    EXPECT_EQ(firstTriangleUnderMouse(projection, camera, model, square, ndc(467, 339, w, h)), 1);
    EXPECT_EQ(firstTriangleUnderMouse(projection, camera, model, square, ndc(560, 380, w, h)), -1);
    EXPECT_EQ(firstTriangleUnderMouse(projection, camera, model, square, ndc(512, 336, w, h)), -1);

    // The model matrix moves the square: 3 units right puts its centre at
    // pixel (1 + 3 x 0.09053) / 2 x 1024 = 651.1.
    const glm::mat4 moved = glm::translate(glm::mat4(1.0f), glm::vec3(3, 0, 0));
    EXPECT_EQ(firstTriangleUnderMouse(projection, camera, moved, square, ndc(512, 384, w, h)), -1);
    EXPECT_NE(firstTriangleUnderMouse(projection, camera, moved, square, ndc(651, 384, w, h)), -1);

    // With identity matrices the arithmetic is exact: a point on the shared
    // diagonal belongs to the first triangle in list order, and edges count.
    const glm::mat4 identity(1.0f);
    EXPECT_EQ(firstTriangleUnderMouse(identity, identity, identity, square, {0.5f, 0.5f}), 0);
    EXPECT_EQ(firstTriangleUnderMouse(identity, identity, identity, square, {-1, 0}), 1);
    EXPECT_EQ(firstTriangleUnderMouse(identity, identity, identity, square, {1, 1}), 0);
}

TEST(Picking, ScreenTestAgreesWithCastingThePointerRay)
{
    const float w = 800, h = 600;
    const glm::vec3 eye(3, 2, 6);
    const glm::mat4 projection = glm::perspective(glm::radians(60.0f), w / h, 0.1f, 100.0f);
    const glm::mat4 camera = glm::lookAt(eye, glm::vec3(0), glm::vec3(0, 1, 0));
    const glm::mat4 model = glm::rotate(glm::translate(glm::mat4(1), glm::vec3(0.5f, 0, 0)), 0.7f,
                                        glm::normalize(glm::vec3(1, 2, 0.5f)));
    const std::vector<Triangle> cube = cubeTriangles(1.0f);
    const glm::mat4 clipToWorld = glm::inverse(projection * camera);

    int hits = 0, misses = 0;
    for (float py = 5; py < h; py += 10) {
        for (float px = 5; px < w; px += 10) {
            const glm::vec2 mouse = ndc(px, py, w, h);
            const glm::vec4 far = clipToWorld * glm::vec4(mouse, 1, 1);
            const glm::vec3 direction = glm::vec3(far) / far.w - eye;
            bool rayHits = false;
            for (const Triangle& t : cube) {
                glm::vec3 hit;
                rayHits =
                    rayHits || barycentric(eye, direction, glm::vec3(model * t.vertexA),
                                           glm::vec3(model * t.vertexB), glm::vec3(model * t.vertexC), hit);
            }
            const bool screenHits = firstTriangleUnderMouse(projection, camera, model, cube, mouse) >= 0;
            EXPECT_EQ(screenHits, rayHits) << px << ", " << py;
            (screenHits ? hits : misses)++;
        }
    }
    EXPECT_GT(hits, 100);
    EXPECT_GT(misses, 100);
}

TEST(Picking, TrianglesReachingBehindTheEyeOrUnsetMatricesAreNeverHit)
{
    const glm::mat4 projection = glm::perspective(glm::radians(45.0f), 1.0f, 0.1f, 100.0f);
    const glm::mat4 camera(1.0f);  // eye at the origin looking down -z
    const glm::mat4 model(1.0f);
    // In front of the eye the triangle covers the centre of the screen...
    const glm::vec4 a(-1, -1, -5, 1), b(1, -1, -5, 1), c(0, 1, -5, 1);
    EXPECT_TRUE(barycentric3D(projection, model, camera, a, b, c, {0, 0}));
    // ...but with one corner behind the eye (w < 0) it is not hit, although
    // dividing by |w| would put that corner back on screen around the pointer.
    const glm::vec4 behind(0, 1, 5, 1);
    EXPECT_FALSE(barycentric3D(projection, model, camera, a, b, behind, {0, 0}));
    const glm::vec4 atEye(0, 1, 0, 1);
    EXPECT_FALSE(barycentric3D(projection, model, camera, a, b, atEye, {0, 0}));

    // A never-drawn object still has its unset (all-NaN) matrices.
    EXPECT_FALSE(barycentric3D(unsetMatrix(), model, camera, a, b, c, {0, 0}));
    EXPECT_FALSE(barycentric3D(projection, model, unsetMatrix(), a, b, c, {0, 0}));
    EXPECT_FALSE(barycentric3D(projection, model, camera, a, b, c, {kNaN, 0}));
    // A triangle seen edge-on projects to a line: nothing is inside it.
    EXPECT_FALSE(
        barycentric3D(projection, model, camera, {0, -1, -4, 1}, {0, 1, -4, 1}, {0, 0, -6, 1}, {0, 0}));
}
