// The box-in-view check against a camera at (0, 0, 20) looking down -z with a
// 45 degree field of view, as the scene's camera starts: the monitor in front
// is in view, the monitors above and below it, and boxes behind the camera or
// beyond the far plane, are not.
#include "controls/qvviewcheck.h"

#include <cstddef>
#include <vector>

#include <glm/ext/matrix_clip_space.hpp>
#include <glm/ext/matrix_transform.hpp>
#include <glm/trigonometric.hpp>
#include <gtest/gtest.h>

namespace {

constexpr std::size_t kFloats = 8;  // x y z, u v, nx ny nz, as the control box

// The eight corners of a centred box of the given half-extents, interleaved
// like the control box's vertices (only the positions matter).
std::vector<float> box(float hx, float hy, float hz)
{
    std::vector<float> vertices;
    for (int i = 0; i < 8; ++i) {
        const float corner[kFloats] = {
            (i & 1) ? hx : -hx, (i & 2) ? hy : -hy, (i & 4) ? hz : -hz, 0, 0, 0, 0, 1};
        vertices.insert(vertices.end(), corner, corner + kFloats);
    }
    return vertices;
}

glm::mat4 clipFrom(glm::vec3 boxCentre)
{
    const glm::mat4 projection = glm::perspective(glm::radians(45.0f), 1024.0f / 768.0f, 0.1f, 1000.0f);
    const glm::mat4 view = glm::lookAt(glm::vec3(0, 0, 20), glm::vec3(0, 0, 0), glm::vec3(0, 1, 0));
    return projection * view * glm::translate(glm::mat4(1.0f), boxCentre);
}

TEST(ViewCheck, MonitorInFrontIsKeptItsNeighboursAreNot)
{
    const std::vector<float> monitor = box(17.8f, 10.0f, 0.5f);  // 1920 x 1080 aspect face
    EXPECT_TRUE(qvBoxMayBeInView(clipFrom({0, 0, -11}), monitor, kFloats));
    // At 31 units the view is 25.7 units high: the monitors 24 units above
    // and below stand wholly outside it.
    EXPECT_FALSE(qvBoxMayBeInView(clipFrom({0, -24, -11}), monitor, kFloats));
    EXPECT_FALSE(qvBoxMayBeInView(clipFrom({0, 24, -11}), monitor, kFloats));
    EXPECT_FALSE(qvBoxMayBeInView(clipFrom({0, -72, -11}), monitor, kFloats));
    // Half in view at the bottom edge: kept.
    EXPECT_TRUE(qvBoxMayBeInView(clipFrom({0, -14, -11}), monitor, kFloats));
}

TEST(ViewCheck, BehindTheCameraOrBeyondTheFarPlaneIsOut)
{
    const std::vector<float> small = box(1.0f, 1.0f, 1.0f);
    EXPECT_FALSE(qvBoxMayBeInView(clipFrom({0, 0, 30}), small, kFloats));
    EXPECT_FALSE(qvBoxMayBeInView(clipFrom({0, 0, -2000}), small, kFloats));
    EXPECT_TRUE(qvBoxMayBeInView(clipFrom({0, 0, 0}), small, kFloats));
}

TEST(ViewCheck, BoxAroundTheCameraAndDegenerateListsAreKept)
{
    // Corners outside different planes: the box surrounds the view.
    EXPECT_TRUE(qvBoxMayBeInView(clipFrom({0, 0, 20}), box(100.0f, 100.0f, 100.0f), kFloats));
    EXPECT_TRUE(qvBoxMayBeInView(clipFrom({0, -24, -11}), {}, kFloats));
    EXPECT_TRUE(qvBoxMayBeInView(clipFrom({0, -24, -11}), box(1, 1, 1), 2));
}

}  // namespace
