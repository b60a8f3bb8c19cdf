// qvcamera: view and projection matrices, mouse look, panning, steps, zoom
// and orbit-follow.
#include "engine/core/qvcamera.h"

#include <cmath>
#include <numbers>

#include <glm/ext/matrix_clip_space.hpp>
#include <glm/ext/matrix_transform.hpp>
#include <glm/geometric.hpp>
#include <glm/matrix.hpp>

#include "engine/core/qvtransform.h"

namespace {

constexpr float kNear = 0.1f;
constexpr float kFar = 10000.0f;
constexpr float kOrthoNear = -1000.0f;
constexpr float kOrthoFar = 1000.0f;
// Pitch stops at 87 degrees so the front never reaches the up vector.
constexpr float kPitchLimit = 1.5184364f;
constexpr float kTurnStep = 0.001f;
constexpr float kVerticalStep = 0.01f;  // moveToUp, moveToDown
constexpr float kDeepFactor = 2.2f;
constexpr double kWheelStep = 24.0;  // world units between two monitor screens
constexpr float kMinFov = 1.0f;
constexpr float kMaxFov = 45.0f;

// The inverse of glm::frustum(l, r, b, t, n, f), written out so that it is
// exact rather than the result of a general 4x4 inversion.
glm::mat4 frustumInverse(float l, float r, float b, float t, float n, float f)
{
    glm::mat4 m(0.0f);
    // glm is column-major: m[column][row].
    m[0][0] = (r - l) / (2.0f * n);
    m[3][0] = (r + l) / (2.0f * n);
    m[1][1] = (t - b) / (2.0f * n);
    m[3][1] = (t + b) / (2.0f * n);
    m[3][2] = -1.0f;
    m[2][3] = -(f - n) / (2.0f * f * n);
    m[3][3] = (f + n) / (2.0f * f * n);
    return m;
}

}  // namespace

Camera::Camera(const CameraData& data) : cameraData(data)
{
    buildPerspective();
    orthographic =
        glm::ortho(0.0f, float(cameraData.width), 0.0f, float(cameraData.height), kOrthoNear, kOrthoFar);
    projection = perspective;
}

void Camera::buildPerspective()
{
    const float aspect = float(cameraData.width) / float(cameraData.height);
    const float top = kNear * std::tan(cameraData.fov * std::numbers::pi_v<float> / 360.0f);
    const float bottom = -top;
    const float right = top * aspect;
    const float left = -right;
    perspective = glm::frustum(left, right, bottom, top, kNear, kFar);
    perspectiveInverse = frustumInverse(left, right, bottom, top, kNear, kFar);
}

void Camera::initialize(const CameraData& data)
{
    cameraData = data;
    yaw = kStartYaw;
    pitch = 0.0f;
    // A committed move like any other: the Home key's reset must reach the
    // listeners too (the HUD widgets refresh their camera matrices on it).
    updatePosition();
}

void Camera::setTransform(QvTransform* t)
{
    transform = t;
    if (transform != nullptr) {
        transform->setDimension(glm::vec3(1.0f));
        transform->setTransformation(glm::inverse(view));
    }
}

void Camera::lookAt()
{
    view = glm::lookAt(cameraData.position, cameraData.position + cameraData.target, cameraData.up);
}

void Camera::reset()
{
    yaw = kStartYaw;
    pitch = 0.0f;
    cameraData.lastX = float(cameraData.width / 2);
    cameraData.lastY = float(cameraData.height / 2);
}

glm::vec2 Camera::takeCursorTravel(double x, double y)
{
    // Screen y grows downwards.
    const glm::vec2 travel(float(x - cameraData.lastX), float(cameraData.lastY - y));
    cameraData.lastX = float(x);
    cameraData.lastY = float(y);
    return travel;
}

void Camera::lookAround(double x, double y)
{
    const glm::vec2 travel = takeCursorTravel(x, y);
    yaw += travel.x * lookSensitivity;
    pitch += travel.y * lookSensitivity;
    if (pitch > kPitchLimit) pitch = kPitchLimit;
    if (pitch < -kPitchLimit) pitch = -kPitchLimit;
    cameraData.target = normaliseUnlessZero(
        glm::vec3(std::cos(yaw) * std::cos(pitch), std::sin(pitch), std::sin(yaw) * std::cos(pitch)));
    commitDrag();
}

void Camera::moveStraight(double x, double y)
{
    const glm::vec2 travel = takeCursorTravel(x, y);
    cameraData.position.y += travel.y * panSpeed;
    // One fixed sideways step per cursor event, in the direction of the drag;
    // a purely vertical drag does not step sideways.
    const glm::vec3 side = glm::cross(cameraData.target, cameraData.up);
    if (travel.x > 0.0f) {
        cameraData.position += side * panSpeed;
    } else if (travel.x < 0.0f) {
        cameraData.position -= side * panSpeed;
    }
    commitDrag();
}

void Camera::turnHorizontally(float step)
{
    yaw += step;
    pitch += step;
    cameraData.target = normaliseUnlessZero(glm::vec3(std::cos(yaw), cameraData.target.y, std::sin(yaw)));
}

void Camera::turnVertically(float step)
{
    yaw += step;
    pitch += step;
    cameraData.target = normaliseUnlessZero(glm::vec3(cameraData.target.x, std::sin(yaw), std::cos(yaw)));
}

void Camera::rotateLeft()
{
    turnHorizontally(-kTurnStep);
}
void Camera::rotateRight()
{
    turnHorizontally(kTurnStep);
}
void Camera::rotateForward()
{
    turnVertically(-kTurnStep);
}
void Camera::rotateBackward()
{
    turnVertically(kTurnStep);
}

void Camera::stepBy(glm::vec3 delta)
{
    cameraData.position += delta;
    updatePosition();
}

glm::vec3 Camera::sideStep() const
{
    return normaliseUnlessZero(glm::cross(cameraData.target, cameraData.up)) * cameraData.speed;
}

void Camera::moveToForward()
{
    stepBy(cameraData.target * cameraData.speed);
}
void Camera::moveToBackward()
{
    stepBy(-(cameraData.target * cameraData.speed));
}
void Camera::moveToStraightLeft()
{
    stepBy(-sideStep());
}
void Camera::moveToStraightRight()
{
    stepBy(sideStep());
}

void Camera::moveToUp()
{
    cameraData.position.y += kVerticalStep;
}
void Camera::moveToDown()
{
    cameraData.position.y -= kVerticalStep;
}

void Camera::moveToDeep(double d)
{
    stepBy(cameraData.target * cameraData.speed * float(d) * kDeepFactor);
}

void Camera::moveUpDown(double d)
{
    cameraData.position.y = float(double(cameraData.position.y) + d * kWheelStep);
    updatePosition();
}

void Camera::focus(double d)
{
    if (cameraData.fov >= kMinFov && cameraData.fov <= kMaxFov) {
        cameraData.fov = float(cameraData.fov - d);
    }
    if (cameraData.fov <= kMinFov) cameraData.fov = kMinFov;
    if (cameraData.fov >= kMaxFov) cameraData.fov = kMaxFov;
    buildPerspective();
    projection = perspective;
}

void Camera::updatePosition()
{
    lookAt();
    updateTransform();
    cameraArgs.position = cameraData.position;
    cameraEvent(this, &cameraArgs);
}

void Camera::setPosition(glm::vec3 position)
{
    cameraData.position = position;
}
void Camera::setTarget(glm::vec3 target)
{
    cameraData.target = target;
}
glm::vec3 Camera::getPosition() const
{
    return cameraData.position;
}
glm::vec3 Camera::getTarget() const
{
    return cameraData.target;
}
glm::mat4 Camera::getPerspectiveMatrix() const
{
    return perspective;
}
glm::mat4 Camera::getPerspectiveInverseMatrix() const
{
    return perspectiveInverse;
}
glm::mat4 Camera::getOrthographicMatrix() const
{
    return orthographic;
}
glm::mat4 Camera::getProjectionMatrix() const
{
    return projection;
}
glm::mat4 Camera::getInverseProjectionMatrix() const
{
    return perspectiveInverse;
}
glm::mat4 Camera::getCameraMatrix() const
{
    return view;
}

void Camera::following(float x, float y, float z, glm::vec3 a, glm::vec3 b)
{
    followPivot = glm::translate(glm::mat4(1.0f), a);
    followOffset = glm::translate(glm::mat4(1.0f), b);
    // -0 compares equal to 0, so a negative zero counts as no turn.
    if (x != 0.0f || y != 0.0f || z != 0.0f) {
        followRotation = accumulateAxisRotations(followRotation, x, y, z);
    }
    followMatrix = followPivot * followRotation * followOffset;
    cameraData.position = glm::vec3(followMatrix * glm::vec4(b, 1.0f));
    cameraData.target = normaliseUnlessZero(a - cameraData.position);
    updateTransform();
    cameraEvent(this, nullptr);
}

void Camera::updateTransform()
{
    if (transform == nullptr) {
        return;
    }
    transform->setTransformation(glm::inverse(view));
    transform->onChange(transform, nullptr);
}

void Camera::commitDrag()
{
    lookAt();
    updateTransform();
    cameraEvent(this, nullptr);
}
