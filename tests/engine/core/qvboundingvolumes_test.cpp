// Axis-aligned boxes: bounds from vertex lists and the overlap test.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "engine/core/qvboundingvolumes.h"

namespace {

// The 8 corners of the box [lo, hi] as a flat x, y, z list.
std::vector<float> corners(glm::vec3 lo, glm::vec3 hi)
{
    std::vector<float> list;
    for (int i = 0; i < 8; ++i) {
        list.push_back(i & 1 ? hi.x : lo.x);
        list.push_back(i & 2 ? hi.y : lo.y);
        list.push_back(i & 4 ? hi.z : lo.z);
    }
    return list;
}

QvAABB boxOf(glm::vec3 lo, glm::vec3 hi)
{
    QvAABB box;
    box.addBoxVertices(corners(lo, hi));
    return box;
}

void expectBounds(const QvAABB& box, glm::vec3 lo, glm::vec3 hi)
{
    EXPECT_FLOAT_EQ(box.minX, lo.x);
    EXPECT_FLOAT_EQ(box.minY, lo.y);
    EXPECT_FLOAT_EQ(box.minZ, lo.z);
    EXPECT_FLOAT_EQ(box.maxX, hi.x);
    EXPECT_FLOAT_EQ(box.maxY, hi.y);
    EXPECT_FLOAT_EQ(box.maxZ, hi.z);
}

}  // namespace

TEST(BoundingBox, FreshBoxIsEmptyWithUnsetDirections)
{
    const Triangle t{{0, 0, 0, 1}, {1, 0, 0, 1}, {0, 1, 0, 1}};
    QvAABB box({t, t});
    EXPECT_EQ(box.getBoxTriangles().size(), 2u);
    EXPECT_TRUE(box.getBoxVertices().empty());
    expectBounds(box, {0, 0, 0}, {0, 0, 0});
    EXPECT_TRUE(std::isnan(box.direction.x));
    EXPECT_TRUE(std::isnan(box.previousDirection.z));
    box.addBoxTriangles({t});
    EXPECT_EQ(box.getBoxTriangles().size(), 3u);
}

TEST(BoundingBox, BoundsOfABoxAwayFromTheOriginStartAtItsFirstVertex)
{
    QvAABB box = boxOf({2, 3, -9}, {5, 4, -7});
    expectBounds(box, {2, 3, -9}, {5, 4, -7});

    // A second batch widens and keeps everything scanned before.
    box.addBoxVertices({7, 3.5f, -8, 9, 3.5f, -8});
    expectBounds(box, {2, 3, -9}, {9, 4, -7});
    EXPECT_EQ(box.getBoxVertices().size(), 30u);
}

TEST(BoundingBox, ResettingScanUsesOnlyTheGivenList)
{
    QvAABB box = boxOf({-50, -50, -50}, {50, 50, 50});
    box.findMinMax(corners({2, 1, 1}, {5, 2, 2}));
    expectBounds(box, {2, 1, 1}, {5, 2, 2});
    EXPECT_EQ(box.getBoxVertices(), corners({-50, -50, -50}, {50, 50, 50}));
}

TEST(BoundingBox, IncompleteVerticesAreIgnoredAndShortListsChangeNothing)
{
    QvAABB box;
    box.addBoxVertices({1, 2});  // less than one vertex
    expectBounds(box, {0, 0, 0}, {0, 0, 0});
    box.findMinMax(std::vector<float>{4, 4});
    expectBounds(box, {0, 0, 0}, {0, 0, 0});

    // 3k + 1 and 3k + 2 floats: only the k whole vertices count.
    QvAABB partial;
    partial.findMinMax({1, 1, 1, 2, 2, 2, 99});
    expectBounds(partial, {1, 1, 1}, {2, 2, 2});
    partial.findMinMax({3, 3, 3, 4, 4, 4, -99, -99});
    expectBounds(partial, {3, 3, 3}, {4, 4, 4});
}

TEST(BoundingBox, LongListsAreScannedToTheirLastVertex)
{
    // Far more than 32767 floats: the extreme vertex sits at the very end.
    std::vector<float> list;
    for (int i = 0; i < 20000; ++i) {
        list.insert(list.end(), {1, 1, 1});
    }
    list.insert(list.end(), {-4, 8, 1});
    QvAABB box;
    box.addBoxVertices(list);
    expectBounds(box, {-4, 1, 1}, {1, 8, 1});
}

TEST(BoundingBox, NaNCoordinatesNeverReplaceABound)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    QvAABB box;
    box.findMinMax({1, 1, 1, nan, nan, nan, 3, 3, 3});
    expectBounds(box, {1, 1, 1}, {3, 3, 3});

    // Nor does a NaN in the first vertex, from which the bounds start.
    box.findMinMax({nan, 2, nan, 4, nan, 5, 6, 1, 7});
    expectBounds(box, {4, 1, 5}, {6, 2, 7});
    QvAABB fresh;
    fresh.addBoxVertices({nan, nan, nan, -1, 2, 3});
    expectBounds(fresh, {-1, 2, 3}, {-1, 2, 3});
}

TEST(BoundingBox, ChangedVerticesWaitForTheNextScan)
{
    QvAABB box = boxOf({1, 1, 1}, {2, 2, 2});
    const std::vector<float> moved = corners({5, 5, 5}, {6, 6, 6});
    box.changeBoxVertices(moved);
    EXPECT_EQ(box.getBoxVertices(), moved);
    expectBounds(box, {1, 1, 1}, {2, 2, 2});
    box.findMinMax();  // widening: the old bounds stay inside
    expectBounds(box, {1, 1, 1}, {6, 6, 6});
}

TEST(BoundingBox, BoxesSharingAFaceIntersectAndAnyGapSeparates)
{
    const QvAABB a = boxOf({10, 10, 10}, {12, 12, 12});
    for (int axis = 0; axis < 3; ++axis) {
        glm::vec3 lo(10.5f), hi(11.5f);
        lo[axis] = 12;  // touching a's maximum face on this axis
        hi[axis] = 13;
        EXPECT_TRUE(a.isBoxesIntersects(boxOf(lo, hi))) << axis;
        EXPECT_TRUE(boxOf(lo, hi).isBoxesIntersects(a)) << axis;

        lo[axis] += 0.001f;
        EXPECT_FALSE(a.isBoxesIntersects(boxOf(lo, hi))) << axis;
        EXPECT_FALSE(boxOf(lo, hi).isBoxesIntersects(a)) << axis;
    }
    EXPECT_TRUE(a.isBoxesIntersects(boxOf({11, 11, 11}, {11.5f, 11.5f, 11.5f})));  // inside
    EXPECT_TRUE(a.isBoxesIntersects(boxOf({0, 0, 0}, {50, 50, 50})));              // around
    // Neither box contains the origin, and they are apart on z only.
    EXPECT_FALSE(a.isBoxesIntersects(boxOf({10, 10, 20}, {12, 12, 22})));
}

TEST(BoundingBox, UnsetBoundsNeverSeparate)
{
    QvAABB unset;
    unset.minX = unset.maxX = std::numeric_limits<float>::quiet_NaN();
    const QvAABB far = boxOf({100, 0, 0}, {101, 0, 0});
    EXPECT_TRUE(unset.isBoxesIntersects(far));
}
