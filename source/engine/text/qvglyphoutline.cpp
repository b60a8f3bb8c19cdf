// Glyph contours: edge lists and the extruded side wall.
#include "engine/text/qvglyphoutline.h"

#include <glm/geometric.hpp>

#include <cmath>

namespace {

constexpr float wallDepth = -200.0f;
constexpr float wallTexScale = 800.0f;  // arc length and depth per texture unit

}  // namespace

float qvPreciseLength(glm::vec3 d) {
    const long double sq = static_cast<long double>(d.x) * d.x +
                           static_cast<long double>(d.y) * d.y +
                           static_cast<long double>(d.z) * d.z;
    return static_cast<float>(std::sqrt(sq));
}

void Contour::makeQvEdgeArray() {
    edges.clear();
    const size_t n = points.size();
    for (size_t i = 0; i < n; ++i) {
        const glm::vec3& a = points[i];
        const glm::vec3& b = points[i + 1 == n ? 0 : i + 1];
        edges.push_back(QvEdge{{a.x, a.y, 0.0f}, {b.x, b.y, 0.0f}});
    }
}

void Contour::makeExtrude() {
    backPoints.clear();
    for (const glm::vec3& p : points) backPoints.emplace_back(p.x, p.y, wallDepth);
    _makeStripForExtrudedContour();
}

// Side wall: one quad per edge as a strip, closed by repeating the first pair.
// The first texture coordinate runs across the wall, the second along it.
void Contour::_makeStripForExtrudedContour() {
    wallStrip.clear();
    wallNormals.clear();
    wallTexCoords.clear();
    const size_t n = points.size();
    if (n == 0 || backPoints.size() != n) return;
    const std::vector<glm::vec3>& P = points;
    const std::vector<glm::vec3>& B = backPoints;
    const float depth = B[0].z / -wallTexScale;
    float s = 0.0f;
    glm::vec3 normal{0.0f};
    for (size_t i = 0; i < n; ++i) {
        const size_t j = i + 1 == n ? 0 : i + 1;
        wallStrip.push_back(P[i]);
        wallStrip.push_back(B[i]);
        normal = glm::cross(B[i] - P[i], B[i] - P[j]);
        wallNormals.push_back(normal);
        wallNormals.push_back(normal);
        wallTexCoords.emplace_back(0.0f, s);
        wallTexCoords.emplace_back(depth, s);
        s += qvPreciseLength(P[j] - P[i]) / wallTexScale;
    }
    wallStrip.push_back(P[0]);
    wallStrip.push_back(B[0]);
    const glm::vec3 closing = glm::cross(P[0] - B[0], P[0] - P[n - 1]) + normal;
    wallNormals.push_back(closing);
    wallNormals.push_back(closing);
    wallTexCoords.emplace_back(0.0f, s);
    wallTexCoords.emplace_back(depth, s);
}

