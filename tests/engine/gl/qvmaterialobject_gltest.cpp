// Material objects, lines and the sky drawn into a real framebuffer and read back.
#include "tempfiles.h"
#include "glcontext.h"
#include "materialfixtures.h"
#include "engine/gl/qvmaterial.h"
#include "engine/gl/qvskybox.h"

#include <gtest/gtest.h>
#include <FreeImage.h>
#include <cmath>
#include <filesystem>
#include <glm/gtc/matrix_transform.hpp>

using materialfixtures::TestBox;

namespace {

constexpr int size = 64;

void clearToBlack()
{
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
}

int channel(float value)
{
    return static_cast<int>(std::lround(value * 255.0f));
}

void expectColour(const std::array<uint8_t, 4>& pixel, glm::vec3 expected, int tolerance = 2)
{
    EXPECT_NEAR(pixel[0], channel(expected.r), tolerance);
    EXPECT_NEAR(pixel[1], channel(expected.g), tolerance);
    EXPECT_NEAR(pixel[2], channel(expected.b), tolerance);
}

// One of the shipped programs, from the #version 330 set unless named.
QvShader shipped(const char* name, const std::string& directory = "3.3")
{
    const std::string base = "shaders/" + directory + "/" + name;
    return QvShader(base + ".vert", base + ".frag");
}

// The 2 x 2 x 2 test box drawn with `shader`, its buffers made.
void prepare(TestBox& box, QvShader& shader)
{
    box.shader = &shader;
    box.build(2.0f, 2.0f, 2.0f);
    box.initBuffers();
}

// The context, the flat program and the front camera every drawing test uses.
class MaterialObjectDraw : public testing::Test {
protected:
    testsupport::GlContext context{size, size};
    QvShader flat = shipped("default");
    std::unique_ptr<Camera> camera = materialfixtures::frontCamera(size, size);
};
using LineDraw = MaterialObjectDraw;

}  // namespace

TEST_F(MaterialObjectDraw, BoxShowsItsColourAndTheWireBoxLeavesItUnchanged)
{
    TestBox box("QvModel_Box");
    prepare(box, flat);
    box.setColor({0.8f, 0.2f, 0.4f, 1.0f});

    clearToBlack();
    box.draw(*camera);
    expectColour(context.pixel(size / 2, size / 2), {0.8f, 0.2f, 0.4f});
    expectColour(context.pixel(1, 1), {0.0f, 0.0f, 0.0f});

    // Wire box only: its colour appears on the screen, not on the object.
    box.fill = false;
    box.drawAABB = true;
    clearToBlack();
    box.draw(*camera);
    int wirePixels = 0;
    const auto pixels = context.pixels();
    for (size_t i = 0; i < pixels.size(); i += 4) {
        if (std::abs(pixels[i] - 128) <= 2 && std::abs(pixels[i + 2] - 179) <= 2) ++wirePixels;
    }
    EXPECT_GT(wirePixels, 20);
    EXPECT_EQ(box.currentColor, glm::vec4(0.8f, 0.2f, 0.4f, 1.0f));
    EXPECT_TRUE(box.mcp.projection == camera->getProjectionMatrix());
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(MaterialObjectDraw, LitFaceFollowsTheAngleOfTheLightInBothShaderSets)
{
    QvLight light;
    light.lightSpecs.ambient = glm::vec3(0.2f);
    light.lightSpecs.diffuse = glm::vec3(0.8f);
    light.lightSpecs.specular = glm::vec3(0.0f);
    // Seen from the centre of the front face (0, 0, 1), the light is 60 degrees
    // off the face normal: diffuse 0.8 x cos 60 = 0.4, plus ambient 0.2.
    light.transform->setTranslation(0.0f, 10.0f * std::sin(1.0471976f), 1.0f + 10.0f * std::cos(1.0471976f));
    for (const char* directory : {"3.3", "3.1"}) {
        QvShader lit = shipped("light", directory);
        TestBox box("QvModel_Lit");
        prepare(box, lit);
        box.addLight(&light);
        box.setColor({1.0f, 0.5f, 0.25f, 1.0f});
        glVertexAttrib3f(1, 0.0f, 0.0f, 1.0f);  // the face normal, towards the viewer

        clearToBlack();
        box.draw(*camera);
        SCOPED_TRACE(directory);
        expectColour(context.pixel(size / 2, size / 2), glm::vec3(1.0f, 0.5f, 0.25f) * 0.6f, 4);

        // Without any light terms the program shows the plain colour.
        box.light = nullptr;
        QvShader fresh = shipped("light", directory);
        box.shader = &fresh;
        clearToBlack();
        box.draw(*camera);
        expectColour(context.pixel(size / 2, size / 2), {1.0f, 0.5f, 0.25f});
    }
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(MaterialObjectDraw, NormalsAreDrawnGreenWithoutRecolouringTheObject)
{
    TestBox box("QvModel_Box");
    prepare(box, flat);
    const glm::vec4 colour = box.color;

    clearToBlack();
    box.drawNormals(*camera);  // nothing yet: no segments
    expectColour(context.pixel(size / 2, size / 2), {0.0f, 0.0f, 0.0f});

    // One segment straight across the view, at the box's depth.
    box.normals = {-2.0f, 0.0f, 0.0f, 2.0f, 0.0f, 0.0f};
    box.drawNormals(*camera);
    bool green = false;
    for (int y = size / 2 - 1; y <= size / 2; ++y) {
        const auto p = context.pixel(size / 2, y);
        green = green || (p[1] > 200 && p[0] < 30 && p[2] < 30);
    }
    EXPECT_TRUE(green);
    EXPECT_EQ(box.color, colour);
    EXPECT_EQ(box.currentColor, colour);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

// Drawing before the buffers exist, or without a box, must not draw with
// vertex array 0 (stale state) or raise a GL error.
TEST_F(MaterialObjectDraw, MissingBoxOrBuffersDrawNothing)
{
    TestBox box("QvModel_Empty");
    box.shader = &flat;
    box.fill = false;
    box.drawAABB = true;
    box.normals = {-2.0f, 0.0f, 0.0f, 2.0f, 0.0f, 0.0f};
    clearToBlack();
    box.drawNormals(*camera);  // no line buffer yet
    box.initBuffers();         // no box: only the line buffers
    EXPECT_EQ(box.aabbVAO.get(), 0u);
    EXPECT_NE(box.lineVAO.get(), 0u);
    box.draw(*camera);
    for (const std::uint8_t value : context.pixels()) {
        EXPECT_TRUE(value == 0 || value == 255) << int(value);  // black, alpha 255
    }
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(LineDraw, GreenSegmentAndLineWidthBackToOne)
{
    Line line(*camera, flat);
    line.setPosition({-3.0f, 0.0f, 0.0f}, {3.0f, 0.0f, 0.0f});
    glEnable(GL_DEPTH_TEST);
    clearToBlack();
    line.draw();
    glDisable(GL_DEPTH_TEST);
    expectColour(context.pixel(10, size / 2), {0.0f, 1.0f, 0.0f});
    expectColour(context.pixel(10, size / 2 + 6), {0.0f, 0.0f, 0.0f});
    GLfloat width = 0.0f;
    glGetFloatv(GL_LINE_WIDTH, &width);
    EXPECT_EQ(width, 1.0f);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

namespace {

// A run directory of its own whose six sky faces are solid colours.
class SkyFixture : public testing::Test {
protected:
    void SetUp() override
    {
        original = std::filesystem::current_path();
        directory = testsupport::tempPath("sky");
        std::filesystem::create_directories(directory / "skybox/art");
        const char* names[] = {"right", "left", "top", "bottom", "front", "back"};
        for (int i = 0; i < 6; ++i) {
            FIBITMAP* bitmap = FreeImage_Allocate(16, 16, 24);
            RGBQUAD colour{static_cast<BYTE>(faceColours[i].b), static_cast<BYTE>(faceColours[i].g),
                           static_cast<BYTE>(faceColours[i].r), 0};
            FreeImage_FillBackground(bitmap, &colour, 0);
            const auto path = directory / "skybox/art" / (std::string(names[i]) + ".jpg");
            FreeImage_Save(FIF_JPEG, bitmap, path.c_str(), JPEG_QUALITYSUPERB);
            FreeImage_Unload(bitmap);
        }
    }
    void TearDown() override { std::filesystem::current_path(original); }

    std::unique_ptr<QvSkybox> makeSky()
    {
        std::filesystem::current_path(directory);
        auto sky = std::make_unique<QvSkybox>("Skybox", skyShader);
        std::filesystem::current_path(original);
        return sky;
    }

    struct Colour {
        int r, g, b;
    };
    static void expectFace(const std::array<uint8_t, 4>& pixel, Colour c)
    {
        EXPECT_NEAR(pixel[0], c.r, 6);
        EXPECT_NEAR(pixel[1], c.g, 6);
        EXPECT_NEAR(pixel[2], c.b, 6);
    }

    testsupport::GlContext context{size, size};
    QvShader skyShader = shipped("skybox");
    // +X, -X, +Y, -Y, +Z, -Z
    const Colour faceColours[6] = {{220, 40, 40},  {40, 220, 40},  {40, 40, 220},
                                   {220, 220, 40}, {40, 220, 220}, {220, 40, 220}};
    std::filesystem::path original;
    std::filesystem::path directory;
};

}  // namespace

TEST_F(SkyFixture, EachDirectionShowsItsFaceAndMovingDoesNotChangeTheSky)
{
    auto sky = makeSky();
    glEnable(GL_DEPTH_TEST);
    const struct {
        glm::vec3 target;
        int face;
    } views[] = {{{1, 0, 0}, 0}, {{-1, 0, 0}, 1}, {{0, 0, 1}, 4}, {{0, 0, -1}, 5}};
    for (const auto& view : views) {
        for (const glm::vec3& position : {glm::vec3(0.0f), glm::vec3(40.0f, -7.0f, 12.0f)}) {
            auto camera = materialfixtures::frontCamera(size, size, position, view.target);
            clearToBlack();
            sky->draw(*camera);
            expectFace(context.pixel(size / 2, size / 2), faceColours[view.face]);
        }
    }
    // Drawn again over itself with LEQUAL: the same picture, nothing accumulates.
    auto camera = materialfixtures::frontCamera(size, size);
    sky->draw(*camera);
    expectFace(context.pixel(size / 2, size / 2), faceColours[5]);
    GLint depthFunction = 0;
    glGetIntegerv(GL_DEPTH_FUNC, &depthFunction);
    EXPECT_EQ(depthFunction, GL_LEQUAL);
    glDisable(GL_DEPTH_TEST);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(SkyFixture, MissingFaceIsReportedNotSwallowed)
{
    std::filesystem::remove(directory / "skybox/art/top.jpg");
    try {
        makeSky();
        FAIL() << "the sky must not start without a face";
    } catch (const QvResourceError& error) {
        std::filesystem::current_path(original);
        EXPECT_NE(std::string(error.what()).find("skybox/art/top.jpg"), std::string::npos);
    }
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST(SkyboxDraw, TheGeneratedSkyIsBlueOverhead)
{
    testsupport::GlContext context(size, size);
    QvShader skyShader = shipped("skybox");
    QvSkybox sky("Skybox", skyShader);
    auto up = materialfixtures::frontCamera(size, size, glm::vec3(0.0f), {0.0f, 0.9f, -0.44f});
    clearToBlack();
    sky.draw(*up);
    const auto zenith = context.pixel(size / 2, size - 4);
    EXPECT_GT(zenith[2], zenith[0] + 40) << "blue overhead";
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

// Material object without a GL context: colour states, press and release
// scaling, picking through the stored matrices, and box maintenance.
using materialfixtures::TestBox;

namespace {

// A box of 2 x 2 x 2 that "was drawn" by a camera at (0, 0, 5): the picking
// matrices are what the last draw would have stored.
void placeInView(TestBox& box)
{
    box.build(2.0f, 2.0f, 2.0f);
    const auto camera = materialfixtures::frontCamera(100, 100);
    box.mcp.projection = camera->getProjectionMatrix();
    box.mcp.camera = camera->getCameraMatrix();
}

const glm::vec4 centre{0.0f, 0.0f, 0.0f, 0.0f};
const glm::vec4 corner{0.95f, 0.95f, 0.0f, 0.0f};

}  // namespace

TEST(MaterialObjectPicking, ClickInsideTheOutlinePressesAndFiresOnce)
{
    TestBox box("QvModel_Box");
    placeInView(box);
    int presses = 0;
    *box.onMouseButtonPress += [&](QvMaterialObject* sender, QvMouseEventArgs*) {
        EXPECT_EQ(sender, &box);
        ++presses;
    };
    QvMouseEventArgs args;
    EXPECT_FALSE(box.findIntersectsWithAABB(corner, &args));
    EXPECT_FALSE(box.pressed);
    EXPECT_EQ(box.mouseVector, corner);
    EXPECT_TRUE(box.findIntersectsWithAABB(centre, &args));
    EXPECT_TRUE(box.pressed);
    EXPECT_EQ(presses, 1);
    EXPECT_EQ(box.currentColor, box.pressedColor);
}

TEST(MaterialObjectPicking, NeverDrawnOrBoxlessObjectsAreNotHit)
{
    TestBox neverDrawn("QvModel_Box");
    neverDrawn.build(2.0f, 2.0f, 2.0f);  // NaN matrices until a draw
    QvMouseEventArgs args;
    EXPECT_FALSE(neverDrawn.findIntersectsWithAABB(centre, &args));
    TestBox boxless("QvModel_Empty");
    EXPECT_FALSE(boxless.findIntersectsWithAABB(centre, &args));
    EXPECT_EQ(boxless.mouseVector, centre);
}

TEST(MaterialObjectPressRelease, ReleaseRestoresExactlyTheScaleThePressFound)
{
    // A fresh transform: identity scaling matrix, stored scaling vector (0, 0, 0).
    TestBox box("QvModel_Box");
    placeInView(box);
    const glm::mat4 before = box.transform->getMatrix();
    QvMouseEventArgs args;
    ASSERT_TRUE(box.findIntersectsWithAABB(centre, &args));
    const glm::mat4 pressed = box.transform->getMatrix();
    EXPECT_NEAR(pressed[0][0], 1.0f / 1.2f, 1e-6f) << "shrunk, not collapsed";
    EXPECT_NEAR(pressed[1][1], 1.0f / 1.2f, 1e-6f);
    EXPECT_NEAR(pressed[2][2], 1.0f / 1.2f, 1e-6f);

    box.pressed = false;  // as the world's release handler does
    box.onMouseButtonRelease->opCall(&box, &args);
    EXPECT_TRUE(box.transform->getMatrix() == before);
    EXPECT_EQ(box.currentColor, box.color);
}

TEST(MaterialObjectPressRelease, ScaledAndParentedObjectsComeBackUnchanged)
{
    QvTransform parent;
    parent.setTranslation(1.0f, 2.0f, 3.0f);
    TestBox box("QvModel_Child");
    QvTransform placement(&parent);
    placement.setScaling(0.3f, 0.7f, 1.9f);
    placement.updateRelativeTransformation(&parent);
    box.setTransform(&placement);
    placeInView(box);
    const glm::mat4 before = placement.getMatrix();
    QvMouseEventArgs args;
    box.handlerMouseButtonPress(&box, &args);
    box.handlerMouseButtonPress(&box, &args);  // a second press does not shrink twice
    EXPECT_NEAR(placement.getScaling()[1][1], 0.7f / 1.2f, 1e-6f);
    box.handlerMouseButtonRelease(&box, &args);
    EXPECT_TRUE(placement.getMatrix() == before);
    box.handlerMouseButtonRelease(&box, &args);  // a stray release does not grow it
    EXPECT_TRUE(placement.getMatrix() == before);
}

// A control whose press does something else (as the monitor canvas does).
class NoShrinkBox : public TestBox {
public:
    using TestBox::TestBox;
    void handlerMouseButtonPress(QvMaterialObject*, QvMouseEventArgs*) override { focused = true; }
};

TEST(MaterialObjectPressRelease, ReleaseAfterAnOverriddenPressKeepsTheScale)
{
    NoShrinkBox box("QvModel_Canvas");
    placeInView(box);
    const glm::mat4 before = box.transform->getMatrix();
    QvMouseEventArgs args;
    ASSERT_TRUE(box.findIntersectsWithAABB(centre, &args));
    EXPECT_TRUE(box.focused) << "the override runs instead of the base handler";
    box.onMouseButtonRelease->opCall(&box, &args);
    EXPECT_TRUE(box.transform->getMatrix() == before);
}

TEST(MaterialObjectHover, HoverColourComesAndGoesWithTheCursor)
{
    TestBox box("QvModel_Box");
    placeInView(box);
    QvCursorEventArgs cursor;
    EXPECT_TRUE(box.findIntersectsWithAABBMouseMove(centre, &cursor));
    EXPECT_TRUE(box.hovered);
    EXPECT_EQ(box.currentColor, box.hoverColor);
    box.hovered = false;  // the world clears it before each cursor pass
    EXPECT_FALSE(box.findIntersectsWithAABBMouseMove(corner, &cursor));
    EXPECT_EQ(box.currentColor, box.color);

    // Hover, press, release: the normal colour, not the hover colour.
    QvMouseEventArgs args;
    box.findIntersectsWithAABBMouseMove(centre, &cursor);
    box.findIntersectsWithAABB(centre, &args);
    EXPECT_EQ(box.currentColor, box.pressedColor);
    box.hovered = false;
    box.findIntersectsWithAABBMouseMove(corner, &cursor);
    EXPECT_EQ(box.currentColor, box.pressedColor) << "leaving while pressed keeps the press";
    box.onMouseButtonRelease->opCall(&box, &args);
    EXPECT_EQ(box.currentColor, box.color);
}

TEST(MaterialObjectBox, NormalsArePerTriangleCentroidAndUnitNormal)
{
    TestBox box("QvModel_Box");
    box.build(2.0f, 4.0f, 6.0f);
    box.updateAABBboxNormals();
    ASSERT_EQ(box.normals.size(), 12u * 6u);
    // First triangle of the front face (vertices 6, 7, 8 of the 1.03 wire box):
    // corners (-1, -2, 3), (1, -2, 3), (1, 2, 3) scaled by 1.03.
    const float s = 1.03f;
    const float* front = &box.normals[2 * 6];
    EXPECT_NEAR(front[0], s * (1.0f / 3.0f), 1e-5f);
    EXPECT_NEAR(front[1], s * (-2.0f / 3.0f), 1e-5f);
    EXPECT_NEAR(front[2], s * 3.0f, 1e-5f);
    EXPECT_NEAR(front[5] - front[2], 1.0f, 1e-5f) << "unit normal towards +z";
    box.updateAABBboxNormals();
    EXPECT_EQ(box.normals.size(), 2u * 12u * 6u) << "appended, never cleared";
}

TEST(MaterialObjectBox, BoundsAndHeadingFollowTheModelMatrix)
{
    TestBox box("QvModel_Box");
    box.build(2.0f, 2.0f, 2.0f);
    box.transform->setTranslation(10.0f, 0.0f, 0.0f);
    box.transform->setRotation(0.0f, static_cast<float>(M_PI / 2), 0.0f);
    box.updateAABBbox();
    EXPECT_NEAR(box.aabb->minX, 10.0f - 1.03f, 1e-4f);
    EXPECT_NEAR(box.aabb->maxX, 10.0f + 1.03f, 1e-4f);
    // The heading is the box's local -z; a quarter turn about y takes it to -x.
    EXPECT_NEAR(box.aabb->direction.x, -1.0f, 1e-5f);
    EXPECT_NEAR(box.aabb->direction.z, 0.0f, 1e-5f);
    EXPECT_NEAR(glm::length(box.aabb->direction), 1.0f, 1e-6f);
    box.updateAABBbox();
    EXPECT_NEAR(box.aabb->previousDirection.x, -1.0f, 1e-5f);
}

TEST(MaterialObjectBox, AnObjectWithoutABoxIsLeftAlone)
{
    TestBox boxless("QvModel_Empty");
    const glm::mat4 before = boxless.transform->getMatrix();
    boxless.updateAABBbox();
    boxless.updateAABBboxNormals();
    boxless.updateCollisionWithTriangles();
    EXPECT_TRUE(boxless.normals.empty());
    EXPECT_FALSE(boxless.aabb);
    EXPECT_TRUE(boxless.transform->getMatrix() == before);
}

TEST(MaterialObjectLists, LinkedAndCollisionObjectsAreOneList)
{
    QvMaterialObject tile("QvModel_Cube"), ground("QvModel_Landscape"), wall("QvModel_Cube");
    tile.linkedObjects.push_back(&ground);
    tile.collisionObjects.push_back(&wall);
    ASSERT_EQ(tile.collisionObjects.size(), 2u);
    EXPECT_EQ(tile.collisionObjects.front(), &ground);
    EXPECT_EQ(&tile.linkedObjects, &tile.collisionObjects);
    EXPECT_TRUE(ground.linkedObjects.empty());
}
