// The mesh record of one glyph of the outline font: its contours, every outline
// vertex sorted into a sweep class, and the face, wall, normal and texture
// arrays the 3D glyph drawable uploads. The face is triangulated by bridging
// split, merge and convex vertices, walking the outline plus bridges into
// pieces and laying one zig-zag strip per piece. Pure CPU work, no GL.
#pragma once

#include "engine/text/qvglyphoutline.h"
#include "engine/geometry/qvtype.h"

#include <glm/vec2.hpp>
#include <glm/vec3.hpp>

#include <cstdint>
#include <set>
#include <vector>

// Sweep order of the bridge search: higher y first, at equal y smaller x.
// Points at the same place are equivalent, so a tree keeps the first one.
// Vertices with NaN coordinates are never put into a tree, which keeps this a
// strict weak order.
struct QvSweepOrder {
    bool operator()(const QvVertice& a, const QvVertice& b) const
    {
        return a.point.y > b.point.y || (a.point.y == b.point.y && a.point.x < b.point.x);
    }
};
using QvSweepTree = std::set<QvVertice, QvSweepOrder>;

class Character3D {
public:
    // Separates strips in stripIndices and bridges in bridgeIndices.
    static constexpr uint32_t restartIndex = 0xFFFF;

    Character3D() = default;
    explicit Character3D(const Character& character);

    // Classifies every point of contour (index contourIndex) against the edges
    // of all contours; edges must already hold every contour.
    void identifyTypeOfVertices(const Contour& contour, uint64_t contourIndex);

    // Bridges, detachment walk, strips, normals, texture coordinates and back
    // face; requires a non-empty edges list.
    void createBridges();
    // Nearest admissible partner of v among the candidates; a vertex with NaN
    // coordinates when none qualifies. The convex search first copies every
    // vertex of second into candidates.
    static QvVertice findSuitableVertexForSplit(const QvVertice& v, const std::vector<QvEdge>& edges,
                                                const std::vector<QvEdge>& bridges,
                                                const QvSweepTree& candidates);
    static QvVertice findSuitableVertexForMerge(const QvVertice& v, const std::vector<QvEdge>& edges,
                                                const std::vector<QvEdge>& bridges,
                                                const QvSweepTree& candidates);
    static QvVertice findSuitableVertexForConvex(const QvVertice& v, const std::vector<QvEdge>& edges,
                                                 const std::vector<QvEdge>& bridges, QvSweepTree& candidates,
                                                 const QvSweepTree& second);
    // Cuts the face into pieces along the bridges (both directions) and strips each.
    void detachPolygon(std::vector<QvEdge> bridges);
    // Appends, for every element present at the call, its reverse.
    static void swapBridges(std::vector<QvEdge>& bridges);
    // bridgePoints and bridgeIndices: each bridge as a two-point line strip.
    void pickupVerticesOfBridges(const std::vector<QvEdge>& bridges);
    void makeFrontNormals();
    // (x, y) / 1000 of every front vertex.
    void makeFrontTextureCoords();
    // The front vertices and normals mirrored to the back face's depth.
    void makeBackFace();
    // Strips one closed piece from its sharpest corner.
    void triangulateMonotonePolygon(const std::vector<QvEdge>& piece, int32_t& counter);
    // One zig-zag strip straight over outlinePoints (no bridges), walking
    // forward or backward depending on which way the outline starts.
    void triangulatePolygon();
    void triangulateForward();
    void triangulateBackward();

    // Walk helpers. The first element of list whose p1 is e's p2: e becomes
    // that element and index its place.
    static bool _findQvEdgeInQvEdges(QvEdge& e, size_t& index, const std::vector<QvEdge>& list);
    // The same, skipping elements that lead straight back to e's p1.
    static bool _findQvEdgeInDiagonals(QvEdge& e, size_t& index, const std::vector<QvEdge>& list);
    // Removes list[index] when index lies inside the list, keeping the order.
    static void _removeEdge(std::vector<QvEdge>& list, size_t index);

    // The face's strips: stripIndices over vertices (frontVertices or
    // backVertices) split at the restart index; indices past vertices are skipped.
    std::vector<std::vector<glm::vec3>> faceStrips(const std::vector<glm::vec3>& vertices) const;

    // Corners of the box around outlinePoints, grown from the first point;
    // false (corners untouched) for a glyph without points.
    bool outlineBounds(glm::vec3& minCorner, glm::vec3& maxCorner) const;

    char16_t code = 0xFFFF;
    std::vector<Contour> contours;
    Character character;
    std::vector<glm::vec3> outlinePoints;
    std::vector<glm::vec3> wallStrip;
    std::vector<glm::vec3> frontVertices;
    std::vector<glm::vec3> backVertices;
    std::vector<glm::vec3> frontNormals;
    std::vector<glm::vec3> backNormals;
    std::vector<glm::vec3> wallNormals;
    std::vector<glm::vec2> frontTexCoords;
    std::vector<glm::vec2> wallTexCoords;
    std::vector<glm::vec3> startCorners, splitCorners, mergeCorners, endCorners, convexCorners,
        dormantCorners, crossCorners;
    std::vector<glm::vec3> detachStep;
    std::vector<QvVertice> regularVertices, startVertices, splitVertices, mergeVertices, endVertices,
        convexVertices, dormantVertices, crossVertices;
    std::vector<QvLeftPriorityVertice> allVertices;
    std::vector<QvEdge> edges;
    bool severalContours = false;
    std::vector<glm::vec3> bridgePoints;
    std::vector<uint32_t> bridgeIndices;
    std::vector<uint32_t> stripIndices;

private:
    void _recordVertex(glm::vec3 point, const char* type, uint64_t contourIndex);
    void _findSmallestAngle(const std::vector<QvEdge>& piece, int32_t& counter);
    void _appendStrip(const std::vector<QvEdge>& piece, size_t start, int32_t& counter);
    // Indexes the front vertices from `first` on as one strip.
    void _indexStripFrom(size_t first);
};
