// qvboundingvolumes: bounds scans and the separating-axis box test.
#include "engine/core/qvboundingvolumes.h"

#include <cmath>
#include <utility>

namespace {

constexpr std::size_t kFloatsPerVertex = 3;

// Separated on one axis when either interval lies wholly beyond the other.
// NaN compares false both ways, so an unset bound never separates.
bool separated(float minA, float maxA, float minB, float maxB)
{
    return minB > maxA || maxB < minA;
}

// Widens [lo, hi] to take in v. A NaN coordinate never wins, and a bound that
// is still NaN (taken from a first vertex with a NaN coordinate) gives way to
// the next real one, so one bad vertex cannot leave the box unset for good.
void widen(float& lo, float& hi, float v)
{
    if (v < lo || std::isnan(lo)) lo = v;
    if (v > hi || std::isnan(hi)) hi = v;
}

}  // namespace

QvAABB::QvAABB(std::vector<Triangle> triangles) : triangles(std::move(triangles)) {}

bool QvAABB::isBoxesIntersects(const QvAABB& other) const
{
    return !separated(minX, maxX, other.minX, other.maxX) && !separated(minY, maxY, other.minY, other.maxY) &&
           !separated(minZ, maxZ, other.minZ, other.maxZ);
}

void QvAABB::addBoxVertices(const std::vector<float>& list)
{
    vertices.insert(vertices.end(), list.begin(), list.end());
    findMinMax();
}

void QvAABB::findMinMax()
{
    if (vertices.size() < kFloatsPerVertex) {
        return;
    }
    if (!hasBounds) {
        resetBounds(vertices);
    }
    widenBounds(vertices);
}

void QvAABB::findMinMax(const std::vector<float>& list)
{
    if (list.size() < kFloatsPerVertex) {
        return;
    }
    resetBounds(list);
    widenBounds(list);
}

void QvAABB::changeBoxVertices(std::vector<float> list)
{
    vertices = std::move(list);
}

void QvAABB::addBoxTriangles(const std::vector<Triangle>& list)
{
    triangles.insert(triangles.end(), list.begin(), list.end());
}

std::vector<Triangle>& QvAABB::getBoxTriangles()
{
    return triangles;
}

const std::vector<Triangle>& QvAABB::getBoxTriangles() const
{
    return triangles;
}

const std::vector<float>& QvAABB::getBoxVertices() const
{
    return vertices;
}

void QvAABB::resetBounds(const std::vector<float>& list)
{
    minX = maxX = list[0];
    minY = maxY = list[1];
    minZ = maxZ = list[2];
    hasBounds = true;
}

void QvAABB::widenBounds(const std::vector<float>& list)
{
    for (std::size_t i = 0; i + kFloatsPerVertex <= list.size(); i += kFloatsPerVertex) {
        widen(minX, maxX, list[i]);
        widen(minY, maxY, list[i + 1]);
        widen(minZ, maxZ, list[i + 2]);
    }
}
