// The scene's layout numbers and its small conversions, without OpenGL.
#include "scene/qvscenelayout.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace scenelayout;

// The monitor faces keep the screen's shape: 35.6 x 20 units on 1920 x 1080.
TEST(SceneLayout, MonitorsScaleXByTheScreensAspect)
{
    EXPECT_NEAR(monitorAspect(1920, 1080), 1.7778f, 1e-4f);
    EXPECT_NEAR(monitorAspect(1920, 1080) * kMonitorFace, 35.56f, 0.01f);
    EXPECT_FLOAT_EQ(monitorAspect(1024, 768), 4.0f / 3.0f);
    EXPECT_FLOAT_EQ(monitorAspect(1920, 0), 1.0f);
    EXPECT_FLOAT_EQ(monitorAspect(0, 0), 1.0f);
}

// Information, route, speed, stops and title stand 24 units apart, top to
// bottom, so each wheel step of the camera faces the next one.
TEST(SceneLayout, ScreensStandOneWheelStepApart)
{
    const float expected[] = {0.0f, -24.0f, -48.0f, -72.0f};
    for (int i = 0; i < kMonitorCount; ++i) EXPECT_FLOAT_EQ(monitorY(i), expected[i]);
    EXPECT_FLOAT_EQ(kTitleY, monitorY(kMonitorCount));
}

// Captions left in one column, values to their right, seven rows 2 units
// apart from the top of the face down, all inside the 20-unit face.
TEST(SceneLayout, StatisticsLabelsFormSevenRowsOnTheFace)
{
    for (std::size_t row = 0; row < 7; ++row) {
        const StatisticsLabel& caption = kStatisticsLabels[2 * row];
        const StatisticsLabel& value = kStatisticsLabels[2 * row + 1];
        EXPECT_EQ(caption.key, std::int32_t(19 + row));
        EXPECT_EQ(value.key, 0);
        EXPECT_FLOAT_EQ(caption.x, -7.5f);
        EXPECT_GT(value.x, caption.x);
        EXPECT_FLOAT_EQ(caption.y, value.y);
        EXPECT_FLOAT_EQ(caption.y, 7.0f - 2.0f * float(row));
        EXPECT_LT(std::fabs(value.x), kMonitorFace / 2);
    }
}

TEST(SceneLayout, NormalisedDeviceCoordsCoverTheWindowAndStayFiniteWhenEmpty)
{
    EXPECT_EQ(normalisedDeviceCoords(0, 0, 1024, 768), glm::vec4(-1, 1, -1, 1));
    EXPECT_EQ(normalisedDeviceCoords(1024, 768, 1024, 768), glm::vec4(1, -1, -1, 1));
    EXPECT_EQ(normalisedDeviceCoords(512, 384, 1024, 768), glm::vec4(0, 0, -1, 1));
    const glm::vec4 minimised = normalisedDeviceCoords(10, 20, 0, 0);
    EXPECT_TRUE(std::isfinite(minimised.x) && std::isfinite(minimised.y));
    EXPECT_EQ(minimised, glm::vec4(0, 0, -1, 1));
}
