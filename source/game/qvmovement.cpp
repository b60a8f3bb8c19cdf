// qvmovement: falling and vehicle controllers over the collision maths.
#include "game/qvmovement.h"

#include <fmt/core.h>

#include <glm/geometric.hpp>

#include <algorithm>
#include <cmath>

#include "engine/core/qvcamera.h"
#include "engine/core/qvtransform.h"
#include "engine/gl/qvmaterialobject.h"
#include "game/qvcollision.h"

namespace {

constexpr std::uint8_t kAccumulate = 0;
constexpr std::uint8_t kAbsolute = 1;
const glm::vec3 kDown(0.0f, -1.0f, 0.0f);

// The three corners of a triangle carried by `model`.
struct WorldTriangle {
    glm::vec4 a, b, c;
};
WorldTriangle toWorld(const glm::mat4& model, const Triangle& t)
{
    return {model * t.vertexA, model * t.vertexB, model * t.vertexC};
}

}  // namespace

// ---------------------------------------------------------------------------
// Falling controller

QvMovement::QvMovement(QvMaterialObject* objectValue, Camera* cameraValue)
    : lastTickTime(cameraValue->frameTime), object(objectValue), camera(cameraValue)
{
}

bool QvMovement::isLandscape(const QvMaterialObject& other)
{
    return other.name == kLandscapeName;
}

void QvMovement::moveBy(glm::vec3 step)
{
    displacement = step;
    object->transform->translate(step, kAccumulate);
}

std::vector<Triangle> QvMovement::getCollisionIsland(QvMaterialObject& other)
{
    std::vector<Triangle> island;
    if (!other.aabb) return island;
    const auto index = qvcollision::islandIndex(object->transform->getTranslationVector());
    if (!index) return island;
    const std::vector<Triangle>& all = other.aabb->getBoxTriangles();
    for (const std::int64_t i : qvcollision::islandTriangles(*index, all.size())) {
        island.push_back(all[static_cast<std::size_t>(i)]);
    }
    return island;
}

bool QvMovement::checkHitWithObject(QvMaterialObject& other)
{
    if (!other.aabb || !object->aabb) return false;
    const std::vector<Triangle> triangles =
        isLandscape(other) ? getCollisionIsland(other) : other.aabb->getBoxTriangles();
    const glm::mat4 model = other.transform->getMatrix();
    const QvAABB& box = *object->aabb;
    const glm::vec3 corner(box.minX, box.maxY, box.minZ);
    for (const Triangle& triangle : triangles) {
        const WorldTriangle w = toWorld(model, triangle);
        const auto hit = qvcollision::groundRay(corner, kDown, w.a, w.b, w.c, qvcollision::kGroundReach);
        if (!hit) continue;
        const qvcollision::Tilt tilt = qvcollision::tiltOnto(hit->normal, kDown);
        QvTransform& t = *object->transform;
        t.spin(tilt.angle, tilt.spinAxis);
        t.translate(t.getTranslationVector() + tilt.axis, kAbsolute);
        return true;
    }
    return false;
}

void QvMovement::tick()
{
    setFrequency(static_cast<float>((camera->frameTime - lastTickTime) * kTickScale));
    if (!falling) return;
    object->updateAABBbox();
    for (QvMaterialObject* other : object->collisionObjects) {
        fmt::print("\x1b[01;37m name = {} \x1b[0m\n", other->name);
        if (checkHitWithObject(*other)) {
            falling = false;
            return;
        }
        freeFall();
    }
}

void QvMovement::freeFall()
{
    moveBy(gravity * fallSpeed);
}

void QvMovement::updateCamera()
{
    camera->following(0.0f, 0.0f, 0.0f, object->transform->getTranslationVector(), cameraOffset);
    camera->updatePosition();
}

// ---------------------------------------------------------------------------
// Vehicle controller

QvVehicleMovement::QvVehicleMovement(QvMaterialObject* objectValue, Camera* cameraValue)
    : QvMovement(objectValue, cameraValue)
{
}

float QvVehicleMovement::frameFactor() const
{
    // Before the first tick there is no frame time yet: a move then counts as
    // one frame at 60 a second instead of turning the speed into NaN for good.
    if (!std::isfinite(frequency)) return 1.0f;
    return std::min(frequency, static_cast<float>(kLongestFrame * kTickScale));
}

glm::vec3 QvVehicleMovement::motion() const
{
    return direction * speed + slide * slideSpeed + rise * riseSpeed;
}

void QvVehicleMovement::drive()
{
    moveBy(motion() * frameFactor());
    updateCamera();
}

glm::vec3 QvVehicleMovement::groundFront() const
{
    const glm::vec3 front = camera->getTarget();
    return {front.x, 0.0f, front.z};
}

void QvVehicleMovement::respawnIfLost()
{
    if (object->transform->getTranslationVector().y < kRespawnHeight) {
        object->transform->translate(kRespawnPoint, kAbsolute);
    }
}

void QvVehicleMovement::tick()
{
    setFrequency(static_cast<float>((camera->frameTime - lastTickTime) * kTickScale));
    timer(camera->frameTime);
    if (falling) {
        object->updateAABBbox();
        for (QvMaterialObject* other : object->collisionObjects) {
            if (!isLandscape(*other) && checkHitWithMe(*other)) {
                breakHit();
                hitMe = true;
                inertia = true;
            }
            if (checkHitWithObject(*other, hitFlag)) {
                falling = false;
            } else {
                freeFall();
            }
            respawnIfLost();
        }
    }
    lastTickTime = camera->frameTime;
}

void QvVehicleMovement::freeFall()
{
    moveBy((motion() + gravity * fallSpeed) * frameFactor());
    updateCamera();
}

void QvVehicleMovement::timer(double time)
{
    if (!(time - lastTimerTime >= kTimerInterval)) return;
    if (inertia) inertialMotion();
    lastTimerTime = time;
}

void QvVehicleMovement::breakHit()
{
    drive();
}

void QvVehicleMovement::inertialMotion()
{
    if (rising) {
        if (riseSpeed > kNearZero) {
            riseSpeed -= frameFactor() * kRiseDecay;
        } else {
            rising = false;
        }
    } else {
        object->updateAABBbox();
        for (QvMaterialObject* other : object->collisionObjects) {
            if (!isLandscape(*other) && checkHitWithMe(*other)) hitMe = true;
            if (!checkHitWithObject(*other, hitFlag)) freeFall();
            respawnIfLost();
        }
        if (speed > kNearZero) {
            speed -= frameFactor() * kCoastingDecay;
        } else if (hitMe) {
            hitMe = false;
            direction = groundFront();
        } else {
            falling = true;
            inertia = false;
        }
    }
    drive();
}

void QvVehicleMovement::accelerate(float change)
{
    if (rising) {
        inertia = true;
        return;
    }
    inertia = false;
    speed += change;
    drive();
    inertia = false;
    falling = true;
}

void QvVehicleMovement::moveToForward()
{
    accelerate(frameFactor() * (speed < kNearZero ? kKick : kAcceleration));
}

void QvVehicleMovement::moveToBackward()
{
    accelerate(-frameFactor() * (speed > kNearZero ? kBraking : kReverseAcceleration));
}

void QvVehicleMovement::turnToLeft()
{
    if (rising) return;
    rotate(kTurnAngle);
    falling = true;
}

void QvVehicleMovement::turnToRight()
{
    if (rising) return;
    rotate(-kTurnAngle);
    falling = true;
}

void QvVehicleMovement::rotate(float angle)
{
    object->transform->rotate(0.0f, angle, 0.0f);
    camera->following(0.0f, angle, 0.0f, object->transform->getTranslationVector(), cameraOffset);
    direction = groundFront();
    camera->updatePosition();
}

bool QvVehicleMovement::checkHitWithMe(QvMaterialObject& other)
{
    if (!other.aabb || !object->aabb) return false;
    // An object without face normals has nothing to probe with.
    const auto probe = qvcollision::probeDirection(object->normalSegments, object->transform->getMatrix());
    if (!probe) return false;
    const glm::mat4 model = other.transform->getMatrix();
    const QvAABB& box = *object->aabb;
    const glm::vec3 corner(box.minX, box.maxY, box.minZ);
    for (const Triangle& triangle : other.aabb->getBoxTriangles()) {
        const WorldTriangle w = toWorld(model, triangle);
        const auto hit = qvcollision::frontRay(corner, *probe, w.a, w.b, w.c, qvcollision::kFrontReach);
        if (!hit) continue;
        direction = qvcollision::normalize(*probe + hit->normal);
        speed /= 2;
        return true;
    }
    return false;
}

bool QvVehicleMovement::checkHitWithObject(QvMaterialObject& other, bool& /*flag*/)
{
    if (!isLandscape(other) || !object->aabb) return false;
    const std::vector<Triangle> triangles = getCollisionIsland(other);
    const glm::mat4 model = other.transform->getMatrix();
    const QvAABB& box = *object->aabb;
    const glm::vec3 centre((box.minX + box.maxX) / 2, (box.minY + box.maxY) / 2, (box.minZ + box.maxZ) / 2);
    const glm::vec3 front = qvcollision::normalize(groundFront());
    for (const Triangle& triangle : triangles) {
        const WorldTriangle w = toWorld(model, triangle);
        const auto hit = qvcollision::groundRay(centre, kDown, w.a, w.b, w.c, qvcollision::kGroundReach);
        if (!hit) continue;
        const glm::vec3 n = hit->normal;
        QvTransform& t = *object->transform;
        glm::vec3 ground = t.getTranslationVector();
        ground.y = hit->point.y + kGroundClearance;
        t.translate(ground, kAbsolute);
        slide = qvcollision::downhill(n);
        slideSpeed = std::abs(slide.y) * kSlideFactor;
        // The tilt along the heading: negative when facing uphill (with
        // upward normals); a NaN counts as uphill.
        const float g = glm::dot(n, front);
        const bool climbing = speed > kClimbSpeed && !(static_cast<double>(g) >= kNearZero);
        if (climbing) {
            riseSpeed = std::abs(g) * kRiseFactor;
            if (std::abs(g) > kSteepTilt) {
                rise = qvcollision::normalize(rise + box.direction);
                slideSpeed = 0.0f;
                rising = true;
            }
        } else {
            t.translate(ground, kAbsolute);
        }
        if (!rising) {
            const qvcollision::Tilt tilt = qvcollision::tiltOnto(n, kDown);
            t.spin(tilt.angle, tilt.spinAxis);
        }
        return true;
    }
    return false;
}
