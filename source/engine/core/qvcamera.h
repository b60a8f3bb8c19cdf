// qvcamera: the view of the scene and the ways the user moves it.
//
// A Camera keeps an eye position, a unit front direction and an up vector, the
// view matrix built from them and three projections (perspective, its inverse,
// orthographic). Mouse drags look around and pan, keys step, the wheel moves
// vertically, and an attached QvTransform is kept equal to the camera's
// placement so that other objects can follow it. After each committed move the
// camera fires `cameraEvent`; handlers read the camera (look, pan and follow
// send no argument object).
//
// Until `setTransform` is called there is no transform to keep up to date: the
// operations that would update it still move the camera, rebuild the view and
// fire `cameraEvent`, and simply skip the transform.
#pragma once

#include <cstdint>
#include <limits>

#include <glm/mat4x4.hpp>
#include <glm/vec2.hpp>
#include <glm/vec3.hpp>

#include "engine/core/qvevents.h"
#include "engine/core/qvvectormath.h"

class QvTransform;

struct CameraData {
    std::uint32_t width = 0;  // viewport in pixels
    std::uint32_t height = 0;
    float fov = std::numeric_limits<float>::quiet_NaN();          // vertical, degrees
    glm::vec3 position{std::numeric_limits<float>::quiet_NaN()};  // eye, world units
    glm::vec3 target{std::numeric_limits<float>::quiet_NaN()};    // unit front direction
    glm::vec3 up{std::numeric_limits<float>::quiet_NaN()};
    float speed = 1.0f;                                     // length of one keyboard step
    float lastX = std::numeric_limits<float>::quiet_NaN();  // last cursor seen by look and pan
    float lastY = std::numeric_limits<float>::quiet_NaN();
};

class Camera {
public:
    explicit Camera(const CameraData& data);
    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;

    // Replaces the data, resets yaw and pitch and commits: view, transform
    // (its onChange), cameraEvent with the position. Projections are not rebuilt.
    void initialize(const CameraData& data);
    // Attaches t (size 1, 1, 1), placed at the inverse of the current view.
    void setTransform(QvTransform* t);
    void lookAt();
    // Yaw and pitch back to looking down -z; last cursor to the viewport centre.
    void reset();
    // Mouse look and drag pan, with the cursor in window pixels.
    void lookAround(double x, double y);
    void moveStraight(double x, double y);
    // Small turns of the front direction; shown at the next commit or lookAt.
    void rotateLeft();
    void rotateRight();
    void rotateForward();
    void rotateBackward();
    // One keyboard step each, then commit.
    void moveToForward();
    void moveToBackward();
    void moveToStraightLeft();
    void moveToStraightRight();
    // position.y +/- 0.01, no commit.
    void moveToUp();
    void moveToDown();
    // Step along the front direction by speed x d x 2.2, then commit.
    void moveToDeep(double d);
    // position.y += d x 24 (one wheel notch between monitor screens), then commit.
    void moveUpDown(double d);
    // Zoom: narrows the field of view by d degrees, kept within 1..45.
    void focus(double d);
    // Commit: view, transform, transform onChange, cameraEvent with the position.
    void updatePosition();
    void setPosition(glm::vec3 position);
    void setTarget(glm::vec3 target);
    glm::vec3 getPosition() const;
    glm::vec3 getTarget() const;
    glm::mat4 getPerspectiveMatrix() const;
    glm::mat4 getPerspectiveInverseMatrix() const;
    glm::mat4 getOrthographicMatrix() const;
    glm::mat4 getProjectionMatrix() const;
    glm::mat4 getInverseProjectionMatrix() const;
    glm::mat4 getCameraMatrix() const;
    // Orbit-follow of point a at offset b, turning by x, y, z radians (the turn
    // accumulates over calls). The eye lands at a + rotation x 2b; the view is
    // not rebuilt: the caller calls lookAt next.
    void following(float x, float y, float z, glm::vec3 a, glm::vec3 b);

    glm::mat4 view = unsetMatrix();  // NaN until the first lookAt
    glm::mat4 projection;            // what shaders receive
    glm::mat4 perspective;
    glm::mat4 perspectiveInverse;
    glm::mat4 orthographic;
    CameraData cameraData;
    QvTransform* transform = nullptr;  // shared, owned by the scene
    float lookSensitivity = 0.005f;    // radians per pixel
    float panSpeed = 0.05f;
    float yaw = kStartYaw;  // radians; -pi/2 looks down -z
    float pitch = 0.0f;
    // Written by the world: drag state and the current frame's GLFW time.
    bool lookAroundActive = false;
    bool moveStraightActive = false;
    double frameTime = 0.0;
    QvCameraPositionEventArgs cameraArgs;
    QvEvent<Camera, QvCameraPositionEventArgs> cameraEvent;
    glm::mat4 followMatrix{1.0f};
    glm::mat4 followRotation{1.0f};
    glm::mat4 followPivot = unsetMatrix();
    glm::mat4 followOffset = unsetMatrix();

    static constexpr float kStartYaw = -1.5707964f;

private:
    // Perspective and its inverse from cameraData's size and fov.
    void buildPerspective();
    // Transform = inverse(view), then its onChange; nothing without a transform.
    void updateTransform();
    // The tail of look and pan: view, transform, cameraEvent without arguments.
    void commitDrag();
    // Cursor travel since the last look or pan event (y up), then remember the cursor.
    glm::vec2 takeCursorTravel(double x, double y);
    // Move the eye by delta, then commit.
    void stepBy(glm::vec3 delta);
    // One keyboard step to the right: the unit side direction times speed.
    glm::vec3 sideStep() const;
    // Turn yaw and pitch by step, then aim the front within the horizontal
    // (x, z) or the vertical (y, z) plane.
    void turnHorizontally(float step);
    void turnVertically(float step);
};
