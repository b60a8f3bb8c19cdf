// Records and plane predicates of the geometry modules.
#include "engine/geometry/qvgeometricfunctions.h"
#include "engine/geometry/qvtype.h"

#include <glm/vec2.hpp>
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <vector>

namespace {

QvVertice vertex(float x, float y)
{
    return {{x, y, 0.0f}, "regular", 0};
}
QvSegment segment(float x1, float y1, float x2, float y2)
{
    return {{x1, y1, 0}, {x2, y2, 0}};
}
QvEdge edge(float x1, float y1, float x2, float y2)
{
    return {{x1, y1, 0}, {x2, y2, 0}};
}

// Closed edge list through the given corners.
std::vector<QvEdge> ring(const std::vector<glm::vec2>& corners)
{
    std::vector<QvEdge> edges;
    for (size_t i = 0; i < corners.size(); ++i) {
        const glm::vec2 a = corners[i], b = corners[(i + 1) % corners.size()];
        edges.push_back(edge(a.x, a.y, b.x, b.y));
    }
    return edges;
}

}  // namespace

TEST(GeometryRecords, VerticeOrderIsHighestThenLeftmost)
{
    EXPECT_EQ(vertex(0, 5).opCmp(vertex(1, 5)), -1);
    EXPECT_EQ(vertex(1, 5).opCmp(vertex(0, 5)), 1);
    EXPECT_EQ(vertex(0, 6).opCmp(vertex(0, 5)), -1);
    EXPECT_EQ(vertex(0, 6).opCmp(vertex(1, 5)), -1);
    // Same point: +1 both ways, equivalent under "<", each exceeds the other under ">".
    QvVertice a = vertex(2, 2), b = vertex(2, 2);
    b.type = "split";
    EXPECT_EQ(a.opCmp(b), 1);
    EXPECT_FALSE(a < b || b < a);
    EXPECT_TRUE(a > b && b > a);
    EXPECT_TRUE(a == b);
    EXPECT_EQ(vertex(0, qvNaN).opCmp(vertex(0, 1)), 1);

    std::set<QvVertice> tree{vertex(1, 5), vertex(0, 5), vertex(7, 1), vertex(0, 6), vertex(0, 5)};
    std::vector<glm::vec3> order;
    for (const QvVertice& v : tree) order.push_back(v.point);
    EXPECT_EQ(order, (std::vector<glm::vec3>{{0, 6, 0}, {0, 5, 0}, {1, 5, 0}, {7, 1, 0}}));
}

TEST(GeometryRecords, LeftPriorityOrderIsLeftmostThenHighest)
{
    const QvLeftPriorityVertice low{{0, 1, 0}, "", 0}, high{{0, 2, 0}, "", 0}, right{{1, 9, 0}, "", 0};
    EXPECT_EQ(high.opCmp(low), -1);
    EXPECT_EQ(low.opCmp(high), 1);
    EXPECT_EQ(low.opCmp(right), -1);
    EXPECT_EQ(right.opCmp(high), 1);
    EXPECT_EQ(low.opCmp(low), 1);
}

TEST(GeometryRecords, EdgeIsDirectedAndOrderedByStart)
{
    EXPECT_EQ(edge(0, 0, 1, 1).opCmp(edge(0, 0, 5, -3)), 0);
    EXPECT_EQ(edge(0, 0, 1, 1).opCmp(edge(0, 1, 0, 0)), -1);
    EXPECT_EQ(edge(1, 0, 1, 1).opCmp(edge(0, 9, 0, 0)), 1);
    EXPECT_FALSE(edge(0, 0, 1, 1) == edge(1, 1, 0, 0));
    QvEdge e = edge(1, 2, 4, 6);
    EXPECT_EQ(e.directionalVector(), glm::vec3(3, 4, 0));
    EXPECT_EQ(e.directionalInverseVector(), glm::vec3(-3, -4, 0));
    e.swapPoints();
    EXPECT_EQ(e, edge(4, 6, 1, 2));
}

TEST(GeometryRecords, SegmentVotesByHeightAndIgnoresDirection)
{
    EXPECT_EQ(segment(0, 2, 5, 2).opCmp(segment(0, 1, 5, 1)), 4);
    EXPECT_EQ(segment(0, 1, 5, 1).opCmp(segment(0, 2, 5, 2)), -4);
    EXPECT_EQ(segment(0, 0, 0, 3).opCmp(segment(1, 1, 1, 2)), 0);
    // Sharing the lower end: the one reaching higher wins on the tie break.
    EXPECT_GT(segment(0, 0, 0, 3).opCmp(segment(0, 0, 1, 2)), 0);
    EXPECT_TRUE(segment(0, 0, 1, 1) == segment(1, 1, 0, 0));
    EXPECT_FALSE(segment(0, 0, 1, 1) == segment(0, 0, 1, 2));
    EXPECT_LT(segment(0, qvNaN, 1, qvNaN).opCmp(segment(0, 0, 1, 0)), 0);
}

TEST(GeometryPredicates, SegmentTestIsClosedAndRejectsParallels)
{
    EXPECT_TRUE(findSegmentIntersection(edge(0, 0, 2, 2), edge(0, 2, 2, 0)));
    EXPECT_TRUE(findSegmentIntersection(edge(0, 0, 1, 0), edge(1, 0, 1, 5)));  // shared end
    EXPECT_TRUE(findSegmentIntersection(edge(0, 0, 2, 0), edge(1, 0, 1, 5)));  // T junction
    EXPECT_FALSE(findSegmentIntersection(edge(0, 0, 1, 0), edge(1.01f, 0, 1.01f, 5)));
    EXPECT_FALSE(findSegmentIntersection(edge(0, 0, 2, 0), edge(1, 0, 3, 0)));  // collinear overlap
    EXPECT_FALSE(findSegmentIntersection(edge(0, 0, 2, 0), edge(0, 0, 2, 0)));  // itself
    EXPECT_FALSE(findSegmentIntersection(edge(0, 0, qvNaN, 0), edge(0, -1, 0, 1)));
    EXPECT_TRUE(isSegmentCollinear(edge(0, 0, 2, 1), edge(5, 5, 1, 3)));
    EXPECT_FALSE(isSegmentCollinear(edge(0, 0, 2, 1), edge(5, 5, 1, 4)));
}

TEST(GeometryPredicates, RayTestAgreesWithKnownShapes)
{
    EXPECT_FALSE(isPointInsidePolygon({0, 0, 0}, {}));
    // An L shape: its notch is outside, its arms inside.
    const auto ell = ring({{0, 0}, {4, 0}, {4, 1}, {1, 1}, {1, 4}, {0, 4}});
    EXPECT_TRUE(isPointInsidePolygon({0.5f, 3, 0}, ell));
    EXPECT_TRUE(isPointInsidePolygon({3, 0.5f, 0}, ell));
    EXPECT_FALSE(isPointInsidePolygon({2, 2, 0}, ell));
    // A ray along the top of the lower arm runs through three corners: each
    // corner counts once, so the point left of the L stays outside.
    EXPECT_FALSE(isPointInsidePolygon({-1, 1, 0}, ell));
    EXPECT_TRUE(isPointInsidePolygon({0.5f, 1, 0}, ell));
    const auto diamond = ring({{0, -1}, {1, 0}, {0, 1}, {-1, 0}});
    EXPECT_TRUE(isPointInsidePolygon({-0.5f, 0, 0}, diamond));
    EXPECT_FALSE(isPointInsidePolygon({-2, 0, 0}, diamond));
    // Far away shapes: the probe is not limited to a fixed length.
    const auto wide = ring({{0, 0}, {50000, 0}, {50000, 10}, {0, 10}});
    EXPECT_TRUE(isPointInsidePolygon({1, 5, 0}, wide));
    // isPointInsidePolygonNew looks 2.5 units higher.
    const auto strip = ring({{0, 2}, {10, 2}, {10, 3}, {0, 3}});
    EXPECT_TRUE(isPointInsidePolygonNew({5, 0, 0}, strip));
    EXPECT_FALSE(isPointInsidePolygon({5, 0, 0}, strip));
}

TEST(GeometryPredicates, ConcaveProbeNeedsThreeCrossings)
{
    // Stacked horizontal bars: the probe through them counts each one it reaches.
    std::vector<QvEdge> edges{edge(-5, 0, 5, 0), edge(-5, 2, 5, 2)};
    EXPECT_FALSE(isLineIntersectConcavePart({0, 1, 0}, edges));
    edges.push_back(edge(-5, 4, 5, 4));
    EXPECT_TRUE(isLineIntersectConcavePart({0, 1, 0}, edges));
    edges.back() = edge(-5, 150, 5, 150);  // beyond the probe's reach
    EXPECT_FALSE(isLineIntersectConcavePart({0, 1, 0}, edges));
}

TEST(GeometryPredicates, SegmentAgainstListIgnoresItsOwnEnds)
{
    const std::vector<QvEdge> square = ring({{0, 0}, {2, 0}, {2, 2}, {0, 2}});
    EXPECT_FALSE(isSegmentIntersectAnyQvEdge(edge(0, 0, 2, 2), square));  // a diagonal
    EXPECT_TRUE(isSegmentIntersectAnyQvEdge(edge(2, 0, 0, 0), square));   // a side, reversed
    EXPECT_TRUE(isSegmentIntersectAnyQvEdge(edge(0, 2, 2, 2), square));   // a side, reversed
    EXPECT_TRUE(isSegmentIntersectAnyQvEdge(edge(1, 1, 3, 1), square));   // leaves the square
    EXPECT_FALSE(isSegmentIntersectAnyQvEdge(edge(1, 1, 3, 1), {}));
}
