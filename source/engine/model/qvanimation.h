// Skeletal animation: bone influences of skinned meshes, keyframed bones read
// from an animation file, and the animator that walks the node hierarchy into
// up to 100 final bone matrices for the skinning shader.
#pragma once

#include "engine/model/qvassimpconvert.h"
#include "engine/model/qvmodel.h"

#include <glm/gtc/quaternion.hpp>

#include <map>
#include <string>
#include <vector>

class QvAnimatedModel;
struct aiAnimation;
struct aiNode;
struct aiNodeAnim;

// Where a bone's final matrix goes, and how mesh space maps into bone space.
struct BoneInfo {
    int id = 0;        // index into the final bone matrices
    glm::mat4 offset;  // mesh space -> bone space; identity by default
};

using BoneInfoMap = std::map<std::string, BoneInfo>;

struct KeyPosition {
    glm::vec3 position;
    float timeStamp = 0.0f;  // ticks
};

struct KeyRotation {
    glm::quat orientation;
    float timeStamp = 0.0f;
};

struct KeyScale {
    glm::vec3 scale;
    float timeStamp = 0.0f;
};

// One node of the file's hierarchy, copied out of the imported scene.
struct AssimpNodeData {
    glm::mat4 transformation;
    std::string name;
    int childrenCount = 0;
    std::vector<AssimpNodeData> children;
};

// Skinning steps on vertex records.
void setVertexBoneDataToDefault(Vertex& vertex);
// Stores (id, weight) in the first free slot; a fifth influence is dropped.
void setVertexBoneData(Vertex& vertex, int boneID, float weight);
// Gives each bone of the mesh an id (new names take boneCounter, which then
// advances) and stores its influences in the vertex records.
void extractBoneWeightForVertices(std::vector<Vertex>& vertices, const QvMesh& mesh, BoneInfoMap& boneInfoMap,
                                  int& boneCounter);

// One animated node: its keys and the local transform at the last update.
class Bone {
public:
    Bone(std::string name, int id, std::vector<KeyPosition> positions, std::vector<KeyRotation> rotations,
         std::vector<KeyScale> scales);
    Bone(const std::string& name, int id, const aiNodeAnim& channel);
    virtual ~Bone() = default;

    // localTransform = translation x rotation x scale at animation time t.
    virtual void update(float animationTime);
    virtual glm::mat4 getLocalTransform() const { return localTransform; }
    virtual const std::string& getBoneName() const { return name; }
    virtual int getBoneID() const { return id; }
    // Index of the key that starts the segment holding t; the last key at or
    // after the last time stamp.
    virtual int getPositionIndex(float animationTime) const;
    virtual int getRotationIndex(float animationTime) const;
    virtual int getScaleIndex(float animationTime) const;

    std::vector<KeyPosition> positions;
    std::vector<KeyRotation> rotations;
    std::vector<KeyScale> scales;
    int numPositions = 0;
    int numRotations = 0;
    int numScalings = 0;
    glm::mat4 localTransform;
    std::string name;
    int id = 0;

private:
    glm::mat4 interpolatePosition(float animationTime) const;
    glm::mat4 interpolateRotation(float animationTime) const;
    glm::mat4 interpolateScaling(float animationTime) const;
};

// The first animation of a file: duration, tick rate, hierarchy and bones.
// A file without animations (or one that cannot be read) gives a still pose.
class Animation {
public:
    static constexpr double DefaultTicksPerSecond = 25.0;

    Animation() = default;
    // Reads the file; bones met only in a channel are added to the model's map.
    Animation(const std::string& animationPath, QvAnimatedModel& model);
    Animation(const std::string& animationPath, BoneInfoMap& modelBoneInfoMap, int& modelBoneCounter);
    // An animation put together in code.
    Animation(float duration, double ticksPerSecond, AssimpNodeData rootNode, std::vector<Bone> bones,
              BoneInfoMap boneInfoMap);
    virtual ~Animation() = default;

    virtual Bone* FindBone(const std::string& name);
    virtual float getTicksPerSecond() const { return static_cast<float>(ticksPerSecond); }
    virtual float getDuration() const { return duration; }
    virtual const AssimpNodeData& getRootNode() const { return rootNode; }
    virtual const BoneInfoMap& getBoneIDMap() const { return boneInfoMap; }

    float duration = 0.0f;  // ticks
    double ticksPerSecond = DefaultTicksPerSecond;
    std::vector<Bone> bones;
    AssimpNodeData rootNode;
    BoneInfoMap boneInfoMap;

private:
    void readHierarchyData(AssimpNodeData& destination, const aiNode& source);
    void readMissingBones(const aiAnimation& animation, BoneInfoMap& modelBoneInfoMap, int& modelBoneCounter);
};

// Plays one animation: advances its time and computes the final bone matrices.
class Animator {
public:
    static constexpr int MaxBones = 100;

    explicit Animator(Animation* animation = nullptr);
    virtual ~Animator() = default;

    // Advances by dt seconds, wraps the time into the animation and recomputes.
    virtual void updateAnimation(float dt);
    // Switches to the animation and restarts it at time 0.
    virtual void playAnimation(Animation* animation);
    virtual void calculateBoneTransform(const AssimpNodeData& node, const glm::mat4& parentTransform);
    virtual const std::vector<glm::mat4>& getFinalBoneMatrices() const { return finalBoneMatrices; }

    std::vector<glm::mat4> finalBoneMatrices;
    Animation* currentAnimation = nullptr;
    float currentTime = 0.0f;  // ticks
    float deltaTime = 0.0f;    // seconds
};

// A model whose vertices follow bones: read like QvModel, with each vertex's up
// to four bone influences uploaded beside it and the animator's final bone
// matrices sent as "finalBonesMatrices[i]" when it draws.
class QvAnimatedModel : public QvModel {
public:
    QvAnimatedModel(const std::string& name, const std::string& path);

    BoneInfoMap& getBoneInfoMap() { return boneInfoMap; }
    int& getBoneCount() { return boneCounter; }
    void extractBoneWeightForVertices(std::vector<Vertex>& vertices, const QvMesh& mesh);

    Animator* animator = nullptr;  // set by the owner; without one the bind pose is drawn
    BoneInfoMap boneInfoMap;
    int boneCounter = 0;  // the next free bone id

protected:
    std::unique_ptr<Mesh> _processMesh(QvMesh& mesh) override;
    void _prepareModelUniforms(QvShader& program) override;
};
