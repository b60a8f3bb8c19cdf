// Independent geometry used to judge the triangulations and hulls: plain
// double-precision formulas written for the tests, sharing no code with the
// modules under test.
#pragma once

#include <glm/vec3.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

namespace checks {

inline double cross(glm::vec3 a, glm::vec3 b, glm::vec3 c)
{
    return (double(b.x) - a.x) * (double(c.y) - a.y) - (double(b.y) - a.y) * (double(c.x) - a.x);
}

// p lies inside the circle through a, b, c (either winding) by more than
// `tolerance` times the determinant's terms; worked out about p in long
// double so that a far point does not swamp a tiny triangle's terms.
inline bool insideCircle(glm::vec3 a, glm::vec3 b, glm::vec3 c, glm::vec3 p, long double tolerance)
{
    using Wide = long double;
    const Wide ax = Wide(a.x) - p.x, ay = Wide(a.y) - p.y, bx = Wide(b.x) - p.x, by = Wide(b.y) - p.y,
               cx = Wide(c.x) - p.x, cy = Wide(c.y) - p.y;
    const Wide al = ax * ax + ay * ay, bl = bx * bx + by * by, cl = cx * cx + cy * cy;
    const Wide det = al * (bx * cy - by * cx) + bl * (cx * ay - cy * ax) + cl * (ax * by - ay * bx);
    const Wide terms = al * (std::abs(bx * cy) + std::abs(by * cx)) +
                       bl * (std::abs(cx * ay) + std::abs(cy * ax)) +
                       cl * (std::abs(ax * by) + std::abs(ay * bx));
    const Wide turn = (Wide(b.x) - a.x) * (Wide(c.y) - a.y) - (Wide(b.y) - a.y) * (Wide(c.x) - a.x);
    return (turn > 0 ? det : -det) > tolerance * terms;
}

// Signed area of a ring of corners (the closing repeat may be present).
inline double signedArea(const std::vector<glm::vec3>& ring)
{
    double sum = 0.0;
    for (size_t i = 0; i < ring.size(); ++i) {
        const glm::vec3 a = ring[i], b = ring[(i + 1) % ring.size()];
        sum += double(a.x) * b.y - double(b.x) * a.y;
    }
    return 0.5 * sum;
}

// Winding number of the ring around p (0 outside).
inline int winding(glm::vec3 p, const std::vector<glm::vec3>& ring)
{
    int w = 0;
    for (size_t i = 0; i < ring.size(); ++i) {
        const glm::vec3 a = ring[i], b = ring[(i + 1) % ring.size()];
        if (a.y <= p.y) {
            if (b.y > p.y && cross(a, b, p) > 0) ++w;
        } else if (b.y <= p.y && cross(a, b, p) < 0) {
            --w;
        }
    }
    return w;
}

// Segments a-b and c-d cross at a point inside both.
inline bool properlyCross(glm::vec3 a, glm::vec3 b, glm::vec3 c, glm::vec3 d)
{
    const double d1 = cross(a, b, c), d2 = cross(a, b, d), d3 = cross(c, d, a), d4 = cross(c, d, b);
    return ((d1 > 0 && d2 < 0) || (d1 < 0 && d2 > 0)) && ((d3 > 0 && d4 < 0) || (d3 < 0 && d4 > 0));
}

// The points sorted by x, then y, each place in the plane once.
inline std::vector<glm::vec3> distinctPoints(std::vector<glm::vec3> points)
{
    std::sort(points.begin(), points.end(),
              [](glm::vec3 a, glm::vec3 b) { return a.x < b.x || (a.x == b.x && a.y < b.y); });
    points.erase(std::unique(points.begin(), points.end(),
                             [](glm::vec3 a, glm::vec3 b) { return a.x == b.x && a.y == b.y; }),
                 points.end());
    return points;
}

// Andrew's monotone chain: strict hull corners, counterclockwise.
inline std::vector<glm::vec3> monotoneHull(std::vector<glm::vec3> points)
{
    points = distinctPoints(std::move(points));
    if (points.size() < 3) return points;
    std::vector<glm::vec3> hull(2 * points.size());
    size_t k = 0;
    for (size_t i = 0; i < points.size(); ++i) {
        while (k >= 2 && cross(hull[k - 2], hull[k - 1], points[i]) <= 0) --k;
        hull[k++] = points[i];
    }
    for (size_t i = points.size() - 1, lower = k + 1; i-- > 0;) {
        while (k >= lower && cross(hull[k - 2], hull[k - 1], points[i]) <= 0) --k;
        hull[k++] = points[i];
    }
    hull.resize(k - 1);
    return hull;
}

inline std::vector<glm::vec3> randomPoints(size_t n, std::uint32_t seed, float extent = 10.0f)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> coordinate(0.0f, extent);
    std::vector<glm::vec3> points(n);
    for (glm::vec3& p : points) p = {coordinate(random), coordinate(random), 0.0f};
    return points;
}

}  // namespace checks
