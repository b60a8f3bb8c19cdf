// Delaunay triangulation: empty circumcircles, coverage of the hull, and the
// degenerate sets; plus the circle outline it draws.
#include "geometry_checks.h"
#include "engine/geometry/qvdelone.h"
#include "engine/geometry/qvgeometry.h"

#include <glm/geometric.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <limits>
#include <map>
#include <random>
#include <set>
#include <string>

namespace {

// One run on its own copy of the points (triangulate moves the leftmost to the front).
struct Delaunay {
    std::vector<glm::vec3> points, vertices, normals;
    std::vector<std::uint32_t> indices;
    std::vector<float> circles;
    int count = 0;
    std::string lines;

    explicit Delaunay(std::vector<glm::vec3> input) : points(std::move(input))
    {
        testing::internal::CaptureStdout();
        triangulate(points, vertices, indices, normals, count, circles);
        lines = testing::internal::GetCapturedStdout();
    }
    size_t triangles() const { return vertices.size() / 3; }
};

// Every triangle (three corners each) has an empty circumcircle, so none
// overlap, and the triangles sum to the hull's area, so they cover it once.
void expectDelaunayTriangles(const std::vector<glm::vec3>& corners, const std::vector<glm::vec3>& points,
                             double tolerance)
{
    double area = 0.0;
    for (size_t t = 0; t + 2 < corners.size(); t += 3) {
        const glm::vec3 a = corners[t], b = corners[t + 1], c = corners[t + 2];
        const double twice = checks::cross(a, b, c);
        ASSERT_NE(twice, 0.0);
        area += 0.5 * std::abs(twice);
        for (const glm::vec3& p : points)
            ASSERT_FALSE(checks::insideCircle(a, b, c, p, tolerance))
                << "point inside circle of triangle " << t / 3;
    }
    const auto hull = checks::monotoneHull(points);
    EXPECT_NEAR(area, checks::signedArea(hull), 1e-6 * checks::signedArea(hull));
}

// ... with the output's count and an upward normal per vertex.
void expectDelaunay(const Delaunay& run, const std::vector<glm::vec3>& points, double tolerance)
{
    ASSERT_EQ(run.count, int(run.vertices.size()));
    ASSERT_EQ(run.normals.size(), run.vertices.size());
    for (const glm::vec3& normal : run.normals) EXPECT_GT(normal.z, 0.0f);
    expectDelaunayTriangles(run.vertices, points, tolerance);
}

// Distinct points on the hull's boundary, corners and points along its sides.
size_t boundaryCount(const std::vector<glm::vec3>& points)
{
    const auto hull = checks::monotoneHull(points);
    size_t count = 0;
    for (const glm::vec3& p : points)
        for (size_t i = 0; i < hull.size(); ++i)
            if (checks::cross(hull[i], hull[(i + 1) % hull.size()], p) == 0.0) {
                ++count;
                break;
            }
    return count;
}

}  // namespace

TEST(Delaunay, RandomSetsHaveEmptyCircumcirclesAndCoverTheHull)
{
    for (std::uint32_t seed = 1; seed <= 4; ++seed) {
        const Delaunay run(checks::randomPoints(100 * seed, seed));
        SCOPED_TRACE(seed);
        expectDelaunay(run, run.points, 1e-9);
        EXPECT_EQ(run.triangles(), 2 * run.points.size() - boundaryCount(run.points) - 2);
        // Every triangle adds one circle's outline.
        EXPECT_GT(run.circles.size(), run.triangles() * 4 * 3);
    }
}

TEST(Delaunay, CocircularGridDoesNotOverlap)
{
    std::vector<glm::vec3> grid;
    for (int x = 0; x < 10; ++x)
        for (int y = 0; y < 10; ++y) grid.push_back({0.5f * float(x), 0.5f * float(y), 0});
    const Delaunay run(grid);
    expectDelaunay(run, grid, 1e-9);
    EXPECT_EQ(run.triangles(), 2u * 9u * 9u);

    // Each inner edge is shared by exactly two triangles, no edge by more.
    std::map<std::pair<std::pair<float, float>, std::pair<float, float>>, int> uses;
    for (size_t t = 0; t < run.vertices.size(); t += 3)
        for (int i = 0; i < 3; ++i) {
            std::pair a{run.vertices[t + i].x, run.vertices[t + i].y};
            std::pair b{run.vertices[t + (i + 1) % 3].x, run.vertices[t + (i + 1) % 3].y};
            ++uses[std::minmax(a, b)];
        }
    for (const auto& [edge, n] : uses) EXPECT_LE(n, 2);
}

TEST(Delaunay, NearlyCocircularSetsStayConsistent)
{
    std::vector<std::vector<glm::vec3>> sets(3);
    for (int x = 0; x < 7; ++x)
        for (int y = 0; y < 7; ++y)
            sets[0].push_back({0.1f * float(x), 0.1f * float(y), 0});  // inexact spacing
    for (int i = 0; i < 24; ++i) {
        const float angle = float(i) * 0.2617994f;
        sets[1].push_back({3.0f * std::cos(angle), 3.0f * std::sin(angle), 0});  // a ring and its centre
        sets[2].push_back({float(i % 5) + 0.5f * float(i / 5 % 2), float(i / 5), 0});  // staggered rows
    }
    sets[1].push_back({0, 0, 0});
    for (const auto& points : sets) {
        const Delaunay run(points);
        expectDelaunay(run, points, 1e-6);
        EXPECT_EQ(run.triangles(), 2 * points.size() - boundaryCount(points) - 2);
    }
}

TEST(Delaunay, NearlyStraightAndJitteredSetsGiveEachTriangleOnce)
{
    // Three points a hair off one line: one thin triangle, not the same one
    // over and over from both sides.
    std::vector<glm::vec3> thin{{0.0001f, 0.3f, 0}, {0.3001f, 0, 0}, {0.1001f, 0.2f, 0}};
    const Delaunay run(thin);
    EXPECT_EQ(run.triangles(), 1u);
    expectDelaunay(run, thin, 1e-6);

    // A grid whose points are moved by a few float steps, with repeats: every
    // square is nearly cocircular and clusters of points nearly coincide.
    for (std::uint32_t seed : {39u, 1764u, 5254u}) {
        std::mt19937 random(seed);
        std::vector<glm::vec3> points(3 + random() % 60);
        for (glm::vec3& p : points) {
            const float x = float(random() % 7) * 0.3f + float(random() % 3) * 1e-6f;
            p = {x, float(random() % 7) * 0.3f - float(random() % 2) * 1e-6f, 0};
        }
        const auto distinct = checks::distinctPoints(points);
        const Delaunay jittered(points);
        SCOPED_TRACE(seed);
        expectDelaunay(jittered, distinct, 1e-6);
        EXPECT_EQ(jittered.triangles(), 2 * distinct.size() - boundaryCount(distinct) - 2);
    }
}

TEST(Delaunay, WorkedExampleAndDiagnostics)
{
    const Delaunay run({{1, 0, 0}, {0, 1, 0}, {0, 0, 0}});
    EXPECT_EQ(run.points[0], glm::vec3(0, 0, 0));  // the leftmost, lowest point moved to the front
    EXPECT_EQ(run.vertices, (std::vector<glm::vec3>{{0, 0, 0}, {0, 1, 0}, {1, 0, 0}}));
    EXPECT_EQ(run.indices, (std::vector<std::uint32_t>{0, 1, 2}));
    EXPECT_EQ(run.normals, (std::vector<glm::vec3>(3, {0, 0, 1})));
    ASSERT_FALSE(run.circles.empty());
    for (size_t i = 0; i < run.circles.size(); i += 3)
        EXPECT_NEAR(std::hypot(run.circles[i] - 0.5, run.circles[i + 1] - 0.5), 0.70711, 0.002);
    EXPECT_NE(run.lines.find("\x1b[01;37m set.length: 3 \x1b[0m \n"), std::string::npos);
    EXPECT_EQ(run.lines.rfind("\x1b[01;37m the most left: ", 0), 0u);

    // Corners at different heights: the normal is the face's own, turned
    // upwards as a whole, never with one component flipped on its own.
    const Delaunay tilted({{0, 0, 0}, {1, 0, 2}, {0, 1, -3}, {1, 1, 5}});
    ASSERT_EQ(tilted.triangles(), 2u);
    for (size_t t = 0; t < tilted.vertices.size(); t += 3) {
        const glm::dvec3 a(tilted.vertices[t]), b(tilted.vertices[t + 1]), c(tilted.vertices[t + 2]);
        glm::dvec3 face = glm::cross(b - a, c - a);
        if (face.z < 0) face = -face;
        const glm::dvec3 normal(tilted.normals[t]);
        EXPECT_NEAR(glm::length(glm::cross(normal, face)), 0.0, 1e-9);
        EXPECT_GT(glm::dot(normal, face), 0.0);
    }
}

TEST(Delaunay, DegenerateSetsFinishSanely)
{
    for (size_t n = 0; n < 3; ++n) {
        const Delaunay run(checks::randomPoints(n, 7));
        EXPECT_EQ(run.count, 0);
        EXPECT_TRUE(run.lines.empty());
    }
    EXPECT_EQ(Delaunay({{0, 0, 0}, {2, 2, 0}, {1, 1, 0}, {3, 3, 0}}).count, 0);  // one line
    EXPECT_EQ(Delaunay(std::vector<glm::vec3>(5, {1, 2, 0})).count, 0);          // one point five times

    // Repeats add nothing; the triangulation is that of the distinct points.
    auto repeated = checks::randomPoints(40, 3);
    repeated.insert(repeated.end(), repeated.begin(), repeated.begin() + 10);
    const Delaunay run(repeated);
    expectDelaunay(run, repeated, 1e-9);
    EXPECT_EQ(run.triangles(), 2 * 40 - boundaryCount(checks::monotoneHull(repeated)) - 2);
}

TEST(Delaunay, PointsThatAreNotFiniteAreLeftOut)
{
    const float infinity = std::numeric_limits<float>::infinity();
    const std::vector<glm::vec3> finite = checks::randomPoints(30, 9);
    const Delaunay alone(finite);
    ASSERT_GT(alone.triangles(), 0u);
    for (const glm::vec3& bad : {glm::vec3(qvNaN, 1, 0), glm::vec3(1, -infinity, 0)})
        for (size_t at : {size_t(0), finite.size() / 2, finite.size()}) {
            SCOPED_TRACE(testing::Message() << qvPointText(bad) << " at " << at);
            std::vector<glm::vec3> points = finite;
            points.insert(points.begin() + std::ptrdiff_t(at), bad);
            const Delaunay run(points);
            EXPECT_EQ(run.vertices, alone.vertices);
            EXPECT_EQ(run.indices, alone.indices);
            EXPECT_EQ(run.normals, alone.normals);
            EXPECT_EQ(run.count, alone.count);
            EXPECT_EQ(run.lines, alone.lines);
        }
    EXPECT_EQ(Delaunay({{qvNaN, qvNaN, 0}, {0, 0, 0}, {1, 0, 0}}).count, 0);  // too few left for a triangle
}

TEST(Delaunay, PointBetweenHullCornersIsUsed)
{
    // (0, 1) lies on the hull's left side between (0, 0) and (0, 2).
    const std::vector<glm::vec3> points{{0, 2, 0}, {1, 1, 0}, {0, 0, 0}, {0, 1, 0}};
    const Delaunay run(points);
    ASSERT_EQ(run.triangles(), 2u);
    expectDelaunay(run, points, 1e-9);
    EXPECT_NE(std::find(run.vertices.begin(), run.vertices.end(), glm::vec3(0, 1, 0)), run.vertices.end());
}

// The plain advancing front, every partner found by the full search; capped,
// as a wrong partner can send the front round for ever.
std::vector<glm::vec3> fullSearchTriangles(std::vector<glm::vec3> points)
{
    std::vector<glm::vec3> corners;
    QvFrontier frontier{hullEdge(points)};
    const size_t maxSteps = 8 * points.size();
    for (size_t step = 0; !frontier.empty() && step < maxSteps; ++step) {
        const DE e = *frontier.begin();
        frontier.erase(frontier.begin());
        glm::vec3 p, circle;
        if (!mate(e, points, p, circle)) continue;
        corners.insert(corners.end(), {e.org, e.dest, p});
        updateFrontier(frontier, {p, e.org});
        updateFrontier(frontier, {e.dest, p});
    }
    return corners;
}

// Each triangle as its sorted XY corners, to compare triangulations.
std::set<std::array<std::pair<float, float>, 3>> triangleSet(const std::vector<glm::vec3>& corners)
{
    std::set<std::array<std::pair<float, float>, 3>> triangles;
    for (size_t t = 0; t + 2 < corners.size(); t += 3) {
        std::array<std::pair<float, float>, 3> sorted;
        for (int i = 0; i < 3; ++i) sorted[i] = {corners[t + i].x, corners[t + i].y};
        std::sort(sorted.begin(), sorted.end());
        EXPECT_TRUE(triangles.insert(sorted).second) << "triangle made twice";
    }
    return triangles;
}

// A cluster `size` across at the origin, ringed by four points a unit away.
std::vector<glm::vec3> clusterAndRing(float size, std::uint32_t seed)
{
    std::vector<glm::vec3> points = checks::randomPoints(40, seed, size);
    points.insert(points.end(), {{1.0f, 0.3f, 0}, {-0.7f, 1.0f, 0}, {0.2f, -1.0f, 0}, {-1.0f, -0.6f, 0}});
    return points;
}

TEST(Delaunay, IndexedSearchFindsTheFullSearchsPartners)
{
    // Sets that strain a grid of cells: a ring (every edge a hull edge on one
    // side), a long thin strip, two far clusters, and a dense set with a far
    // outlier that leaves most cells empty; then a cluster 10^4 times smaller than its ring.
    std::vector<std::vector<glm::vec3>> sets(4);
    for (int i = 0; i < 300; ++i) {
        const float angle = float(i) * 0.0209439f;
        sets[0].push_back({0.3f * std::cos(angle), 0.3f * std::sin(angle), 0});
    }
    std::mt19937 random(11);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int i = 0; i < 400; ++i) {
        sets[1].push_back({2.0f * unit(random), 0.001f * unit(random), 0});
        sets[2].push_back({0.1f * unit(random) + (i % 2) * 2.0f, 0.1f * unit(random) + (i % 2) * 1.2f, 0});
        sets[3].push_back({0.1f * unit(random), 0.1f * unit(random), 0});
    }
    sets[3].push_back({4.0f, -1.2f, 0});
    sets.push_back(clusterAndRing(1e-4f, 21));
    for (const auto& points : sets) {
        const Delaunay run(points);
        expectDelaunay(run, points, 1e-9);
        const std::vector<glm::vec3> full = fullSearchTriangles(points);
        expectDelaunayTriangles(full, points, 1e-9);
        EXPECT_EQ(triangleSet(run.vertices), triangleSet(full));
        EXPECT_EQ(run.triangles(), 2 * points.size() - boundaryCount(points) - 2);
    }

    // A million times smaller, the far points fall within the full search's
    // rounding against the thin triangles; the grid never puts them to it.
    for (std::uint32_t seed : {21u, 22u, 23u}) {
        SCOPED_TRACE(seed);
        const auto points = clusterAndRing(1e-6f, seed);
        const Delaunay run(points);
        expectDelaunay(run, points, 1e-9);
        EXPECT_EQ(run.triangles(), 2 * points.size() - boundaryCount(points) - 2);
    }

    // Ten thousand random points (in a small square, to keep the circle
    // outlines short) cover the hull with the right number of triangles.
    const Delaunay large(checks::randomPoints(10000, 5, 0.5f));
    EXPECT_EQ(large.triangles(), 2 * large.points.size() - boundaryCount(large.points) - 2);
    double area = 0.0;
    for (size_t t = 0; t < large.vertices.size(); t += 3)
        area +=
            0.5 * std::abs(checks::cross(large.vertices[t], large.vertices[t + 1], large.vertices[t + 2]));
    const double hullArea = checks::signedArea(checks::monotoneHull(large.points));
    EXPECT_NEAR(area, hullArea, 1e-6 * hullArea);
}

TEST(Delaunay, FrontierAndEdgeOperations)
{
    QvFrontier frontier;
    const DE e{{0, 0, 0}, {1, 0, 0}};
    updateFrontier(frontier, e);  // absent: its reverse goes in
    ASSERT_EQ(frontier.size(), 1u);
    EXPECT_EQ(frontier.begin()->org, glm::vec3(1, 0, 0));
    updateFrontier(frontier, e);  // the reverse is there already
    EXPECT_EQ(frontier.size(), 1u);
    updateFrontier(frontier, {{1, 0, 0}, {0, 0, 0}});
    EXPECT_TRUE(frontier.empty());

    EXPECT_TRUE((DE{{0, 0, 0}, {1, 0, 0}} == DE{{1, 0, 0}, {0, 0, 5}}));
    EXPECT_LT((DE{{0, 0, 0}, {1, 0, 0}}.opCmp(DE{{1, 0, 0}, {0, 0, 0}})), 0);
    EXPECT_EQ(classify({0, 0}, {1, 0}, {0, 1}), 0);
    EXPECT_EQ(classify({0, 0}, {1, 0}, {5, 0}), 1);
    EXPECT_EQ(classify({0, 0}, {1, 0}, {0, -1}), 1);
    EXPECT_EQ(computeTurn(glm::vec2(0, 0), glm::vec2(1, 0), glm::vec2(0, -1)), -1);

    DE edge{{0, 0, 0}, {2, 0, 0}};
    const DE bisector = edge.rotate();
    EXPECT_EQ(edge.org, glm::vec3(1, 1, 0));    // from the left side ...
    EXPECT_EQ(edge.dest, glm::vec3(1, -1, 0));  // ... to the right side
    EXPECT_EQ(bisector.org, edge.org);
    double t = -7.0;
    glm::dvec2 p{-7.0};
    EXPECT_EQ(edge.intersect(DE{{0, 0.5f, 0}, {5, 0.5f, 0}}, t, p), 2);
    EXPECT_DOUBLE_EQ(t, 0.25);
    EXPECT_EQ(p, glm::dvec2(1.0, 0.5));
    EXPECT_EQ(edge.intersect(DE{{5, 0, 0}, {5, 1, 0}}, t, p), 1);
    EXPECT_DOUBLE_EQ(t, 0.25);

    // A point on the edge's line never pairs with it.
    glm::vec3 mateP{-1}, circle{-1};
    EXPECT_FALSE(mate({{0, 0, 0}, {1, 0, 0}}, std::vector<glm::vec3>{{3, 0, 0}, {-2, 0, 0}}, mateP, circle));
    EXPECT_EQ(mateP, glm::vec3(-1));
}

TEST(CircleOutline, StaysOnTheCircleAndWithinBounds)
{
    std::vector<float> out;
    drawCircle({1.5f, -2.0f}, 0.0f, out);
    EXPECT_EQ(out, (std::vector<float>{1.5f, -2, 0, 1.5f, -2, 0, 1.5f, -2, 0, 1.5f, -2, 0}));
    out.clear();
    drawCircle({0, 0}, -1.0f, out);
    drawCircle({0, 0}, 1e9f, out);  // a nearly straight triangle's circle
    drawCircle({0, 0}, qvNaN, out);
    EXPECT_TRUE(out.empty());

    // Every point within one grid unit of the circle, small or large.
    for (float radius : {0.003f, 0.007f, 0.012f, 1.25f}) {
        out.clear();
        drawCircle({2, 3}, radius, out);
        ASSERT_EQ(out.size() % 12, 0u);
        for (size_t i = 0; i < out.size(); i += 3) {
            EXPECT_NEAR(std::hypot(out[i] - 2.0, out[i + 1] - 3.0), radius, 0.001) << radius;
            EXPECT_EQ(out[i + 2], 0.0f);
        }
    }
}
