// Models on the GPU: texture rows, vertex attributes by
// stride, the shader programs, the textured panel drawn where its transform
// puts it, the outline pass, and the skinned arm before and after its forearm
// turns. Expected pixels are worked out by hand from the camera below.
#include "glcontext.h"
#include "hostilefiles.h"
#include "imagefixtures.h"
#include "childcheck.h"
#include "engine/model/qvanimation.h"
#include "engine/core/qvcamera.h"
#include "engine/model/qvmodel.h"
#include "engine/gl/qvshader.h"
#include "engine/core/qvtransform.h"

#include <gtest/gtest.h>
#include <FreeImage.h>
#include <assimp/Importer.hpp>
#include <assimp/ProgressHandler.hpp>
#include <assimp/scene.h>
#include <fmt/core.h>
#include <glm/gtc/matrix_transform.hpp>
#include <array>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string ModelDir = std::string(VELMORIN_TEST_DATA) + "/models/";
using Rgb = std::array<int, 3>;
constexpr Rgb Background{51, 51, 51};

// Reads a 2D texture back as tightly packed RGB rows, GL row 0 first.
std::vector<Rgb> readTexture(GLuint texture, int& width)
{
    int height = 0;
    glBindTexture(GL_TEXTURE_2D, texture);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &height);
    std::vector<std::uint8_t> bytes(std::size_t(3) * width * height);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    if (!bytes.empty()) glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, bytes.data());
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    std::vector<Rgb> pixels;
    for (std::size_t i = 0; i < bytes.size(); i += 3)
        pixels.push_back({bytes[i], bytes[i + 1], bytes[i + 2]});
    return pixels;
}

bool attributeEnabled(GLuint vao, GLuint location, GLenum query = GL_VERTEX_ATTRIB_ARRAY_ENABLED)
{
    glBindVertexArray(vao);
    GLint value = 0;
    glGetVertexAttribiv(location, query, &value);
    glBindVertexArray(0);
    return value != 0;
}

// A 64 x 64 target seen by a camera 5 units in front of the origin, looking
// down -z with a 45 degree field of view: a point (x, y) of the z = 0 plane
// lands at pixel 32 + 15.45 (x, y), and of the z = 1 plane at 32 + 19.31 (x, y).
class ModelScene : public testing::Test {
protected:
    ModelScene()
        : camera(frontView()), modelShader(program("model")),
          skinnedShader(QvShader::pathFor(context.glslVersion(), "skinnedModel", ".vert"),
                        QvShader::pathFor(context.glslVersion(), "model", ".frag"))
    {
        camera.lookAt();
    }

    static CameraData frontView()
    {
        CameraData data;
        data.width = 64;
        data.height = 64;
        data.fov = 45.0f;
        data.position = glm::vec3(0.0f, 0.0f, 5.0f);
        data.target = glm::vec3(0.0f, 0.0f, -1.0f);
        data.up = glm::vec3(0.0f, 1.0f, 0.0f);
        return data;
    }

    QvShader program(const char* name)
    {
        return QvShader(QvShader::pathFor(context.glslVersion(), name, ".vert"),
                        QvShader::pathFor(context.glslVersion(), name, ".frag"));
    }

    void draw(QvModel& model)
    {
        context.bind();
        glClearColor(0.2f, 0.2f, 0.2f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
        glEnable(GL_DEPTH_TEST);
        model.draw(camera);
    }

    Rgb at(int x, int y) const
    {
        const auto p = context.pixel(x, y);
        return {p[0], p[1], p[2]};
    }

    void expectColour(int x, int y, const Rgb& expected) const
    {
        const Rgb actual = at(x, y);
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(actual[i], expected[i], 3) << "pixel " << x << ", " << y << " channel " << i;
    }

    testsupport::GlContext context;
    Camera camera;
    QvShader modelShader;
    QvShader skinnedShader;
};

}  // namespace

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
    const std::string odd = testsupport::tempPath("odd.png").string();
    ASSERT_TRUE(FreeImage_Save(FIF_PNG, bitmap, odd.c_str()));
    FreeImage_Unload(bitmap);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);  // as the bitmap font leaves it
    const QvTexture texture = loadTexture(odd);
    GLint alignment = 0;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    EXPECT_EQ(alignment, 1);  // given back to whoever set it

    int width = 0;
    const std::vector<Rgb> texels = readTexture(texture.get(), width);
    ASSERT_EQ(width, 5);
    for (int x = 0; x < 5; ++x) {
        EXPECT_EQ(texels[x], (Rgb{0, 40 * x, 0})) << x;        // picture top
        EXPECT_EQ(texels[5 + x], (Rgb{200, 0, 10 * x})) << x;  // picture bottom
    }

    // An unreadable file gives an empty texture.
    for (const std::string name : {"no-such-picture.png", "panel.unknownformat"})
        EXPECT_TRUE(readTexture(loadTexture(ModelDir + name).get(), width).empty()) << name;
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

// A texture that fits in memory as a picture, but not as the copy that is
// uploaded, is named as any picture is.
TEST(ModelTexture, APictureThatDoesNotFitInMemoryIsNamed)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer cannot run under an address-space limit";
#endif
    // 5000 x 5000 x 3 bytes: decoded apart, its rows do not fit in the 40 MiB left here.
    const std::string picture = imagefixtures::writeBlackPng("bigtexture.png", 5000, 5000);
    EXPECT_TRUE(testsupport::holdsInChild([&] {
        const testsupport::GlContext context;
        testing::internal::CaptureStdout();
        const bool limited = testsupport::limitAddressSpaceGrowth(40u << 20);
        const QvTexture texture = loadTexture(picture);
        return limited && testing::internal::GetCapturedStdout() ==
                              "Picture " + picture + " not loaded: not enough memory to read it\n";
    }));
}

TEST(ModelMesh, AttributesFollowTheStrideAndBonesAreIntegers)
{
    testsupport::GlContext context;
    const QvModelFile file = readModelFile(ModelDir + "panel.obj");
    ASSERT_EQ(file.meshes.size(), 3u);
    const QvMesh& textured = file.meshes[0];
    const QvMesh& plain = file.meshes[2];
    Mesh full(textured.vertices, textured.positions, textured.indices, {}, textured.vertexStride);
    Mesh bare(plain.vertices, plain.positions, plain.indices, {}, plain.vertexStride);
    for (GLuint location = 0; location < 5; ++location) {
        EXPECT_TRUE(attributeEnabled(full.VAO.get(), location)) << location;
        // Tangent and bitangent would lie in the next vertex of an 8-float layout.
        EXPECT_EQ(attributeEnabled(bare.VAO.get(), location), location < 3) << location;
    }
    EXPECT_FALSE(attributeEnabled(full.VAO.get(), 5));

    std::vector<Vertex> records = textured.vertexRecords;
    for (Vertex& v : records) {
        v.boneIDs = glm::ivec4(2, -1, -1, -1);
        v.weights = glm::vec4(1, 0, 0, 0);
    }
    full.setupBones(records);
    EXPECT_TRUE(attributeEnabled(full.VAO.get(), 5, GL_VERTEX_ATTRIB_ARRAY_INTEGER));
    EXPECT_TRUE(attributeEnabled(full.VAO.get(), 6));
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST(ModelShaders, BothVersionsCompileAndLink)
{
    testsupport::GlContext context;
    for (const std::string dir : {"shaders/3.3/", "shaders/3.1/"}) {
        QvShader still(dir + "model.vert", dir + "model.frag");
        EXPECT_EQ(still.status, GL_TRUE) << dir;
        QvShader skinned(dir + "skinnedModel.vert", dir + "model.frag");
        EXPECT_EQ(skinned.status, GL_TRUE) << dir;
        EXPECT_NE(glGetUniformLocation(skinned.program.get(), "finalBonesMatrices[99]"), -1) << dir;
    }
}

TEST_F(ModelScene, PanelSharesItsTextureAndDrawsWhereItsTransformPutsIt)
{
    QvModel model("QvModel_Panel", ModelDir + "panel.obj");
    ASSERT_EQ(model.meshes.size(), 3u);
    EXPECT_EQ(model.qvMeshes.size(), 3u);
    EXPECT_EQ(model.meshTriangles.size(), 5u);                         // 2 + 2 + 1 faces
    EXPECT_EQ(model.vertexStride, 8);                                  // of the last mesh read
    EXPECT_EQ(model.currentColor, glm::vec4(1.0f, 0.0f, 0.0f, 1.0f));  // the last material's
    // Panel and Back name the same file: one texture, loaded once.
    ASSERT_EQ(model.texturesLoaded.size(), 1u);
    EXPECT_EQ(model.meshes[0]->textures.at(0).id, model.texturesLoaded[0].id);
    EXPECT_EQ(model.meshes[1]->textures.at(0).id, model.texturesLoaded[0].id);
    EXPECT_TRUE(model.meshes[2]->textures.empty());

    model.shader = &modelShader;
    model.currentColor = glm::vec4(1.0f);  // the picture's own colours
    model.transform->setTranslation(1.0f, 0.0f, 0.0f);
    // Someone left the program's sampler on unit 3, where a black picture
    // lies: every mesh must point the sampler of the program it is drawn with.
    const QvTexture black = qvCreateRgbTexture(0, 0, nullptr);
    glActiveTexture(GL_TEXTURE3);
    glBindTexture(GL_TEXTURE_2D, black.get());
    glActiveTexture(GL_TEXTURE0);
    modelShader.useProgram();
    modelShader.setUniform("texture_diffuse1", std::uint64_t(3));
    draw(model);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    for (const Mesh* mesh : model.meshes) EXPECT_EQ(mesh->shader, &modelShader);
    // The panel spans x 0..2 now, its quadrants in the picture's layout.
    expectColour(39, 39, {255, 0, 0});
    expectColour(55, 39, {0, 255, 0});
    expectColour(39, 24, {0, 0, 255});
    expectColour(55, 24, {255, 255, 255});
    expectColour(24, 39, Background);  // where it would be without its transform
    // The marker triangle in front of the green quadrant has no picture: colour alone.
    expectColour(53, 33, {255, 255, 255});
}

TEST_F(ModelScene, OutlinePassRestoresStencilAndDepthWrites)
{
    QvModel model("QvModel_Panel", ModelDir + "panel.obj");
    model.shader = &modelShader;
    glEnable(GL_STENCIL_TEST);
    for (bool selected : {false, true}) {
        // Selected: an outline 1.2 times the panel's size, drawn only outside it.
        model.selected = selected;
        model.pickingShader = &modelShader;
        model.outlineModel = glm::scale(glm::mat4(1.0f), glm::vec3(1.2f));
        draw(model);
        GLint stencilMask = 0;
        GLboolean depthMask = GL_FALSE;
        glGetIntegerv(GL_STENCIL_WRITEMASK, &stencilMask);
        glGetBooleanv(GL_DEPTH_WRITEMASK, &depthMask);
        EXPECT_EQ(stencilMask & 0xFF, 0xFF) << selected;  // a later stencil clear must still work
        EXPECT_EQ(depthMask, GL_TRUE) << selected;
        EXPECT_EQ(at(49, 32) != Background, selected);  // in the ring
        expectColour(52, 32, Background);
    }
    glDisable(GL_STENCIL_TEST);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(ModelScene, UnreadableFileLeavesAnEmptyModel)
{
    testing::internal::CaptureStdout();
    QvModel model("QvModel_Missing", ModelDir + "no-such-model.obj");
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 1);
    EXPECT_TRUE(model.meshes.empty());
    model.shader = &modelShader;
    draw(model);
    expectColour(32, 32, Background);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

// A model whose texture is a DDS, and anything but a file in the place of the
// model, its material file or its texture: refused at once with one line.
TEST_F(ModelScene, TexturesOfAnyFormatAndNoFileInAFilesPlace)
{
    ::alarm(30);
    const std::filesystem::path folder = testsupport::tempPath("model");
    const std::string obj = (folder / "panel.obj").string(), mtl = (folder / "panel.mtl").string();
    const std::string dds = (folder / "picture.dds").string();
    const auto fresh = [&] {
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        std::filesystem::copy_file(ModelDir + "panel.obj", obj);
        std::ofstream(mtl) << "newmtl Checker\nmap_Kd picture.dds\nnewmtl Tinted\nnewmtl Red\n";
        imagefixtures::writeDds("model/picture.dds", 8, 4);
    };
    fresh();
    QvModel model("QvModel_Dds", obj);
    ASSERT_EQ(model.texturesLoaded.size(), 1u);
    int width = 0;
    EXPECT_EQ(readTexture(model.texturesLoaded[0].id, width).size(), 32u);
    EXPECT_EQ(width, 8);

    for (const hostilefiles::StandIn& standIn : hostilefiles::standIns) {
        const std::tuple<std::string, std::string, std::size_t> places[] = {
            {dds, fmt::format("Picture {} not loaded: {}\n", dds, standIn.reason), 3},
            {mtl, fmt::format("ERROR! File: {}. Not read for the model {}: {}\n", mtl, obj, standIn.reason),
             3},
            {obj, importErrorLine(obj, standIn.reason), 0},
        };
        for (const auto& [path, line, meshes] : places) {
            fresh();
            hostilefiles::plant(path, standIn);
            testing::internal::CaptureStdout();
            QvModel hostile("QvModel_Hostile", obj);
            EXPECT_EQ(testing::internal::GetCapturedStdout(), line) << standIn.what;
            EXPECT_EQ(hostile.meshes.size(), meshes) << standIn.what << " at " << path;
        }
        BoneInfoMap map;
        int counter = 0;
        testing::internal::CaptureStdout();
        Animation animation(obj, map, counter);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), importErrorLine(obj, standIn.reason));
    }
    // So is a material file too large to hold, unread (sparse: it costs nothing).
    fresh();
    std::filesystem::resize_file(mtl, (std::uintmax_t(256) << 20) + 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(QvModel("QvModel_Large", obj).meshes.size(), 3u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              fmt::format("ERROR! File: {}. Not read for the model {}: larger than 256 MiB\n", mtl, obj));
    ::alarm(0);
    std::filesystem::remove_all(folder);
}

// The arm is green (0.1, 0.8, 0.3), with its elbow (arm point (0, 1)) moved to
// the origin. Pixels: the upright forearm's tip at world (0, 0.8); the spot at
// (-0.7, 0) that the forearm covers once turned 90 degrees about the elbow;
// the upper arm at (0, -0.5), which never moves.
TEST_F(ModelScene, SkinnedForearmTurnsWithTheAnimation)
{
    const std::string path = ModelDir + "arm.gltf";
    QvAnimatedModel arm("QvModel_Arm", path);
    ASSERT_EQ(arm.meshes.size(), 1u);
    EXPECT_EQ(arm.getBoneCount(), 2);
    arm.shader = &skinnedShader;
    arm.transform->setTranslation(0.0f, -1.0f, 0.0f);
    const auto armAt = [&](int x, int y) { return at(x, y)[1] > 150; };

    draw(arm);  // no animator: the bind pose
    EXPECT_TRUE(armAt(32, 44));
    EXPECT_FALSE(armAt(21, 31));
    EXPECT_TRUE(armAt(32, 24));
    const std::vector<std::uint8_t> straight = context.pixels();

    Animation animation(path, arm);
    Animator animator(&animation);
    arm.animator = &animator;
    draw(arm);  // before the first update every bone matrix is the identity
    EXPECT_EQ(context.pixels(), straight);

    animator.updateAnimation(1.0f);
    draw(arm);
    EXPECT_FALSE(armAt(32, 44));
    EXPECT_TRUE(armAt(21, 31));
    EXPECT_TRUE(armAt(32, 24));
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

// Setting a skinned mesh up again gives it a new vertex array, which must read
// the bone ids (as integers) and weights as the first one did.
TEST_F(ModelScene, SkinnedMeshSetUpAgainKeepsItsBones)
{
    QvAnimatedModel arm("QvModel_Arm", ModelDir + "arm.gltf");
    ASSERT_EQ(arm.meshes.size(), 1u);
    Mesh& mesh = *arm.meshes[0];
    mesh.setupMesh(arm.vertexStride);
    glBindVertexArray(mesh.VAO.get());
    for (const GLuint location : {5u, 6u}) {
        GLint enabled = 0, buffer = 0, integer = 0;
        glGetVertexAttribiv(location, GL_VERTEX_ATTRIB_ARRAY_ENABLED, &enabled);
        glGetVertexAttribiv(location, GL_VERTEX_ATTRIB_ARRAY_BUFFER_BINDING, &buffer);
        glGetVertexAttribiv(location, GL_VERTEX_ATTRIB_ARRAY_INTEGER, &integer);
        EXPECT_EQ(enabled, GL_TRUE) << location;
        EXPECT_EQ(GLuint(buffer), mesh.boneVBO.get()) << location;
        EXPECT_EQ(integer != 0, location == 5u) << location;
    }
    glBindVertexArray(0);
}

// Reading model files into records, without a GL context: packing of the
// interleaved vertices, indices and face points, material colours, texture
// paths, mesh order, and the failure path.
namespace {

void expectPoint(const glm::vec3& actual, float x, float y, float z)
{
    EXPECT_FLOAT_EQ(actual.x, x);
    EXPECT_FLOAT_EQ(actual.y, y);
    EXPECT_FLOAT_EQ(actual.z, z);
}

}  // namespace

TEST(ModelFile, MeshesFollowTheNodeOrderWithTheirMaterials)
{
    const QvModelFile file = readModelFile(ModelDir + "panel.obj");
    ASSERT_TRUE(file.imported);
    EXPECT_EQ(file.directory, ModelDir);
    ASSERT_EQ(file.meshes.size(), 3u);
    EXPECT_EQ(file.meshes[0].name, "Panel");
    EXPECT_EQ(file.meshes[1].name, "Back");
    EXPECT_EQ(file.meshes[2].name, "Marker");

    EXPECT_EQ(file.meshes[0].diffuseColor, glm::vec4(1.0f, 1.0f, 1.0f, 1.0f));
    EXPECT_EQ(file.meshes[1].diffuseColor, glm::vec4(0.5f, 0.5f, 0.5f, 1.0f));
    EXPECT_EQ(file.meshes[2].diffuseColor, glm::vec4(1.0f, 0.0f, 0.0f, 1.0f));
    for (int m : {0, 1}) {
        ASSERT_EQ(file.meshes[m].textureFiles.size(), 1u);
        EXPECT_EQ(file.meshes[m].textureFiles[0].type, "texture_diffuse");
        EXPECT_EQ(file.meshes[m].textureFiles[0].path, ModelDir + "checker.ppm");
    }
    EXPECT_TRUE(file.meshes[2].textureFiles.empty());
}

TEST(ModelFile, TexturedMeshPacksFourteenFloatsAVertex)
{
    const QvMesh panel = readModelFile(ModelDir + "panel.obj").meshes.at(0);
    ASSERT_EQ(panel.vertexStride, 14);
    ASSERT_EQ(panel.positions.size(), 4u);  // the quad's corners, not shared with other meshes
    ASSERT_EQ(panel.vertices.size(), 4u * 14u);

    // The quad is cut into two triangles over its four corners.
    EXPECT_EQ(panel.indices, (std::vector<std::uint32_t>{0, 1, 2, 0, 2, 3}));
    EXPECT_EQ(panel.faces.size(), 2u);

    // Corner (-1, -1) of the file has v = 0 at the bottom of the picture; the
    // flipped v counts from the top, as the texture rows are uploaded.
    for (std::size_t i = 0; i < panel.positions.size(); ++i) {
        const float* v = &panel.vertices[14 * i];
        expectPoint({v[0], v[1], v[2]}, panel.positions[i].x, panel.positions[i].y, 0.0f);
        expectPoint({v[3], v[4], v[5]}, 0.0f, 0.0f, 1.0f);
        EXPECT_FLOAT_EQ(v[6], (v[0] + 1.0f) / 2.0f);
        EXPECT_FLOAT_EQ(v[7], 1.0f - (v[1] + 1.0f) / 2.0f);
    }

    // The records carry position and normal only; the rest keeps its defaults.
    const Vertex& record = panel.vertexRecords.at(2);
    expectPoint(record.position, 1.0f, 1.0f, 0.0f);
    EXPECT_TRUE(std::isnan(record.texCoords.x));
}

TEST(ModelFile, MeshWithoutTexCoordsPacksEightFloatsAVertex)
{
    const QvMesh marker = readModelFile(ModelDir + "panel.obj").meshes.at(2);
    ASSERT_EQ(marker.vertexStride, 8);
    ASSERT_EQ(marker.vertices.size(), 3u * 8u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_FLOAT_EQ(marker.vertices[8 * i + 6], 0.0f);
        EXPECT_FLOAT_EQ(marker.vertices[8 * i + 7], 0.0f);
    }
    // Face points are the triangle of the file.
    ASSERT_EQ(marker.faces.size(), 1u);
    expectPoint(marker.faces[0][0], 0.0f, 0.0f, 1.0f);
    expectPoint(marker.faces[0][1], 0.5f, 0.0f, 1.0f);
    expectPoint(marker.faces[0][2], 0.0f, 0.5f, 1.0f);
    // The smoothed normal of a face in the z = 1 plane wound counter-clockwise.
    expectPoint(marker.vertexRecords[0].normal, 0.0f, 0.0f, 1.0f);
}

TEST(ModelFile, DirectoryKeepsTheLastSlash)
{
    EXPECT_EQ(modelDirectory("models/arm/arm.gltf"), "models/arm/");
    EXPECT_EQ(modelDirectory("/arm.gltf"), "/");
    EXPECT_EQ(modelDirectory("arm.gltf"), "");  // textures then come from the working directory
}

TEST(ModelFile, UnreadableFilePrintsOneLineAndGivesNothing)
{
    testing::internal::CaptureStdout();
    const QvModelFile missing = readModelFile(ModelDir + "no-such-model.obj");
    const QvModelFile garbage = readModelFile(ModelDir + "checker.ppm");
    const std::string output = testing::internal::GetCapturedStdout();

    EXPECT_FALSE(missing.imported);
    EXPECT_TRUE(missing.meshes.empty());
    EXPECT_FALSE(garbage.imported);
    EXPECT_TRUE(garbage.meshes.empty());
    // One line per file, naming it.
    EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 2);
    EXPECT_NE(output.find("no-such-model.obj"), std::string::npos);
    EXPECT_NE(output.find("checker.ppm"), std::string::npos);
}

// Assimp opens a model more than once (to measure it, then to read it): it
// must be handed the bytes read through the check, whatever stands at the
// path by then. Here the model turns into a named pipe, which opened would
// hold the import, at Assimp's first progress report, between those opens.
TEST(ModelFile, AModelReplacedMidImportIsReadAsChecked)
{
    struct PipeOnFirstReport : Assimp::ProgressHandler {
        explicit PipeOnFirstReport(std::string file) : path(std::move(file)) {}
        bool Update(float) override
        {
            if (std::filesystem::is_regular_file(path) && std::filesystem::remove(path))
                ::mkfifo(path.c_str(), 0600);
            return true;
        }
        std::string path;
    };
    ::alarm(30);
    const std::string obj = testsupport::tempPath("swapped.obj").string();
    std::filesystem::remove(obj);
    std::filesystem::copy_file(ModelDir + "panel.obj", obj);
    Assimp::Importer importer;
    importer.SetProgressHandler(new PipeOnFirstReport(obj));  // the importer owns it
    testing::internal::CaptureStdout();
    const aiScene* scene = qvImportRegularFile(importer, obj, 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(std::filesystem::is_fifo(obj));
    EXPECT_EQ(scene ? scene->mNumMeshes : 0u, 3u);
    ::alarm(0);
    std::filesystem::remove(obj);
}

TEST(ModelFile, SamplersAreNumberedPerTextureType)
{
    const std::vector<Texture> textures = {
        {1, "texture_diffuse", "a.png"}, {2, "texture_specular", "b.png"}, {3, "texture_specular", "c.png"},
        {4, "texture_normal", "d.png"},  {5, "texture_diffuse", "e.png"},  {6, "texture_emissive", "f.png"}};
    EXPECT_EQ(samplerUniformNames(textures),
              (std::vector<std::string>{"texture_diffuse1", "texture_specular1", "texture_specular2",
                                        "texture_normal1", "texture_diffuse2", "texture_emissive"}));
}
