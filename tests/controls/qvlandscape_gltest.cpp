// The landscape with its images and buffers: the default grid's size on the
// GPU, the brush at the grid's edge and in its middle, the textures it owns,
// and a terrain that survives a clear.
#include "controlfixtures.h"

#include "controls/qvlandscape.h"
#include "controls/qvlandscapemodel.h"
#include "engine/core/qvtransform.h"

using controlfixtures::kViewSize;

namespace {

class LandscapeDraw : public controlfixtures::ControlDraw {
protected:
    QvShader textureLight = controlfixtures::shipped("textureLight");

    std::unique_ptr<QvLandscape> makeLandscape()
    {
        testing::internal::CaptureStdout();
        auto landscape = std::make_unique<QvLandscape>("QvModel_Landscape", *camera);
        landscape->shader = &textureLight;
        landscape->setSize(2.0f, 1.0f, 0.1f);
        landscape->generateDefaultLandscape(1024, 768);
        printed = testing::internal::GetCapturedStdout();
        return landscape;
    }

    void drawFrame(QvLandscape& landscape)
    {
        controlfixtures::clearAll();
        landscape.draw(*camera);
        ASSERT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    }

    static GLint bufferBytes(const QvBuffer& buffer)
    {
        GLint bytes = 0;
        glBindBuffer(GL_ARRAY_BUFFER, buffer.get());
        glGetBufferParameteriv(GL_ARRAY_BUFFER, GL_BUFFER_SIZE, &bytes);
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        return bytes;
    }

    std::string printed;
};

}  // namespace

TEST_F(LandscapeDraw, DefaultGridFillsBuffersSizedToIt)
{
    const std::int64_t texturesBefore = qvLiveGLObjects(QvGLObjectKind::texture);
    auto landscape = makeLandscape();
    EXPECT_EQ(landscape->triangleVertices.size(), 240000u);
    EXPECT_EQ(landscape->aabb->getBoxTriangles().size(), 80000u);
    EXPECT_NE(printed.find("\x1b[01;31m aspectRatio = 5 \x1b[0m \n"), std::string::npos);
    EXPECT_NE(printed.find("\x1b[01;31m triangleVertices.length: 240000 \x1b[0m \n"), std::string::npos);
    EXPECT_GT(landscape->basePixels.size(), 0u);
    EXPECT_GT(landscape->grassPixels.size(), 0u);

    drawFrame(*landscape);
    // Room for the mesh, not for a hundred million vertices.
    EXPECT_EQ(bufferBytes(landscape->trianglesVbo), GLint(240000 * sizeof(glm::vec3)));
    EXPECT_EQ(bufferBytes(landscape->texCoordsVbo), GLint(240000 * sizeof(glm::vec2)));
    const int lit = controlfixtures::countPixels(context, 0, 0, kViewSize, kViewSize,
                                                 [](int r, int g, int b) { return r + g + b > 30; });
    EXPECT_GT(lit, 700);  // the 1 x 1 terrain, 5.55 units away: about 28 x 28 pixels

    // One texture of its own, the grass picture; a new one replaces it.
    EXPECT_EQ(qvLiveGLObjects(QvGLObjectKind::texture), texturesBefore + 1);
    testing::internal::CaptureStdout();
    landscape->setLandscapeTexture("textures/grass.jpg");
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(qvLiveGLObjects(QvGLObjectKind::texture), texturesBefore + 1);
}

TEST_F(LandscapeDraw, PloughAtTheGridsCornerWrapsAndSkipsOutsideCells)
{
    auto landscape = makeLandscape();
    landscape->switchShading();  // plough
    EXPECT_EQ(landscape->light, &landscape->farLight);
    landscape->rebuild(0, 0, 100000);
    const auto& v = landscape->triangleVertices;
    EXPECT_EQ(v[0].z, 0.0f);       // the centre, index 0, is outside the range
    EXPECT_EQ(v[6].z, 289.0f);     // row 0, column 1: its upper-left grid point
    EXPECT_EQ(v[1194].z, 289.0f);  // (-1, +1) wraps to row 0, column 199
    EXPECT_EQ(v[12].z, 196.0f);    // (+2, 0)
    size_t raised = 0;
    for (const glm::vec3& p : v) raised += p.z != 0.0f;
    EXPECT_EQ(raised % 6, 0u);  // whole grid points only

    // Lowering instead with the direction switched.
    auto lowered = makeLandscape();
    lowered->switchShading();
    lowered->switchDirection();
    lowered->rebuild(0, 0, 100000);
    EXPECT_EQ(lowered->triangleVertices[6].z, -289.0f);
    drawFrame(*lowered);
}

TEST_F(LandscapeDraw, TillPaintsGrassAndTheTerrainSurvivesAClear)
{
    auto landscape = makeLandscape();
    const auto before = landscape->basePixels;
    landscape->rebuild(512, 384, 1000);  // the middle of the display, till
    EXPECT_NE(landscape->basePixels, before);
    const std::int64_t centre = qvBrushCentreIndex(512, 384, 5.12f, 3.84f, 200);
    EXPECT_FLOAT_EQ(landscape->triangleVertices[size_t(centre)].z, 4.0f);  // 400 hundred-thousandths of 1000
    drawFrame(*landscape);

    // A brush near the image's top edge moves heights but paints nothing.
    const auto painted = landscape->basePixels;
    landscape->rebuild(512, 5, 1000);
    EXPECT_EQ(landscape->basePixels, painted);

    // After a clear the lists are shorter than the grid: the brush writes
    // nothing, the draw shows nothing, nothing breaks.
    landscape->clear();
    landscape->rebuild(512, 384, 1000);
    EXPECT_TRUE(landscape->triangleVertices.empty());
    drawFrame(*landscape);
    landscape->generateDefaultLandscape(1024, 768);
    EXPECT_EQ(landscape->triangleVertices.size(), 240000u);
    EXPECT_EQ(landscape->triangleNormals.size(), 480000u);  // the old ones stay at the head
    drawFrame(*landscape);
}
