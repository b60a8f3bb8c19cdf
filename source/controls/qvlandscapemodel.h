// qvlandscapemodel: the terrain grid of the landscape control and its brush,
// as plain lists (no OpenGL).
//
// The grid is `rows` x `columns` square cells of six vertex entries each
// (two triangles), lying in the x-y plane; heights are z. A cell index is the
// entry of the cell's first vertex, its upper-left corner, and names the grid
// point there; the brush moves such grid points (all six entries that share
// one) and recomputes their normals.
#pragma once

#include <glm/vec2.hpp>
#include <glm/vec3.hpp>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "engine/core/qvboundingvolumes.h"

inline constexpr int qvLandscapeColumns = 200;
inline constexpr int qvLandscapeRows = 200;
inline constexpr int qvLandscapeEntriesPerCell = 6;
// The brush's strength is given in hundred-thousandths.
inline constexpr float qvBrushStrengthUnit = 100000.0f;
// Radius in image pixels of the grass disc a till stamps, and the margin it
// keeps from the images' edges.
inline constexpr int qvGrassRadius = 10;

// What generation worked out, for the landscape's fields and its printout.
struct QvLandscapeGrid {
    int columns = 0;
    int rows = 0;
    float aspectRatio = 1.0f;   // display width / columns, whole pixels
    float displayStepX = 1.0f;  // display pixels per column
    float displayStepY = 1.0f;  // display pixels per row
    float step = 0.0f;          // cell side in local units
    float stepU = 0.0f;
    float stepV = 0.0f;
};

// The terrain's lists, one entry of each per vertex.
struct QvTerrainLists {
    std::vector<glm::vec3>& vertices;
    std::vector<glm::vec3>& normals;
    std::vector<glm::vec2>& textureCoords;
};

// Appends the default 200 x 200 grid for a display of width x height pixels
// over a square of side `side` centred on the origin, and two collision
// triangles per cell to `collision`. With `shading` each normal is (|x|, |y|,
// -1) of its vertex, otherwise (0, 0, -1).
QvLandscapeGrid qvGenerateLandscapeGrid(int displayWidth, int displayHeight, float side, bool shading,
                                        QvTerrainLists lists, std::vector<Triangle>& collision);

// One triangle per whole triple of vertices, each corner with w = 1.
std::vector<Triangle> qvTerrainTriangles(const std::vector<glm::vec3>& vertices);

// The six entries that share the grid point of a cell index, K entries a row:
// its own cell's corner 0, the left neighbour's corners 4 and 2, the upper
// left one's corner 3 and the upper one's corners 1 and 5.
std::array<std::int64_t, 6> qvGridPointEntries(std::int64_t index, std::int64_t rowEntries);

// Raises the grid point of `index` by dh, each entry's normal becoming
// (|x|, |y|, z). False, with nothing changed, for an index outside the grid
// or whose entries the lists do not hold.
bool qvPlow(std::vector<glm::vec3>& vertices, std::vector<glm::vec3>& normals, int columns, int rows,
            std::int64_t index, float dh);
// Raises the grid point of `index` by dh and gives the six triangles around
// it their (unnormalised, z-negated) face normals. False, with nothing
// changed, for an index outside the grid or whose triangles the lists do not
// hold.
bool qvTillHeights(std::vector<glm::vec3>& vertices, std::vector<glm::vec3>& normals, int columns, int rows,
                   std::int64_t index, float dh);

// Does a grass disc at (x, y) (y counted from the image's top) keep inside an
// image of that height, row length and byte count?
bool qvGrassStampFits(int x, int y, int height, int scanLine, std::size_t bytes);

// One cell of the brush: offsets in columns and rows and its share of 100000.
struct QvBrushCell {
    int dc;
    int dr;
    int amount;
};
// The 21 cells in the order they are applied.
extern const std::array<QvBrushCell, 21> qvBrushCells;

// The cell index under display position (x, y); none when the position's
// column or row is beyond what an int holds, or the index with the brush's
// reach around it beyond what 64 bits hold: no grid has a cell there.
std::optional<std::int64_t> qvBrushCentreIndex(double x, double y, float displayStepX, float displayStepY,
                                               int columns);
// The pixel column (or row) of an image `imageSize` wide (or high) under
// display position p on a display `displaySize` wide (or high); none when it
// is beyond what an int holds.
std::optional<int> qvBrushImagePixel(int imageSize, int displaySize, double p);
