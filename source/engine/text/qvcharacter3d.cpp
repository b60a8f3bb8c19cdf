// Glyph face triangulation: vertex classification, bridge sweep, detachment
// walk and zig-zag strips. The angle and distance arithmetic follows a fixed
// precision recipe (extended-precision roots, cosines rounded to float) so
// that ties between equally near partners and equally sharp corners resolve
// the same way on every machine.
#include "engine/text/qvcharacter3d.h"

#include "engine/geometry/qvgeometricfunctions.h"

#include <glm/common.hpp>

#include <algorithm>
#include <cmath>
#include <string_view>

namespace {

// ---------------------------------------------------------------------------
// Constants
// ---------------------------------------------------------------------------

constexpr long double pi = 3.141592653589793238462643383279502884L;
constexpr long double dormantMinAngle = pi / 4;
constexpr long double dormantMaxAngle = 5 * pi / 6;
constexpr long double convexMinCoverage = 7 * pi / 6;
constexpr float probeStep = 0.1f;                // inside probe: a tenth along each edge
constexpr float noPartnerDistance = 1000000.0f;  // farther than any two points of a glyph
constexpr int maxWalkSteps = 1515;               // a walk that cannot go on stops here
constexpr float backFaceDepth = -100.5f;
constexpr float texCoordScale = 1000.0f;  // outline units per texture unit
constexpr size_t minStripPoints = 3;      // fewer outline points enclose nothing
enum class PartnerKind { Split, Merge, Convex };

// ---------------------------------------------------------------------------
// Internal functions
// ---------------------------------------------------------------------------

// Exact equality of all three coordinates.
bool samePoint(const glm::vec3& a, const glm::vec3& b)
{
    return a.x == b.x && a.y == b.y && a.z == b.z;
}

bool hasNaN(const glm::vec3& p)
{
    return std::isnan(p.x) || std::isnan(p.y) || std::isnan(p.z);
}

// Unsigned angle between a and b from their normalised dot product: the
// cosine is rounded to float, the angle taken as atan2(sqrt(1 - c^2), c).
long double angleBetween(long double ax, long double ay, long double az, long double bx, long double by,
                         long double bz)
{
    const long double dot = ax * bx + ay * by + az * bz;
    const long double la = std::sqrt(ax * ax + ay * ay + az * az);
    const long double lb = std::sqrt(bx * bx + by * by + bz * bz);
    const float c = static_cast<float>(dot / (la * lb));
    const long double cl = c;
    return std::atan2(std::sqrt(1.0L - cl * cl), cl);
}

// Angle of the walk and the strip corner search, kept as a float.
float edgeAngle(const glm::vec3& a, const glm::vec3& b)
{
    return static_cast<float>(angleBetween(a.x, a.y, a.z, b.x, b.y, b.z));
}

bool typeIs(const QvVertice& v, const char* type)
{
    return v.type == type;
}

// Type and height rules of a partner for each kind of asking vertex.
bool partnerAllowed(PartnerKind kind, const QvVertice& v, const QvVertice& c)
{
    switch (kind) {
    case PartnerKind::Split:
        return !typeIs(c, "merge") && c.point.y >= v.point.y;
    case PartnerKind::Merge:
        return !typeIs(c, "split") && c.point.y <= v.point.y;
    case PartnerKind::Convex:
        return !typeIs(c, "cross") && !typeIs(c, "convex");
    }
    return false;
}

// The nearest admissible candidate, of equally near ones the first in tree
// order. Candidates are ranked by (distance, tree position) first and the
// costly inside and crossing tests run only until one passes; that picks the
// same vertex as testing every candidate in tree order against the best
// distance so far, at a fraction of the work.
QvVertice findPartner(PartnerKind kind, const QvVertice& v, const std::vector<QvEdge>& edges,
                      const std::vector<QvEdge>& bridges, const QvSweepTree& candidates)
{
    struct Ranked {
        float distance;
        size_t order;
        const QvVertice* vertex;
    };
    std::vector<Ranked> ranked;
    ranked.reserve(candidates.size());
    size_t order = 0;
    for (const QvVertice& c : candidates) {
        const float d = qvPreciseLength(v.point - c.point);
        if (d < noPartnerDistance && !samePoint(c.point, v.point) && partnerAllowed(kind, v, c))
            ranked.push_back({d, order, &c});
        ++order;
    }
    std::sort(ranked.begin(), ranked.end(), [](const Ranked& a, const Ranked& b) {
        return a.distance < b.distance || (a.distance == b.distance && a.order < b.order);
    });
    for (const Ranked& r : ranked) {
        const glm::vec3& c = r.vertex->point;
        const glm::vec3 middle = v.point + 0.5f * (c - v.point);
        if (!isPointInsidePolygonNew(middle, edges)) continue;
        const QvEdge bridge{v.point, c};
        if (isSegmentIntersectAnyQvEdge(bridge, edges)) continue;
        if (isSegmentIntersectAnyQvEdge(bridge, bridges)) continue;
        return *r.vertex;
    }
    return QvVertice{};  // NaN point: no partner
}

void insertVertices(QvSweepTree& tree, const std::vector<QvVertice>& list)
{
    for (const QvVertice& v : list)
        if (!hasNaN(v.point)) tree.insert(v);
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction and classification
// ---------------------------------------------------------------------------

Character3D::Character3D(const Character& character) : code(character.code), character(character) {}

void Character3D::_recordVertex(glm::vec3 point, const char* type, uint64_t contourIndex)
{
    const std::string_view name = type;
    std::vector<glm::vec3>* corners = nullptr;
    std::vector<QvVertice>* vertices = nullptr;
    if (name == "start")
        corners = &startCorners, vertices = &startVertices;
    else if (name == "split")
        corners = &splitCorners, vertices = &splitVertices;
    else if (name == "merge")
        corners = &mergeCorners, vertices = &mergeVertices;
    else if (name == "end")
        corners = &endCorners, vertices = &endVertices;
    else if (name == "convex")
        corners = &convexCorners, vertices = &convexVertices;
    else if (name == "dormant")
        corners = &dormantCorners, vertices = &dormantVertices;
    else if (name == "cross")
        corners = &crossCorners, vertices = &crossVertices;
    else
        vertices = &regularVertices;
    if (corners) corners->push_back(point);
    vertices->push_back(QvVertice{point, type, contourIndex});
    allVertices.push_back(QvLeftPriorityVertice{point, type, contourIndex});
}

void Character3D::identifyTypeOfVertices(const Contour& contour, uint64_t contourIndex)
{
    const std::vector<glm::vec3>& p = contour.points;
    const size_t n = p.size();
    if (n < 2) return;
    for (size_t i = 0; i < n; ++i) {
        const glm::vec3 P{p[(i + n - 1) % n].x, p[(i + n - 1) % n].y, 0.0f};
        const glm::vec3 V{p[i].x, p[i].y, 0.0f};
        const glm::vec3 N{p[(i + 1) % n].x, p[(i + 1) % n].y, 0.0f};

        // The leftmost and rightmost points are kept as candidates unless
        // they turn out to be turning points of the sweep themselves.
        const bool extreme = V.x == contour.minX || V.x == contour.maxX;
        if (extreme) _recordVertex(V, "cross", contourIndex);

        const glm::vec3 a = V - P;
        const glm::vec3 b = V - N;
        const long double theta = angleBetween(a.x, a.y, 0.0L, b.x, b.y, 0.0L);

        // A point just inside the corner tells whether the
        // glyph covers the corner (less than a half turn) or not (reflex).
        const glm::vec3 A = V + probeStep * (P - V);
        const glm::vec3 B = V + probeStep * (N - V);
        const glm::vec3 T = A + probeStep * (B - A);
        const bool inside = isPointInsidePolygon(glm::vec3{T.x, T.y, 0.0f}, edges);

        auto below = [&](const glm::vec3& X) { return X.y < V.y || (X.y == V.y && X.x > V.x); };
        auto above = [&](const glm::vec3& X) { return X.y > V.y || (X.y == V.y && X.x < V.x); };
        const bool bothBelow = below(P) && below(N);
        const bool bothAbove = above(P) && above(N);

        const char* type = "regular";
        if (inside) {
            if (bothBelow && theta < pi)
                type = "start";
            else if (bothAbove && theta < pi)
                type = "end";
            else if (dormantMinAngle < theta && theta < dormantMaxAngle)
                type = "dormant";
        } else {
            if (bothBelow && theta + pi > pi)
                type = "split";
            else if (bothAbove && theta + pi > pi)
                type = "merge";
            else if (2 * pi - theta >= convexMinCoverage)
                type = "convex";
        }
        _recordVertex(V, type, contourIndex);
        const std::string_view name = type;
        if (name == "dormant") _recordVertex(V, "regular", contourIndex);

        // Turning points are queued under their own class; drop the extreme
        // mark again (allVertices keeps its record).
        if (extreme &&
            (name == "start" || name == "end" || name == "split" || name == "merge" || name == "dormant")) {
            crossCorners.pop_back();
            crossVertices.pop_back();
        }
    }
}

// ---------------------------------------------------------------------------
// Bridge sweep
// ---------------------------------------------------------------------------

QvVertice Character3D::findSuitableVertexForSplit(const QvVertice& v, const std::vector<QvEdge>& edges,
                                                  const std::vector<QvEdge>& bridges,
                                                  const QvSweepTree& candidates)
{
    return findPartner(PartnerKind::Split, v, edges, bridges, candidates);
}

QvVertice Character3D::findSuitableVertexForMerge(const QvVertice& v, const std::vector<QvEdge>& edges,
                                                  const std::vector<QvEdge>& bridges,
                                                  const QvSweepTree& candidates)
{
    return findPartner(PartnerKind::Merge, v, edges, bridges, candidates);
}

QvVertice Character3D::findSuitableVertexForConvex(const QvVertice& v, const std::vector<QvEdge>& edges,
                                                   const std::vector<QvEdge>& bridges,
                                                   QvSweepTree& candidates, const QvSweepTree& second)
{
    candidates.insert(second.begin(), second.end());
    return findPartner(PartnerKind::Convex, v, edges, bridges, candidates);
}

void Character3D::createBridges()
{
    if (edges.empty()) return;
    QvSweepTree pendingTree;
    QvSweepTree doneTree;
    for (const auto* list : {&startVertices, &splitVertices, &mergeVertices, &convexVertices, &endVertices,
                             &dormantVertices, &crossVertices})
        insertVertices(pendingTree, *list);

    std::vector<QvEdge> bridges;
    while (!pendingTree.empty()) {
        const QvVertice v = *pendingTree.begin();
        pendingTree.erase(pendingTree.begin());
        if (typeIs(v, "merge")) {
            const QvVertice w = findSuitableVertexForMerge(v, edges, bridges, pendingTree);
            if (std::isnan(w.point.x)) continue;
            bridges.push_back(QvEdge{v.point, w.point});
            pendingTree.erase(w);
            doneTree.insert(w);
        } else if (typeIs(v, "split")) {
            const QvVertice w = findSuitableVertexForSplit(v, edges, bridges, doneTree);
            if (std::isnan(w.point.x)) continue;
            doneTree.erase(w);
            doneTree.erase(v);
            bridges.push_back(QvEdge{v.point, w.point});
        } else if (typeIs(v, "convex")) {
            const QvVertice w = findSuitableVertexForConvex(v, edges, bridges, doneTree, pendingTree);
            doneTree.insert(v);
            if (std::isnan(w.point.x)) continue;
            bridges.push_back(QvEdge{v.point, w.point});
            pendingTree.erase(w);
            doneTree.erase(w);
        } else {
            doneTree.insert(v);  // start, end, cross, dormant: candidates only
        }
    }

    pickupVerticesOfBridges(bridges);
    swapBridges(bridges);
    detachPolygon(bridges);
    makeFrontNormals();
    makeFrontTextureCoords();
    makeBackFace();
}

void Character3D::pickupVerticesOfBridges(const std::vector<QvEdge>& bridges)
{
    for (size_t k = 0; k < bridges.size(); ++k) {
        bridgePoints.push_back(bridges[k].p1);
        bridgePoints.push_back(bridges[k].p2);
        bridgeIndices.push_back(uint32_t(2 * k));
        bridgeIndices.push_back(uint32_t(2 * k + 1));
        bridgeIndices.push_back(restartIndex);
    }
}

void Character3D::swapBridges(std::vector<QvEdge>& bridges)
{
    const size_t count = bridges.size();
    for (size_t i = 0; i < count; ++i) bridges.push_back(QvEdge{bridges[i].p2, bridges[i].p1});
}

bool Character3D::_findQvEdgeInQvEdges(QvEdge& e, size_t& index, const std::vector<QvEdge>& list)
{
    for (size_t i = 0; i < list.size(); ++i) {
        if (samePoint(list[i].p1, e.p2)) {
            e = list[i];
            index = i;
            return true;
        }
    }
    return false;
}

bool Character3D::_findQvEdgeInDiagonals(QvEdge& e, size_t& index, const std::vector<QvEdge>& list)
{
    for (size_t i = 0; i < list.size(); ++i) {
        if (samePoint(list[i].p1, e.p2) && !samePoint(list[i].p2, e.p1)) {
            e = list[i];
            index = i;
            return true;
        }
    }
    return false;
}

void Character3D::_removeEdge(std::vector<QvEdge>& list, size_t index)
{
    if (index < list.size()) list.erase(list.begin() + long(index));
}

// ---------------------------------------------------------------------------
// Detachment walk
// ---------------------------------------------------------------------------

namespace {

// State of the detachment walk: the edge just taken, the piece it extends and
// the outline edges and bridges not used yet.
struct Walk {
    QvEdge current;
    std::vector<QvEdge> outline;
    std::vector<QvEdge> bridges;
    std::vector<QvEdge> piece;
    bool byBridge = false;  // the current edge is a bridge

    // Makes list[index] the current edge, appends it to the piece, uses it up.
    void take(std::vector<QvEdge>& list, size_t index)
    {
        current = list[index];
        piece.push_back(current);
        Character3D::_removeEdge(list, index);
    }

    // The first outline edge continuing `from`.
    bool continuing(const QvEdge& from, size_t& index) const
    {
        QvEdge e = from;
        return Character3D::_findQvEdgeInQvEdges(e, index, outline);
    }

    // The first bridge leaving `from` other than the way back.
    bool leaving(const QvEdge& from, size_t& index) const
    {
        QvEdge e = from;
        return Character3D::_findQvEdgeInDiagonals(e, index, bridges);
    }

    // After a bridge: back onto the outline when it continues, else on along
    // another bridge.
    void afterBridge()
    {
        size_t index = 0;
        if (continuing(current, index)) {
            take(outline, index);
            byBridge = false;
        } else if (leaving(current, index)) {
            take(bridges, index);
        }
    }

    // After an outline edge: onto a bridge when one leaves the point (of two,
    // the one nearer to the way back), else on along the outline.
    void afterOutline(bool firstStep, const std::vector<QvEdge>& allEdges)
    {
        size_t b1Index = 0;
        if (!leaving(current, b1Index)) {
            size_t e = 0;
            if (continuing(current, e)) take(outline, e);
            return;
        }
        const QvEdge b1 = bridges[b1Index];
        Character3D::_removeEdge(bridges, b1Index);
        size_t b2Index = 0;
        const bool second = !firstStep && leaving(current, b2Index);
        byBridge = true;
        if (second) {
            const glm::vec3 back = current.p1 - current.p2;
            const QvEdge b2 = bridges[b2Index];
            if (edgeAngle(b2.p2 - b2.p1, back) < edgeAngle(b1.p2 - b1.p1, back)) {
                take(bridges, b2Index);
                bridges.push_back(b1);
            } else {
                current = b1;
                piece.push_back(current);
            }
            return;
        }
        current = b1;
        piece.push_back(current);
        crossBridgeEnd(b1, allEdges);
    }

    // At the far end of a bridge just taken: the outline edge or the last
    // other bridge leaving it, whichever turns less sharply from the bridge
    // (the outline edge only when the shortcut past the corner stays clear).
    void crossBridgeEnd(const QvEdge& b1, const std::vector<QvEdge>& allEdges)
    {
        size_t candidate = bridges.size();
        for (size_t i = bridges.size(); i-- > 0;) {
            if (samePoint(bridges[i].p1, b1.p2) && !samePoint(bridges[i].p2, b1.p1)) {
                candidate = i;
                break;
            }
        }
        if (candidate == bridges.size()) return;
        size_t e = 0;
        if (!continuing(b1, e)) {
            take(bridges, candidate);
            return;
        }
        const glm::vec3 back = b1.p1 - b1.p2;
        const QvEdge& next = outline[e];
        const QvEdge& other = bridges[candidate];
        if (edgeAngle(next.p2 - next.p1, back) < edgeAngle(other.p2 - other.p1, back) &&
            !isSegmentIntersectAnyQvEdge(QvEdge{b1.p1, next.p2}, allEdges))
            take(outline, e);
        else
            take(bridges, candidate);
        byBridge = false;
    }
};

glm::vec3 flat(glm::vec3 p)
{
    return {p.x, p.y, 0.0f};
}

}  // namespace

// Walks the outline edges and the bridges (each once per direction) into
// closed pieces and strips every piece once, in the order the pieces close.
// A walk that cannot go on repeats its step until the step limit.
void Character3D::detachPolygon(std::vector<QvEdge> bridges)
{
    if (edges.empty()) return;
    Walk walk;
    walk.current = edges[0];
    walk.outline.assign(edges.begin() + 1, edges.end());
    walk.bridges = std::move(bridges);
    walk.piece = {walk.current};
    QvEdge startEdge = walk.current;
    int32_t counter = -1;
    bool closed = false;
    detachStep.assign(4, qvNaNPoint);

    for (int step = 0; step < maxWalkSteps; ++step) {
        if (walk.outline.empty() && walk.bridges.empty()) break;
        const QvEdge stepStart = step == 0 ? QvEdge{} : walk.current;

        if (closed) {
            if (!walk.piece.empty()) _findSmallestAngle(walk.piece, counter);
            walk.piece.clear();
            if (!walk.outline.empty()) {
                walk.take(walk.outline, 0);  // the new piece starts with it
                startEdge = walk.current;
                walk.byBridge = false;
                closed = false;
            }
        } else if (walk.byBridge) {
            walk.afterBridge();
        } else {
            walk.afterOutline(step == 0, edges);
        }

        if (samePoint(walk.current.p2, startEdge.p1)) {
            closed = true;
            if (walk.outline.empty() && walk.bridges.empty() && !walk.piece.empty()) {
                _findSmallestAngle(walk.piece, counter);
                walk.piece.clear();
            }
        }
        detachStep = {flat(stepStart.p1), flat(stepStart.p2), flat(walk.current.p1), flat(walk.current.p2)};
    }
}

// ---------------------------------------------------------------------------
// Strips
// ---------------------------------------------------------------------------

// Strips one piece from its sharpest corner (the first of equally sharp ones).
void Character3D::_findSmallestAngle(const std::vector<QvEdge>& piece, int32_t& counter)
{
    const size_t n = piece.size();
    if (n == 0) return;
    float smallest = 6.2831855f;
    size_t start = 0;
    for (size_t i = 0; i < n; ++i) {
        const size_t j = i + 1 == n ? 0 : i + 1;
        const float theta = edgeAngle(piece[i].p2 - piece[i].p1, piece[j].p1 - piece[j].p2);
        if (theta < smallest) {
            smallest = theta;
            start = i;
        }
    }
    _appendStrip(piece, start, counter);
}

// Zig-zag strip from the corner at piece[start].p2: the corner, its
// predecessor, its successor, the predecessor's predecessor, ... until every
// point of the piece is in (an even count repeats the last point).
void Character3D::_appendStrip(const std::vector<QvEdge>& piece, size_t start, int32_t& counter)
{
    const size_t n = piece.size();
    const size_t first = frontVertices.size();
    auto append = [&](const glm::vec3& p) {
        frontVertices.push_back(p);
        stripIndices.push_back(uint32_t(++counter));
    };
    append(piece[start].p2);
    for (size_t i = 1; frontVertices.size() - first < n; ++i) {
        append(piece[(start + 1 + n - i) % n].p1);
        append(piece[(start + i) % n].p2);
    }
    stripIndices.push_back(restartIndex);
}

void Character3D::triangulateMonotonePolygon(const std::vector<QvEdge>& piece, int32_t& counter)
{
    _findSmallestAngle(piece, counter);
}

void Character3D::triangulatePolygon()
{
    if (outlinePoints.size() < minStripPoints) return;
    if (outlinePoints[1].x >= outlinePoints[0].x)
        triangulateForward();
    else
        triangulateBackward();
}

// p[0], then the pairs p[1], p[n-1]; p[2], p[n-2]; ... up to n vertices.
void Character3D::triangulateForward()
{
    const std::vector<glm::vec3>& p = outlinePoints;
    const size_t n = p.size();
    if (n < minStripPoints) return;
    const size_t first = frontVertices.size();
    frontVertices.push_back(p[0]);
    for (size_t j = 1; frontVertices.size() - first < n; ++j) {
        frontVertices.push_back(p[j]);
        frontVertices.push_back(p[n - j]);
    }
    _indexStripFrom(first);
}

// p[n-1], then the pairs p[0], p[n-2]; p[1], p[n-3]; ... up to n vertices:
// the forward zig-zag mirrored, so that no point is repeated or left out.
void Character3D::triangulateBackward()
{
    const std::vector<glm::vec3>& p = outlinePoints;
    const size_t n = p.size();
    if (n < minStripPoints) return;
    const size_t first = frontVertices.size();
    frontVertices.push_back(p[n - 1]);
    for (size_t j = 0; frontVertices.size() - first < n; ++j) {
        frontVertices.push_back(p[j]);
        frontVertices.push_back(p[n - 2 - j]);
    }
    _indexStripFrom(first);
}

void Character3D::_indexStripFrom(size_t first)
{
    for (size_t i = first; i < frontVertices.size(); ++i) stripIndices.push_back(uint32_t(i));
    stripIndices.push_back(restartIndex);
}

// ---------------------------------------------------------------------------
// Derived arrays
// ---------------------------------------------------------------------------

void Character3D::makeFrontNormals()
{
    frontNormals.assign(frontVertices.size(), glm::vec3{0.0f, 0.0f, 1.0f});
}

void Character3D::makeFrontTextureCoords()
{
    frontTexCoords.clear();
    for (const glm::vec3& v : frontVertices)
        frontTexCoords.emplace_back(v.x / texCoordScale, v.y / texCoordScale);
}

void Character3D::makeBackFace()
{
    backVertices.clear();
    backNormals.clear();
    for (const glm::vec3& v : frontVertices) backVertices.emplace_back(v.x, v.y, backFaceDepth);
    for (const glm::vec3& n : frontNormals) backNormals.emplace_back(n.x, n.y, -1.0f);
}

std::vector<std::vector<glm::vec3>> Character3D::faceStrips(const std::vector<glm::vec3>& vertices) const
{
    std::vector<std::vector<glm::vec3>> strips(1);
    for (uint32_t index : stripIndices) {
        if (index == restartIndex)
            strips.emplace_back();
        else if (index < vertices.size())
            strips.back().push_back(vertices[index]);
    }
    return strips;
}

bool Character3D::outlineBounds(glm::vec3& minCorner, glm::vec3& maxCorner) const
{
    if (outlinePoints.empty()) return false;
    minCorner = maxCorner = outlinePoints.front();
    for (const glm::vec3& p : outlinePoints) {
        minCorner = glm::min(minCorner, p);
        maxCorner = glm::max(maxCorner, p);
    }
    return true;
}
