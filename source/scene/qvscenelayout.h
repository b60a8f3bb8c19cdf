// qvscenelayout: the tracker scene's fixed layout and the pointer's
// conversion to normalised device coordinates, kept apart from OpenGL so
// that they can be checked on their own.
//
// The scene stands in a column in front of the camera: four monitors one below
// another, kMonitorSpacing units apart, and the 3D title below them. The
// monitors scale their x by the screen's aspect ratio, so the route plot maps
// the whole screen onto the face without distortion. The statistics labels
// hang on the information monitor in seven rows, caption left, value right.
#pragma once

#include <glm/vec4.hpp>

#include <array>
#include <cstdint>

namespace scenelayout {

constexpr float kMonitorSpacing = 24.0f;  // also the camera's wheel step
constexpr float kMonitorZ = -11.0f;
constexpr int kMonitorCount = 4;       // information, route, speed, stops
constexpr float kMonitorFace = 20.0f;  // face width and height before the x scaling
constexpr float kMonitorDepth = 1.0f;
constexpr float kTitleY = -96.0f;
constexpr float kLabelZ = 0.01f;  // statistics labels just in front of the face
constexpr float kInfoTextZ = 0.1f;
constexpr float kInfoTextWidth = kMonitorFace / 1.5f;
constexpr float kInfoTextHeight = 2.5f;
constexpr float kInfoTextFontSize = 20.0f;
constexpr float kStatisticsFontSize = 50.0f;
constexpr float kTitleFontSize = 100.0f;
constexpr std::int32_t kHelpKey = 18;

// Height of monitor `index` (0 information, 1 route, 2 speed, 3 stops).
constexpr float monitorY(int index)
{
    return -kMonitorSpacing * float(index);
}

// The screen's aspect ratio, the monitors' x scaling; 1 for a screen that
// reports no size, so the monitors keep a drawable shape.
constexpr float monitorAspect(int screenWidth, int screenHeight)
{
    if (screenWidth <= 0 || screenHeight <= 0) return 1.0f;
    return float(screenWidth) / float(screenHeight);
}

// One statistics label: its caption's dictionary key (0 for a value label,
// which starts with the text "0") and its place on the information monitor.
struct StatisticsLabel {
    std::int32_t key;
    float x;
    float y;
};

// In creation order: caption, value, caption, value, ... The value columns
// are fixed positions, not measured from the captions.
constexpr std::array<StatisticsLabel, 14> kStatisticsLabels{{
    {19, -7.5f, 7.0f},
    {0, 1.0f, 7.0f},  // Odometer:
    {20, -7.5f, 5.0f},
    {0, 3.2f, 5.0f},  // Speedometer:
    {21, -7.5f, 3.0f},
    {0, -3.2f, 3.0f},  // X:
    {22, -7.5f, 1.0f},
    {0, -3.2f, 1.0f},  // Y:
    {23, -7.5f, -1.0f},
    {0, 3.2f, -1.0f},  // Max Speed:
    {24, -7.5f, -3.0f},
    {0, 5.2f, -3.0f},  // Stops:
    {25, -7.5f, -5.0f},
    {0, 3.2f, -5.0f},  // Time:
}};

// The pixel (x, y), y downward, of a w x h area in normalised device
// coordinates: (2x/w - 1, 1 - 2y/h, -1, 1). An empty (minimised) dimension
// maps to the centre, 0, instead of dividing by zero.
inline glm::vec4 normalisedDeviceCoords(int x, int y, float w, float h)
{
    const float nx = w > 0.0f ? 2.0f * float(x) / w - 1.0f : 0.0f;
    const float ny = h > 0.0f ? 1.0f - 2.0f * float(y) / h : 0.0f;
    return glm::vec4(nx, ny, -1.0f, 1.0f);
}

}  // namespace scenelayout
