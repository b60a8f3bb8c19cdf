// Camera: matrices against hand-computed ones, and what each move changes,
// commits and announces.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include <glm/mat4x4.hpp>
#include <glm/matrix.hpp>

#include "qvcamera.h"
#include "qvtransform.h"

namespace {

constexpr float kTol = 1e-5f;

// The tracker scene's starting data.
CameraData sceneData()
{
    CameraData data;
    data.width = 1024;
    data.height = 768;
    data.fov = 45;
    data.position = {0, 0, 20};
    data.target = {0, 0, -1};
    data.up = {0, 1, 0};
    data.lastX = 512;
    data.lastY = 384;
    return data;
}

// Compares with a matrix written row by row, as it reads on paper.
void expectMatrix(const glm::mat4& m, const float rows[4][4], float tol = kTol)
{
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            EXPECT_NEAR(m[c][r], rows[r][c], tol) << "row " << r << " column " << c;
}

void expectVec(glm::vec3 v, glm::vec3 expected, float tol = kTol)
{
    EXPECT_NEAR(v.x, expected.x, tol);
    EXPECT_NEAR(v.y, expected.y, tol);
    EXPECT_NEAR(v.z, expected.z, tol);
}

glm::mat4 translation(float x, float y, float z)
{
    glm::mat4 m(1.0f);
    m[3] = glm::vec4(x, y, z, 1);
    return m;
}

// A camera attached to a transform, counting both events.
struct Rig {
    QvTransform centre;
    Camera camera{sceneData()};
    int transformEvents = 0;
    int cameraEvents = 0;
    bool lastHadArgs = false;

    Rig()
    {
        camera.lookAt();
        camera.setTransform(&centre);
        centre.onChange += [this](QvTransform*, QvEventArgs*) { ++transformEvents; };
        camera.cameraEvent += [this](Camera* sender, QvCameraPositionEventArgs* args) {
            EXPECT_EQ(sender, &camera);
            ++cameraEvents;
            lastHadArgs = args != nullptr;
        };
    }

    // The attached transform must stand where the camera stands.
    void expectTransformFollowsView()
    {
        const glm::mat4 product = centre.getMatrix() * camera.getCameraMatrix();
        for (int c = 0; c < 4; ++c)
            for (int r = 0; r < 4; ++r)
                EXPECT_NEAR(product[c][r], c == r ? 1.0f : 0.0f, 1e-4f);
    }
};

}  // namespace

TEST(Camera, ProjectionsMatchHandComputedMatrices)
{
    const Camera camera(sceneData());
    // Frustum with near 0.1, top = 0.1 tan(22.5 deg) = 0.0414214, right = 4/3 top:
    // 2n/(r-l) = 1 / (tan(22.5) 4/3) = 1.8106601, 2n/(t-b) = 2.4142136,
    // -(f+n)/(f-n) = -1.00002, -2fn/(f-n) = -0.200002.
    const float perspective[4][4] = {{1.8106601f, 0, 0, 0},
                                     {0, 2.4142136f, 0, 0},
                                     {0, 0, -1.00002f, -0.200002f},
                                     {0, 0, -1, 0}};
    expectMatrix(camera.getPerspectiveMatrix(), perspective);
    expectMatrix(camera.getProjectionMatrix(), perspective);

    // The inverse undoes it; written out: (r-l)/2n, (t-b)/2n, -(f-n)/2fn, (f+n)/2fn.
    const float inverse[4][4] = {{0.5522847f, 0, 0, 0},
                                 {0, 0.4142136f, 0, 0},
                                 {0, 0, 0, -1},
                                 {0, 0, -4.99995f, 5.00005f}};
    expectMatrix(camera.getPerspectiveInverseMatrix(), inverse, 1e-4f);
    EXPECT_EQ(camera.getInverseProjectionMatrix(), camera.getPerspectiveInverseMatrix());

    // Orthographic over the viewport, depth -1000..1000.
    const float ortho[4][4] = {{2.0f / 1024, 0, 0, -1},
                               {0, 2.0f / 768, 0, -1},
                               {0, 0, -0.001f, 0},
                               {0, 0, 0, 1}};
    expectMatrix(camera.getOrthographicMatrix(), ortho);

    // Points on the frustum's edges land on the edges of clip space.
    const glm::vec4 nearTopRight = camera.getPerspectiveMatrix()
                                   * glm::vec4(0.0414214f * 4 / 3, 0.0414214f, -0.1f, 1);
    expectVec(glm::vec3(nearTopRight) / nearTopRight.w, {1, 1, -1}, 1e-4f);
    const glm::vec4 farPoint = camera.getPerspectiveMatrix() * glm::vec4(0, 0, -10000, 1);
    EXPECT_NEAR(farPoint.z / farPoint.w, 1.0f, 1e-4f);
}

TEST(Camera, ViewIsUnsetUntilLookAtThenLooksAlongTheFront)
{
    Camera camera(sceneData());
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r)
            EXPECT_TRUE(std::isnan(camera.getCameraMatrix()[c][r]));
    camera.lookAt();
    const float moveBack[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, -20}, {0, 0, 0, 1}};
    expectMatrix(camera.getCameraMatrix(), moveBack);

    // Eye at (1, 2, 3) looking along +x: +x becomes -z, +z becomes +x (right).
    camera.setPosition({1, 2, 3});
    camera.setTarget({1, 0, 0});
    camera.lookAt();
    const float alongX[4][4] = {{0, 0, 1, -3}, {0, 1, 0, -2}, {-1, 0, 0, 1}, {0, 0, 0, 1}};
    expectMatrix(camera.getCameraMatrix(), alongX);
}

TEST(Camera, KeyboardStepsCommitAndAnnounceThePosition)
{
    Rig rig;
    rig.camera.moveToForward();
    expectVec(rig.camera.getPosition(), {0, 0, 19});
    EXPECT_EQ(rig.camera.getCameraMatrix(), translation(0, 0, -19));
    EXPECT_EQ(rig.transformEvents, 1);
    EXPECT_EQ(rig.cameraEvents, 1);
    EXPECT_TRUE(rig.lastHadArgs);
    expectVec(rig.camera.cameraArgs.position, {0, 0, 19});
    rig.expectTransformFollowsView();

    rig.camera.moveToBackward();
    rig.camera.moveToStraightLeft();
    expectVec(rig.camera.getPosition(), {-1, 0, 20});
    rig.camera.moveToStraightRight();
    rig.camera.moveToStraightRight();
    expectVec(rig.camera.getPosition(), {1, 0, 20});
    rig.camera.moveToDeep(2);  // 2 x 2.2 along the front
    expectVec(rig.camera.getPosition(), {1, 0, 15.6f});
    rig.camera.moveUpDown(-1);  // one wheel notch down
    expectVec(rig.camera.getPosition(), {1, -24, 15.6f});
    EXPECT_EQ(rig.cameraEvents, 7);
    EXPECT_EQ(rig.camera.getCameraMatrix(), translation(-1, 24, -15.6f));
    rig.expectTransformFollowsView();

    rig.camera.cameraData.speed = 0.5f;
    rig.camera.moveToForward();
    expectVec(rig.camera.getPosition(), {1, -24, 15.1f});
}

TEST(Camera, SmallStepsWaitForTheNextCommit)
{
    Rig rig;
    const glm::mat4 view = rig.camera.getCameraMatrix();
    rig.camera.moveToUp();
    rig.camera.moveToUp();
    rig.camera.moveToDown();
    rig.camera.rotateLeft();
    rig.camera.rotateForward();
    EXPECT_NEAR(rig.camera.getPosition().y, 0.01f, 1e-6f);
    EXPECT_EQ(rig.camera.getCameraMatrix(), view);
    EXPECT_EQ(rig.transformEvents + rig.cameraEvents, 0);
    rig.camera.updatePosition();
    EXPECT_NE(rig.camera.getCameraMatrix(), view);
    EXPECT_EQ(rig.cameraEvents, 1);
    rig.expectTransformFollowsView();
}

TEST(Camera, OppositeRotationStepsCancel)
{
    Camera camera(sceneData());
    camera.rotateLeft();
    // yaw -pi/2 - 0.001: front (cos yaw, 0, sin yaw) = (-0.001, 0, -1) normalised.
    expectVec(camera.getTarget(), glm::normalize(glm::vec3(std::cos(-1.5717964f), 0, -1)));
    camera.rotateRight();
    EXPECT_FLOAT_EQ(camera.yaw, Camera::kStartYaw);
    EXPECT_NEAR(camera.pitch, 0.0f, 1e-7f);
    camera.rotateForward();
    camera.rotateBackward();  // the same size of step as the other three
    EXPECT_NEAR(camera.yaw, Camera::kStartYaw, 1e-6f);
    EXPECT_NEAR(camera.pitch, 0.0f, 1e-6f);
}

TEST(Camera, LookAroundTurnsByTheCursorTravel)
{
    Rig rig;
    rig.camera.lookAround(612, 384);  // 100 px right: yaw += 0.5
    EXPECT_FLOAT_EQ(rig.camera.yaw, Camera::kStartYaw + 0.5f);
    // front = (cos yaw, 0, sin yaw) = (sin 0.5, 0, -cos 0.5)
    expectVec(rig.camera.getTarget(), {0.4794255f, 0, -0.8775826f});
    EXPECT_FLOAT_EQ(rig.camera.cameraData.lastX, 612);
    EXPECT_EQ(rig.cameraEvents, 1);
    EXPECT_FALSE(rig.lastHadArgs);
    EXPECT_EQ(rig.transformEvents, 1);
    rig.expectTransformFollowsView();
    // Looking at the world point ahead of the eye puts it on the view's -z axis.
    const glm::vec4 ahead = rig.camera.getCameraMatrix()
                            * glm::vec4(glm::vec3(0, 0, 20) + 3.0f * rig.camera.getTarget(), 1);
    expectVec(glm::vec3(ahead), {0, 0, -3}, 1e-4f);

    // Standing still changes nothing but still refreshes and announces.
    const float yaw = rig.camera.yaw;
    rig.camera.lookAround(612, 384);
    EXPECT_EQ(rig.camera.yaw, yaw);
    EXPECT_EQ(rig.cameraEvents, 2);
    EXPECT_EQ(rig.transformEvents, 2);

    // Dragging far upwards stops at 87 degrees.
    rig.camera.lookAround(612, -100000);
    EXPECT_FLOAT_EQ(rig.camera.pitch, 1.5184364f);
    EXPECT_NEAR(rig.camera.getTarget().y, std::sin(1.5184364f), 1e-6f);
    EXPECT_FALSE(std::isnan(rig.camera.getCameraMatrix()[0][0]));
    rig.camera.lookAround(612, 1e6);
    EXPECT_FLOAT_EQ(rig.camera.pitch, -1.5184364f);
}

TEST(Camera, DragPanFollowsTheDirectionOfTheDrag)
{
    Rig rig;
    rig.camera.moveStraight(512, 374);  // straight up by 10 px
    expectVec(rig.camera.getPosition(), {0, 0.5f, 20});  // no sideways step
    rig.camera.moveStraight(540, 374);  // right: side = front x up = (1, 0, 0)
    expectVec(rig.camera.getPosition(), {0.05f, 0.5f, 20});
    rig.camera.moveStraight(530, 384);  // left and down by 10 px
    expectVec(rig.camera.getPosition(), {0, 0, 20});
    EXPECT_EQ(rig.cameraEvents, 3);
    EXPECT_FALSE(rig.lastHadArgs);
    rig.expectTransformFollowsView();
}

TEST(Camera, FocusZoomsWithinOneToFortyFiveDegrees)
{
    Camera camera(sceneData());
    camera.focus(-1);
    EXPECT_FLOAT_EQ(camera.cameraData.fov, 45);
    camera.cameraData.fov = 30;
    camera.focus(5);
    EXPECT_FLOAT_EQ(camera.cameraData.fov, 25);
    // 1 / tan(12.5 deg) = 4.5107085
    EXPECT_NEAR(camera.getProjectionMatrix()[1][1], 4.5107085f, 1e-4f);
    camera.cameraData.fov = 1;
    camera.focus(2);
    EXPECT_FLOAT_EQ(camera.cameraData.fov, 1);
}

TEST(Camera, InitializeRestoresPlacementButKeepsTheZoom)
{
    Rig rig;
    rig.camera.focus(15);
    rig.camera.lookAround(700, 200);
    rig.camera.moveToForward();
    const int cameraEvents = rig.cameraEvents;
    rig.camera.initialize(sceneData());
    expectVec(rig.camera.getPosition(), {0, 0, 20});
    expectVec(rig.camera.getTarget(), {0, 0, -1});
    EXPECT_EQ(rig.camera.yaw, Camera::kStartYaw);
    EXPECT_EQ(rig.camera.pitch, 0);
    EXPECT_EQ(rig.camera.getCameraMatrix(), translation(0, 0, -20));
    EXPECT_EQ(rig.cameraEvents, cameraEvents);  // the transform is told, listeners are not
    rig.expectTransformFollowsView();
    EXPECT_FLOAT_EQ(rig.camera.cameraData.fov, 45);
    EXPECT_NEAR(rig.camera.getProjectionMatrix()[1][1], 1 / std::tan(15 * std::numbers::pi_v<float> / 180),
                1e-4f);  // still zoomed to 30 degrees
}

TEST(Camera, ResetCentresTheLastCursor)
{
    CameraData data = sceneData();
    data.width = 1025;
    Camera camera(data);
    camera.lookAround(0, 0);
    camera.reset();
    EXPECT_EQ(camera.yaw, Camera::kStartYaw);
    EXPECT_EQ(camera.pitch, 0);
    EXPECT_EQ(camera.cameraData.lastX, 512);
    EXPECT_EQ(camera.cameraData.lastY, 384);
}

TEST(Camera, FollowingOrbitsThePointWithTheOffsetTwice)
{
    Rig rig;
    rig.camera.following(0, 0, 0, {0, 0, 0}, {0, 0, 5});
    expectVec(rig.camera.getPosition(), {0, 0, 10});
    expectVec(rig.camera.getTarget(), {0, 0, -1});
    EXPECT_EQ(rig.cameraEvents, 1);
    EXPECT_FALSE(rig.lastHadArgs);
    // The view is left for the caller to rebuild: the transform took the old one.
    EXPECT_EQ(rig.camera.getCameraMatrix(), translation(0, 0, -20));
    rig.expectTransformFollowsView();

    // A quarter turn about y takes the doubled offset (0, 0, 10) to (10, 0, 0),
    // and the turn accumulates over calls.
    const float quarter = std::numbers::pi_v<float> / 2;
    rig.camera.following(0, quarter, 0, {1, 2, 3}, {0, 0, 5});
    expectVec(rig.camera.getPosition(), {11, 2, 3}, 1e-4f);
    expectVec(rig.camera.getTarget(), {-1, 0, 0}, 1e-4f);
    rig.camera.following(0, quarter, 0, {1, 2, 3}, {0, 0, 5});
    expectVec(rig.camera.getPosition(), {1, 2, -7}, 1e-4f);
    rig.camera.following(-0.0f, 0, -0.0f, {1, 2, 3}, {0, 0, 5});  // negative zeros turn nothing
    expectVec(rig.camera.getPosition(), {1, 2, -7}, 1e-4f);
}

TEST(Camera, WorksWithoutAnAttachedTransform)
{
    Camera camera(sceneData());
    int cameraEvents = 0;
    camera.cameraEvent += [&] { ++cameraEvents; };
    camera.initialize(sceneData());
    camera.moveToForward();
    camera.lookAround(600, 300);
    camera.moveStraight(600, 290);
    camera.following(0.1f, 0, 0, {0, 0, 0}, {0, 0, 5});
    EXPECT_EQ(cameraEvents, 4);
    EXPECT_FALSE(std::isnan(camera.getCameraMatrix()[3][2]));

    QvTransform later;
    camera.setTransform(&later);
    EXPECT_EQ(later.getDimension(), glm::vec3(1, 1, 1));
    const glm::mat4 product = later.getMatrix() * camera.getCameraMatrix();
    EXPECT_NEAR(product[3][2], 0.0f, 1e-4f);
    EXPECT_NEAR(product[2][2], 1.0f, 1e-4f);
}
