// Model loading: a model file read through Assimp becomes plain records (one
// QvMesh per mesh: interleaved vertices, indices, face points, material colour,
// texture files, bone influences), which QvModel uploads as Meshes and draws.
// Reading needs no OpenGL context; uploading and drawing do.
#pragma once

#include "engine/gl/qvglobjects.h"
#include "engine/gl/qvloadimage.h"
#include "engine/gl/qvmaterialobject.h"

#include <epoxy/gl.h>
#include <glm/vec2.hpp>
#include <glm/vec3.hpp>
#include <glm/vec4.hpp>
#include <glm/mat4x4.hpp>

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class Camera;
class QvShader;
struct aiScene;
namespace Assimp {
class Importer;
}

// One vertex with everything a skinned, normal-mapped mesh may carry.
struct Vertex {
    static constexpr float Unset = std::numeric_limits<float>::quiet_NaN();

    glm::vec3 position{Unset};
    glm::vec3 normal{Unset};
    glm::vec2 texCoords{Unset};
    glm::vec3 tangent{Unset};
    glm::vec3 bitangent{Unset};
    glm::ivec4 boneIDs{0};  // -1 marks a free slot once bone data is set
    glm::vec4 weights{Unset};

    bool operator==(const Vertex&) const = default;
};

// A GL texture of a model, shared between its meshes by path.
struct Texture {
    std::uint32_t id = 0;  // owned by the model that loaded it
    std::string type;      // sampler base name: "texture_diffuse", "texture_specular", ...
    std::string path;      // file it was loaded from
};

// A texture file named by a mesh's material, not yet loaded.
struct TextureFile {
    std::string type;  // sampler base name, as in Texture
    std::string path;  // model directory + the file name the material gives
};

// A bone of a mesh as the file gives it.
struct MeshBone {
    std::string name;
    glm::mat4 offset;                                      // mesh space -> bone space
    std::vector<std::pair<std::uint32_t, float>> weights;  // (vertex index, weight)
};

// One mesh of a model file, copied out of the imported scene.
struct QvMesh {
    std::string name;
    std::vector<Vertex> vertexRecords;  // positions and normals; bone data is added by skinning
    std::vector<float> vertices;        // interleaved, vertexStride floats a vertex
    int vertexStride = 0;               // 14 with texture coordinates, 8 without
    std::vector<glm::vec3> positions;
    std::vector<std::uint32_t> indices;
    std::vector<std::vector<glm::vec3>> faces;  // corner points of each face
    std::optional<glm::vec4> diffuseColor;      // absent when the material has none
    std::vector<TextureFile> textureFiles;      // in binding order
    std::vector<MeshBone> bones;
};

// A whole model file as plain records.
struct QvModelFile {
    bool imported = false;
    std::string directory;       // the path up to and including its last "/"
    std::vector<QvMesh> meshes;  // depth first: a node's meshes before its children's
};

// The directory part of a path, with its trailing "/"; empty without one.
std::string modelDirectory(const std::string& path);

// The one diagnostic line for a model or animation file Assimp cannot read.
std::string importErrorLine(const std::string& path, const char* error);

// Imports a model or animation file with the importer, reading only regular
// files of at most 256 MiB, each once, through the check (qvReadBoundedFile):
// the file itself, before Assimp sees it, and whatever it names (a material or
// buffer file), which is skipped with a line of its own when refused. Null,
// after one line (importErrorLine), when the file is refused or not imported.
const aiScene* qvImportRegularFile(Assimp::Importer& importer, const std::string& path, unsigned flags);

// Reads a model file into records; prints one line and returns an empty,
// not imported file when Assimp cannot read it.
QvModelFile readModelFile(const std::string& path);

// ---- GL side: textures, meshes, the drawable model ----------------------------

// A GL_RGB texture of the image file (format from the name, then from the
// contents), top row first to match the flipped texture coordinates; a file
// that cannot be read gives a 0 x 0 texture after a line saying why.
QvTexture loadTexture(const std::string& path);

// The sampler uniform each texture feeds, in order: a known type numbered by
// its own count ("texture_diffuse1", "texture_specular1", "texture_specular2"),
// any other type string as it is.
std::vector<std::string> samplerUniformNames(const std::vector<Texture>& textures);

// One mesh on the GPU: interleaved vertex buffer, index buffer and the textures
// bound when it is drawn. Owns its buffers; the textures belong to the model.
class Mesh {
public:
    Mesh(std::vector<float> vertices, std::vector<glm::vec3> positions, std::vector<std::uint32_t> indices,
         std::vector<Texture> textures, int vertexStride);
    virtual ~Mesh() = default;

    // Uploads the vertices and indices into a new vertex array and describes
    // the attributes the stride holds: position 0, normal 1, texture
    // coordinates 2, tangent 3, bitangent 4; bones set up before (5 and 6)
    // are described in the new array too.
    void setupMesh(int vertexStride);
    // Uploads bone ids (attribute 5, integers) and weights (attribute 6) of the records.
    void setupBones(const std::vector<Vertex>& vertexRecords);
    // Binds the textures to the samplers of `shader` and draws the triangles.
    virtual void draw();

    std::vector<float> vertices;
    std::vector<glm::vec3> positions;
    std::vector<std::uint32_t> indices;
    std::vector<Texture> textures;
    QvVertexArray VAO;
    QvShader* shader = nullptr;  // the program of the model that draws the mesh
    QvBuffer VBO;
    QvBuffer EBO;
    QvBuffer boneVBO;

private:
    // Points attributes 5 and 6 of the bound vertex array at boneVBO.
    void _pointBoneAttributes();
};

// A drawable material object made from a model file: one Mesh per mesh of the
// file, the material's diffuse colour as its colour, and the material textures
// loaded from the model's directory, shared between meshes by path.
class QvModel : public QvMaterialObject {
public:
    // Reads and uploads the file; an unreadable file prints one line and
    // leaves a model without meshes.
    QvModel(const std::string& name, const std::string& path);

    // Draws every mesh with `shader`, placed by the transform's matrix; with
    // `selected`, an outline pass with `pickingShader` at `outlineModel`.
    void draw(Camera& camera) override;

    std::vector<Texture> texturesLoaded;  // every texture loaded so far, for sharing
    std::string directory;                // the path up to and including its last "/"
    std::vector<QvMesh> qvMeshes;         // the records of the meshes read

protected:
    // For subclasses with their own mesh step: they call _loadModel themselves.
    explicit QvModel(const std::string& name);

    void _loadModel(const std::string& path);
    // One mesh record to a GL mesh (colour, face points, textures); keeps the record.
    virtual std::unique_ptr<Mesh> _processMesh(QvMesh& mesh);
    // The mesh step every model shares: colour, face points, textures, upload.
    std::unique_ptr<Mesh> _uploadMesh(const QvMesh& mesh);
    // Loads the files not loaded yet; files loaded before give the same texture.
    std::vector<Texture> _loadMaterialTextures(const std::vector<TextureFile>& files);
    // Uniforms a subclass sends after the material object's (the bone matrices).
    virtual void _prepareModelUniforms(QvShader& program);

private:
    void _drawMeshes(QvShader* program);

    std::vector<std::unique_ptr<Mesh>> ownedMeshes;  // `meshes` points into these
    std::vector<QvTexture> textureNames;             // the names of texturesLoaded
    QvTexture blankTexture;  // white, bound for meshes without textures; made on first use
};
