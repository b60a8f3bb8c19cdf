// Skeletal animation: skinning data on vertex records, keyframe interpolation
// of bones, animation files and the hierarchy walk of the animator.
#include "engine/model/qvanimation.h"

#include "engine/gl/qvshader.h"

#include <assimp/Importer.hpp>
#include <assimp/anim.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <fmt/core.h>
#include <glm/gtc/matrix_transform.hpp>

#include <algorithm>
#include <cmath>
#include <tuple>

namespace {

constexpr int BoneSlots = 4;
constexpr int FreeSlot = -1;

// Index of the key whose segment holds t: the first i with t below the time
// stamp of key i + 1; the last key when t is at or past every time stamp.
template <typename Key>
int keyIndex(const std::vector<Key>& keys, float t)
{
    const int count = static_cast<int>(keys.size());
    for (int i = 0; i + 1 < count; ++i)
        if (t < keys[i + 1].timeStamp) return i;
    return std::max(count - 1, 0);
}

// How far t lies between two key times, held to [0, 1]; 0 for equal times.
float getScaleFactor(float lastTimeStamp, float nextTimeStamp, float t)
{
    const float span = nextTimeStamp - lastTimeStamp;
    if (!(span > 0.0f)) return 0.0f;
    return std::clamp((t - lastTimeStamp) / span, 0.0f, 1.0f);
}

// Key i and key i + 1 of a segment (the last key on both ends once t is past
// it), and how far t lies from the first to the second.
template <typename Key>
std::tuple<const Key&, const Key&, float> blendAt(const std::vector<Key>& keys, int index, float t)
{
    const Key& from = keys[index];
    const Key& to = keys[std::min(index + 1, static_cast<int>(keys.size()) - 1)];
    return {from, to, getScaleFactor(from.timeStamp, to.timeStamp, t)};
}

// The id of the named bone; a name new to the map gets the next free id and `offset`.
int boneId(BoneInfoMap& map, const std::string& name, const glm::mat4& offset, int& counter)
{
    const auto [at, added] = map.try_emplace(name, BoneInfo{counter, offset});
    if (added) ++counter;
    return at->second.id;
}

// The keys of one channel list as key records: value and time stamp.
template <typename Key, typename FileKey, typename Convert>
std::vector<Key> readKeys(const FileKey* keys, unsigned count, Convert convert)
{
    std::vector<Key> result;
    for (unsigned i = 0; i < count; ++i)
        result.push_back({convert(keys[i].mValue), static_cast<float>(keys[i].mTime)});
    return result;
}

}  // namespace

void setVertexBoneDataToDefault(Vertex& vertex)
{
    vertex.boneIDs = glm::ivec4(FreeSlot);
    vertex.weights = glm::vec4(0.0f);
}

void setVertexBoneData(Vertex& vertex, int boneID, float weight)
{
    for (int slot = 0; slot < BoneSlots; ++slot) {
        if (vertex.boneIDs[slot] < 0) {
            vertex.boneIDs[slot] = boneID;
            vertex.weights[slot] = weight;
            return;
        }
    }
}

void extractBoneWeightForVertices(std::vector<Vertex>& vertices, const QvMesh& mesh, BoneInfoMap& boneInfoMap,
                                  int& boneCounter)
{
    for (const MeshBone& bone : mesh.bones) {
        const int id = boneId(boneInfoMap, bone.name, bone.offset, boneCounter);
        for (const auto& [vertexIndex, weight] : bone.weights)
            if (vertexIndex < vertices.size()) setVertexBoneData(vertices[vertexIndex], id, weight);
    }
}

// ---- Bone ------------------------------------------------------------------

Bone::Bone(std::string name, int id, std::vector<KeyPosition> positions, std::vector<KeyRotation> rotations,
           std::vector<KeyScale> scales)
    : positions(std::move(positions)), rotations(std::move(rotations)), scales(std::move(scales)),
      numPositions(static_cast<int>(this->positions.size())),
      numRotations(static_cast<int>(this->rotations.size())),
      numScalings(static_cast<int>(this->scales.size())), name(std::move(name)), id(id)
{
}

Bone::Bone(const std::string& name, int id, const aiNodeAnim& channel)
    : Bone(name, id, readKeys<KeyPosition>(channel.mPositionKeys, channel.mNumPositionKeys, getGL3NVec),
           readKeys<KeyRotation>(channel.mRotationKeys, channel.mNumRotationKeys, getGL3NQuat),
           readKeys<KeyScale>(channel.mScalingKeys, channel.mNumScalingKeys, getGL3NVec))
{
}

int Bone::getPositionIndex(float animationTime) const
{
    return keyIndex(positions, animationTime);
}

int Bone::getRotationIndex(float animationTime) const
{
    return keyIndex(rotations, animationTime);
}

int Bone::getScaleIndex(float animationTime) const
{
    return keyIndex(scales, animationTime);
}

glm::mat4 Bone::interpolatePosition(float animationTime) const
{
    if (positions.empty()) return glm::mat4(1.0f);
    const auto [from, to, f] = blendAt(positions, getPositionIndex(animationTime), animationTime);
    return glm::translate(glm::mat4(1.0f), glm::mix(from.position, to.position, f));
}

glm::mat4 Bone::interpolateRotation(float animationTime) const
{
    if (rotations.empty()) return glm::mat4(1.0f);
    const auto [from, to, f] = blendAt(rotations, getRotationIndex(animationTime), animationTime);
    glm::quat q = glm::slerp(from.orientation, to.orientation, f);
    const float length = glm::length(q);
    if (length != 0.0f) q /= length;
    return glm::mat4_cast(q);
}

glm::mat4 Bone::interpolateScaling(float animationTime) const
{
    if (scales.empty()) return glm::mat4(1.0f);
    const auto [from, to, f] = blendAt(scales, getScaleIndex(animationTime), animationTime);
    return glm::scale(glm::mat4(1.0f), glm::mix(from.scale, to.scale, f));
}

void Bone::update(float animationTime)
{
    localTransform = interpolatePosition(animationTime) * interpolateRotation(animationTime) *
                     interpolateScaling(animationTime);
}

// ---- Animation -------------------------------------------------------------

Animation::Animation(const std::string& animationPath, QvAnimatedModel& model)
    : Animation(animationPath, model.getBoneInfoMap(), model.getBoneCount())
{
}

Animation::Animation(const std::string& animationPath, BoneInfoMap& modelBoneInfoMap, int& modelBoneCounter)
{
    Assimp::Importer importer;
    if (const aiScene* scene = qvImportRegularFile(importer, animationPath, aiProcess_Triangulate)) {
        readHierarchyData(rootNode, *scene->mRootNode);
        if (scene->mNumAnimations > 0) {
            const aiAnimation& animation = *scene->mAnimations[0];
            duration = static_cast<float>(animation.mDuration);
            if (animation.mTicksPerSecond != 0.0) ticksPerSecond = animation.mTicksPerSecond;
            readMissingBones(animation, modelBoneInfoMap, modelBoneCounter);
        }
    }
    boneInfoMap = modelBoneInfoMap;
}

Animation::Animation(float duration, double ticksPerSecond, AssimpNodeData rootNode, std::vector<Bone> bones,
                     BoneInfoMap boneInfoMap)
    : duration(duration), ticksPerSecond(ticksPerSecond != 0.0 ? ticksPerSecond : DefaultTicksPerSecond),
      bones(std::move(bones)), rootNode(std::move(rootNode)), boneInfoMap(std::move(boneInfoMap))
{
}

Bone* Animation::FindBone(const std::string& name)
{
    auto found = std::find_if(bones.begin(), bones.end(),
                              [&](const Bone& bone) { return bone.getBoneName() == name; });
    return found == bones.end() ? nullptr : &*found;
}

void Animation::readHierarchyData(AssimpNodeData& destination, const aiNode& source)
{
    destination.name = source.mName.C_Str();
    destination.transformation = convertMatrixToGL3NFormat(source.mTransformation);
    destination.childrenCount = static_cast<int>(source.mNumChildren);
    for (unsigned i = 0; i < source.mNumChildren; ++i) {
        AssimpNodeData child;
        readHierarchyData(child, *source.mChildren[i]);
        destination.children.push_back(std::move(child));
    }
}

// A channel that moves a node the model has no bone for gets the next free id
// and the identity offset, so that it still takes part in the hierarchy.
void Animation::readMissingBones(const aiAnimation& animation, BoneInfoMap& modelBoneInfoMap,
                                 int& modelBoneCounter)
{
    for (unsigned i = 0; i < animation.mNumChannels; ++i) {
        const aiNodeAnim& channel = *animation.mChannels[i];
        const std::string name = channel.mNodeName.C_Str();
        bones.emplace_back(name, boneId(modelBoneInfoMap, name, glm::mat4(1.0f), modelBoneCounter), channel);
    }
}

// ---- Animator --------------------------------------------------------------

Animator::Animator(Animation* animation)
    : finalBoneMatrices(MaxBones, glm::mat4(1.0f)), currentAnimation(animation)
{
}

void Animator::updateAnimation(float dt)
{
    deltaTime = dt;
    if (!currentAnimation) return;
    const long double duration = currentAnimation->getDuration();
    const long double step = static_cast<long double>(currentAnimation->getTicksPerSecond()) * dt;
    // A broken frame time (NaN or infinite) would stick in the time for good
    // and blank the model; it is skipped instead.
    long double time = static_cast<long double>(currentTime) + (std::isfinite(step) ? step : 0.0L);
    if (duration > 0.0L) {
        time = std::fmod(time, duration);
        if (time < 0.0L) time += duration;
    } else {
        time = 0.0L;  // nothing to play: hold the still pose
    }
    currentTime = static_cast<float>(time);
    calculateBoneTransform(currentAnimation->getRootNode(), glm::mat4(1.0f));
}

void Animator::playAnimation(Animation* animation)
{
    currentAnimation = animation;
    currentTime = 0.0f;
}

void Animator::calculateBoneTransform(const AssimpNodeData& node, const glm::mat4& parentTransform)
{
    if (!currentAnimation) return;
    glm::mat4 nodeTransform = node.transformation;
    if (Bone* bone = currentAnimation->FindBone(node.name)) {
        bone->update(currentTime);
        nodeTransform = bone->getLocalTransform();
    }
    const glm::mat4 global = parentTransform * nodeTransform;

    const BoneInfoMap& boneInfoMap = currentAnimation->getBoneIDMap();
    const auto found = boneInfoMap.find(node.name);
    if (found != boneInfoMap.end() && found->second.id >= 0 && found->second.id < MaxBones)
        finalBoneMatrices[found->second.id] = global * found->second.offset;

    for (const AssimpNodeData& child : node.children) calculateBoneTransform(child, global);
}

// ---- QvAnimatedModel ---------------------------------------------------------

QvAnimatedModel::QvAnimatedModel(const std::string& name, const std::string& path) : QvModel(name)
{
    _loadModel(path);
}

void QvAnimatedModel::extractBoneWeightForVertices(std::vector<Vertex>& vertices, const QvMesh& mesh)
{
    ::extractBoneWeightForVertices(vertices, mesh, boneInfoMap, boneCounter);
}

std::unique_ptr<Mesh> QvAnimatedModel::_processMesh(QvMesh& mesh)
{
    std::vector<Vertex> vertices = mesh.vertexRecords;
    for (Vertex& vertex : vertices) setVertexBoneDataToDefault(vertex);
    std::unique_ptr<Mesh> uploaded = _uploadMesh(mesh);
    extractBoneWeightForVertices(vertices, mesh);
    uploaded->setupBones(vertices);
    return uploaded;
}

// Without an animator every bone sits at the identity, so the bind pose is
// drawn rather than whatever the program last held.
// The uniform names are made once, not 100 strings on every draw; the shaders
// hold MaxBones matrices, so further names would find nothing.
void QvAnimatedModel::_prepareModelUniforms(QvShader& program)
{
    static const std::vector<glm::mat4> bindPose(Animator::MaxBones, glm::mat4(1.0f));
    static const std::vector<std::string> names = [] {
        std::vector<std::string> list;
        for (int i = 0; i < Animator::MaxBones; ++i)
            list.push_back("finalBonesMatrices[" + std::to_string(i) + "]");
        return list;
    }();
    const std::vector<glm::mat4>& matrices = animator ? animator->getFinalBoneMatrices() : bindPose;
    for (std::size_t i = 0; i < std::min(matrices.size(), names.size()); ++i)
        program.setUniform(names[i], matrices[i]);
}
