// Model loading: Assimp import into plain records, and (further below) the
// upload of those records as GL meshes and textures, and the model's draw.
#include "engine/model/qvmodel.h"

#include "engine/model/qvassimpconvert.h"
#include "engine/core/qvcamera.h"
#include "engine/core/qvfiles.h"
#include "engine/gl/qvloadimage.h"
#include "engine/gl/qvshader.h"
#include "engine/gl/qvvertexlayout.h"
#include "engine/core/qvtransform.h"

#include <FreeImage.h>

#include <assimp/DefaultIOSystem.h>
#include <assimp/Importer.hpp>
#include <assimp/MemoryIOWrapper.h>
#include <assimp/material.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <fmt/core.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <set>

namespace {

// Tangents for normal maps, triangles only, normals where the file has none,
// and texture v running down the image as the texture rows are stored.
constexpr unsigned ModelImportFlags =
    aiProcess_CalcTangentSpace | aiProcess_Triangulate | aiProcess_GenSmoothNormals | aiProcess_FlipUVs;

constexpr int PositionFloats = 3;
constexpr int NormalFloats = 3;
constexpr int TexCoordFloats = 2;
constexpr int TangentFloats = 3;
constexpr int BitangentFloats = 3;
constexpr int PlainStride = PositionFloats + NormalFloats + TexCoordFloats;
constexpr int TexturedStride = PlainStride + TangentFloats + BitangentFloats;

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

// Interleaves position, normal and, when the mesh has texture coordinates,
// u, v, tangent and bitangent; otherwise (0, 0) after the normal.
void processVertices(const aiMesh& source, QvMesh& mesh)
{
    const aiVector3D zero(0.0f, 0.0f, 0.0f);
    const bool textured = source.HasTextureCoords(0);
    const bool tangents = source.HasTangentsAndBitangents();
    auto append = [&](const aiVector3D& v) { mesh.vertices.insert(mesh.vertices.end(), {v.x, v.y, v.z}); };
    for (unsigned i = 0; i < source.mNumVertices; ++i) {
        const aiVector3D& p = source.mVertices[i];
        const aiVector3D& n = source.HasNormals() ? source.mNormals[i] : zero;
        mesh.positions.emplace_back(p.x, p.y, p.z);
        append(p);
        append(n);
        if (textured) {
            const aiVector3D& uv = source.mTextureCoords[0][i];
            mesh.vertices.insert(mesh.vertices.end(), {uv.x, uv.y});
            append(tangents ? source.mTangents[i] : zero);
            append(tangents ? source.mBitangents[i] : zero);
        } else {
            mesh.vertices.insert(mesh.vertices.end(), {0.0f, 0.0f});
        }

        Vertex record;
        record.position = glm::vec3(p.x, p.y, p.z);
        record.normal = glm::vec3(n.x, n.y, n.z);
        mesh.vertexRecords.push_back(record);
    }
    mesh.vertexStride = textured ? TexturedStride : PlainStride;
}

// Appends every face's indices and the face's corner points.
void processFaces(const aiMesh& source, QvMesh& mesh)
{
    for (unsigned f = 0; f < source.mNumFaces; ++f) {
        const aiFace& face = source.mFaces[f];
        std::vector<glm::vec3> points;
        for (unsigned k = 0; k < face.mNumIndices; ++k) {
            const std::uint32_t index = face.mIndices[k];
            if (index >= source.mNumVertices) continue;  // a damaged file must not read past the vertex list
            mesh.indices.push_back(index);
            points.push_back(mesh.positions[index]);
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
    for (unsigned i = 0; i < node.mNumChildren; ++i) processNode(*node.mChildren[i], scene, file);
}

// Vertex attributes: float count and float offset in the interleaved vertex.
struct VertexAttribute {
    QvAttribute attribute;
    int count;
    int offset;
};
constexpr VertexAttribute VertexAttributes[] = {
    {QvAttribute::position, PositionFloats, 0},
    {QvAttribute::normal, NormalFloats, PositionFloats},
    {QvAttribute::texCoords, TexCoordFloats, PositionFloats + NormalFloats},
    {QvAttribute::tangent, TangentFloats, PositionFloats + NormalFloats + TexCoordFloats},
    {QvAttribute::bitangent, BitangentFloats, PositionFloats + NormalFloats + TexCoordFloats + TangentFloats},
};

// Per-vertex skinning data as the bone buffer holds it.
struct BoneAttributes {
    glm::ivec4 ids;
    glm::vec4 weights;
};

// Sampler base names that are numbered per type when a mesh binds them.
constexpr std::array<const char*, 4> NumberedSamplers = {"texture_diffuse", "texture_specular",
                                                         "texture_normal", "texture_height"};

// The sampler the model shaders colour with; a mesh without textures points it at the white texture.
const std::string FirstDiffuseSampler = std::string(NumberedSamplers[0]) + "1";

// Stencil values of the outline pass: the model marks its pixels with 1, and
// the outline is drawn only where that mark is missing.
constexpr GLint ModelStencilMark = 1;
constexpr GLuint AllStencilBits = 0xFF;

// A model file and each file it names (materials, buffers) are held whole in
// memory while Assimp imports them, and the imported scene takes several
// times that again. Models are a few MiB; a quarter of a GiB still takes a
// large scan, and refuses a file whose import would exhaust memory.
constexpr std::uintmax_t MaxModelFileBytes = std::uintmax_t(256) << 20;

using FileBytes = std::vector<std::uint8_t>;

// The bytes a stream reads, kept alive as long as the stream; a base of the
// stream so that they exist before the stream is pointed at them.
struct HeldBytes {
    std::shared_ptr<const FileBytes> bytes;
};

// An Assimp stream over the bytes of a file read before.
class HeldBytesStream : private HeldBytes, public Assimp::MemoryIOStream {
public:
    explicit HeldBytesStream(std::shared_ptr<const FileBytes> file)
        : HeldBytes{std::move(file)}, Assimp::MemoryIOStream(bytes->data(), bytes->size())
    {
    }
};

// Assimp's file access through bytes read from checked files. Left to
// itself, Assimp opens a path after our check, and again each time it looks
// (to guess the format, to measure the file, to read it): a named pipe swapped
// in meanwhile would block the import, another file be read in its place.
// Here each file is read once, whole, through the descriptor that was checked
// (qvReadBoundedFile), and every open of it is a stream over those bytes.
// What is there but refused is kept to be reported, once however Assimp
// spells its name.
class CheckedFileSystem : public Assimp::DefaultIOSystem {
public:
    bool Exists(const char* file) const override { return read(file, nullptr) != nullptr; }
    // Only read: the importer never writes.
    Assimp::IOStream* Open(const char* file, const char* /*mode*/) override
    {
        std::shared_ptr<const FileBytes> bytes = read(file, nullptr);
        return bytes ? new HeldBytesStream(std::move(bytes)) : nullptr;
    }

    // The bytes of `file`, read on the first ask; null, with the reason in
    // `problem` when given, when it is refused or cannot be read.
    std::shared_ptr<const FileBytes> read(const std::string& file, std::string* problem) const
    {
        const std::string name = std::filesystem::path(file).lexically_normal().string();
        auto known = files_.find(name);
        if (known == files_.end()) {
            Read read;
            if (std::optional<FileBytes> bytes = qvReadBoundedFile(file, read.problem, MaxModelFileBytes))
                read.bytes = std::make_shared<const FileBytes>(std::move(*bytes));
            // A name with nothing behind it is Assimp's to handle; an entry
            // that is refused (a dangling link among them) is the user's to
            // hear about.
            std::error_code ec;
            if (!read.bytes &&
                std::filesystem::symlink_status(file, ec).type() != std::filesystem::file_type::not_found)
                refused.emplace(name, read.problem);
            known = files_.emplace(name, std::move(read)).first;
        }
        if (problem) *problem = known->second.problem;
        return known->second.bytes;
    }

    // The bytes are needed only while Assimp reads.
    void forgetBytes() { files_.clear(); }

    // Each refused file that is there, with the reason.
    mutable std::set<std::pair<std::string, std::string>> refused;

private:
    struct Read {
        std::shared_ptr<const FileBytes> bytes;  // null when refused
        std::string problem;
    };
    mutable std::map<std::string, Read> files_;  // by normalised name
};

// One white pixel, its row padded to 4 bytes: multiplying by it leaves a colour as it is.
constexpr std::uint8_t WhitePixelRow[4] = {255, 255, 255, 0};

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

const aiScene* qvImportRegularFile(Assimp::Importer& importer, const std::string& path, unsigned flags)
{
    auto* files = new CheckedFileSystem;
    importer.SetIOHandler(files);  // the importer owns it
    // Read before Assimp looks: even its test for the file opens it.
    std::string problem;
    if (!files->read(path, &problem)) {
        fmt::print("{}", importErrorLine(path, problem.c_str()));
        return nullptr;
    }
    const aiScene* scene = importer.ReadFile(path, flags);
    files->forgetBytes();
    for (const auto& [file, reason] : files->refused) {
        if (file != std::filesystem::path(path).lexically_normal())
            fmt::print("ERROR! File: {}. Not read for the model {}: {}\n", file, path, reason);
    }
    if (!scene || !scene->mRootNode) {
        fmt::print("{}", importErrorLine(path, importer.GetErrorString()));
        return nullptr;
    }
    return scene;
}

QvModelFile readModelFile(const std::string& path)
{
    QvModelFile file;
    file.directory = modelDirectory(path);
    Assimp::Importer importer;
    const aiScene* scene = qvImportRegularFile(importer, path, ModelImportFlags);
    if (!scene) return file;
    file.imported = true;
    processNode(*scene->mRootNode, *scene, file);
    return file;
}

// ---- GL side -------------------------------------------------------------------

QvTexture loadTexture(const std::string& path)
{
    std::string error;
    // Top row first, matching the flipped texture coordinates of the meshes.
    const std::optional<QvDecodedPicture> picture = qvReadPicture(
        path, {.maxSide = qvCommonMaxTextureSize, .layout = QvPixelLayout::rgbTopRowFirst}, error);
    if (!picture) {
        qvReportUnloadedPicture(path, error);
        return qvCreateRgbTexture(0, 0, nullptr);
    }
    qvReportPictureRemarks(path, picture->remarks);
    return qvCreateRgbTexture(picture->width, picture->height, picture->rows.data());
}

std::vector<std::string> samplerUniformNames(const std::vector<Texture>& textures)
{
    std::array<int, NumberedSamplers.size()> counters{};
    std::vector<std::string> names;
    for (const Texture& texture : textures) {
        const auto known = std::find(NumberedSamplers.begin(), NumberedSamplers.end(), texture.type);
        if (known == NumberedSamplers.end()) {
            names.push_back(texture.type);
            continue;
        }
        const int number = ++counters[std::size_t(known - NumberedSamplers.begin())];
        names.push_back(texture.type + std::to_string(number));
    }
    return names;
}

Mesh::Mesh(std::vector<float> vertices, std::vector<glm::vec3> positions, std::vector<std::uint32_t> indices,
           std::vector<Texture> textures, int vertexStride)
    : vertices(std::move(vertices)), positions(std::move(positions)), indices(std::move(indices)),
      textures(std::move(textures))
{
    setupMesh(vertexStride);
}

// A second set-up replaces the buffers of the first; bone input uploaded
// before is pointed at again from the new vertex array.
void Mesh::setupMesh(int vertexStride)
{
    VAO = QvVertexArray::create();
    glBindVertexArray(VAO.get());
    VBO = qvMakeBuffer(GL_ARRAY_BUFFER, GLsizeiptr(vertices.size() * sizeof(float)), vertices.data(),
                       GL_STATIC_DRAW);
    EBO = qvMakeBuffer(GL_ELEMENT_ARRAY_BUFFER, GLsizeiptr(indices.size() * sizeof(std::uint32_t)),
                       indices.data(), GL_STATIC_DRAW);

    // An 8-float vertex has no tangent or bitangent: those attributes stay off
    // (the shader then reads constants) rather than reading the next vertex.
    const GLsizei strideBytes = GLsizei(vertexStride * sizeof(float));
    for (const VertexAttribute& attribute : VertexAttributes) {
        if (attribute.offset + attribute.count > vertexStride) continue;
        qvPointAttribute(attribute.attribute, VBO, attribute.count, strideBytes,
                         GLsizeiptr(attribute.offset * sizeof(float)));
    }
    if (boneVBO) _pointBoneAttributes();
    glBindVertexArray(0);
}

void Mesh::setupBones(const std::vector<Vertex>& vertexRecords)
{
    std::vector<BoneAttributes> bones;
    bones.reserve(vertexRecords.size());
    for (const Vertex& vertex : vertexRecords) bones.push_back({vertex.boneIDs, vertex.weights});

    glBindVertexArray(VAO.get());
    boneVBO = qvMakeBuffer(GL_ARRAY_BUFFER, GLsizeiptr(bones.size() * sizeof(BoneAttributes)), bones.data(),
                           GL_STATIC_DRAW);
    _pointBoneAttributes();
    glBindVertexArray(0);
}

void Mesh::_pointBoneAttributes()
{
    qvPointAttribute(QvAttribute::boneIds, boneVBO, 4, sizeof(BoneAttributes), offsetof(BoneAttributes, ids),
                     GL_INT);
    qvPointAttribute(QvAttribute::boneWeights, boneVBO, 4, sizeof(BoneAttributes),
                     offsetof(BoneAttributes, weights));
}

void Mesh::draw()
{
    const std::vector<std::string> samplers = samplerUniformNames(textures);
    for (std::size_t i = 0; i < textures.size(); ++i) {
        glActiveTexture(GLenum(GL_TEXTURE0 + i));
        if (shader) shader->setUniform(samplers[i], std::uint64_t(i));
        glBindTexture(GL_TEXTURE_2D, textures[i].id);
    }
    glBindVertexArray(VAO.get());
    glDrawElements(GL_TRIANGLES, GLsizei(indices.size()), GL_UNSIGNED_INT, nullptr);
    glBindVertexArray(0);
    glActiveTexture(GL_TEXTURE0);
}

// ---- QvModel -------------------------------------------------------------------

QvModel::QvModel(const std::string& name) : QvMaterialObject(name) {}

QvModel::QvModel(const std::string& name, const std::string& path) : QvModel(name)
{
    _loadModel(path);
}

void QvModel::_loadModel(const std::string& path)
{
    QvModelFile file = readModelFile(path);
    directory = file.directory;
    for (QvMesh& record : file.meshes) {
        ownedMeshes.push_back(_processMesh(record));
        meshes.push_back(ownedMeshes.back().get());
    }
}

std::unique_ptr<Mesh> QvModel::_processMesh(QvMesh& mesh)
{
    std::unique_ptr<Mesh> uploaded = _uploadMesh(mesh);
    qvMeshes.push_back(std::move(mesh));
    return uploaded;
}

std::unique_ptr<Mesh> QvModel::_uploadMesh(const QvMesh& mesh)
{
    meshTriangles.insert(meshTriangles.end(), mesh.faces.begin(), mesh.faces.end());
    vertexStride = mesh.vertexStride;
    if (mesh.diffuseColor) currentColor = *mesh.diffuseColor;
    return std::make_unique<Mesh>(mesh.vertices, mesh.positions, mesh.indices,
                                  _loadMaterialTextures(mesh.textureFiles), mesh.vertexStride);
}

std::vector<Texture> QvModel::_loadMaterialTextures(const std::vector<TextureFile>& files)
{
    std::vector<Texture> textures;
    for (const TextureFile& file : files) {
        const auto loaded = std::find_if(texturesLoaded.begin(), texturesLoaded.end(),
                                         [&](const Texture& t) { return t.path == file.path; });
        if (loaded != texturesLoaded.end()) {
            textures.push_back({loaded->id, file.type, loaded->path});
            continue;
        }
        textureNames.push_back(loadTexture(file.path));
        const Texture texture{textureNames.back().get(), file.type, file.path};
        textures.push_back(texture);
        texturesLoaded.push_back(texture);
    }
    return textures;
}

void QvModel::_prepareModelUniforms(QvShader&) {}

// Each mesh sets its samplers in the program that draws it. A mesh without
// textures gets the white texture on unit 0, with the first diffuse sampler
// pointed there, so that the model shaders show its colour rather than a
// previous mesh's picture or the driver's black.
void QvModel::_drawMeshes(QvShader* program)
{
    for (Mesh* mesh : meshes) {
        if (mesh->textures.empty()) {
            if (!blankTexture) blankTexture = qvCreateRgbTexture(1, 1, WhitePixelRow);
            glActiveTexture(GL_TEXTURE0);
            glBindTexture(GL_TEXTURE_2D, blankTexture.get());
            program->setUniform(FirstDiffuseSampler, std::uint64_t(0));
        }
        mesh->shader = program;
        mesh->draw();
    }
}

void QvModel::draw(Camera& camera)
{
    QvMaterialObject::draw(camera);
    if (!shader) return;
    shader->useProgram();
    takeCameraMatrices(camera);
    _prepareUniforms(*shader, transform->getMatrix());
    _prepareModelUniforms(*shader);

    glStencilFunc(GL_ALWAYS, ModelStencilMark, AllStencilBits);
    glStencilMask(AllStencilBits);
    _drawMeshes(shader);

    if (selected && pickingShader) {
        glStencilFunc(GL_NOTEQUAL, ModelStencilMark, AllStencilBits);
        glStencilMask(0x00);
        glDepthMask(GL_FALSE);
        pickingShader->useProgram();
        _prepareUniforms(*pickingShader, outlineModel);
        _prepareModelUniforms(*pickingShader);
        _drawMeshes(pickingShader);
    }

    glStencilFunc(GL_ALWAYS, 0, AllStencilBits);
    glStencilMask(AllStencilBits);
    glDepthMask(GL_TRUE);
}
