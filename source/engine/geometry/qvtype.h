// Plain value records of the plane geometry: classified points (for the glyph
// sweep), directed edges and undirected segments, with the equality and
// ordering rules the sweep trees and the polygon triangulations rely on.
// Every float field starts as NaN, so an unset record is recognisable.
#pragma once

#include <glm/vec3.hpp>

#include <cstdint>
#include <limits>
#include <string>

inline constexpr float qvNaN = std::numeric_limits<float>::quiet_NaN();
inline constexpr glm::vec3 qvNaNPoint{qvNaN, qvNaN, qvNaN};

// Text form of a point in diagnostic lines: "(x, y, z)".
std::string qvPointText(glm::vec3 point);

// A classified outline point. Sorted "a < b": highest y first, then smallest x.
struct QvVertice {
    glm::vec3 point = qvNaNPoint;
    std::string type;         // the vertex class ("start", "split", "merge", ...)
    std::uint64_t index = 0;  // contour the point belongs to

    // -1 or +1, never 0: equal points each compare +1 against the other.
    int opCmp(const QvVertice& other) const;
    bool operator==(const QvVertice& other) const { return point == other.point; }
    bool operator<(const QvVertice& other) const { return opCmp(other) < 0; }
    bool operator>(const QvVertice& other) const { return opCmp(other) > 0; }
    std::string toString() const;
};

// The same record sorted "a < b" by smallest x first, then highest y.
struct QvLeftPriorityVertice {
    glm::vec3 point = qvNaNPoint;
    std::string type;
    std::uint64_t index = 0;

    // -1 or +1, never 0.
    int opCmp(const QvLeftPriorityVertice& other) const;
    bool operator==(const QvLeftPriorityVertice& other) const { return point == other.point; }
    bool operator<(const QvLeftPriorityVertice& other) const { return opCmp(other) < 0; }
    bool operator>(const QvLeftPriorityVertice& other) const { return opCmp(other) > 0; }
    std::string toString() const;
};

// A directed edge from p1 to p2; ordered by p1 alone (x, then y, then z).
struct QvEdge {
    glm::vec3 p1 = qvNaNPoint;
    glm::vec3 p2 = qvNaNPoint;

    int opCmp(const QvEdge& other) const;
    bool operator==(const QvEdge& other) const { return p1 == other.p1 && p2 == other.p2; }
    bool operator<(const QvEdge& other) const { return opCmp(other) < 0; }
    void swapPoints();
    glm::vec3 directionalVector() const { return p2 - p1; }
    glm::vec3 directionalInverseVector() const { return p1 - p2; }
    std::string toString() const;
};

// An undirected segment. Its four-vote height ordering is not transitive, so
// it deliberately has no operator<: it must never key a sorted container.
struct QvSegment {
    glm::vec3 p1 = qvNaNPoint;
    glm::vec3 p2 = qvNaNPoint;

    // Sum of four end-point height votes: -4, -2, 0, 2 or 4; positive = higher.
    int opCmp(const QvSegment& other) const;
    bool operator==(const QvSegment& other) const;
    void swapPoints();
    glm::vec3 directionalVector() const { return p2 - p1; }
    glm::vec3 directionalInverseVector() const { return p1 - p2; }
    std::string toString() const;
};
