// The two value records that carry a glyph from FreeType to the mesh builder:
// the outline as FreeType gives it and each flattened contour with its side
// wall. Kept below the fonts and the glyph mesh so that both can include it.
#pragma once

#include "engine/geometry/qvtype.h"

#include <glm/vec2.hpp>
#include <glm/vec3.hpp>

#include <cstdint>
#include <limits>
#include <vector>

// Length of d with the root taken in extended precision, rounded to float:
// wall texture coordinates and the glyph mesh's partner distances come out
// the same on every machine.
float qvPreciseLength(glm::vec3 d);

// One glyph outline as FreeType gives it (26.6 fixed-point values as floats).
struct Character {
    char16_t code = 0xFFFF;
    glm::vec2 size{std::numeric_limits<float>::quiet_NaN()};
    glm::vec2 bearing{std::numeric_limits<float>::quiet_NaN()};
    int16_t nContours = 0;
    int16_t nPoints = 0;
    std::vector<glm::vec2> points;
    std::vector<int8_t> tags;           // only tag & 3 is read: 1 on-curve, 0 conic, 2 cubic
    std::vector<int16_t> contourEnds;   // index in points of each contour's last point
    uint32_t advance = 0;               // 26.6: advance >> 6 is pixels of the 48-pixel face
    uint32_t height = 0;                // 26.6
};

// One closed outline of a glyph after flattening, with its extruded side wall.
struct Contour {
    std::vector<glm::vec3> points;      // z 0, closed implicitly
    std::vector<glm::vec3> backPoints;  // same (x, y) at the wall's back depth
    std::vector<glm::vec3> wallStrip;   // 2n + 2 triangle-strip vertices
    std::vector<glm::vec3> wallNormals;
    std::vector<glm::vec2> wallTexCoords;
    std::vector<QvEdge> edges;          // closed edge list of points
    float minX = 10000.0f;
    float maxX = -10000.0f;

    // Rebuilds edges from points, the last edge returning to the first point.
    void makeQvEdgeArray();
    // Fills backPoints and the side-wall strip.
    void makeExtrude();
    // Builds wallStrip, wallNormals and wallTexCoords from points and backPoints.
    void _makeStripForExtrudedContour();
};
