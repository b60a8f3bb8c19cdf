// Model uploads with a GL context: texture rows and orientation, mesh vertex
// attributes by stride, bone attributes, and the model shader programs.
#include "glcontext.h"
#include "qvmodel.h"
#include "qvshader.h"

#include <FreeImage.h>
#include <gtest/gtest.h>

#include <array>
#include <string>

namespace {

const std::string ModelDir = std::string(VELMORIN_TEST_DATA) + "/models/";

struct TextureImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;  // tightly packed, GL row 0 first

    std::array<int, 3> at(int x, int row) const
    {
        const std::uint8_t* p = &rgb[3 * (std::size_t(row) * width + x)];
        return {p[0], p[1], p[2]};
    }
};

TextureImage readTexture(GLuint texture)
{
    TextureImage image;
    glBindTexture(GL_TEXTURE_2D, texture);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &image.width);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &image.height);
    image.rgb.resize(std::size_t(3) * image.width * image.height);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    if (!image.rgb.empty())
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, image.rgb.data());
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    return image;
}

bool attributeEnabled(GLuint vao, GLuint location)
{
    glBindVertexArray(vao);
    GLint enabled = 0;
    glGetVertexAttribiv(location, GL_VERTEX_ATTRIB_ARRAY_ENABLED, &enabled);
    glBindVertexArray(0);
    return enabled != 0;
}

}  // namespace

TEST(ModelTexture, PictureTopRowBecomesTextureRowZero)
{
    testsupport::GlContext context;
    FIBITMAP* bitmap = loadImage(ModelDir + "checker.ppm");
    ASSERT_NE(bitmap, nullptr);
    const GLuint texture = loadTexture(bitmap);
    FreeImage_Unload(bitmap);

    const TextureImage image = readTexture(texture);
    ASSERT_EQ(image.width, 8);
    ASSERT_EQ(image.height, 8);
    // The picture's top half is red then green, its bottom half blue then white.
    EXPECT_EQ(image.at(0, 0), (std::array<int, 3>{255, 0, 0}));
    EXPECT_EQ(image.at(7, 0), (std::array<int, 3>{0, 255, 0}));
    EXPECT_EQ(image.at(0, 7), (std::array<int, 3>{0, 0, 255}));
    EXPECT_EQ(image.at(7, 7), (std::array<int, 3>{255, 255, 255}));
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST(ModelTexture, OddWidthRowsSurviveAnUnpackAlignmentOfOne)
{
    testsupport::GlContext context;
    // 5 x 2 pixels: 15 bytes a row, padded to 16 in the upload buffer.
    FIBITMAP* bitmap = FreeImage_Allocate(5, 2, 24);
    for (unsigned x = 0; x < 5; ++x) {
        RGBQUAD bottom{BYTE(10 * x), 0, 200, 0};  // blue, green, red
        RGBQUAD top{0, BYTE(40 * x), 0, 0};
        FreeImage_SetPixelColor(bitmap, x, 0, &bottom);
        FreeImage_SetPixelColor(bitmap, x, 1, &top);
    }
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);  // as the bitmap font leaves it
    const GLuint texture = loadTexture(bitmap);
    FreeImage_Unload(bitmap);

    GLint alignment = 0;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    EXPECT_EQ(alignment, 1);  // restored for whoever set it

    const TextureImage image = readTexture(texture);
    ASSERT_EQ(image.width, 5);
    for (int x = 0; x < 5; ++x) {
        EXPECT_EQ(image.at(x, 0), (std::array<int, 3>{0, 40 * x, 0})) << x;    // picture top
        EXPECT_EQ(image.at(x, 1), (std::array<int, 3>{200, 0, 10 * x})) << x;  // picture bottom
    }
}

TEST(ModelTexture, UnreadableFileGivesAnEmptyTexture)
{
    testsupport::GlContext context;
    EXPECT_EQ(loadImage(ModelDir + "no-such-picture.png"), nullptr);
    EXPECT_EQ(loadImage(ModelDir + "panel.unknownformat"), nullptr);
    const GLuint texture = loadTexture(nullptr);
    EXPECT_NE(texture, 0u);
    EXPECT_EQ(readTexture(texture).width, 0);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST(ModelMesh, AttributesFollowTheStride)
{
    testsupport::GlContext context;
    const QvModelFile file = readModelFile(ModelDir + "panel.obj");
    ASSERT_EQ(file.meshes.size(), 3u);
    const QvMesh& textured = file.meshes[0];
    const QvMesh& plain = file.meshes[2];
    Mesh full(textured.vertices, textured.positions, textured.indices, {}, textured.vertexStride);
    Mesh bare(plain.vertices, plain.positions, plain.indices, {}, plain.vertexStride);

    for (GLuint location = 0; location < 5; ++location)
        EXPECT_TRUE(attributeEnabled(full.VAO, location)) << location;
    for (GLuint location = 0; location < 3; ++location)
        EXPECT_TRUE(attributeEnabled(bare.VAO, location)) << location;
    // Tangent and bitangent would lie in the next vertex of an 8-float layout.
    EXPECT_FALSE(attributeEnabled(bare.VAO, 3));
    EXPECT_FALSE(attributeEnabled(bare.VAO, 4));
    EXPECT_FALSE(attributeEnabled(full.VAO, 5));

    GLint stride = 0;
    glBindVertexArray(bare.VAO);
    glGetVertexAttribiv(2, GL_VERTEX_ATTRIB_ARRAY_STRIDE, &stride);
    glBindVertexArray(0);
    EXPECT_EQ(stride, 8 * 4);

    std::vector<Vertex> records = textured.vertexRecords;
    for (Vertex& v : records) {
        v.boneIDs = glm::ivec4(2, -1, -1, -1);
        v.weights = glm::vec4(1, 0, 0, 0);
    }
    full.setupBones(records);
    EXPECT_TRUE(attributeEnabled(full.VAO, 5));
    EXPECT_TRUE(attributeEnabled(full.VAO, 6));
    GLint integer = 0;
    glBindVertexArray(full.VAO);
    glGetVertexAttribiv(5, GL_VERTEX_ATTRIB_ARRAY_INTEGER, &integer);
    glBindVertexArray(0);
    EXPECT_EQ(integer, GL_TRUE);  // bone ids reach the shader as integers
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST(ModelShaders, BothVersionsCompileAndLink)
{
    testsupport::GlContext context;
    for (const char* version : {"3.3", "3.1"}) {
        for (const char* vertex : {"model", "skinnedModel"}) {
            const std::string dir = std::string("shaders/") + version + "/";
            QvShader shader(dir + vertex + ".vert", dir + "model.frag");
            EXPECT_EQ(shader.status, GL_TRUE) << dir << vertex;
            if (std::string(vertex) == "skinnedModel") {
                EXPECT_NE(glGetUniformLocation(shader.program, "finalBonesMatrices[99]"), -1);
            }
        }
    }
}
