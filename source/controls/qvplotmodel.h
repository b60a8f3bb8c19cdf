// qvplotmodel: what a plotting surface (the monitor canvas, the landscape)
// keeps on the CPU side, and the operations on it that need no OpenGL.
//
// The lists are the ones the tracker scene and the clicks write (route line,
// points, polygons, Delaunay and hull inputs) and the ones the triangulations
// fill; the OBJ export turns the triangles into text and a file. The overlay
// frame (x and y from -1 to 1 across a 20-unit face) and the bookkeeping that
// lets a frame upload only what a list gained since the last one live here as
// well, so the tests reach them without a context. The lists that go to the
// GPU every frame are QvPlotLists, which tell a rewrite from an append.
#pragma once

#include "controls/qvplotlist.h"

#include <glm/mat4x4.hpp>
#include <glm/vec3.hpp>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Overlay vertices are drawn ten times larger than they are stored.
inline constexpr float qvOverlayScale = 10.0f;
// How far in front of the box's centre the overlay layers lie.
inline constexpr float qvOverlayLineDepth = 0.55f;  // triangles, circle points, line strip
inline constexpr float qvOverlayPointDepth = 0.7f;  // points and the cursor

// The model matrix of an overlay layer: the surface's matrix, then the layer
// pushed `depth` along local z, then the overlay scale.
glm::mat4 qvOverlayModel(const glm::mat4& surface, float depth);

// "v X Y Z" lines of every corner, "vn" lines of each triangle's first normal
// and "f a//n b//n c//n" lines, floats as printf's %g writes them.
void qvAppendOBJText(const std::vector<glm::vec3>& vertices, const std::vector<glm::vec3>& normals,
                     std::string& vertexText, std::string& faceText);
// A float as printf's %g writes it (six significant digits).
std::string qvOBJNumber(float value);
// Writes the two texts, vertex part first, to `path` (created or truncated).
// On failure prints one line naming the file and the reason; false.
bool qvWriteOBJFile(const std::string& path, const std::string& vertexText, const std::string& faceText);

// What a frame has to send of a list: what it gained since the last upload
// while it only grew, all of it once it was rewritten (its revision moved on,
// QvPlotList) or the buffer was replaced.
class QvUploadTracker {
public:
    struct Plan {
        std::size_t offset = 0;  // first byte to send
        std::size_t bytes = 0;   // how many; 0 = nothing to do
    };

    // What to send of a list of `bytes` bytes at `revision`.
    Plan plan(std::size_t bytes, std::uint64_t revision) const;
    // Records that the list's first `bytes` bytes at `revision` are on the GPU now.
    void sent(std::size_t bytes, std::uint64_t revision);
    // Forgets what was sent (the buffer was replaced or reallocated).
    void reset() { sentBytes = 0; }
    std::size_t sentSoFar() const { return sentBytes; }

private:
    std::size_t sentBytes = 0;
    std::uint64_t sentRevision = 0;
};

class QvPlotModel {
public:
    QvPlotModel();

    // A click at p: into the point layer, the Delaunay and hull inputs, and
    // the open polygon when `polygonMode` is set.
    void addClickedPoint(glm::vec3 p);
    // The four corners of a front face of those extents, counterclockwise
    // from the lower left, into the Delaunay input.
    void addPointsToDelaunay(float width, float height, float depth);
    // Empties the click lists, polygons and triangles; keeps the route, the
    // normals, the OBJ texts and the cursor.
    void clear();
    // Closes the open polygon with a copy of its first point and opens a new
    // one; an empty open polygon has nothing to close and stays open.
    void closePolygon();
    // The last closed polygon triangulated into the triangle lists; false,
    // with the lists untouched, while no polygon has been closed.
    bool triangulatePolygonSPAR();
    bool triangulatePolygonTDBE();
    // Empties the click lists, triangles, normals and OBJ texts, then the
    // Delaunay triangulation of delaunayPoints into the triangle lists.
    void triangulateDelaunay();
    // The convex hull of hullPoints written into the emptied open polygon.
    void createCH();
    void createGrahamCH();
    void createJarvisCH();
    // Appends the OBJ text of the current triangles.
    void createOBJFile();
    // Writes the OBJ text to `name`.obj; false (after one printed line) when
    // the file cannot be written.
    bool writeOBJFile(const std::string& name) const;
    // The open polygon.
    std::vector<glm::vec3>& openPolygon() { return polygons[polygonIndex]; }

    bool polygonMode = false;
    std::vector<std::vector<glm::vec3>> polygons;  // all closed but the last, the open one
    QvPlotList<glm::vec3> lineVertices;            // the line strip, written by the scene
    std::vector<glm::vec3> delaunayPoints;
    QvPlotList<float> pointCoords;  // x, y, z triples, written by clicks and the scene
    std::vector<glm::vec3> triangleVertices;
    std::vector<std::uint32_t> triangleIndices;
    std::vector<glm::vec3> triangleNormals;
    std::vector<glm::vec3> hullPoints;
    std::int64_t polygonIndex = 0;
    std::string objVertexText;
    std::string objFaceText;
    QvPlotList<float> cursorCoords;  // the last route vertex once there was one
    QvPlotList<float> circleLines;   // x, y, z triples of the Delaunay circles
    int vertexCount = 0;

private:
    // Empties the triangle lists before a triangulation refills them.
    void resetTriangles();
    template <class Triangulate>
    bool triangulateLastClosed(Triangulate triangulate);
    template <class Hull>
    void hullIntoOpenPolygon(Hull hull);
};
