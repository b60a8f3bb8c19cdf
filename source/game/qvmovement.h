// qvmovement: the movement controllers of the word game's tiles.
//
// QvMovement lets one object fall by a fixed step each frame until a short ray
// down from its bounding box meets a triangle of an object in its collision
// list (only the few around it when that object is the landscape), then tilts
// it onto that triangle; it can put the camera behind the object.
// QvVehicleMovement turns that into a small vehicle: it drives forward and
// back with speed that builds up and coasts down, turns about y with the
// camera orbiting behind, stands 0.61 above the terrain, slides down slopes,
// climbs steep faces, bounces off other objects and is put back at (0, 2, 0)
// when it drops below y -20. Speed changes and every step it takes are
// scaled by `frequency`, the frame time since the last tick x 60 (a frame
// counting as a tenth of a second at most), so the feel does not depend on
// the frame rate: a speed is distance per sixtieth of a second. The geometry
// is qvcollision's; the controllers apply it.
//
// A controller owns neither the object nor the camera; the owner calls tick
// once a frame (a flying tile does so from its draw) and fills the object's
// collisionObjects.
#pragma once

#include <limits>
#include <vector>

#include <glm/vec3.hpp>

#include "engine/core/qvboundingvolumes.h"

class Camera;
class QvMaterialObject;

class QvMovement {
public:
    static constexpr double kTickScale = 60.0;  // frequency 1.0 at 60 frames a second
    static constexpr const char* kLandscapeName = "QvModel_Landscape";

    // The object (a button or a tile) and the scene camera must outlive the
    // controller.
    QvMovement(QvMaterialObject* object, Camera* camera);
    virtual ~QvMovement() = default;
    QvMovement(const QvMovement&) = delete;
    QvMovement& operator=(const QvMovement&) = delete;

    // At most 18 of `other`'s triangles around the object's position, copied.
    virtual std::vector<Triangle> getCollisionIsland(QvMaterialObject& other);
    // Ground test: a ray straight down from the box's top corner at minimum x
    // and z; on the first triangle hit within 1.0 the object is tilted onto it
    // and nudged, and the answer is true.
    virtual bool checkHitWithObject(QvMaterialObject& other);
    // The frame's step: frequency, then (while falling) one fall step per
    // object of the collision list that is not hit, stopping at the first hit.
    virtual void tick();
    // One fall step: gravity x fallSpeed added to the object's translation.
    virtual void freeFall();
    // The camera orbits the object at cameraOffset and looks at it.
    virtual void updateCamera();
    virtual void setFrequency(float value) { frequency = value; }

    double lastTimerTime = 0.0;
    // Frame time of the last vehicle tick; starts at the camera's frame time
    // when the controller is made, so the first step is one frame's, not the
    // whole time since the program started.
    double lastTickTime = 0.0;
    glm::vec3 cameraOffset{0.0f, 0.04f, 0.5f};
    float frequency = std::numeric_limits<float>::quiet_NaN();
    QvMaterialObject* object;
    Camera* camera;
    float fallSpeed = 1.0f;
    glm::vec3 gravity{0.0f, -0.01f, 0.0f};
    glm::vec3 displacement{0.0f};
    bool falling = true;

protected:
    // Is `other` the terrain?
    static bool isLandscape(const QvMaterialObject& other);
    // Translates the object by `step` (accumulated) and keeps it as the
    // displacement.
    void moveBy(glm::vec3 step);
};

class QvVehicleMovement : public QvMovement {
public:
    static constexpr double kTimerInterval = 0.001;  // seconds between coasting steps
    // The longest frame a step is scaled to, in seconds (a factor of 6 at 60
    // frames a second). A frame that stalled longer (a busy machine, a window
    // being dragged) would otherwise carry the vehicle in one step past the
    // reach of its probes (0.2 ahead, 1.0 down), through walls and the ground.
    static constexpr double kLongestFrame = 0.1;
    static constexpr double kNearZero = 1e-9;
    static constexpr float kRespawnHeight = -20.0f;
    static constexpr glm::vec3 kRespawnPoint{0.0f, 2.0f, 0.0f};
    static constexpr float kKick = 0.00075f;  // from rest or reversing
    static constexpr float kAcceleration = 0.000075f;
    static constexpr float kBraking = 0.00025f;
    static constexpr float kReverseAcceleration = 0.0000075f;
    static constexpr float kCoastingDecay = 0.00025f;
    static constexpr float kRiseDecay = 0.00005f;
    static constexpr float kTurnAngle = 0.008f;  // radians
    static constexpr float kGroundClearance = 0.61f;
    static constexpr float kSlideFactor = 0.02f;
    static constexpr float kClimbSpeed = 0.02f;  // climbing only above it
    static constexpr float kRiseFactor = 0.01f;
    static constexpr float kSteepTilt = 0.1f;  // |n . heading| above it is a face to climb

    QvVehicleMovement(QvMaterialObject* object, Camera* camera);

    // Frequency, the coasting timer, then (while falling) the frontal and
    // ground tests of every object of the collision list.
    void tick() override;
    // One frame's step of the motion with gravity, then the camera.
    void freeFall() override;
    // A coasting step when `inertia` is set and 0.001 s have passed.
    virtual void timer(double time);
    // Frontal test against every triangle of `other`: a hit within 0.2 along
    // the box's first face normal turns the motion off the wall and halves it.
    virtual bool checkHitWithMe(QvMaterialObject& other);
    // Terrain test (the landscape only; `flag` is not used): stands the
    // vehicle 0.61 above the hit point, sets its slide and its climb.
    virtual bool checkHitWithObject(QvMaterialObject& other, bool& flag);
    using QvMovement::checkHitWithObject;
    // The motion without gravity after a frontal hit, then the camera.
    virtual void breakHit();
    // One coasting step: the rise decays while climbing, else the speed.
    virtual void inertialMotion();
    virtual void moveToForward();
    virtual void moveToBackward();
    virtual void turnToLeft();
    virtual void turnToRight();
    // Turns the object and the camera's orbit about y by `angle`.
    virtual void rotate(float angle);

    float speed = 0.0f;
    float slideSpeed = 0.0f;
    float riseSpeed = 0.0f;
    glm::vec3 rise{0.0f, 0.01f, 0.0f};
    glm::vec3 slide{0.0f, -0.01f, 0.0f};
    glm::vec3 direction{0.0f};
    bool inertia = false;
    bool rising = false;
    bool hitMe = false;
    bool hitFlag = false;

private:
    // frequency, at most a longest frame's, or 1 while it is not a number
    // (before the first tick).
    float frameFactor() const;
    // direction x speed + slide x slideSpeed + rise x riseSpeed.
    glm::vec3 motion() const;
    // One frame's step of the motion without gravity, then the camera.
    void drive();
    // The camera's front on the ground plane.
    glm::vec3 groundFront() const;
    // Puts an object that dropped below -20 back at (0, 2, 0).
    void respawnIfLost();
    // The shared tail of both moves: refused while climbing, else the speed
    // change, a drive and falling again.
    void accelerate(float change);
};
