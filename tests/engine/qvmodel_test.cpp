// Reading model files into records, without a GL context: packing of the
// interleaved vertices, indices and face points, material colours, texture
// paths, mesh order, and the failure path.
#include "qvmodel.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string ModelDir = std::string(VELMORIN_TEST_DATA) + "/models/";

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

TEST(ModelFile, SamplersAreNumberedPerTextureType)
{
    const std::vector<Texture> textures = {
        {1, "texture_diffuse", "a.png"}, {2, "texture_specular", "b.png"}, {3, "texture_specular", "c.png"},
        {4, "texture_normal", "d.png"},  {5, "texture_diffuse", "e.png"},  {6, "texture_emissive", "f.png"}};
    EXPECT_EQ(samplerUniformNames(textures),
              (std::vector<std::string>{"texture_diffuse1", "texture_specular1", "texture_specular2",
                                        "texture_normal1", "texture_diffuse2", "texture_emissive"}));
}
