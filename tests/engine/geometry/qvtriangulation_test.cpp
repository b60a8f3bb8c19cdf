// Polygon triangulations and the predicates on segment lists they share.
#include "geometry_checks.h"
#include "engine/geometry/qvtriangulation.h"

#include <gtest/gtest.h>

#include <numbers>

namespace {

using Triangulator = void (*)(std::span<const glm::vec3>, std::vector<glm::vec3>&,
                              std::vector<std::uint32_t>&, int&);

struct Output {
    std::vector<glm::vec3> vertices;
    std::vector<std::uint32_t> indices;
    int count = 0;
};

// Closes a ring of corners by repeating its first point, as the canvas does.
std::vector<glm::vec3> closed(std::vector<glm::vec3> ring)
{
    ring.push_back(ring.front());
    return ring;
}

std::vector<glm::vec3> reversed(std::vector<glm::vec3> ring)
{
    std::reverse(ring.begin(), ring.end());
    return ring;
}

std::vector<glm::vec3> square()
{
    return {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
}
std::vector<glm::vec3> ell()
{
    return {{0, 0, 0}, {4, 0, 0}, {4, 1, 0}, {1, 1, 0}, {1, 4, 0}, {0, 4, 0}};
}

// A comb of `teeth` teeth standing on a bar.
std::vector<glm::vec3> comb(int teeth)
{
    std::vector<glm::vec3> ring{{0, 0, 0}, {float(2 * teeth - 1), 0, 0}};
    for (int j = teeth - 1; j >= 0; --j) {
        ring.push_back({float(2 * j + 1), 3, 0});
        ring.push_back({float(2 * j), 3, 0});
        if (j > 0) {
            ring.push_back({float(2 * j), 1, 0});
            ring.push_back({float(2 * j - 1), 1, 0});
        }
    }
    return ring;
}

// A band wound twice around the origin.
std::vector<glm::vec3> spiral(int steps)
{
    std::vector<glm::vec3> outer, inner;
    for (int i = 0; i <= steps; ++i) {
        const float angle = 4.0f * std::numbers::pi_v<float> * float(i) / float(steps);
        outer.push_back({(angle + 1.5f) * std::cos(angle), (angle + 1.5f) * std::sin(angle), 0});
        inner.push_back({(angle + 1.0f) * std::cos(angle), (angle + 1.0f) * std::sin(angle), 0});
    }
    outer.insert(outer.end(), inner.rbegin(), inner.rend());
    return outer;
}

// Random corners sorted by angle about the origin: a star-shaped polygon.
std::vector<glm::vec3> star(int n, std::uint32_t seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::vector<float> angles(n);
    for (float& a : angles) a = 2.0f * std::numbers::pi_v<float> * unit(random);
    std::sort(angles.begin(), angles.end());
    angles.erase(std::unique(angles.begin(), angles.end()), angles.end());
    std::vector<glm::vec3> ring;
    for (float a : angles) {
        const float r = 0.2f + 0.8f * unit(random);
        ring.push_back({100.0f * r * std::cos(a), 100.0f * r * std::sin(a), 0});
    }
    return ring;
}

Output run(Triangulator triangulate, const std::vector<glm::vec3>& polygon)
{
    Output out;
    triangulate(polygon, out.vertices, out.indices, out.count);
    return out;
}

// Holds a triangulation of `ring` against its area and boundary.
void expectCovers(const Output& out, const std::vector<glm::vec3>& ring)
{
    ASSERT_EQ(out.vertices.size(), out.indices.size());
    ASSERT_EQ(out.count, int(out.vertices.size()));
    for (size_t i = 0; i < out.indices.size(); ++i) ASSERT_EQ(out.indices[i], i);

    const double area = std::abs(checks::signedArea(ring));
    double sum = 0.0;
    for (size_t t = 0; t < out.vertices.size(); t += 3) {
        const glm::vec3 a = out.vertices[t], b = out.vertices[t + 1], c = out.vertices[t + 2];
        const double twice = checks::cross(a, b, c);
        ASSERT_NE(twice, 0.0) << "degenerate triangle " << t / 3;
        sum += 0.5 * std::abs(twice);
        for (glm::vec3 corner : {a, b, c})
            ASSERT_NE(std::find(ring.begin(), ring.end(), corner), ring.end()) << "corner not on the polygon";
        const glm::vec3 centroid = (a + b + c) / 3.0f;
        ASSERT_NE(checks::winding(centroid, ring), 0) << "triangle " << t / 3 << " lies outside";
        for (size_t i = 0; i < ring.size(); ++i) {
            const glm::vec3 p = ring[i], q = ring[(i + 1) % ring.size()];
            for (auto [u, v] : {std::pair{a, b}, std::pair{b, c}, std::pair{c, a}})
                ASSERT_FALSE(checks::properlyCross(u, v, p, q)) << "triangle " << t / 3 << " crosses a side";
        }
    }
    // All inside and summing to the area: no gaps and no overlaps.
    EXPECT_NEAR(sum, area, 1e-6 * std::max(1.0, area));
}

class PolygonTriangulation : public testing::TestWithParam<Triangulator> {
protected:
    Triangulator triangulate() const { return GetParam(); }
};

}  // namespace

TEST_P(PolygonTriangulation, CoversFixedShapesInBothDirections)
{
    for (const auto& ring : {square(), ell(), comb(7), spiral(60)}) {
        expectCovers(run(triangulate(), closed(ring)), ring);
        expectCovers(run(triangulate(), closed(reversed(ring))), ring);
    }
}

TEST_P(PolygonTriangulation, CoversRandomStarShapes)
{
    for (std::uint32_t seed = 1; seed <= 40; ++seed) {
        const auto ring = star(5 + int(seed) * 3, seed);
        SCOPED_TRACE(seed);
        expectCovers(run(triangulate(), closed(ring)), ring);
    }
}

TEST_P(PolygonTriangulation, CoversANearlyStraightSliver)
{
    // A thin dart whose corner at (96.8, 92.2) turns by a hair: the midpoint of
    // the one good diagonal lies within rounding of a side, so only exact
    // turns tell that the diagonal runs inside.
    const std::vector<glm::vec3> dart{{96.8120575f, 92.2495956f, 0},
                                      {48.4774361f, 80.8391953f, 0},
                                      {10.4778767f, 72.7347946f, 0},
                                      {34.1577339f, 77.458725f, 0}};
    for (const auto& ring : {dart, reversed(dart)}) {
        const Output out = run(triangulate(), closed(ring));
        EXPECT_EQ(out.count, 6);
        expectCovers(out, ring);
    }
}

TEST_P(PolygonTriangulation, DropsStraightCornersInsteadOfEmittingSlivers)
{
    // A square with three extra points on each side and a doubled corner.
    const auto corners = square();
    std::vector<glm::vec3> ring;
    for (size_t i = 0; i < corners.size(); ++i) {
        const glm::vec3 corner = corners[i], next = corners[(i + 1) % corners.size()];
        ring.push_back(corner);
        ring.push_back(corner);
        for (float f : {0.25f, 0.5f, 0.75f}) ring.push_back(corner + f * (next - corner));
    }
    const Output out = run(triangulate(), closed(ring));
    expectCovers(out, ring);
    // An all-straight polygon has nothing to cover.
    EXPECT_EQ(run(triangulate(), {{0, 0, 0}, {1, 1, 0}, {2, 2, 0}, {0, 0, 0}}).count, 0);
}

TEST_P(PolygonTriangulation, FollowsTheOutputContract)
{
    Output out;
    triangulate()(std::vector<glm::vec3>{}, out.vertices, out.indices, out.count);
    triangulate()(std::vector<glm::vec3>{{1, 1, 0}}, out.vertices, out.indices, out.count);
    EXPECT_TRUE(out.vertices.empty());
    EXPECT_EQ(out.count, 0);

    const std::vector<glm::vec3> triangle{{0, 0, 5}, {1, 0, 5}, {0, 1, 5}, {0, 0, 5}};
    triangulate()(triangle, out.vertices, out.indices, out.count);
    EXPECT_EQ(out.indices, (std::vector<std::uint32_t>{0, 1, 2}));
    EXPECT_EQ(out.count, 3);
    for (glm::vec3 corner : out.vertices) EXPECT_EQ(corner.z, 5.0f);  // z is carried through

    // A second call appends and numbers on from the current count.
    triangulate()(closed(square()), out.vertices, out.indices, out.count);
    EXPECT_EQ(out.count, 9);
    EXPECT_EQ(out.indices, (std::vector<std::uint32_t>{0, 1, 2, 3, 4, 5, 6, 7, 8}));

    // An open chain is closed implicitly.
    expectCovers(run(triangulate(), ell()), ell());
}

INSTANTIATE_TEST_SUITE_P(, PolygonTriangulation, testing::Values(triangulateByTDBE, triangulateBySPAR),
                         [](const auto& info) { return info.param == triangulateByTDBE ? "TDBE" : "SPAR"; });

TEST(SparTriangulation, CutsEarsInListOrder)
{
    // In a convex polygon every corner is an ear: the first side's corner goes first.
    Output out = run(triangulateBySPAR, closed(square()));
    ASSERT_EQ(out.count, 6);
    EXPECT_EQ(out.vertices[0], glm::vec3(0, 0, 0));
    EXPECT_EQ(out.vertices[1], glm::vec3(1, 0, 0));
    EXPECT_EQ(out.vertices[2], glm::vec3(1, 1, 0));
}

TEST(SegmentListPredicates, DiagonalTestSeesTheWholeSegment)
{
    const std::vector<QvEdge> sides{{{0, 0, 0}, {4, 0, 0}},
                                    {{4, 0, 0}, {4, 4, 0}},
                                    {{4, 4, 0}, {0, 4, 0}},
                                    {{0, 4, 0}, {0, 0, 0}},
                                    {{3.95f, -1, 0}, {3.95f, 1, 0}}};  // crosses near a diagonal's end
    const QvEdge diagonal{{0, 0, 0}, {4, 4, 0}}, any;
    EXPECT_TRUE(isLineIntersectAnyQvEdge({{0, 0, 0}, {4, 0.05f, 0}}, any, sides));
    EXPECT_FALSE(isLineIntersectAnyQvEdge(diagonal, any, std::span(sides).first(4)));
    // A corner resting on the diagonal blocks it; a side that is the diagonal does not.
    const std::vector<QvEdge> touching{{{2, 2, 0}, {3, 0, 0}}};
    EXPECT_TRUE(isLineIntersectAnyQvEdge(diagonal, any, touching));
    EXPECT_FALSE(isLineIntersectAnyQvEdge(diagonal, any, std::vector<QvEdge>{{{4, 4, 0}, {0, 0, 0}}}));
    // Collinear overlap beyond a shared end.
    EXPECT_TRUE(isLineIntersectAnyQvEdge(diagonal, any, std::vector<QvEdge>{{{0, 0, 0}, {1, 1, 0}}}));

    const std::vector<QvSegment> segments{{{0, 0, 0}, {4, 0, 0}}, {{1, -1, 0}, {1, 1, 0}}};
    EXPECT_TRUE(isLineIntersectAnyQvSegmentRBT({{0.5f, 0.5f, 0}, {1.5f, -0.5f, 0}}, {}, segments));
    EXPECT_TRUE(isSegmentSameQvSegment({{4, 0, 0}, {0, 0, 0}}, segments));
    EXPECT_FALSE(isSegmentSameQvSegment({{4, 0, 0}, {0, 1, 0}}, segments));
    EXPECT_TRUE(findSegmentIntersectionRBT(segments[0], segments[1]));
}

TEST(SegmentListPredicates, NudgedRayTestCountsCornersOnce)
{
    const std::vector<QvSegment> diamond{
        {{0, -1, 0}, {1, 0, 0}}, {{1, 0, 0}, {0, 1, 0}}, {{0, 1, 0}, {-1, 0, 0}}, {{-1, 0, 0}, {0, -1, 0}}};
    const QvSegment reference{{0, 0, 0}, {0, 0, 0}};
    EXPECT_TRUE(isPointInsidePolygonRBT({-0.5f, 0, 0}, reference, diamond));
    EXPECT_FALSE(isPointInsidePolygonRBT({-1.5f, 0, 0}, reference, diamond));
    // Far beyond 100 units of reach.
    const std::vector<QvEdge> wide{{{0, 0, 0}, {1000, 0, 0}},
                                   {{1000, 0, 0}, {1000, 1, 0}},
                                   {{1000, 1, 0}, {0, 1, 0}},
                                   {{0, 1, 0}, {0, 0, 0}}};
    EXPECT_TRUE(isPointInsidePolygonEdge({1, 0.5f, 0}, wide[0], wide));
}

TEST(SegmentListPredicates, TurnsAndParallels)
{
    EXPECT_EQ(computeTurn({0, 0, 0}, {1, 0, 0}, {0, 1, 0}), 1);
    EXPECT_EQ(computeTurn({0, 0, 0}, {1, 0, 0}, {2, 0, 0}), 0);
    EXPECT_EQ(computeTurn({0, 0, 0}, {1, 0, 0}, {0, -1, 0}), -1);
    EXPECT_TRUE(isEdgeCollinear({{0, 0, 0}, {1, 2, 0}}, {{5, 5, 0}, {7, 9, 0}}));
    const std::vector<QvEdge> list{{{9, 9, 0}, {9, 10, 0}}, {{0, 3, 0}, {2, 3, 0}}};
    EXPECT_TRUE(isEdgeCollinearAny({{0, 0, 0}, {4, 0, 0}}, {{0, 0, 0}, {1, 1, 0}}, list));
    EXPECT_FALSE(isEdgeCollinearAny({{0, 0, 0}, {0, 4, 0}}, {{0, 0, 0}, {1, 1, 0}}, std::span(list).last(1)));
}
