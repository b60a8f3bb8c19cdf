// Skeletal animation without a GL context: key interpolation and key search,
// time wrap, the hierarchy walk on a hand-built arm, skinning records, and the
// project's two-bone arm file read end to end. Expected values come from the
// geometry (where a point of the arm must end up), worked out by hand.
#include "engine/model/qvanimation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace {

const std::string ModelDir = std::string(VELMORIN_TEST_DATA) + "/models/";
const float Root2 = std::sqrt(2.0f);

void expectPoint(const glm::vec4& actual, float x, float y, float z)
{
    EXPECT_NEAR(actual.x, x, 1e-5f);
    EXPECT_NEAR(actual.y, y, 1e-5f);
    EXPECT_NEAR(actual.z, z, 1e-5f);
}

glm::quat turnAboutZ(float degrees)
{
    return glm::angleAxis(glm::radians(degrees), glm::vec3(0.0f, 0.0f, 1.0f));
}

glm::mat4 translation(float x, float y, float z)
{
    glm::mat4 m(1.0f);
    m[3] = glm::vec4(x, y, z, 1.0f);
    return m;
}

AssimpNodeData node(const std::string& name, glm::mat4 transformation,
                    std::vector<AssimpNodeData> children = {})
{
    AssimpNodeData data;
    data.name = name;
    data.transformation = transformation;
    data.childrenCount = static_cast<int>(children.size());
    data.children = std::move(children);
    return data;
}

}  // namespace

TEST(Bone, InterpolatesTranslationRotationAndScale)
{
    Bone bone("joint", 0, {{{0, 0, 0}, 0.0f}, {{10, 0, -4}, 10.0f}},
              {{turnAboutZ(0), 0.0f}, {turnAboutZ(90), 10.0f}}, {{{1, 1, 1}, 0.0f}, {{3, 1, 1}, 10.0f}});
    EXPECT_EQ(bone.getLocalTransform(), glm::mat4(1.0f));

    bone.update(5.0f);
    // Halfway: scale x by 2, turn 45 degrees, move to (5, 0, -2).
    const glm::mat4 local = bone.getLocalTransform();
    expectPoint(local * glm::vec4(0, 0, 0, 1), 5.0f, 0.0f, -2.0f);
    expectPoint(local * glm::vec4(1, 0, 0, 1), 5.0f + Root2, Root2, -2.0f);
    expectPoint(local * glm::vec4(0, 1, 0, 1), 5.0f - Root2 / 2, Root2 / 2, -2.0f);

    bone.update(2.5f);
    expectPoint(bone.getLocalTransform() * glm::vec4(0, 0, 0, 1), 2.5f, 0.0f, -1.0f);
}

TEST(Bone, KeySearchClampsAndOddKeysStayFinite)
{
    Bone bone("joint", 0, {{{0, 0, 0}, 0.0f}, {{1, 0, 0}, 10.0f}, {{1, 5, 0}, 20.0f}}, {}, {});
    EXPECT_EQ(bone.getPositionIndex(9.9f), 0);
    EXPECT_EQ(bone.getPositionIndex(10.0f), 1);
    EXPECT_EQ(bone.getPositionIndex(35.0f), 2);
    // At and past the last key the bone holds the last key; before the first, the first.
    for (float t : {20.0f, 35.0f}) {
        bone.update(t);
        expectPoint(bone.getLocalTransform() * glm::vec4(0, 0, 0, 1), 1.0f, 5.0f, 0.0f);
    }
    bone.update(-3.0f);
    expectPoint(bone.getLocalTransform() * glm::vec4(0, 0, 0, 1), 0.0f, 0.0f, 0.0f);

    Bone single("joint", 0, {{{2, 3, 4}, 7.0f}}, {{turnAboutZ(90), 7.0f}}, {});
    for (float t : {0.0f, 100.0f}) {
        single.update(t);
        expectPoint(single.getLocalTransform() * glm::vec4(1, 0, 0, 1), 2.0f, 4.0f, 4.0f);
    }

    // Two keys on one time stamp: no division by zero, the first key holds.
    Bone coincident("joint", 0, {{{1, 0, 0}, 5.0f}, {{9, 0, 0}, 5.0f}},
                    {{turnAboutZ(0), 5.0f}, {turnAboutZ(90), 5.0f}}, {});
    coincident.update(4.0f);
    expectPoint(coincident.getLocalTransform() * glm::vec4(0, 0, 0, 1), 1.0f, 0.0f, 0.0f);
}

TEST(Animator, TimeWrapsAtTheDurationAndZeroDurationStandsStill)
{
    Animation animation(50.0f, 25.0, node("root", glm::mat4(1.0f)), {}, {});
    Animator animator(&animation);
    for (int i = 0; i < 3; ++i) animator.updateAnimation(1.0f);
    EXPECT_FLOAT_EQ(animator.currentTime, 25.0f);  // 75 ticks modulo 50
    animator.updateAnimation(-1.5f);               // 25 - 37.5 wraps back into [0, 50)
    EXPECT_FLOAT_EQ(animator.currentTime, 37.5f);
    // A broken frame time is skipped; the next good one carries on from there.
    animator.updateAnimation(std::numeric_limits<float>::quiet_NaN());
    animator.updateAnimation(std::numeric_limits<float>::infinity());
    EXPECT_FLOAT_EQ(animator.currentTime, 37.5f);
    animator.updateAnimation(0.1f);
    EXPECT_FLOAT_EQ(animator.currentTime, 40.0f);
    animator.playAnimation(&animation);
    EXPECT_FLOAT_EQ(animator.currentTime, 0.0f);

    // A rate of 0 in the file means the customary 25 ticks a second.
    EXPECT_FLOAT_EQ(Animation(100.0f, 0.0, {}, {}, {}).getTicksPerSecond(), 25.0f);

    BoneInfoMap map{{"root", {0, glm::mat4(1.0f)}}};
    Animation still(0.0f, 25.0, node("root", translation(0, 3, 0)), {}, map);
    animator.playAnimation(&still);
    animator.updateAnimation(0.5f);
    EXPECT_FLOAT_EQ(animator.currentTime, 0.0f);
    expectPoint(animator.getFinalBoneMatrices()[0] * glm::vec4(0, 0, 0, 1), 0.0f, 3.0f, 0.0f);

    Animator idle;
    idle.updateAnimation(1.0f);  // nothing to play: no crash, bind pose
    EXPECT_EQ(idle.getFinalBoneMatrices()[0], glm::mat4(1.0f));
}

// A two-bone arm built by hand: "upper" at the origin, "lower" one unit up
// the y axis, each bone's offset the inverse of its bind placement.
TEST(Animator, HierarchyWalkBendsTheArm)
{
    std::vector<Bone> bones;
    bones.emplace_back("lower", 1, std::vector<KeyPosition>{{{0, 1, 0}, 0.0f}},
                       std::vector<KeyRotation>{{turnAboutZ(0), 0.0f}, {turnAboutZ(90), 10.0f}},
                       std::vector<KeyScale>{});
    BoneInfoMap map{{"upper", {0, glm::mat4(1.0f)}},
                    {"lower", {1, translation(0, -1, 0)}},
                    {"far", {150, glm::mat4(1.0f)}}};  // beyond the 100 matrices: ignored
    AssimpNodeData root = node("root", translation(5, 0, 0),
                               {node("upper", glm::mat4(1.0f),
                                     {node("lower", translation(0, 1, 0), {node("far", glm::mat4(1.0f))})})});
    Animation animation(20.0f, 1.0, root, std::move(bones), map);
    Animator animator(&animation);

    // Before the first update every matrix is the identity: the bind pose.
    ASSERT_EQ(animator.getFinalBoneMatrices().size(), 100u);
    for (const glm::mat4& m : animator.getFinalBoneMatrices()) EXPECT_EQ(m, glm::mat4(1.0f));

    EXPECT_EQ(animation.FindBone("upper"), nullptr);
    ASSERT_NE(animation.FindBone("lower"), nullptr);

    animator.updateAnimation(10.0f);  // lower fully turned by 90 degrees
    const auto& finals = animator.getFinalBoneMatrices();
    // The root's move carries everything; upper keeps its own (identity) node transform.
    expectPoint(finals[0] * glm::vec4(0, 0.5f, 0, 1), 5.0f, 0.5f, 0.0f);
    // The arm's tip at (0, 2) swings about the elbow at (0, 1) to (-1, 1).
    expectPoint(finals[1] * glm::vec4(0, 2, 0, 1), 4.0f, 1.0f, 0.0f);
    // The elbow itself does not move.
    expectPoint(finals[1] * glm::vec4(0, 1, 0, 1), 5.0f, 1.0f, 0.0f);

    animator.playAnimation(&animation);
    animator.updateAnimation(5.0f);  // halfway: 45 degrees
    expectPoint(finals[1] * glm::vec4(0, 2, 0, 1), 5.0f - Root2 / 2, 1.0f + Root2 / 2, 0.0f);
}

TEST(Skinning, BonesTakeIdsInReadingOrderAndFillVertexSlots)
{
    QvMesh mesh;
    mesh.bones = {{"known", glm::mat4(1.0f), {{0, 0.75f}}},
                  {"fresh", translation(0, -2, 0), {{0, 0.25f}, {1, 1.0f}, {99, 1.0f}}}};
    std::vector<Vertex> vertices(2);
    for (Vertex& v : vertices) setVertexBoneDataToDefault(v);
    BoneInfoMap map{{"known", {3, glm::mat4(1.0f)}}};
    int counter = 7;

    extractBoneWeightForVertices(vertices, mesh, map, counter);
    for (int id = 20; id < 25; ++id) setVertexBoneData(vertices[1], id, 0.5f);  // only three slots are left
    EXPECT_EQ(counter, 8);
    EXPECT_EQ(map.at("known").id, 3);
    EXPECT_EQ(map.at("fresh").id, 7);
    EXPECT_EQ(map.at("fresh").offset, translation(0, -2, 0));
    EXPECT_EQ(vertices[0].boneIDs, glm::ivec4(3, 7, -1, -1));
    EXPECT_EQ(vertices[0].weights, glm::vec4(0.75f, 0.25f, 0.0f, 0.0f));
    EXPECT_EQ(vertices[1].boneIDs, glm::ivec4(7, 20, 21, 22));  // vertex 99 does not exist: skipped
    EXPECT_EQ(vertices[1].weights, glm::vec4(1.0f, 0.5f, 0.5f, 0.5f));
}

TEST(ArmFile, SkinAndAnimationReadFromTheFile)
{
    const std::string path = ModelDir + "arm.gltf";
    const QvModelFile file = readModelFile(path);
    ASSERT_EQ(file.meshes.size(), 1u);
    QvMesh mesh = file.meshes[0];
    std::vector<Vertex> vertices = mesh.vertexRecords;
    for (Vertex& v : vertices) setVertexBoneDataToDefault(v);
    BoneInfoMap map;
    int counter = 0;
    extractBoneWeightForVertices(vertices, mesh, map, counter);

    ASSERT_EQ(counter, 2);
    EXPECT_EQ(map.at("upper").id, 0);
    EXPECT_EQ(map.at("lower").id, 1);
    expectPoint(map.at("lower").offset * glm::vec4(0, 1, 0, 1), 0.0f, 0.0f, 0.0f);
    for (std::size_t i = 0; i < vertices.size(); ++i) {
        const int expected = vertices[i].position.y > 1.5f ? 1 : 0;
        EXPECT_EQ(vertices[i].boneIDs, glm::ivec4(expected, -1, -1, -1)) << "vertex " << i;
        EXPECT_EQ(vertices[i].weights, glm::vec4(1, 0, 0, 0)) << "vertex " << i;
    }

    Animation animation(path, map, counter);
    EXPECT_FLOAT_EQ(animation.getDuration(), 2000.0f);  // glTF keys in milliseconds
    EXPECT_FLOAT_EQ(animation.getTicksPerSecond(), 1000.0f);
    // "hand" is moved by a channel but is no joint of the skin: it gets the
    // next id and the identity offset, and the model's count advances.
    EXPECT_EQ(counter, 3);
    ASSERT_EQ(animation.getBoneIDMap().count("hand"), 1u);
    EXPECT_EQ(animation.getBoneIDMap().at("hand").id, 2);
    EXPECT_EQ(animation.getBoneIDMap().at("hand").offset, glm::mat4(1.0f));
    EXPECT_EQ(map.count("hand"), 1u);

    ASSERT_EQ(animation.getRootNode().childrenCount, 2);
    EXPECT_EQ(animation.getRootNode().children[1].name, "upper");

    Animator animator(&animation);
    animator.updateAnimation(1.0f);  // one second: lower turned 90 degrees, hand scaled 1.5
    EXPECT_FLOAT_EQ(animator.currentTime, 1000.0f);
    const auto& finals = animator.getFinalBoneMatrices();
    expectPoint(finals[0] * glm::vec4(0.2f, 1, 0, 1), 0.2f, 1.0f, 0.0f);
    expectPoint(finals[1] * glm::vec4(0.2f, 2, 0, 1), -1.0f, 1.2f, 0.0f);
    expectPoint(finals[2] * glm::vec4(0, 0, 0, 1), -1.0f, 1.0f, 0.0f);
    expectPoint(finals[2] * glm::vec4(1, 0, 0, 1), -1.0f, 2.5f, 0.0f);
}

TEST(ArmFile, FileWithoutAnimationsOrUnreadableIsAStillPose)
{
    BoneInfoMap map;
    int counter = 0;
    Animation animation(ModelDir + "panel.obj", map, counter);
    EXPECT_FLOAT_EQ(animation.getDuration(), 0.0f);
    EXPECT_TRUE(animation.bones.empty());
    EXPECT_EQ(animation.getRootNode().childrenCount, 3);

    testing::internal::CaptureStdout();
    Animation missing(ModelDir + "no-such-animation.gltf", map, counter);
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 1);
    EXPECT_FLOAT_EQ(missing.getDuration(), 0.0f);
    EXPECT_EQ(counter, 0);
}
