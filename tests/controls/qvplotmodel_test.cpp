// The plotting lists without OpenGL: clicks and polygons, the triangulations
// and hulls held against areas and an independent hull, the OBJ text and
// file read back, the overlay frame and the upload bookkeeping.
#include "controls/qvplotmodel.h"

#include "geometry_checks.h"
#include "tempfiles.h"

#include <gtest/gtest.h>

#include <glm/gtc/matrix_transform.hpp>
#include <glm/vec4.hpp>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

#include <sys/stat.h>

namespace {

// A triangle list's total area, from scratch.
double area(const std::vector<glm::vec3>& corners)
{
    double sum = 0.0;
    for (size_t i = 0; i + 2 < corners.size(); i += 3)
        sum += 0.5 * std::abs(checks::cross(corners[i], corners[i + 1], corners[i + 2]));
    return sum;
}

// An L-shaped room clicked corner by corner: area 3.
const std::vector<glm::vec3> lShape{{0, 0, 0}, {2, 0, 0}, {2, 1, 0}, {1, 1, 0}, {1, 2, 0}, {0, 2, 0}};

QvPlotModel clickedPolygon(const std::vector<glm::vec3>& corners)
{
    QvPlotModel model;
    model.polygonMode = true;
    for (const glm::vec3& p : corners) model.addClickedPoint(p);
    model.closePolygon();
    return model;
}

// What an OBJ file says, read back line by line.
struct ObjFile {
    std::vector<glm::vec3> vertices, normals;
    std::vector<std::array<std::pair<int, int>, 3>> faces;  // (vertex, normal), 1-based
};

ObjFile parseObj(const std::string& text)
{
    ObjFile obj;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string tag;
        fields >> tag;
        if (tag == "v" || tag == "vn") {
            glm::vec3 p;
            fields >> p.x >> p.y >> p.z;
            (tag == "v" ? obj.vertices : obj.normals).push_back(p);
        } else if (tag == "f") {
            std::array<std::pair<int, int>, 3> face;
            for (auto& [v, n] : face) {
                char slash;
                fields >> v >> slash >> slash >> n;
            }
            obj.faces.push_back(face);
        }
    }
    return obj;
}

std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

TEST(PlotModel, ClicksFillTheListsAndPolygonsClose)
{
    QvPlotModel model;
    model.addClickedPoint({0.1f, 0.2f, 0.3f});
    EXPECT_EQ(model.pointCoords, (std::vector<float>{0.1f, 0.2f, 0.3f}));
    EXPECT_EQ(model.delaunayPoints.size(), 1u);
    EXPECT_EQ(model.hullPoints.size(), 1u);
    EXPECT_TRUE(model.openPolygon().empty());  // not in polygon mode

    const glm::vec3 p1{0, 0, 0}, p2{1, 0, 0}, p3{0, 1, 0};
    QvPlotModel polygon = clickedPolygon({p1, p2, p3});
    EXPECT_EQ(polygon.polygons, (std::vector<std::vector<glm::vec3>>{{p1, p2, p3, p1}, {}}));
    EXPECT_EQ(polygon.polygonIndex, 1);

    // Closing an empty polygon leaves it open instead of making an empty ring.
    polygon.closePolygon();
    EXPECT_EQ(polygon.polygons.size(), 2u);
    EXPECT_EQ(polygon.polygonIndex, 1);

    polygon.lineVertices.push_back({1, 1, 1});
    polygon.cursorCoords = {1, 1, 1};
    polygon.triangleNormals.push_back({0, 0, 1});
    polygon.clear();
    EXPECT_TRUE(polygon.pointCoords.empty() && polygon.delaunayPoints.empty() && polygon.hullPoints.empty());
    EXPECT_EQ(polygon.polygons, (std::vector<std::vector<glm::vec3>>{{}}));
    EXPECT_EQ(polygon.polygonIndex, 0);
    // The route, its cursor and the normals are not the clicks' to clear.
    EXPECT_EQ(polygon.lineVertices.size(), 1u);
    EXPECT_EQ(polygon.cursorCoords.size(), 3u);
    EXPECT_EQ(polygon.triangleNormals.size(), 1u);
}

TEST(PlotModel, PolygonTriangulationsCoverTheClosedPolygon)
{
    for (bool spar : {true, false}) {
        QvPlotModel model = clickedPolygon(lShape);
        model.triangleNormals.assign(3, {0, 0, 1});  // an earlier Delaunay run's
        ASSERT_TRUE(spar ? model.triangulatePolygonSPAR() : model.triangulatePolygonTDBE());
        EXPECT_EQ(model.triangleVertices.size(), 12u);  // 6 corners, 4 triangles
        EXPECT_NEAR(area(model.triangleVertices), 3.0, 1e-6);
        EXPECT_EQ(model.vertexCount, 12);
        EXPECT_EQ(model.triangleIndices.back(), 11u);
        EXPECT_EQ(model.triangleNormals.size(), 3u);  // left as they were

        // A second run replaces the triangles instead of adding to them.
        ASSERT_TRUE(spar ? model.triangulatePolygonSPAR() : model.triangulatePolygonTDBE());
        EXPECT_EQ(model.triangleVertices.size(), 12u);
    }

    // Before any polygon is closed there is nothing to triangulate.
    QvPlotModel open;
    open.polygonMode = true;
    open.addClickedPoint({0, 0, 0});
    open.triangleVertices.push_back({5, 5, 5});
    EXPECT_FALSE(open.triangulatePolygonSPAR());
    EXPECT_FALSE(open.triangulatePolygonTDBE());
    EXPECT_EQ(open.triangleVertices.size(), 1u);
}

TEST(PlotModel, HullsOfClickedPointsMatchAnIndependentHull)
{
    const auto points = checks::randomPoints(60, 9);
    const auto expected = checks::monotoneHull(points);
    const std::set<std::pair<float, float>> corners = [&] {
        std::set<std::pair<float, float>> s;
        for (const glm::vec3& p : expected) s.insert({p.x, p.y});
        return s;
    }();
    for (int kind = 0; kind < 3; ++kind) {
        QvPlotModel model;
        model.openPolygon().push_back({-1, -1, 0});  // replaced by the hull
        model.hullPoints = points;
        testing::internal::CaptureStdout();
        if (kind == 0) model.createCH();
        if (kind == 1) model.createGrahamCH();
        if (kind == 2) model.createJarvisCH();
        testing::internal::GetCapturedStdout();
        std::set<std::pair<float, float>> found;
        for (const glm::vec3& p : model.openPolygon()) found.insert({p.x, p.y});
        EXPECT_EQ(found, corners) << "hull " << kind;
        EXPECT_EQ(model.polygonIndex, 0);
    }
}

TEST(PlotModel, DelaunayResetsTheClickListsAndItsOBJFileReadsBack)
{
    QvPlotModel model;
    for (const glm::vec3& p : checks::randomPoints(30, 4)) model.addClickedPoint(p);
    model.lineVertices.push_back({1, 2, 3});
    testing::internal::CaptureStdout();
    model.triangulateDelaunay();
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(model.pointCoords.empty() && model.hullPoints.empty());
    EXPECT_EQ(model.delaunayPoints.size(), 30u);
    EXPECT_EQ(model.lineVertices.size(), 1u);
    EXPECT_NEAR(area(model.triangleVertices), checks::signedArea(checks::monotoneHull(model.delaunayPoints)),
                1e-3);
    ASSERT_EQ(model.triangleNormals.size(), model.triangleVertices.size());

    model.createOBJFile();
    const auto path = testsupport::tempPath("delaunay");
    ASSERT_TRUE(model.writeOBJFile(path.string()));
    // A pipe left at the name is replaced, not written into (which would wait for a reader).
    const std::string objPath = path.string() + ".obj";
    std::filesystem::rename(objPath, objPath + ".first");
    ASSERT_EQ(::mkfifo(objPath.c_str(), 0600), 0);
    ASSERT_TRUE(model.writeOBJFile(path.string()));
    EXPECT_EQ(readFile(objPath), readFile(objPath + ".first"));
    const ObjFile obj = parseObj(readFile(objPath));
    std::filesystem::remove(objPath);
    std::filesystem::remove(objPath + ".first");
    const size_t triangles = model.triangleVertices.size() / 3;
    ASSERT_EQ(obj.vertices.size(), model.triangleVertices.size());
    ASSERT_EQ(obj.normals.size(), triangles);
    ASSERT_EQ(obj.faces.size(), triangles);
    for (size_t t = 0; t < triangles; ++t) {
        for (int c = 0; c < 3; ++c) {
            const auto [v, n] = obj.faces[t][c];
            EXPECT_EQ(n, int(t) + 1);
            // %g keeps six digits: the corners come back within that.
            const glm::vec3 read = obj.vertices[size_t(v) - 1], held = model.triangleVertices[3 * t + c];
            EXPECT_NEAR(read.x, held.x, 1e-5 * std::max(1.0f, std::abs(held.x)));
            EXPECT_NEAR(read.y, held.y, 1e-5 * std::max(1.0f, std::abs(held.y)));
        }
        EXPECT_GT(obj.normals[t].z, 0.0f);
    }

    // A second run on the same clicks triangulates them again, afresh.
    const auto first = model.triangleVertices;
    testing::internal::CaptureStdout();
    model.triangulateDelaunay();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(model.triangleVertices.size(), first.size());
    EXPECT_TRUE(model.objVertexText.empty() && model.objFaceText.empty());
}

TEST(PlotModel, OBJTextFollowsTheWorkedExamples)
{
    std::string vertexText, faceText;
    qvAppendOBJText({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 0, 1}, {0, 0, 1}, {0, 0, 1}}, vertexText,
                    faceText);
    EXPECT_EQ(vertexText + faceText, "v 0 0 0\nv 1 0 0\nv 0 1 0\nvn 0 0 1\nf 1//1 2//1 3//1\n");

    vertexText.clear(), faceText.clear();
    qvAppendOBJText(std::vector<glm::vec3>(6, glm::vec3(0)), std::vector<glm::vec3>(6, {0, 0, 1}), vertexText,
                    faceText);
    EXPECT_EQ(faceText, "f 1//1 2//1 3//1\nf 4//2 5//2 6//2\n");
    EXPECT_EQ(std::count(vertexText.begin(), vertexText.end(), 'n'), 2);  // two "vn" lines

    vertexText.clear(), faceText.clear();
    qvAppendOBJText({{1234567, 0.00001f, 100000}}, {{0, 0, 1}}, vertexText, faceText);
    EXPECT_EQ(vertexText, "v 1.23457e+06 1e-05 100000\nvn 0 0 1\n");
    EXPECT_EQ(qvOBJNumber(-0.5f), "-0.5");
    EXPECT_EQ(qvOBJNumber(0.1f), "0.1");
}

TEST(PlotModel, UnwritableOBJFileIsReportedAndNothingElseChanges)
{
    QvPlotModel model;
    model.objVertexText = "v 0 0 0\n";
    const std::string name = "/nonexistent-velmorin-dir/canvas";
    testing::internal::CaptureStdout();
    EXPECT_FALSE(model.writeOBJFile(name));
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find(name + ".obj"), std::string::npos);
    EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 1);
    EXPECT_EQ(model.objVertexText, "v 0 0 0\n");
}

TEST(PlotModel, OverlayFrameSpansTheFace)
{
    // A canvas whose front face lies at z = 0.5: an overlay vertex (1, 1, 0)
    // of the line strip is drawn at local (10, 10, 0.55), a point 0.15 further.
    const glm::mat4 placed = glm::translate(glm::mat4(1.0f), glm::vec3(3, 0, -2));
    EXPECT_EQ(qvOverlayModel(placed, qvOverlayLineDepth) * glm::vec4(1, 1, 0, 1),
              glm::vec4(13, 10, -1.45f, 1));
    EXPECT_EQ(qvOverlayModel(glm::mat4(1.0f), qvOverlayPointDepth) * glm::vec4(-1, 0.5f, 0, 1),
              glm::vec4(-10, 5, 0.7f, 1));
}

TEST(UploadTracker, SendsOnlyWhatAListGained)
{
    QvUploadTracker tracker;
    QvPlotList<float> route{1, 2, 3, 4, 5, 6};
    const size_t vertex = 3 * sizeof(float);
    const auto bytes = [&] { return route.size() * sizeof(float); };
    const auto plan = [&] { return tracker.plan(bytes(), route.revision()); };
    const auto send = [&] { tracker.sent(bytes(), route.revision()); };
    EXPECT_EQ(plan().offset, 0u);
    EXPECT_EQ(plan().bytes, 2 * vertex);
    send();

    // Unchanged: nothing; appended, at the end or by push_back: that alone.
    EXPECT_EQ(plan().bytes, 0u);
    route.insert(route.end(), {7, 8, 9});
    EXPECT_EQ(plan().offset, 2 * vertex);
    EXPECT_EQ(plan().bytes, vertex);
    route.push_back(10);
    EXPECT_EQ(plan().bytes, vertex + sizeof(float));
    send();

    // Edited in the middle, emptied and refilled with the same ends, assigned,
    // inserted before the end, shrunk, handed out for a rewrite: all of it.
    const std::vector<float> before = route;
    for (auto rewrite : std::vector<std::function<void()>>{
             [&] { route.set(4, -5); },
             [&] {
                 route.clear();
                 for (size_t i = 0; i < before.size(); ++i) route.push_back(i == 5 ? 0.0f : before[i]);
             },
             [&] { route.assign(10, 1.0f); }, [&] { route.insert(route.begin(), {0.0f}); },
             [&] { route.resize(2); }, [&] { route.edit().push_back(4.0f); }}) {
        rewrite();
        EXPECT_EQ(plan().offset, 0u);
        EXPECT_EQ(plan().bytes, bytes());
        send();
        EXPECT_EQ(plan().bytes, 0u);
    }
    route.clear();
    EXPECT_EQ(plan().bytes, 0u);

    // A buffer replaced under the list: all of it again.
    route.push_back(1.0f);
    send();
    tracker.reset();
    EXPECT_EQ(plan().bytes, sizeof(float));
}
