// The landscape with its images and buffers: the default grid's size on the
// GPU, the brush at the grid's edge and in its middle, the textures it owns,
// and a terrain that survives a clear.
#include "controlfixtures.h"

#include "controls/qvlandscape.h"
#include "controls/qvlandscapemodel.h"
#include "engine/core/qvtransform.h"

#include <algorithm>
#include <limits>

using controlfixtures::kViewSize;

namespace {

class LandscapeDraw : public controlfixtures::ControlDraw {
protected:
    QvShader textureLight = controlfixtures::shipped("textureLight");

    std::unique_ptr<QvLandscape> makeLandscape(bool shaded = false)
    {
        testing::internal::CaptureStdout();
        auto landscape = std::make_unique<QvLandscape>("QvModel_Landscape", *camera);
        landscape->shader = &textureLight;
        if (shaded) landscape->switchShading();
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

    template <class T>
    static std::vector<T> bufferEntries(const QvBuffer& buffer, size_t count)
    {
        std::vector<T> entries(count);
        glBindBuffer(GL_ARRAY_BUFFER, buffer.get());
        glGetBufferSubData(GL_ARRAY_BUFFER, 0, GLsizeiptr(count * sizeof(T)), entries.data());
        return entries;
    }

    // The terrain texture's level 0 as RGBA.
    static std::vector<std::uint8_t> texturePixels(const QvLandscape& landscape)
    {
        GLint width = 0, height = 0;
        glBindTexture(GL_TEXTURE_2D, landscape.texture.get());
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &height);
        std::vector<std::uint8_t> pixels(4 * size_t(width) * size_t(height));
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
        return pixels;
    }

    std::string printed;
};

// The brush's strength at cell offset (dc, dr): a disc of radius sqrt(5)
// cells, 20^2 at the centre, 17^2 on the ring round it, 14^2 beyond.
int brushStrength(int dc, int dr)
{
    if (dc * dc + dr * dr > 5) return 0;
    const int ring = std::max(std::abs(dc), std::abs(dr));
    return ring == 0 ? 400 : ring == 1 ? 289 : 196;
}

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
    const std::int64_t centre = qvBrushCentreIndex(512, 384, 5.12f, 3.84f, 200).value();
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

TEST_F(LandscapeDraw, BrushMovesExactlyTheGridPointsWithinItsDisc)
{
    // Unit strength at cell (row 100, column 100); a cell's first entry is
    // its upper-left grid point, and each grid point has six entries.
    for (bool plough : {true, false}) {
        SCOPED_TRACE(plough ? "plough" : "till");
        auto landscape = makeLandscape(plough);
        landscape->rebuild(100 * 5.12 + 1.0, 100 * 3.84 + 1.0, 100000.0f);
        const auto& v = landscape->triangleVertices;
        for (int r = 0; r < 200; ++r)
            for (int c = 0; c < 200; ++c)
                ASSERT_EQ(v[size_t((r * 200 + c) * 6)].z, float(brushStrength(c - 100, r - 100)))
                    << "row " << r << " column " << c;
        EXPECT_EQ(std::count_if(v.begin(), v.end(), [](glm::vec3 p) { return p.z != 0.0f; }), 21 * 6);
    }
}

TEST_F(LandscapeDraw, PositionsBeyondAnyIntegerLeaveEverythingAsItWas)
{
    auto landscape = makeLandscape();
    const auto vertices = landscape->triangleVertices;
    const auto normals = landscape->triangleNormals;
    const auto base = landscape->basePixels;
    const auto shown = texturePixels(*landscape);
    const Triangle* collision = &landscape->aabb->getBoxTriangles().front();
    // 6e9 has a cell (of no grid) but no pixel in the 512-pixel pictures.
    const double inf = std::numeric_limits<double>::infinity();
    for (auto [x, y] : {std::pair{6e9, 384.0}, {-1e12, 384.0}, {512.0, 1e12}, {inf, 384.0}, {512.0, qvNaN}}) {
        SCOPED_TRACE(testing::Message() << x << ", " << y);
        for (bool plough : {false, true}) {
            if (plough != landscape->shading) landscape->switchShading();
            landscape->rebuild(x, y, 1000.0f);
            EXPECT_EQ(landscape->triangleVertices, vertices);
            EXPECT_EQ(landscape->triangleNormals, normals);
            EXPECT_EQ(landscape->basePixels, base);
            EXPECT_EQ(texturePixels(*landscape), shown);
            EXPECT_EQ(&landscape->aabb->getBoxTriangles().front(), collision);
        }
    }
}

TEST_F(LandscapeDraw, ShortNormalAndTextureListsArePaddedOnTheGPU)
{
    // Shaded normals and the texture coordinates reach the GPU, then both
    // lists are cut short: the rest face the viewer flat, at texel (0, 0).
    auto landscape = makeLandscape(true);
    drawFrame(*landscape);
    const size_t count = landscape->triangleVertices.size(), kept = 10;
    ASSERT_NE(landscape->triangleNormals[kept], glm::vec3(0.0f, 0.0f, -1.0f));
    ASSERT_NE(landscape->textureCoords[kept], glm::vec2(0.0f));
    landscape->triangleNormals.resize(kept);
    landscape->textureCoords.resize(kept);
    drawFrame(*landscape);

    std::vector<glm::vec3> normals = landscape->triangleNormals;
    std::vector<glm::vec2> coords = landscape->textureCoords;
    normals.resize(count, glm::vec3(0.0f, 0.0f, -1.0f));
    coords.resize(count, glm::vec2(0.0f));
    EXPECT_EQ(bufferEntries<glm::vec3>(landscape->normalsVbo, count), normals);
    EXPECT_EQ(bufferEntries<glm::vec2>(landscape->texCoordsVbo, count), coords);
}
