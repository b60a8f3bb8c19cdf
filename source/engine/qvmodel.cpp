// Model loading: Assimp import into plain records, and (further below) the
// upload of those records as GL meshes and textures, and the model's draw.
#include "qvmodel.h"

#include "qvanimation.h"

#include <assimp/Importer.hpp>
#include <assimp/material.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <fmt/core.h>

#include <algorithm>

namespace {

// Tangents for normal maps, triangles only, normals where the file has none,
// and texture v running down the image as the texture rows are stored.
constexpr unsigned ModelImportFlags = aiProcess_CalcTangentSpace | aiProcess_Triangulate |
                                      aiProcess_GenSmoothNormals | aiProcess_FlipUVs;

constexpr int PositionFloats = 3;
constexpr int NormalFloats = 3;
constexpr int TexCoordFloats = 2;
constexpr int TangentFloats = 3;
constexpr int BitangentFloats = 3;

// Material slots read for textures, in binding order, with the sampler base
// name each feeds. Normal maps come from the height slot and height maps from
// the ambient slot, as OBJ exporters write them.
struct TextureSlot {
    aiTextureType type;
    const char* typeName;
};
constexpr TextureSlot TextureSlots[] = {
    {aiTextureType_DIFFUSE, "texture_diffuse"},
    {aiTextureType_SPECULAR, "texture_specular"},
    {aiTextureType_HEIGHT, "texture_normal"},
    {aiTextureType_AMBIENT, "texture_height"},
};

void appendVector(std::vector<float>& floats, const aiVector3D& v, int& stride)
{
    floats.insert(floats.end(), {v.x, v.y, v.z});
    stride += 3;
}

// Interleaves position, normal and, when the mesh has texture coordinates,
// u, v, tangent and bitangent; otherwise (0, 0) after the normal.
void processVertices(const aiMesh& source, QvMesh& mesh)
{
    const aiVector3D zero(0.0f, 0.0f, 0.0f);
    const bool textured = source.HasTextureCoords(0);
    const bool tangents = source.HasTangentsAndBitangents();
    for (unsigned i = 0; i < source.mNumVertices; ++i) {
        int stride = 0;
        const aiVector3D& p = source.mVertices[i];
        const aiVector3D& n = source.HasNormals() ? source.mNormals[i] : zero;
        mesh.positions.emplace_back(p.x, p.y, p.z);
        appendVector(mesh.vertices, p, stride);
        appendVector(mesh.vertices, n, stride);
        if (textured) {
            const aiVector3D& uv = source.mTextureCoords[0][i];
            mesh.vertices.insert(mesh.vertices.end(), {uv.x, uv.y});
            stride += TexCoordFloats;
            appendVector(mesh.vertices, tangents ? source.mTangents[i] : zero, stride);
            appendVector(mesh.vertices, tangents ? source.mBitangents[i] : zero, stride);
        } else {
            mesh.vertices.insert(mesh.vertices.end(), {0.0f, 0.0f});
            stride += TexCoordFloats;
        }
        mesh.vertexStride = stride;

        Vertex record;
        record.position = glm::vec3(p.x, p.y, p.z);
        record.normal = glm::vec3(n.x, n.y, n.z);
        mesh.vertexRecords.push_back(record);
    }
}

// Appends every face's indices and the face's corner points, read from the
// interleaved list with the mesh's stride.
void processFaces(const aiMesh& source, QvMesh& mesh)
{
    for (unsigned f = 0; f < source.mNumFaces; ++f) {
        const aiFace& face = source.mFaces[f];
        std::vector<glm::vec3> points;
        for (unsigned k = 0; k < face.mNumIndices; ++k) {
            const std::uint32_t index = face.mIndices[k];
            if (index >= source.mNumVertices)
                continue;  // a damaged file must not read past the vertex list
            mesh.indices.push_back(index);
            const float* corner = &mesh.vertices[std::size_t(mesh.vertexStride) * index];
            points.emplace_back(corner[0], corner[1], corner[2]);
        }
        mesh.faces.push_back(std::move(points));
    }
}

void processMaterial(const aiMaterial& material, const std::string& directory, QvMesh& mesh)
{
    aiColor4D diffuse;
    if (aiGetMaterialColor(&material, AI_MATKEY_COLOR_DIFFUSE, &diffuse) == aiReturn_SUCCESS)
        mesh.diffuseColor = glm::vec4(diffuse.r, diffuse.g, diffuse.b, diffuse.a);
    for (const TextureSlot& slot : TextureSlots) {
        for (unsigned i = 0; i < material.GetTextureCount(slot.type); ++i) {
            aiString file;
            if (material.GetTexture(slot.type, i, &file) == aiReturn_SUCCESS)
                mesh.textureFiles.push_back({slot.typeName, directory + file.C_Str()});
        }
    }
}

void processBones(const aiMesh& source, QvMesh& mesh)
{
    for (unsigned b = 0; b < source.mNumBones; ++b) {
        const aiBone& bone = *source.mBones[b];
        MeshBone record;
        record.name = bone.mName.C_Str();
        record.offset = convertMatrixToGL3NFormat(bone.mOffsetMatrix);
        for (unsigned w = 0; w < bone.mNumWeights; ++w)
            record.weights.emplace_back(bone.mWeights[w].mVertexId, bone.mWeights[w].mWeight);
        mesh.bones.push_back(std::move(record));
    }
}

QvMesh processMesh(const aiMesh& source, const aiScene& scene, const std::string& directory)
{
    QvMesh mesh;
    mesh.name = source.mName.C_Str();
    processVertices(source, mesh);
    processFaces(source, mesh);
    if (source.mMaterialIndex < scene.mNumMaterials)
        processMaterial(*scene.mMaterials[source.mMaterialIndex], directory, mesh);
    processBones(source, mesh);
    return mesh;
}

// A node's own meshes, then its children's, depth first. Node transformations
// are not applied: the whole model is placed by one model matrix.
void processNode(const aiNode& node, const aiScene& scene, QvModelFile& file)
{
    for (unsigned i = 0; i < node.mNumMeshes; ++i) {
        const unsigned index = node.mMeshes[i];
        if (index < scene.mNumMeshes)
            file.meshes.push_back(processMesh(*scene.mMeshes[index], scene, file.directory));
    }
    for (unsigned i = 0; i < node.mNumChildren; ++i)
        processNode(*node.mChildren[i], scene, file);
}

}  // namespace

std::string modelDirectory(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string importErrorLine(const std::string& path, const char* error)
{
    std::string reason = error ? error : "";
    std::replace(reason.begin(), reason.end(), '\n', ' ');
    return fmt::format("ERROR! File: {}. Model import failed: {}\n", path, reason);
}

QvModelFile readModelFile(const std::string& path)
{
    QvModelFile file;
    file.directory = modelDirectory(path);
    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFile(path, ModelImportFlags);
    if (!scene || !scene->mRootNode) {
        fmt::print("{}", importErrorLine(path, importer.GetErrorString()));
        return file;
    }
    file.imported = true;
    processNode(*scene->mRootNode, *scene, file);
    return file;
}
