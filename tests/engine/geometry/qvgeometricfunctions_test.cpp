// The four convex hulls: closed, convex, containing every point, and in
// agreement with an independent monotone-chain hull.
#include "geometry_checks.h"
#include "engine/geometry/qvtriangulation.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>

namespace {

using HullFunction = std::function<void(std::span<const glm::vec3>, std::vector<glm::vec3>&)>;

struct NamedHull {
    const char* name;
    HullFunction build;
    bool appends;  // adds to the caller's list rather than replacing it
};

const NamedHull hulls[] = {
    {"all pairs", createConvexHull, true},
    {"Graham", createGrahamConvexHull, true},
    {"Jarvis acos", createJarvisWithACosConvexHull, false},
    {"Jarvis", createJarvisConvexHull, false},
};

// What `work` prints to standard output.
template <class Work>
std::string printedBy(Work work)
{
    testing::internal::CaptureStdout();
    work();
    return testing::internal::GetCapturedStdout();
}

// Runs a hull on a list holding `result` beforehand, its diagnostic lines dropped.
std::vector<glm::vec3> quietHull(const NamedHull& hull, const std::vector<glm::vec3>& points,
                                 std::vector<glm::vec3> result = {})
{
    printedBy([&] { hull.build(points, result); });
    return result;
}

// A closed, convex polyline around every point, with the strict corners of
// the independent hull as its corners.
void expectHullOf(const std::vector<glm::vec3>& hull, const std::vector<glm::vec3>& points)
{
    ASSERT_GE(hull.size(), 2u);
    EXPECT_EQ(hull.front(), hull.back());
    const std::vector<glm::vec3> ring(hull.begin(), hull.end() - 1);
    for (const glm::vec3& corner : ring)
        EXPECT_NE(std::find(points.begin(), points.end(), corner), points.end());

    const std::vector<glm::vec3> expected = checks::monotoneHull(points);
    if (expected.size() < 3) return;  // a segment or a point: nothing more to hold
    ASSERT_EQ(ring.size(), expected.size());
    const double sense = checks::signedArea(ring) > 0 ? 1.0 : -1.0;
    EXPECT_NEAR(std::abs(checks::signedArea(ring)), checks::signedArea(expected), 1e-6);
    for (size_t i = 0; i < ring.size(); ++i) {
        const glm::vec3 a = ring[i], b = ring[(i + 1) % ring.size()], c = ring[(i + 2) % ring.size()];
        EXPECT_GT(sense * checks::cross(a, b, c), 0.0) << "not convex at " << i + 1;
        for (const glm::vec3& p : points) EXPECT_GE(sense * checks::cross(a, b, p), -1e-9);
    }
}

}  // namespace

TEST(ConvexHull, RandomSetsAgreeWithMonotoneChain)
{
    for (const NamedHull& hull : hulls) {
        SCOPED_TRACE(hull.name);
        for (std::uint32_t seed = 1; seed <= 8; ++seed) {
            const auto points = checks::randomPoints(seed == 1 ? 3 : 25 * seed, seed);
            expectHullOf(quietHull(hull, points), points);
        }
    }
}

TEST(ConvexHull, DegenerateSetsFinishSanely)
{
    std::vector<glm::vec3> grid;
    for (int x = 0; x < 5; ++x)
        for (int y = 0; y < 5; ++y) grid.push_back({float(x), float(y), 0});
    const std::vector<std::vector<glm::vec3>> sets{
        {{2, 3, 0}},
        {{2, 3, 0}, {5, 1, 0}},
        {{0, 0, 0}, {1, 1, 0}, {3, 3, 0}, {2, 2, 0}},             // one line
        {{1, 1, 0}, {1, 1, 0}, {1, 1, 0}},                        // one point three times
        {{0, 0, 0}, {4, 0, 0}, {4, 4, 0}, {0, 0, 0}, {4, 4, 0}},  // repeats
        {{-500, -300, 0}, {-400, -300, 0}, {-450, -200, 0}},      // far left of x = -100
        grid,
    };
    for (const NamedHull& hull : hulls) {
        SCOPED_TRACE(hull.name);
        for (const auto& points : sets) {
            const auto result = quietHull(hull, points);
            expectHullOf(result, points);
            EXPECT_LE(result.size(), points.size() + 2);
        }
        // A line's hull runs out to its far end and back.
        const auto line = quietHull(hull, {{0, 0, 0}, {1, 1, 0}, {3, 3, 0}, {2, 2, 0}});
        EXPECT_NE(std::find(line.begin(), line.end(), glm::vec3(3, 3, 0)), line.end());
        EXPECT_EQ(quietHull(hull, {}).size(), 0u);
    }
}

TEST(ConvexHull, NearlyStraightSetsAndMixedHeights)
{
    // Points of one line rounded to floats: a hair off straight, so the true
    // hull is a thin sliver that every turn must judge the same way.
    std::mt19937 random(37);
    std::vector<glm::vec3> line;
    for (int i = 0; i < 32; ++i) {
        const float t = float(random() % 1000) / 1000.0f;
        line.push_back({0.1f + 3.3f * t, 0.7f + 1.9f * t, 0});
    }
    // Points of a ring, some at the same place on different heights: the
    // hull is planar, so height must not decide which of them is nearer.
    std::vector<glm::vec3> ring;
    for (int i = 0; i < 40; ++i) {
        const float angle = float(random() % 24) * 0.2617994f;
        ring.push_back({1000 + 3 * std::cos(angle), -5000 + 3 * std::sin(angle), float(random() % 3)});
    }
    for (const NamedHull& hull : hulls) {
        SCOPED_TRACE(hull.name);
        for (const auto& points : {line, ring}) expectHullOf(quietHull(hull, points), points);
    }
}

TEST(ConvexHull, StartsAtTheLowestLeftmostPoint)
{
    const std::vector<glm::vec3> points{{3, 0, 0}, {1, 2, 0}, {1, 0, 0}, {2, 1, 0}};
    for (const NamedHull& hull : hulls) {
        SCOPED_TRACE(hull.name);
        const auto result = quietHull(hull, points);
        // The Graham scan lists its stack from the top: the pivot comes last.
        const bool pivotLast = std::string(hull.name) == "Graham";
        EXPECT_EQ(pivotLast ? result[result.size() - 2] : result.front(), glm::vec3(1, 0, 0));
    }
}

TEST(ConvexHull, AppendOrReplaceTheCallersList)
{
    const glm::vec3 marker{99, 99, 99};
    for (const NamedHull& hull : hulls) {
        const auto result = quietHull(hull, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {marker});
        EXPECT_EQ(result.front() == marker, hull.appends) << hull.name;
        EXPECT_EQ(result.size(), hull.appends ? 5u : 4u) << hull.name;
    }
}

TEST(ConvexHull, WorkedExamples)
{
    std::vector<glm::vec3> graham;
    const std::string grahamLines = printedBy([&] {
        createGrahamConvexHull(std::vector<glm::vec3>{{0, 0, 0}, {2, 0, 0}, {1, 2, 0}, {1, 1, 0}}, graham);
    });
    EXPECT_EQ(graham, (std::vector<glm::vec3>{{2, 0, 0}, {1, 2, 0}, {0, 0, 0}, {2, 0, 0}}));
    EXPECT_EQ(grahamLines.rfind("\x1b[01;37m minValue = 0, minIndex = (0, 0, 0) \x1b[0m \n", 0), 0u);

    // The square keeps all four corners, counterclockwise from its start.
    std::vector<glm::vec3> square{{7, 7, 7}};
    const std::string lines = printedBy([&] {
        createConvexHull(std::vector<glm::vec3>{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, square);
    });
    EXPECT_EQ(square,
              (std::vector<glm::vec3>{{7, 7, 7}, {0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 0}}));
    EXPECT_EQ(lines.rfind("\x1b[01;38m v[minIndex] = (0, 0, 0) \x1b[0m \n\x1b[01;31m >>>>> \x1b[0m \n", 0),
              0u);
    EXPECT_NE(
        lines.find(
            "\x1b[01;37m\t+++ \x1b[0m \n\x1b[01;37m v[i] = (1, 0, 0), v[j] = (1, 1, 0), turn = 1 \x1b[0m \n"),
        std::string::npos);
    EXPECT_NE(lines.find("\x1b[01;34m (7, 7, 7) \x1b[0m \n"),
              std::string::npos);  // every hull point, old ones too

    EXPECT_EQ(printedBy(whichIdInClockWiseTurn), "\x1b[01;37m Point in right id = -1.4 \x1b[0m \n");
}

TEST(ConvexHull, GrahamComparatorOrdersClockwiseNearerFirst)
{
    CGPoint pivot{{0, 0, 0}, {0, 0, 0}, false};
    const CGPoint high{{0, 2, 0}, {0, 0, 0}, false}, low{{2, 1, 0}, {0, 0, 0}, false};
    const CGPoint nearHigh{{0, 1, 0}, {0, 0, 0}, false};
    EXPECT_LT(pivot.grahamComparator(high, low), 0);  // larger angle first
    EXPECT_GT(pivot.grahamComparator(low, high), 0);
    EXPECT_LT(pivot.grahamComparator(nearHigh, high), 0);  // same ray: nearer first
    EXPECT_GT(pivot.grahamComparator(high, high), 0);
    CGPoint self = low;
    EXPECT_GT(self.opCmp(high), 0);
    EXPECT_TRUE(self.turnedLeft);
    EXPECT_EQ(pivot.computeTurn({1, 0, 0}, {0, 1, 0}), 1);
}
