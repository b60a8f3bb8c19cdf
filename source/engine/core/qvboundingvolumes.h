// qvboundingvolumes: a control's axis-aligned box and its picking triangles.
//
// A control builds a QvAABB from its mesh triangles when its size is set and
// hands it the positions of its box vertices. The material object draws those
// vertices as a wire box and recomputes the bounds from them after moving
// them through its model matrix; picking and collision read the triangles.
#pragma once

#include <cstddef>
#include <limits>
#include <vector>

#include <glm/vec3.hpp>
#include <glm/vec4.hpp>

// Three vertices in order; points carry w = 1.
struct Triangle {
    glm::vec4 vertexA;
    glm::vec4 vertexB;
    glm::vec4 vertexC;
};

class QvAABB {
public:
    QvAABB() = default;
    explicit QvAABB(std::vector<Triangle> triangles);

    // True when the boxes overlap or touch on all three axes; an unset (NaN)
    // bound never separates.
    bool isBoxesIntersects(const QvAABB& other) const;
    // Appends x, y, z triples to the box vertices, then widens the bounds.
    void addBoxVertices(const std::vector<float>& list);
    // Widens the bounds over the box vertices. A box that has no bounds yet
    // starts from its first vertex, so it need not contain the origin.
    void findMinMax();
    // Sets the bounds from `list` alone; the box vertices are not changed.
    void findMinMax(const std::vector<float>& list);
    // Replaces the box vertices; the bounds still describe the old ones.
    void changeBoxVertices(std::vector<float> list);
    void addBoxTriangles(const std::vector<Triangle>& list);
    // The stored lists themselves: collision code transforms triangles in place.
    std::vector<Triangle>& getBoxTriangles();
    const std::vector<Triangle>& getBoxTriangles() const;
    const std::vector<float>& getBoxVertices() const;

    float minX = 0.0f, maxX = 0.0f;
    float minY = 0.0f, maxY = 0.0f;
    float minZ = 0.0f, maxZ = 0.0f;
    // Flat x0, y0, z0, x1, y1, z1, ...; a trailing incomplete vertex is ignored.
    std::vector<float> vertices;
    // Written only by the material object's box update.
    glm::vec3 direction{std::numeric_limits<float>::quiet_NaN()};
    glm::vec3 previousDirection{std::numeric_limits<float>::quiet_NaN()};
    std::vector<Triangle> triangles;

private:
    // Sets all six bounds to the first vertex of `list`.
    void resetBounds(const std::vector<float>& list);
    // Widens the bounds over every whole vertex of `list`.
    void widenBounds(const std::vector<float>& list);

    // False until a scan has taken bounds from some vertex.
    bool hasBounds = false;
};
