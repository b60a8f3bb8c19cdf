// Camera: matrices against hand-computed ones, and what each move changes,
// commits and announces.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include <glm/mat4x4.hpp>
#include <glm/matrix.hpp>

#include "matrix_checks.h"
#include "engine/core/qvcamera.h"
#include "engine/core/qvtransform.h"

namespace {

// The tracker scene's starting data.
CameraData sceneData()
{
    return {.width = 1024,
            .height = 768,
            .fov = 45,
            .position = {0, 0, 20},
            .target = {0, 0, -1},
            .up = {0, 1, 0},
            .lastX = 512,
            .lastY = 384};
}

glm::mat4 translation(float x, float y, float z)
{
    glm::mat4 m(1.0f);
    m[3] = glm::vec4(x, y, z, 1);
    return m;
}

// A camera attached to a transform, counting both events.
struct CameraWithTransform : testing::Test {
    QvTransform centre;
    Camera camera{sceneData()};
    int transformEvents = 0;
    int cameraEvents = 0;
    bool lastHadArgs = false;

    CameraWithTransform()
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
        EXPECT_TRUE(matrixIs(centre.getMatrix() * camera.getCameraMatrix(), kIdentityRows, 1e-4f));
    }
};

}  // namespace

TEST(Camera, ProjectionsMatchHandComputedMatrices)
{
    const Camera camera(sceneData());
    // Frustum with near 0.1, top = 0.1 tan(22.5 deg) = 0.0414214, right = 4/3 top:
    // 2n/(r-l) = 1 / (tan(22.5) 4/3) = 1.8106601, 2n/(t-b) = 2.4142136,
    // -(f+n)/(f-n) = -1.00002, -2fn/(f-n) = -0.200002.
    const Rows perspective{
        {{1.8106601f, 0, 0, 0}, {0, 2.4142136f, 0, 0}, {0, 0, -1.00002f, -0.200002f}, {0, 0, -1, 0}}};
    EXPECT_TRUE(matrixIs(camera.getPerspectiveMatrix(), perspective));
    EXPECT_TRUE(matrixIs(camera.getProjectionMatrix(), perspective));

    // The inverse undoes it; written out: (r-l)/2n, (t-b)/2n, -(f-n)/2fn, (f+n)/2fn.
    const Rows inverse{
        {{0.5522847f, 0, 0, 0}, {0, 0.4142136f, 0, 0}, {0, 0, 0, -1}, {0, 0, -4.99995f, 5.00005f}}};
    EXPECT_TRUE(matrixIs(camera.getPerspectiveInverseMatrix(), inverse, 1e-4f));
    EXPECT_EQ(camera.getInverseProjectionMatrix(), camera.getPerspectiveInverseMatrix());

    // Orthographic over the viewport, depth -1000..1000.
    const Rows ortho{{{2.0f / 1024, 0, 0, -1}, {0, 2.0f / 768, 0, -1}, {0, 0, -0.001f, 0}, {0, 0, 0, 1}}};
    EXPECT_TRUE(matrixIs(camera.getOrthographicMatrix(), ortho));

    // Points on the frustum's edges land on the edges of clip space.
    const glm::vec4 nearTopRight =
        camera.getPerspectiveMatrix() * glm::vec4(0.0414214f * 4 / 3, 0.0414214f, -0.1f, 1);
    EXPECT_TRUE(vecIs(glm::vec3(nearTopRight) / nearTopRight.w, {1, 1, -1}, 1e-4f));
    const glm::vec4 farPoint = camera.getPerspectiveMatrix() * glm::vec4(0, 0, -10000, 1);
    EXPECT_NEAR(farPoint.z / farPoint.w, 1.0f, 1e-4f);
}

TEST(Camera, ViewIsUnsetUntilLookAtThenLooksAlongTheFront)
{
    Camera camera(sceneData());
    EXPECT_TRUE(isUnset(camera.getCameraMatrix()));
    camera.lookAt();
    EXPECT_TRUE(matrixIs(camera.getCameraMatrix(), translationRows(0, 0, -20)));

    // Eye at (1, 2, 3) looking along +x: +x becomes -z, +z becomes +x (right).
    camera.setPosition({1, 2, 3});
    camera.setTarget({1, 0, 0});
    camera.lookAt();
    const Rows alongX{{{0, 0, 1, -3}, {0, 1, 0, -2}, {-1, 0, 0, 1}, {0, 0, 0, 1}}};
    EXPECT_TRUE(matrixIs(camera.getCameraMatrix(), alongX));
}

TEST_F(CameraWithTransform, KeyboardStepsCommitAndAnnounceThePosition)
{
    camera.moveToForward();
    EXPECT_TRUE(vecIs(camera.getPosition(), {0, 0, 19}));
    EXPECT_EQ(camera.getCameraMatrix(), translation(0, 0, -19));
    EXPECT_EQ(transformEvents, 1);
    EXPECT_EQ(cameraEvents, 1);
    EXPECT_TRUE(lastHadArgs);
    EXPECT_TRUE(vecIs(camera.cameraArgs.position, {0, 0, 19}));
    expectTransformFollowsView();

    camera.moveToBackward();
    camera.moveToStraightLeft();
    EXPECT_TRUE(vecIs(camera.getPosition(), {-1, 0, 20}));
    camera.moveToStraightRight();
    camera.moveToStraightRight();
    EXPECT_TRUE(vecIs(camera.getPosition(), {1, 0, 20}));
    camera.moveToDeep(2);  // 2 x 2.2 along the front
    EXPECT_TRUE(vecIs(camera.getPosition(), {1, 0, 15.6f}));
    camera.moveUpDown(-1);  // one wheel notch down
    EXPECT_TRUE(vecIs(camera.getPosition(), {1, -24, 15.6f}));
    EXPECT_EQ(cameraEvents, 7);
    EXPECT_EQ(camera.getCameraMatrix(), translation(-1, 24, -15.6f));
    expectTransformFollowsView();

    camera.cameraData.speed = 0.5f;
    camera.moveToForward();
    EXPECT_TRUE(vecIs(camera.getPosition(), {1, -24, 15.1f}));
}

TEST_F(CameraWithTransform, SmallStepsWaitForTheNextCommit)
{
    const glm::mat4 view = camera.getCameraMatrix();
    camera.moveToUp();
    camera.moveToUp();
    camera.moveToDown();
    camera.rotateLeft();
    camera.rotateForward();
    EXPECT_NEAR(camera.getPosition().y, 0.01f, 1e-6f);
    EXPECT_EQ(camera.getCameraMatrix(), view);
    EXPECT_EQ(transformEvents + cameraEvents, 0);
    camera.updatePosition();
    EXPECT_NE(camera.getCameraMatrix(), view);
    EXPECT_EQ(cameraEvents, 1);
    expectTransformFollowsView();
}

TEST(Camera, OppositeRotationStepsCancel)
{
    Camera camera(sceneData());
    camera.rotateLeft();
    // yaw -pi/2 - 0.001: front (cos yaw, 0, sin yaw) = (-0.001, 0, -1) normalised.
    EXPECT_TRUE(vecIs(camera.getTarget(), glm::normalize(glm::vec3(std::cos(-1.5717964f), 0, -1))));
    camera.rotateRight();
    EXPECT_FLOAT_EQ(camera.yaw, Camera::kStartYaw);
    EXPECT_NEAR(camera.pitch, 0.0f, 1e-7f);
    camera.rotateForward();
    camera.rotateBackward();  // the same size of step as the other three
    EXPECT_NEAR(camera.yaw, Camera::kStartYaw, 1e-6f);
    EXPECT_NEAR(camera.pitch, 0.0f, 1e-6f);
}

TEST_F(CameraWithTransform, LookAroundTurnsByTheCursorTravel)
{
    camera.lookAround(612, 384);  // 100 px right: yaw += 0.5
    EXPECT_FLOAT_EQ(camera.yaw, Camera::kStartYaw + 0.5f);
    // front = (cos yaw, 0, sin yaw) = (sin 0.5, 0, -cos 0.5)
    EXPECT_TRUE(vecIs(camera.getTarget(), {0.4794255f, 0, -0.8775826f}));
    EXPECT_FLOAT_EQ(camera.cameraData.lastX, 612);
    EXPECT_EQ(cameraEvents, 1);
    EXPECT_FALSE(lastHadArgs);
    EXPECT_EQ(transformEvents, 1);
    expectTransformFollowsView();
    // Looking at the world point ahead of the eye puts it on the view's -z axis.
    const glm::vec4 ahead =
        camera.getCameraMatrix() * glm::vec4(glm::vec3(0, 0, 20) + 3.0f * camera.getTarget(), 1);
    EXPECT_TRUE(vecIs(glm::vec3(ahead), {0, 0, -3}, 1e-4f));

    // Standing still changes nothing but still refreshes and announces.
    const float yaw = camera.yaw;
    camera.lookAround(612, 384);
    EXPECT_EQ(camera.yaw, yaw);
    EXPECT_EQ(cameraEvents, 2);
    EXPECT_EQ(transformEvents, 2);

    // Dragging far upwards stops at 87 degrees.
    camera.lookAround(612, -100000);
    EXPECT_FLOAT_EQ(camera.pitch, 1.5184364f);
    EXPECT_NEAR(camera.getTarget().y, std::sin(1.5184364f), 1e-6f);
    EXPECT_FALSE(std::isnan(camera.getCameraMatrix()[0][0]));
    camera.lookAround(612, 1e6);
    EXPECT_FLOAT_EQ(camera.pitch, -1.5184364f);
}

TEST_F(CameraWithTransform, DragPanFollowsTheDirectionOfTheDrag)
{
    camera.moveStraight(512, 374);                            // straight up by 10 px
    EXPECT_TRUE(vecIs(camera.getPosition(), {0, 0.5f, 20}));  // no sideways step
    camera.moveStraight(540, 374);                            // right: side = front x up = (1, 0, 0)
    EXPECT_TRUE(vecIs(camera.getPosition(), {0.05f, 0.5f, 20}));
    camera.moveStraight(530, 384);  // left and down by 10 px
    EXPECT_TRUE(vecIs(camera.getPosition(), {0, 0, 20}));
    EXPECT_EQ(cameraEvents, 3);
    EXPECT_FALSE(lastHadArgs);
    expectTransformFollowsView();
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

TEST_F(CameraWithTransform, InitializeRestoresPlacementButKeepsTheZoom)
{
    camera.focus(15);
    camera.lookAround(700, 200);
    camera.moveToForward();
    const int eventsBefore = cameraEvents;
    camera.initialize(sceneData());
    EXPECT_TRUE(vecIs(camera.getPosition(), {0, 0, 20}));
    EXPECT_TRUE(vecIs(camera.getTarget(), {0, 0, -1}));
    EXPECT_EQ(camera.yaw, Camera::kStartYaw);
    EXPECT_EQ(camera.pitch, 0);
    EXPECT_EQ(camera.getCameraMatrix(), translation(0, 0, -20));
    EXPECT_EQ(cameraEvents, eventsBefore + 1);  // the listeners hear of the reset
    EXPECT_TRUE(lastHadArgs);
    EXPECT_TRUE(vecIs(camera.cameraArgs.position, {0, 0, 20}));
    expectTransformFollowsView();
    EXPECT_FLOAT_EQ(camera.cameraData.fov, 45);
    EXPECT_NEAR(camera.getProjectionMatrix()[1][1], 1 / std::tan(15 * std::numbers::pi_v<float> / 180),
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

TEST_F(CameraWithTransform, FollowingOrbitsThePointWithTheOffsetTwice)
{
    camera.following(0, 0, 0, {0, 0, 0}, {0, 0, 5});
    EXPECT_TRUE(vecIs(camera.getPosition(), {0, 0, 10}));
    EXPECT_TRUE(vecIs(camera.getTarget(), {0, 0, -1}));
    EXPECT_EQ(cameraEvents, 1);
    EXPECT_FALSE(lastHadArgs);
    // The view is left for the caller to rebuild: the transform took the old one.
    EXPECT_EQ(camera.getCameraMatrix(), translation(0, 0, -20));
    expectTransformFollowsView();

    // A quarter turn about y takes the doubled offset (0, 0, 10) to (10, 0, 0),
    // and the turn accumulates over calls.
    const float quarter = std::numbers::pi_v<float> / 2;
    camera.following(0, quarter, 0, {1, 2, 3}, {0, 0, 5});
    EXPECT_TRUE(vecIs(camera.getPosition(), {11, 2, 3}, 1e-4f));
    EXPECT_TRUE(vecIs(camera.getTarget(), {-1, 0, 0}, 1e-4f));
    camera.following(0, quarter, 0, {1, 2, 3}, {0, 0, 5});
    EXPECT_TRUE(vecIs(camera.getPosition(), {1, 2, -7}, 1e-4f));
    camera.following(-0.0f, 0, -0.0f, {1, 2, 3}, {0, 0, 5});  // negative zeros turn nothing
    EXPECT_TRUE(vecIs(camera.getPosition(), {1, 2, -7}, 1e-4f));
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
    EXPECT_EQ(cameraEvents, 5);
    EXPECT_FALSE(std::isnan(camera.getCameraMatrix()[3][2]));

    QvTransform later;
    camera.setTransform(&later);
    EXPECT_EQ(later.getDimension(), glm::vec3(1, 1, 1));
    const glm::mat4 product = later.getMatrix() * camera.getCameraMatrix();
    EXPECT_NEAR(product[3][2], 0.0f, 1e-4f);
    EXPECT_NEAR(product[2][2], 1.0f, 1e-4f);
}
