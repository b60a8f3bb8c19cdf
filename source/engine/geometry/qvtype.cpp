// Equality, ordering and text forms of the plane geometry records.
#include "engine/geometry/qvtype.h"

#include <fmt/format.h>

#include <utility>

std::string qvPointText(glm::vec3 point)
{
    return fmt::format("({}, {}, {})", point.x, point.y, point.z);
}

int QvVertice::opCmp(const QvVertice& other) const
{
    if (point.y > other.point.y) return -1;
    if (point.y < other.point.y || point.y != other.point.y) return 1;  // lower, or a NaN
    return point.x < other.point.x ? -1 : 1;
}

std::string QvVertice::toString() const
{
    return fmt::format("{} {} {}", qvPointText(point), type, index);
}

int QvLeftPriorityVertice::opCmp(const QvLeftPriorityVertice& other) const
{
    if (point.x < other.point.x) return -1;
    if (point.x > other.point.x || point.x != other.point.x) return 1;  // right of it, or a NaN
    return point.y > other.point.y ? -1 : 1;
}

std::string QvLeftPriorityVertice::toString() const
{
    return fmt::format("{} {} {}", qvPointText(point), type, index);
}

int QvEdge::opCmp(const QvEdge& other) const
{
    for (int axis = 0; axis < 3; ++axis) {
        if (p1[axis] < other.p1[axis]) return -1;
        if (p1[axis] > other.p1[axis]) return 1;
    }
    return 0;
}

void QvEdge::swapPoints()
{
    std::swap(p1, p2);
}

std::string QvEdge::toString() const
{
    return fmt::format("[{} -> {}]", qvPointText(p1), qvPointText(p2));
}

namespace {

// One vote of the segment ordering: compare two heights, and on a tie the
// heights of the opposite ends. A NaN anywhere votes -1.
int heightVote(float mine, float theirs, float myOther, float theirOther)
{
    if (mine > theirs) return 1;
    if (mine == theirs && myOther > theirOther) return 1;
    return -1;
}

}  // namespace

int QvSegment::opCmp(const QvSegment& other) const
{
    const float a1 = p1.y, a2 = p2.y, b1 = other.p1.y, b2 = other.p2.y;
    return heightVote(a1, b1, a2, b2) + heightVote(a1, b2, a2, b1) + heightVote(a2, b1, a1, b2) +
           heightVote(a2, b2, a1, b1);
}

bool QvSegment::operator==(const QvSegment& other) const
{
    return (p1 == other.p1 && p2 == other.p2) || (p1 == other.p2 && p2 == other.p1);
}

void QvSegment::swapPoints()
{
    std::swap(p1, p2);
}

std::string QvSegment::toString() const
{
    return fmt::format("[{} - {}]", qvPointText(p1), qvPointText(p2));
}
