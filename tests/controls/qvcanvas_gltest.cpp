// The monitor canvas drawn into a framebuffer: route, stops and cursor in
// their colours where they belong, what each frame uploads, buffers that grow
// past their first capacity, and the triangle layer made from clicks.
#include "controlfixtures.h"
#include "tempfiles.h"

#include "controls/qvcanvas.h"
#include "controls/qvcontrolbox.h"
#include "controls/qvviewcheck.h"
#include "engine/core/qvcamera.h"
#include "engine/core/qvtransform.h"

#include <glm/gtc/matrix_transform.hpp>

#include <filesystem>
#include <fstream>

using controlfixtures::kViewSize;

namespace {

using Rgb = std::array<int, 3>;
const Rgb red{255, 0, 0}, routeBlue{26, 51, 230}, cursorRed{230, 51, 26}, triangleYellow{219, 225, 57};

bool near(Rgb a, Rgb b, int tolerance = 12)
{
    for (int i = 0; i < 3; ++i)
        if (std::abs(a[i] - b[i]) > tolerance) return false;
    return true;
}

// A canvas of the scene's 20 x 20 face shrunk to 2 x 2 units, so overlay x
// and y from -1 to 1 span the middle of the view.
class CanvasDraw : public controlfixtures::ControlDraw {
protected:
    QvShader textureLight = controlfixtures::shipped("textureLight");
    QvShader point = controlfixtures::shipped("point");
    QvShader circlePoint = controlfixtures::shipped("circlePoint");

    std::unique_ptr<QvCanvas> makeCanvas(const std::string& name = "QvModel_MouseRouteCanvas")
    {
        testing::internal::CaptureStdout();
        auto canvas = std::make_unique<QvCanvas>(name, nullptr, *camera);
        created = testing::internal::GetCapturedStdout();
        canvas->shader = &textureLight;
        canvas->setPointShader(&point);
        canvas->setCirclePointShader(&circlePoint);
        canvas->setSize(20.0f, 20.0f, 1.0f);
        canvas->transform->setScaling(0.1f, 0.1f, 0.1f);
        return canvas;
    }

    void drawFrame(QvCanvas& canvas)
    {
        controlfixtures::clearAll();
        glEnable(GL_PROGRAM_POINT_SIZE);
        canvas.draw(*camera);
        ASSERT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    }

    // The framebuffer pixel under an overlay point (x, y) of the canvas.
    Rgb colourAt(const QvCanvas& canvas, float x, float y, float depth = qvOverlayPointDepth) const
    {
        const glm::vec4 world = qvOverlayModel(canvas.transform->getMatrix(), depth) * glm::vec4(x, y, 0, 1);
        const glm::vec4 clip = camera->getProjectionMatrix() * camera->getCameraMatrix() * world;
        const int px = int((clip.x / clip.w + 1.0f) * 0.5f * kViewSize);
        const int py = int((clip.y / clip.w + 1.0f) * 0.5f * kViewSize);
        const auto p = context.pixel(px, py);
        return {p[0], p[1], p[2]};
    }

    int pixelsNear(Rgb colour)
    {
        return controlfixtures::countPixels(context, 0, 0, kViewSize, kViewSize, [&](int r, int g, int b) {
            return near({r, g, b}, colour, 8);
        });
    }

    // A click at overlay (x, y), as the world delivers it after a pick.
    void click(QvCanvas& canvas, float x, float y)
    {
        canvas.mouseVector = {x, y, 0.0f, 1.0f};
        canvas.onMouseButtonPress->opCall(&canvas, &QvMouseEventArgs::_e);
    }

    static std::vector<glm::vec3> routeBuffer(const QvCanvas& canvas, size_t count)
    {
        std::vector<glm::vec3> held(count);
        glBindBuffer(GL_ARRAY_BUFFER, canvas.lineLayer.vbo.get());
        glGetBufferSubData(GL_ARRAY_BUFFER, 0, GLsizeiptr(count * sizeof(glm::vec3)), held.data());
        return held;
    }

    std::string created;
};

}  // namespace

TEST_F(CanvasDraw, RouteStopsAndCursorShowInTheirColours)
{
    auto canvas = makeCanvas();
    // After the texture loader's lines, in bold red.
    EXPECT_TRUE(created.ends_with("\n\x1b[01;31m CREATING CANVAS QvModel_MouseRouteCanvas \x1b[0m \n"));
    canvas->pointCoords = {-0.5f, -0.5f, 0.0f, 0.5f, -0.5f, 0.0f};
    canvas->lineVertices = {{-0.8f, 0.6f, 0.0f}, {0.0f, 0.6f, 0.0f}, {0.8f, 0.6f, 0.0f}};
    for (int frame = 0; frame < 2; ++frame) {
        drawFrame(*canvas);
        SCOPED_TRACE(frame);
        EXPECT_TRUE(near(colourAt(*canvas, -0.5f, -0.5f), red));
        EXPECT_TRUE(near(colourAt(*canvas, 0.5f, -0.5f), red));
        EXPECT_TRUE(near(colourAt(*canvas, -0.4f, 0.6f, qvOverlayLineDepth), routeBlue));
        EXPECT_TRUE(near(colourAt(*canvas, 0.8f, 0.6f), cursorRed));
    }
    EXPECT_EQ(canvas->cursorCoords, (std::vector<float>{0.8f, 0.6f, 0.0f}));
    // The face shows its texture around the overlay, not the clear colour.
    const Rgb face = colourAt(*canvas, 0.0f, -0.2f);
    EXPECT_GT(face[0] + face[1] + face[2], 30);

    // The scene's Clear empties the route: the cursor stays where it was.
    canvas->lineVertices.clear();
    canvas->pointCoords.clear();
    drawFrame(*canvas);
    EXPECT_TRUE(near(colourAt(*canvas, 0.8f, 0.6f), cursorRed));
    EXPECT_FALSE(near(colourAt(*canvas, -0.5f, -0.5f), red));
}

TEST_F(CanvasDraw, ALentFaceTextureShowsAndOutlivesTheCanvas)
{
    // A 1 x 1 green picture, owned here as the scene owns the monitor faces.
    QvTexture green = QvTexture::create();
    const std::uint8_t pixel[4] = {0, 255, 0, 255};
    glBindTexture(GL_TEXTURE_2D, green.get());
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glBindTexture(GL_TEXTURE_2D, 0);
    const std::int64_t texturesBefore = qvLiveGLObjects(QvGLObjectKind::texture);
    {
        auto canvas = makeCanvas();
        EXPECT_EQ(qvLiveGLObjects(QvGLObjectKind::texture), texturesBefore + 1) << "its default face";
        canvas->setTexture(&green);
        drawFrame(*canvas);
        const Rgb face = colourAt(*canvas, 0.0f, -0.2f);
        EXPECT_GT(face[1], face[0] + 30);
        EXPECT_GT(face[1], face[2] + 30);
    }
    // The canvas gave back its default face and left the lent one alone.
    EXPECT_EQ(qvLiveGLObjects(QvGLObjectKind::texture), texturesBefore);
    EXPECT_EQ(glIsTexture(green.get()), GL_TRUE);

    // Lent at construction, the face spares the canvas its default picture:
    // no texture of its own and none of the loader's lines.
    {
        testing::internal::CaptureStdout();
        QvCanvas canvas("QvModel_MouseSpeedCanvas", nullptr, *camera, &green);
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  "\x1b[01;31m CREATING CANVAS QvModel_MouseSpeedCanvas \x1b[0m \n");
        EXPECT_EQ(qvLiveGLObjects(QvGLObjectKind::texture), texturesBefore);
        canvas.shader = &textureLight;
        canvas.setSize(20.0f, 20.0f, 1.0f);
        canvas.transform->setScaling(0.1f, 0.1f, 0.1f);
        drawFrame(canvas);
        const Rgb face = colourAt(canvas, 0.0f, -0.2f);
        EXPECT_GT(face[1], face[0] + 30);
    }
    EXPECT_EQ(glIsTexture(green.get()), GL_TRUE);
}

TEST_F(CanvasDraw, NoCursorBeforeTheRouteAndStopsKeepTheirFirstPoint)
{
    auto canvas = makeCanvas("QvModel_StopsCanvas");
    drawFrame(*canvas);
    EXPECT_EQ(pixelsNear(cursorRed), 0);
    EXPECT_EQ(pixelsNear(red), 0);

    // Stops arrive frame by frame while the route moves on: the first stop
    // stays a stop, the cursor is at the route's end.
    canvas->pointCoords = {-0.6f, -0.6f, 0.0f};
    canvas->lineVertices = {{0.2f, 0.2f, 0.0f}};
    drawFrame(*canvas);
    for (int frame = 0; frame < 3; ++frame) {
        canvas->pointCoords.insert(canvas->pointCoords.end(), {0.3f * frame - 0.3f, -0.2f, 0.0f});
        canvas->lineVertices.push_back({0.2f + 0.1f * frame, 0.3f, 0.0f});
        drawFrame(*canvas);
    }
    EXPECT_TRUE(near(colourAt(*canvas, -0.6f, -0.6f), red));
    EXPECT_TRUE(near(colourAt(*canvas, 0.0f, -0.2f), red));
    EXPECT_TRUE(near(colourAt(*canvas, 0.4f, 0.3f), cursorRed));
    EXPECT_FALSE(near(colourAt(*canvas, 0.2f, 0.2f), cursorRed));
}

TEST_F(CanvasDraw, EachFrameSendsOnlyWhatTheListsGained)
{
    auto canvas = makeCanvas();
    for (int i = 0; i < 1000; ++i) canvas->lineVertices.push_back({i / 1000.0f, 0.0f, 0.0f});
    canvas->pointCoords = {0.1f, 0.1f, 0.0f};
    drawFrame(*canvas);
    const size_t vertex = 3 * sizeof(float);
    EXPECT_EQ(canvas->overlayBytesLastFrame(), 1000 * vertex + vertex + vertex);  // route, stop, cursor

    drawFrame(*canvas);
    EXPECT_EQ(canvas->overlayBytesLastFrame(), 0u);  // steady state

    canvas->lineVertices.push_back({0.5f, 0.5f, 0.0f});
    drawFrame(*canvas);
    EXPECT_EQ(canvas->overlayBytesLastFrame(), vertex + vertex);  // the new vertex and the moved cursor

    // Cleared and refilled within one frame: sent again from the start.
    canvas->lineVertices.assign(1001, {-0.5f, -0.5f, 0.0f});
    canvas->lineVertices.push_back({-0.5f, 0.5f, 0.0f});
    drawFrame(*canvas);
    EXPECT_EQ(canvas->overlayBytesLastFrame(), 1002 * vertex + vertex);
    EXPECT_TRUE(near(colourAt(*canvas, -0.5f, 0.0f, qvOverlayLineDepth), routeBlue));

    // Moved in the middle, or emptied and refilled with the same length and
    // ends: the whole route again.
    canvas->lineVertices.set(500, {0.3f, -0.6f, 0.0f});
    drawFrame(*canvas);
    EXPECT_EQ(routeBuffer(*canvas, 1002), canvas->lineVertices.view());
    const std::vector<glm::vec3> before = canvas->lineVertices;
    canvas->lineVertices.clear();
    for (size_t i = 0; i < before.size(); ++i)
        canvas->lineVertices.push_back(i == 1 ? glm::vec3(0.3f) : before[i]);
    drawFrame(*canvas);
    EXPECT_EQ(routeBuffer(*canvas, 1002), canvas->lineVertices.view());
}

TEST_F(CanvasDraw, OutOfViewFramesLeaveTheSameFieldsAsInView)
{
    // The same canvas seen by the test's camera and by one looking away.
    auto seen = makeCanvas();
    auto unseen = makeCanvas();
    auto away = materialfixtures::frontCamera(kViewSize, kViewSize, {0.0f, 0.0f, 5.0f}, {0.0f, 0.0f, 1.0f});
    ASSERT_FALSE(qvBoxMayBeInView(away->getProjectionMatrix() * away->getCameraMatrix() *
                                      unseen->transform->getMatrix(),
                                  unseen->vertices, qvBoxFloatsPerVertex));
    seen->rotating = unseen->rotating = true;

    const auto frame = [&](double t) {
        camera->frameTime = away->frameTime = t;
        drawFrame(*seen);
        controlfixtures::clearAll();
        unseen->draw(*away);
        ASSERT_EQ(glGetError(), GLenum(GL_NO_ERROR));
        EXPECT_EQ(unseen->cursorCoords, seen->cursorCoords.view());
        EXPECT_EQ(unseen->currentColor, seen->currentColor);
        EXPECT_EQ(unseen->backgroundColor, seen->backgroundColor);
        EXPECT_EQ(unseen->lastTime, seen->lastTime);
        EXPECT_EQ(unseen->transform->getMatrix(), seen->transform->getMatrix());
    };
    for (QvCanvas* c : {seen.get(), unseen.get()}) {
        c->lineVertices = {{-0.5f, 0.5f, 0.0f}, {0.2f, 0.1f, 0.0f}};
        c->pointCoords = {0.1f, 0.1f, 0.0f};
    }
    frame(0.25);
    for (QvCanvas* c : {seen.get(), unseen.get()}) c->lineVertices.clear();  // the cursor stays where it was
    frame(0.5);
    EXPECT_EQ(seen->cursorCoords, (std::vector<float>{0.2f, 0.1f, 0.0f}));
    EXPECT_EQ(seen->currentColor, seen->trianglesColor);

    // Without a program the canvas still turns with the frame time.
    auto bare = makeCanvas();
    bare->shader = nullptr;
    bare->rotating = true;
    camera->frameTime = 0.5;
    drawFrame(*bare);
    EXPECT_NEAR(bare->transform->getMatrix()[0][0], 0.1f * std::cos(0.5f), 1e-5);
}

TEST_F(CanvasDraw, RoutePastTheFirstCapacityGrowsItsBufferAndKeepsDrawing)
{
    auto canvas = makeCanvas();
    // A million vertices parked in one corner, then a stroke across the middle.
    canvas->lineVertices.assign(1'000'000, {-0.9f, -0.9f, 0.0f});
    drawFrame(*canvas);
    EXPECT_EQ(canvas->lineLayer.capacity(), qvOverlayCapacityBytes);
    for (int i = 0; i <= 100; ++i) canvas->lineVertices.push_back({0.5f, -0.5f + i / 100.0f, 0.0f});
    drawFrame(*canvas);
    EXPECT_GT(canvas->lineLayer.capacity(), qvOverlayCapacityBytes);

    GLint bufferBytes = 0;
    glBindBuffer(GL_ARRAY_BUFFER, canvas->lineLayer.vbo.get());
    glGetBufferParameteriv(GL_ARRAY_BUFFER, GL_BUFFER_SIZE, &bufferBytes);
    EXPECT_GE(size_t(bufferBytes), canvas->lineVertices.size() * sizeof(glm::vec3));
    // The contents survived the growth: first and last vertex read back.
    glm::vec3 first, last;
    glGetBufferSubData(GL_ARRAY_BUFFER, 0, sizeof first, &first);
    glGetBufferSubData(GL_ARRAY_BUFFER, GLintptr((canvas->lineVertices.size() - 1) * sizeof last),
                       sizeof last, &last);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    EXPECT_EQ(first, glm::vec3(-0.9f, -0.9f, 0.0f));
    EXPECT_EQ(last, glm::vec3(0.5f, 0.5f, 0.0f));
    EXPECT_TRUE(near(colourAt(*canvas, 0.5f, 0.0f, qvOverlayLineDepth), routeBlue));

    // The next frame is back to sending nothing.
    drawFrame(*canvas);
    EXPECT_EQ(canvas->overlayBytesLastFrame(), 0u);
}

TEST_F(CanvasDraw, EachOverlayBufferIsMadeOnceWhenItsListFirstHoldsSomething)
{
    auto canvas = makeCanvas();
    const auto liveBuffers = [] { return qvLiveGLObjects(QvGLObjectKind::buffer); };
    const std::int64_t afterSetSize = liveBuffers();
    drawFrame(*canvas);
    EXPECT_EQ(liveBuffers(), afterSetSize) << "nothing to plot yet";
    EXPECT_FALSE(canvas->lineLayer.vbo);

    canvas->lineVertices = {{-0.8f, 0.6f, 0.0f}, {0.8f, 0.6f, 0.0f}};
    drawFrame(*canvas);
    EXPECT_EQ(liveBuffers(), afterSetSize + 2) << "the route's and the cursor's";
    EXPECT_EQ(canvas->lineLayer.capacity(), qvOverlayCapacityBytes);
    EXPECT_FALSE(canvas->pointLayer.vbo);
    EXPECT_FALSE(canvas->circleLayer.vbo);
    EXPECT_TRUE(near(colourAt(*canvas, -0.4f, 0.6f, qvOverlayLineDepth), routeBlue));

    // Later frames, a cleared and refilled route and a first stop make no
    // second route buffer.
    const GLuint route = canvas->lineLayer.vbo.get();
    const std::int64_t made = qvCreatedGLObjects();
    canvas->lineVertices.push_back({0.0f, 0.0f, 0.0f});
    drawFrame(*canvas);
    canvas->lineVertices.assign(3, {0.5f, 0.5f, 0.0f});
    canvas->pointCoords = {-0.5f, -0.5f, 0.0f};
    drawFrame(*canvas);
    drawFrame(*canvas);
    EXPECT_EQ(canvas->lineLayer.vbo.get(), route);
    EXPECT_EQ(qvCreatedGLObjects(), made + 2) << "only the stops' vertex array and buffer";
    EXPECT_TRUE(near(colourAt(*canvas, -0.5f, -0.5f), red));

    // A canvas without its overlay never pays for the buffers.
    auto info = makeCanvas("QvModel_InfoCanvas");
    info->drawOverlay = false;
    info->lineVertices = canvas->lineVertices;
    info->pointCoords = canvas->pointCoords;
    const std::int64_t infoBuffers = liveBuffers();
    drawFrame(*info);
    EXPECT_EQ(liveBuffers(), infoBuffers);
}

TEST_F(CanvasDraw, ClickedPolygonTriangulatesIntoTheTriangleLayer)
{
    auto canvas = makeCanvas();
    drawFrame(*canvas);  // before any triangulation: no triangles
    EXPECT_EQ(pixelsNear(triangleYellow), 0);

    canvas->polygonMode = true;
    for (auto [x, y] : {std::pair{-0.5f, -0.5f}, {0.5f, -0.5f}, {0.5f, 0.5f}, {-0.5f, 0.5f}})
        click(*canvas, x, y);
    EXPECT_TRUE(canvas->focused);
    EXPECT_EQ(canvas->pointCoords.size(), 12u);
    canvas->triangulationSPAR();  // nothing closed yet: nothing happens
    EXPECT_FALSE(canvas->trianglesVao);
    canvas->closePolygon();
    canvas->triangulationSPAR();
    drawFrame(*canvas);
    EXPECT_TRUE(near(colourAt(*canvas, 0.0f, 0.0f, qvOverlayLineDepth), triangleYellow));
    EXPECT_TRUE(near(colourAt(*canvas, -0.2f, 0.3f, qvOverlayLineDepth), triangleYellow));
    EXPECT_FALSE(near(colourAt(*canvas, 0.8f, -0.8f, qvOverlayLineDepth), triangleYellow));

    // No Delaunay run made normals: the normal buffer still has one a corner.
    GLint normalBytes = 0;
    glBindBuffer(GL_ARRAY_BUFFER, canvas->normalsVbo.get());
    glGetBufferParameteriv(GL_ARRAY_BUFFER, GL_BUFFER_SIZE, &normalBytes);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    EXPECT_TRUE(canvas->triangleNormals.empty());
    EXPECT_EQ(size_t(normalBytes), canvas->triangleVertices.size() * sizeof(glm::vec3));

    // A second triangulation replaces the layer's objects instead of adding.
    const std::int64_t live = qvLiveGLObjects();
    canvas->triangulationTDBE();
    EXPECT_EQ(qvLiveGLObjects(), live);
    // Wireframe draws outlines: the middle of a triangle is not filled.
    canvas->wireframe = true;
    drawFrame(*canvas);
    EXPECT_LT(pixelsNear(triangleYellow), 400);
    EXPECT_GT(pixelsNear(triangleYellow), 20);
    GLint mode[2] = {0, 0};
    glGetIntegerv(GL_POLYGON_MODE, mode);
    EXPECT_EQ(mode[0], GL_FILL);
}

TEST_F(CanvasDraw, DelaunayOfClicksWritesItsOBJFileAndDraws)
{
    const auto path = testsupport::tempPath("canvas");
    auto canvas = makeCanvas(path.string());
    for (auto [x, y] : {std::pair{-0.6f, -0.6f}, {0.6f, -0.6f}, {0.0f, 0.7f}, {0.1f, -0.1f}})
        click(*canvas, x, y);
    testing::internal::CaptureStdout();
    canvas->triangulationDeloneSIA();
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("\x1b[01;31m triangleVertices.length: 9 \x1b[0m \n"), std::string::npos);
    EXPECT_NE(printed.find("\x1b[01;31m triangleNormals.length: 9 \x1b[0m \n"), std::string::npos);
    EXPECT_TRUE(canvas->pointCoords.empty());
    EXPECT_EQ(canvas->delaunayPoints.size(), 4u);

    std::ifstream file(path.string() + ".obj");
    std::string line;
    int vertexLines = 0, normalLines = 0, faceLines = 0;
    while (std::getline(file, line)) {
        vertexLines += line.rfind("v ", 0) == 0;
        normalLines += line.rfind("vn ", 0) == 0;
        faceLines += line.rfind("f ", 0) == 0;
    }
    std::filesystem::remove(path.string() + ".obj");
    EXPECT_EQ(vertexLines, 9);
    EXPECT_EQ(normalLines, 3);
    EXPECT_EQ(faceLines, 3);
    drawFrame(*canvas);
    EXPECT_TRUE(near(colourAt(*canvas, 0.0f, 0.0f, qvOverlayLineDepth), triangleYellow));
}

TEST_F(CanvasDraw, RotationFollowsFrameTimeAndTheInfoCanvasShowsNoOverlay)
{
    auto canvas = makeCanvas("QvModel_InfoCanvas");
    canvas->rotating = true;
    camera->frameTime = 0.5;
    drawFrame(*canvas);
    const glm::mat4 m = canvas->transform->getMatrix();
    EXPECT_NEAR(m[0][0], 0.1f * std::cos(0.5f), 1e-5);  // turned by the whole time since start
    EXPECT_DOUBLE_EQ(canvas->lastTime, 0.5);

    canvas->rotating = false;
    canvas->drawOverlay = false;
    canvas->pointCoords = {0.0f, 0.0f, 0.0f};
    camera->frameTime = 0.75;
    drawFrame(*canvas);
    EXPECT_EQ(pixelsNear(red), 0);
    EXPECT_DOUBLE_EQ(canvas->lastTime, 0.75);
}
