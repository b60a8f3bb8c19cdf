// qvplotmodel: click lists, triangulations, hulls, OBJ text and the upload
// bookkeeping of the plotting surfaces.
#include "controls/qvplotmodel.h"

#include "engine/core/qvfiles.h"
#include "engine/geometry/qvdelone.h"
#include "engine/geometry/qvtriangulation.h"

#include <fmt/format.h>
#include <glm/gtc/matrix_transform.hpp>

#include <span>

namespace {

constexpr int objGeneralDigits = 6;  // %g's precision
constexpr int verticesPerTriangle = 3;

// Appends "<tag> X Y Z\n".
void appendPointLine(std::string& text, const char* tag, glm::vec3 p)
{
    text += tag;
    for (int axis = 0; axis < 3; ++axis) {
        text += ' ';
        text += qvOBJNumber(p[axis]);
    }
    text += '\n';
}

}  // namespace

glm::mat4 qvOverlayModel(const glm::mat4& surface, float depth)
{
    const glm::mat4 pushed = glm::translate(glm::mat4(1.0f), glm::vec3(0.0f, 0.0f, depth));
    return surface * pushed * glm::scale(glm::mat4(1.0f), glm::vec3(qvOverlayScale));
}

std::string qvOBJNumber(float value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.*g", objGeneralDigits, double(value));
    return text;
}

void qvAppendOBJText(const std::vector<glm::vec3>& vertices, const std::vector<glm::vec3>& normals,
                     std::string& vertexText, std::string& faceText)
{
    const std::size_t n = vertices.size();
    for (std::size_t i = 0; i < n; ++i) {
        appendPointLine(vertexText, "v", vertices[i]);
        // Face i names corners 3i+1 .. 3i+3 (1-based) with normal i+1; it is
        // written while its first corner exists, as the file has always had.
        const std::size_t j = verticesPerTriangle * i + 1;
        if (j < n) {
            faceText += fmt::format("f {}//{} {}//{} {}//{}\n", j, i + 1, j + 1, i + 1, j + 2, i + 1);
        }
    }
    // One normal line per triangle, from its first corner.
    const std::size_t m = normals.size();
    for (std::size_t k = 0; m > 0 && (k == 0 || k + verticesPerTriangle <= m); k += verticesPerTriangle) {
        appendPointLine(vertexText, "vn", normals[k]);
    }
}

bool qvWriteOBJFile(const std::string& path, const std::string& vertexText, const std::string& faceText)
{
    // Replaced whole, as the photo is: a link or a pipe left at the name is
    // never written through, and a failed export keeps the earlier file.
    const std::string text = vertexText + faceText;
    std::string error;
    if (!qvReplaceFile(path, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), error)) {
        fmt::print("OBJ file {} not written: {}\n", path, error);
        return false;
    }
    return true;
}

// --- upload bookkeeping ------------------------------------------------------

QvUploadTracker::Plan QvUploadTracker::plan(std::size_t bytes, std::uint64_t revision) const
{
    if (bytes == 0) {
        return {};
    }
    if (revision != sentRevision || bytes < sentBytes) {
        return {0, bytes};  // rewritten since: all of it
    }
    return {sentBytes, bytes - sentBytes};
}

void QvUploadTracker::sent(std::size_t bytes, std::uint64_t revision)
{
    sentBytes = bytes;
    sentRevision = revision;
}

// --- lists -------------------------------------------------------------------

QvPlotModel::QvPlotModel() : polygons(1) {}

void QvPlotModel::addClickedPoint(glm::vec3 p)
{
    pointCoords.insert(pointCoords.end(), {p.x, p.y, p.z});
    delaunayPoints.push_back(p);
    if (polygonMode) {
        openPolygon().push_back(p);
    }
    hullPoints.push_back(p);
}

void QvPlotModel::addPointsToDelaunay(float width, float height, float depth)
{
    const float w = width / 2.0f, h = height / 2.0f, d = depth / 2.0f;
    delaunayPoints.insert(delaunayPoints.end(), {{-w, -h, d}, {w, -h, d}, {w, h, d}, {-w, h, d}});
}

void QvPlotModel::clear()
{
    pointCoords.clear();
    hullPoints.clear();
    circleLines.clear();
    polygons.assign(1, {});
    polygonIndex = 0;
    resetTriangles();
    delaunayPoints.clear();
}

void QvPlotModel::closePolygon()
{
    std::vector<glm::vec3>& open = openPolygon();
    if (open.empty()) {
        return;  // no first point to repeat: closing it would make an empty "closed" polygon
    }
    open.push_back(open.front());
    ++polygonIndex;
    polygons.emplace_back();
}

void QvPlotModel::resetTriangles()
{
    triangleVertices.clear();
    triangleIndices.clear();
    vertexCount = 0;
}

template <class Triangulate>
bool QvPlotModel::triangulateLastClosed(Triangulate triangulate)
{
    if (polygonIndex < 1) {
        return false;  // nothing closed yet
    }
    resetTriangles();
    triangulate(polygons[polygonIndex - 1], triangleVertices, triangleIndices, vertexCount);
    return true;
}

bool QvPlotModel::triangulatePolygonSPAR()
{
    return triangulateLastClosed(triangulateBySPAR);
}

bool QvPlotModel::triangulatePolygonTDBE()
{
    return triangulateLastClosed(triangulateByTDBE);
}

void QvPlotModel::triangulateDelaunay()
{
    pointCoords.clear();
    hullPoints.clear();
    circleLines.clear();
    resetTriangles();
    triangleNormals.clear();
    objVertexText.clear();
    objFaceText.clear();
    triangulate(delaunayPoints, triangleVertices, triangleIndices, triangleNormals, vertexCount,
                circleLines.edit());
}

template <class Hull>
void QvPlotModel::hullIntoOpenPolygon(Hull hull)
{
    openPolygon().clear();
    hull(hullPoints, openPolygon());
}

void QvPlotModel::createCH()
{
    hullIntoOpenPolygon(createConvexHull);
}

void QvPlotModel::createGrahamCH()
{
    hullIntoOpenPolygon(createGrahamConvexHull);
}

void QvPlotModel::createJarvisCH()
{
    hullIntoOpenPolygon(createJarvisWithACosConvexHull);
}

void QvPlotModel::createOBJFile()
{
    qvAppendOBJText(triangleVertices, triangleNormals, objVertexText, objFaceText);
}

bool QvPlotModel::writeOBJFile(const std::string& name) const
{
    return qvWriteOBJFile(name + ".obj", objVertexText, objFaceText);
}
