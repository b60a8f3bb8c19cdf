// Glyph face triangulation on hand-made outlines: vertex classes, partner
// search, bridges, the detachment walk and the strips, held against shapes
// whose answer follows from the geometry (areas, corners, symmetric pieces).
#include "glyphfixtures.h"

#include "engine/text/qvcharacter3d.h"

#include <gtest/gtest.h>

#include <glm/geometric.hpp>

#include <algorithm>
#include <cmath>
#include <string>

using namespace glyphtest;

namespace {

// A glyph with one contour of the given points, classified and nothing else.
Character3D classified(const std::vector<glm::vec3>& points)
{
    Character3D glyph;
    Contour contour;
    contour.points = points;
    for (const glm::vec3& p : points) {
        contour.minX = std::min(contour.minX, p.x);
        contour.maxX = std::max(contour.maxX, p.x);
    }
    contour.makeQvEdgeArray();
    glyph.contours.push_back(contour);
    glyph.edges = contour.edges;
    glyph.identifyTypeOfVertices(glyph.contours[0], 0);
    return glyph;
}

std::vector<glm::vec3> pointsOf(const std::vector<QvVertice>& list)
{
    std::vector<glm::vec3> points;
    for (const QvVertice& v : list) points.push_back(v.point);
    return points;
}

size_t countType(const std::vector<QvLeftPriorityVertice>& list, const std::string& type)
{
    return size_t(std::count_if(list.begin(), list.end(), [&](const auto& v) { return v.type == type; }));
}

QvVertice vertex(float x, float y, const char* type)
{
    QvVertice v;
    v.point = {x, y, 0};
    v.type = type;
    return v;
}

std::vector<QvEdge> squareEdges(float half)
{
    Contour square;
    square.points = {{-half, -half, 0}, {-half, half, 0}, {half, half, 0}, {half, -half, 0}};
    square.makeQvEdgeArray();
    return square.edges;
}

}  // namespace

TEST(VertexClassification, RingCornersFollowTheFilledArea)
{
    const Character3D ring = buildPolygons({outerDiamond, innerDiamond});
    using P = std::vector<glm::vec3>;
    EXPECT_EQ(pointsOf(ring.startVertices), (P{{0, 100, 0}}));
    EXPECT_EQ(pointsOf(ring.endVertices), (P{{0, -100, 0}}));
    EXPECT_EQ(pointsOf(ring.splitVertices), (P{{0, 50, 0}}));   // top of the hole
    EXPECT_EQ(pointsOf(ring.mergeVertices), (P{{0, -50, 0}}));  // bottom of the hole
    EXPECT_EQ(pointsOf(ring.convexVertices), (P{{-50, 0, 0}, {50, 0, 0}}));
    // The outer sides' corners are covered quarter turns: dormant, and kept
    // out of the cross list; the hole's sides stay there.
    EXPECT_EQ(pointsOf(ring.dormantVertices), (P{{100, 0, 0}, {-100, 0, 0}}));
    EXPECT_EQ(pointsOf(ring.crossVertices), (P{{-50, 0, 0}, {50, 0, 0}}));
    EXPECT_EQ(ring.crossCorners, (P{{-50, 0, 0}, {50, 0, 0}}));
    EXPECT_EQ(ring.regularVertices.size(), 2u);
    EXPECT_EQ(ring.allVertices.size(), 14u);
    EXPECT_EQ(countType(ring.allVertices, "cross"), 4u);
    EXPECT_EQ(countType(ring.allVertices, "regular"), 2u);
    for (const QvVertice& v : ring.splitVertices) EXPECT_EQ(v.index, 1u);
    for (const QvVertice& v : ring.startVertices) EXPECT_EQ(v.index, 0u);
}

TEST(VertexClassification, NotchesAndDegenerateCornersGetTheirClasses)
{
    // An "M"-like outline: the notch between the two bumps opens upwards.
    const Character3D m = classified({{0, 0, 0}, {0, 100, 0}, {50, 40, 0}, {100, 100, 0}, {100, 0, 0}});
    EXPECT_EQ(pointsOf(m.mergeVertices), (std::vector<glm::vec3>{{50, 40, 0}}));
    EXPECT_EQ(m.startVertices.size(), 2u);

    // Flipped upside down the notch opens downwards.
    const Character3D w = classified({{0, 0, 0}, {0, -100, 0}, {50, -40, 0}, {100, -100, 0}, {100, 0, 0}});
    EXPECT_EQ(pointsOf(w.splitVertices), (std::vector<glm::vec3>{{50, -40, 0}}));

    // A repeated point has no angle: both copies are regular.
    const Character3D repeated = classified({{0, 0, 0}, {30, 80, 0}, {30, 80, 0}, {60, 0, 0}});
    const auto atTop = [](const QvVertice& v) { return v.point == glm::vec3(30, 80, 0); };
    EXPECT_EQ(std::count_if(repeated.regularVertices.begin(), repeated.regularVertices.end(), atTop), 2);
    EXPECT_TRUE(repeated.startVertices.empty());

    EXPECT_TRUE(classified({}).allVertices.empty());
    EXPECT_TRUE(classified({{5, 5, 0}}).allVertices.empty());
}

TEST(PartnerSearch, NearestAdmissibleCandidateWinsAndTiesGoToTreeOrder)
{
    const std::vector<QvEdge> edges = squareEdges(100);
    const QvVertice v = vertex(0, 0, "split");
    QvSweepTree candidates{vertex(10, 10, "start"), vertex(-10, 10, "end"), vertex(0, 5, "merge"),
                           vertex(0, 0, "start"), vertex(30, 30, "start")};
    // (0, 5) is nearer but a merge vertex; (0, 0) is v itself; of the two at
    // distance 14.1 the one with the smaller x comes first in the tree.
    EXPECT_EQ(Character3D::findSuitableVertexForSplit(v, edges, {}, candidates).point, glm::vec3(-10, 10, 0));

    // A split vertex only looks upwards, a merge vertex only downwards.
    const QvSweepTree below{vertex(5, -5, "start")};
    EXPECT_TRUE(std::isnan(Character3D::findSuitableVertexForSplit(v, edges, {}, below).point.x));
    EXPECT_EQ(Character3D::findSuitableVertexForMerge(vertex(0, 0, "merge"), edges, {}, below).point,
              glm::vec3(5, -5, 0));

    // An earlier bridge across the way rules a candidate out.
    QvEdge bridge;
    bridge.p1 = {-20, 8, 0};
    bridge.p2 = {0, 8, 0};
    EXPECT_EQ(Character3D::findSuitableVertexForSplit(v, edges, {bridge}, candidates).point,
              glm::vec3(10, 10, 0));
}

TEST(PartnerSearch, BridgeNeverLeavesTheGlyph)
{
    // A "U": the straight way between the tops of the arms crosses the gap.
    const Character3D u =
        buildPolygons({{{0, 0}, {0, 100}, {20, 100}, {20, 20}, {80, 20}, {80, 100}, {100, 100}, {100, 0}}});
    const QvVertice v = vertex(20, 100, "convex");
    QvSweepTree candidates{vertex(80, 100, "start")};
    EXPECT_TRUE(std::isnan(Character3D::findSuitableVertexForConvex(v, u.edges, {}, candidates, {}).point.x));

    // The convex search first takes in every vertex still pending.
    QvSweepTree done;
    const QvSweepTree pending{vertex(0, 0, "start"), vertex(20, 20, "cross")};
    EXPECT_EQ(Character3D::findSuitableVertexForConvex(v, u.edges, {}, done, pending).point,
              glm::vec3(0, 0, 0));
    EXPECT_EQ(done.size(), 2u);
}

TEST(FaceStrips, ConvexOutlinesBecomeOneStripFromTheSharpestCorner)
{
    const Character3D triangle = buildPolygons({{{0, 0}, {10, 100}, {100, 0}}});
    EXPECT_TRUE(triangle.bridgePoints.empty());
    ASSERT_EQ(triangle.frontVertices.size(), 3u);
    EXPECT_EQ(triangle.stripIndices, (std::vector<uint32_t>{0, 1, 2, 0xFFFF}));
    EXPECT_EQ(triangle.frontVertices[0], glm::vec3(10, 100, 0));  // the sharpest corner
    EXPECT_DOUBLE_EQ(frontArea(triangle), 5000.0);

    // Stripping a piece by hand continues the counter; an empty piece adds nothing.
    Character3D copy = triangle;
    int32_t counter = int32_t(copy.frontVertices.size()) - 1;
    copy.triangulateMonotonePolygon({}, counter);
    EXPECT_EQ(copy.stripIndices, triangle.stripIndices);
    copy.triangulateMonotonePolygon(triangle.edges, counter);
    EXPECT_EQ(copy.stripIndices, (std::vector<uint32_t>{0, 1, 2, 0xFFFF, 3, 4, 5, 0xFFFF}));
    EXPECT_EQ(copy.frontVertices[3], triangle.frontVertices[0]);

    const Character3D diamond = buildPolygons({outerDiamond});
    EXPECT_TRUE(diamond.bridgePoints.empty());
    ASSERT_EQ(diamond.frontVertices.size(), 5u);
    EXPECT_EQ(diamond.frontVertices[3], diamond.frontVertices[4]);  // the closing zero-area triangle
    EXPECT_DOUBLE_EQ(frontArea(diamond), 20000.0);
    EXPECT_EQ(diamond.detachStep.size(), 4u);
}

TEST(FaceStrips, RingIsBridgedIntoFourPiecesThatExactlyFillIt)
{
    bool tessellated = true;
    const Character3D ring = buildPolygons({outerDiamond, innerDiamond}, &tessellated);
    EXPECT_FALSE(tessellated);

    // One bridge from each of the hole's four corners to the outer corner beside it.
    ASSERT_EQ(ring.bridgePoints.size(), 8u);
    EXPECT_EQ(ring.bridgeIndices,
              (std::vector<uint32_t>{0, 1, 0xFFFF, 2, 3, 0xFFFF, 4, 5, 0xFFFF, 6, 7, 0xFFFF}));
    for (size_t k = 0; k < 8; k += 2) {
        EXPECT_FLOAT_EQ(glm::length(ring.bridgePoints[k] - ring.bridgePoints[k + 1]), 50.0f);
        EXPECT_EQ(std::abs(ring.bridgePoints[k].x) + std::abs(ring.bridgePoints[k].y), 50.0f);
    }

    // Four quadrilaterals of five strip vertices each.
    EXPECT_EQ(ring.frontVertices.size(), 20u);
    EXPECT_EQ(std::count(ring.stripIndices.begin(), ring.stripIndices.end(), 0xFFFFu), 4);
    EXPECT_NEAR(frontArea(ring), 20000.0 - 5000.0, 1e-6);
    for (const auto& t : frontTriangles(ring)) {
        if (triangleArea(t) == 0) continue;
        const glm::vec2 c = (t[0] + t[1] + t[2]) / 3.0f;
        EXPECT_NE(windingNumber(ring, c), 0) << c.x << "," << c.y;
    }
}

TEST(FaceStrips, StraightZigZagCoversAConvexOutline)
{
    Character3D pentagon;
    pentagon.outlinePoints = {{0, 0, 0}, {40, -10, 0}, {60, 30, 0}, {30, 60, 0}, {-10, 30, 0}};
    pentagon.triangulatePolygon();
    EXPECT_EQ(pentagon.stripIndices.back(), 0xFFFFu);
    Contour contour;
    contour.points = pentagon.outlinePoints;
    pentagon.contours = {contour};
    EXPECT_NEAR(frontArea(pentagon), std::abs(signedOutlineArea(pentagon)), 1e-6);

    // Mirrored, the outline starts leftwards and the strip is laid from its end.
    Character3D mirrored;
    for (const glm::vec3& p : pentagon.outlinePoints) mirrored.outlinePoints.push_back({-p.x, p.y, 0});
    mirrored.triangulatePolygon();
    EXPECT_EQ(mirrored.frontVertices.front(), mirrored.outlinePoints.back());
    contour.points = mirrored.outlinePoints;
    mirrored.contours = {contour};
    EXPECT_NEAR(frontArea(mirrored), std::abs(signedOutlineArea(mirrored)), 1e-6);

    // Without points there is nothing to lay, whichever way is asked for.
    Character3D empty;
    empty.triangulateForward();
    empty.triangulateBackward();
    empty.triangulatePolygon();
    EXPECT_TRUE(empty.frontVertices.empty());
    EXPECT_TRUE(empty.stripIndices.empty());
}
