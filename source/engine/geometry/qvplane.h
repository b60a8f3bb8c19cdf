// Plane helpers that the geometry modules share: points compared and turns
// measured in XY, in double. Internal to the geometry layer.
#pragma once

#include <glm/vec2.hpp>
#include <glm/vec3.hpp>

#include <cmath>
#include <utility>

namespace qvplane {

// |cross| at or below this counts as a straight line for the tolerant turn.
inline constexpr double turnTolerance = 1e-9;

inline bool sameXY(glm::vec3 a, glm::vec3 b)
{
    return a.x == b.x && a.y == b.y;
}

inline glm::dvec2 xy(glm::vec3 p)
{
    return {p.x, p.y};
}

inline double cross(glm::dvec2 u, glm::dvec2 v)
{
    return u.x * v.y - u.y * v.x;
}

// (b - a) x (c - a) in XY.
inline double crossXY(glm::vec3 a, glm::vec3 b, glm::vec3 c)
{
    return cross(xy(b) - xy(a), xy(c) - xy(a));
}

inline bool isLexicographicallyBefore(glm::vec3 a, glm::vec3 b)
{
    return a.x < b.x || (a.x == b.x && a.y < b.y);
}

// Sign of the turn a -> b -> c without tolerance: +1 left, -1 right, 0 on one
// line. The three points are put in one fixed order before the cross product
// is rounded, so every ordering of the same three points gets a consistent
// answer: a point is never on both sides of an edge, whichever way round it
// is held.
inline int orientation(glm::vec3 a, glm::vec3 b, glm::vec3 c)
{
    int sign = 1;
    if (isLexicographicallyBefore(b, a)) std::swap(a, b), sign = -sign;
    if (isLexicographicallyBefore(c, b)) std::swap(b, c), sign = -sign;
    if (isLexicographicallyBefore(b, a)) std::swap(a, b), sign = -sign;
    const double turn = crossXY(a, b, c);
    return sign * ((turn > 0.0) - (turn < 0.0));
}

// The sign of a cross product, 0 within turnTolerance of a straight line.
inline int turnWithTolerance(double crossProduct)
{
    if (std::abs(crossProduct) <= turnTolerance) return 0;
    return crossProduct > 0.0 ? 1 : -1;
}

// The tolerant turn a -> b -> c: +1 left, -1 right, 0 straight.
inline int computeTurn(glm::vec3 a, glm::vec3 b, glm::vec3 c)
{
    return turnWithTolerance(crossXY(a, b, c));
}

}  // namespace qvplane
