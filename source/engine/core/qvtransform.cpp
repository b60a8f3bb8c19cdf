// qvtransform: component changes, the four compositions and change firing.
//
// Every public mutator follows the same three steps: change the components,
// compose `model` in its family's form, then fire onChange if the family fires.
#include "engine/core/qvtransform.h"

#include <cmath>

#include <glm/ext/matrix_transform.hpp>
#include <glm/gtc/quaternion.hpp>

#include "engine/core/qvvectormath.h"

namespace {

// changeTranslation(x, y, z) stores this instead of an exact zero, so that the
// centre-pivot computation never takes its zero path for such a vector.
constexpr float kZeroTranslationStandIn = 0.0001f;

glm::mat4 translationMatrix(const glm::vec3& v)
{
    return glm::translate(glm::mat4(1.0f), v);
}
glm::mat4 scalingMatrix(const glm::vec3& v)
{
    return glm::scale(glm::mat4(1.0f), v);
}

// Rotation by angle (radians, right-handed) about axis, replacing the matrix.
glm::mat4 axisRotation(float angle, const glm::vec3& axis)
{
    return glm::rotate(glm::mat4(1.0f), angle, axis);
}

}  // namespace

// --- construction -------------------------------------------------------------

QvTransform::QvTransform() : parentModel(unsetMatrix()) {}

QvTransform::QvTransform(QvTransform* parent) : QvTransform()
{
    if (parent == nullptr) return;
    this->parent = parent;
    model = parent->getMatrix();
    parentModel = model;
}

QvTransform::QvTransform(QvTransform* parent, bool /*flag*/) : QvTransform(parent) {}

// --- identity -----------------------------------------------------------------

void QvTransform::setId(std::int64_t id)
{
    this->id = id;
}
std::int64_t QvTransform::getId() const
{
    return id;
}
bool QvTransform::opEquals(const QvTransform& other) const
{
    return id == other.id;
}

int QvTransform::opCmp(const QvTransform& other) const
{
    if (id > other.id) return -1;
    if (id < other.id) return 1;
    return 0;
}

std::weak_ordering QvTransform::operator<=>(const QvTransform& other) const
{
    const int c = opCmp(other);
    return c < 0   ? std::weak_ordering::less
           : c > 0 ? std::weak_ordering::greater
                   : std::weak_ordering::equivalent;
}

// --- direct access --------------------------------------------------------------

void QvTransform::setTransformation(const glm::mat4& m)
{
    model = m;
}
void QvTransform::setDimension(const glm::vec3& d)
{
    dimension = d;
}
glm::vec3 QvTransform::getDimension() const
{
    return dimension;
}
glm::mat4 QvTransform::getRotation() const
{
    return rotation;
}
glm::mat4 QvTransform::getTranslation() const
{
    return translation;
}
glm::mat4 QvTransform::getScaling() const
{
    return scaling;
}
glm::mat4 QvTransform::getMatrix() const
{
    return model;
}
glm::vec3 QvTransform::getTranslationVector() const
{
    return translationVector;
}
glm::vec3 QvTransform::getTranslationVectorFromMatrix() const
{
    return glm::vec3(model[3]);
}
glm::vec3 QvTransform::getScalingVector() const
{
    return scalingVector;
}

glm::quat QvTransform::getQuaternion() const
{
    return quaternion;
}
QvTransform* QvTransform::getParent() const
{
    return parent;
}
void QvTransform::setDistanceFromObjectSurveillance(const glm::vec3& d)
{
    distanceFromObjectSurveillance = d;
}
glm::vec3 QvTransform::getDistanceFromObjectSurveillance() const
{
    return distanceFromObjectSurveillance;
}

// --- compositions ---------------------------------------------------------------

// The parent snapshot in front of the rest when the transform has a parent.
glm::mat4 QvTransform::parentFactor(const glm::mat4& rest) const
{
    return parent != nullptr ? parentModel * rest : rest;
}

void QvTransform::composeNormal()
{
    model = parentFactor(translation * spinMatrix * rotation * scaling);
}

void QvTransform::composeOrbit()
{
    model = parentFactor(orbitPivot * rotation * orbitDistance * spinMatrix * scaling);
}

void QvTransform::composeCentrePivot(bool withParent)
{
    const glm::mat4 rest = outerPivot * rotation * innerPivot * scaling;
    model = withParent ? parentFactor(rest) : rest;
}

void QvTransform::composePlain()
{
    model = translation * rotation * scaling;
}

// Orbit centre at the target's stored translation, object at the orbit distance.
void QvTransform::computeOrbitPivots(const QvTransform* target)
{
    const glm::vec3 centre = target != nullptr ? target->getTranslationVector() : glm::vec3(0.0f);
    orbitPivot = translationMatrix(centre);
    orbitDistance = translationMatrix(distanceFromObjectSurveillance);
}

// Per axis: a zero translation neither shifts nor pivots; otherwise the object
// turns about the lower corner of a box of `dimension` centred on the translation.
void QvTransform::computeCentrePivots()
{
    glm::vec3 outer(0.0f);
    glm::vec3 inner(0.0f);
    for (int i = 0; i < 3; ++i) {
        const float t = translationVector[i];
        const float d = dimension[i];
        if (t == 0.0f) continue;
        const float half = d / 2.0f;
        outer[i] = (half + t) - d;
        inner[i] = half;
    }
    outerPivot = translationMatrix(outer);
    innerPivot = translationMatrix(inner);
}

void QvTransform::fireChange()
{
    onChange.opCall(this, nullptr);
}

// The end of every absolute operation: normal form, then the change event.
void QvTransform::commitNormal()
{
    composeNormal();
    fireChange();
}

// The end of an orbit operation that keeps the stored pivots.
void QvTransform::commitOrbit()
{
    composeOrbit();
    fireChange();
}

// The end of an orbit operation with a target: new pivots, orbit form, event.
void QvTransform::commitOrbitAround(const QvTransform* target)
{
    computeOrbitPivots(target);
    commitOrbit();
}

// Non-zero flag replaces the translation; zero adds to the vector and
// pre-multiplies the matrix.
void QvTransform::changeTranslationComponent(const glm::vec3& v, std::uint8_t flag)
{
    if (flag != 0) {
        translationVector = v;
        translation = translationMatrix(v);
    } else {
        translationVector += v;
        translation = translationMatrix(v) * translation;
    }
}

// Non-zero flag replaces the scaling; zero adds to the vector but multiplies
// the matrix, so the two drift apart on purpose.
void QvTransform::changeScalingComponent(const glm::vec3& v, std::uint8_t flag)
{
    if (flag != 0) {
        scalingVector = v;
        scaling = scalingMatrix(v);
    } else {
        scalingVector += v;
        scaling = scalingMatrix(v) * scaling;
    }
}

void QvTransform::performMatrixMultiplication(std::uint8_t mode)
{
    if (mode == 0)
        commitNormal();
    else
        commitOrbit();
}

// --- absolute operations ----------------------------------------------------------

void QvTransform::skew(const glm::quat& q)
{
    spinMatrix = glm::mat4_cast(q);
    commitNormal();
}

void QvTransform::skew(long double angle, const glm::vec3& axis, std::uint8_t /*flag: both values act alike*/)
{
    const long double half = angle / 2.0L;
    const float s = static_cast<float>(std::sin(half));
    glm::quat q(static_cast<float>(std::cos(half)), axis.x * s, axis.y * s, axis.z * s);
    const float magnitude = std::sqrt(q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z);
    if (magnitude != 0.0f) q = glm::quat(q.w / magnitude, q.x / magnitude, q.y / magnitude, q.z / magnitude);
    quaternion = q;
    spinMatrix = glm::mat4_cast(quaternion);
    commitNormal();
}

void QvTransform::skew(float angle, const glm::vec3& axis)
{
    rotate(angle, axis);
}

void QvTransform::rotate(float x, float y, float z)
{
    rotation = accumulateAxisRotations(rotation, x, y, z);
    commitNormal();
}

void QvTransform::rotate(float angle, const glm::vec3& axis)
{
    rotation = axisRotation(angle, axis);
    commitNormal();
}

void QvTransform::translate(float x, float y, float z, std::uint8_t flag)
{
    changeTranslationComponent(glm::vec3(x, y, z), flag);
    commitNormal();
}

void QvTransform::translate(const glm::vec3& v, std::uint8_t flag)
{
    translate(v.x, v.y, v.z, flag);
}

void QvTransform::scale(float x, float y, float z, std::uint8_t flag)
{
    changeScalingComponent(glm::vec3(x, y, z), flag);
    commitNormal();
}

void QvTransform::scale(const glm::vec3& v, std::uint8_t flag)
{
    scale(v.x, v.y, v.z, flag);
}

void QvTransform::spin(float x, float y, float z)
{
    spinMatrix = accumulateAxisRotations(spinMatrix, x, y, z);
    commitNormal();
}

void QvTransform::spin(float angle, const glm::vec3& axis)
{
    spinMatrix = axisRotation(angle, axis);
    commitNormal();
}

// --- orbit operations ---------------------------------------------------------------

void QvTransform::relativeSpin(float x, float y, float z)
{
    spinMatrix = accumulateAxisRotations(spinMatrix, x, y, z);
    commitOrbit();
}

void QvTransform::relativeSpin(float angle, const glm::vec3& axis)
{
    spinMatrix = axisRotation(angle, axis);
    commitOrbit();
}

void QvTransform::relativeRotate(float x, float y, float z, const QvTransform* target)
{
    rotation = accumulateAxisRotations(rotation, x, y, z);
    commitOrbitAround(target);
}

void QvTransform::relativeRotate(float angle, const glm::vec3& axis, const QvTransform* target)
{
    rotation = axisRotation(angle, axis);
    commitOrbitAround(target);
}

void QvTransform::relativeTranslate(float x, float y, float z, const QvTransform* target, std::uint8_t flag)
{
    changeTranslationComponent(glm::vec3(x, y, z), flag);
    commitOrbitAround(target);
}

void QvTransform::relativeTranslate(const glm::vec3& v, const QvTransform* target, std::uint8_t flag)
{
    relativeTranslate(v.x, v.y, v.z, target, flag);
}

void QvTransform::relativeScale(float x, float y, float z, const QvTransform* target, std::uint8_t flag)
{
    changeScalingComponent(glm::vec3(x, y, z), flag);
    commitOrbitAround(target);
}

void QvTransform::relativeScale(const glm::vec3& v, const QvTransform* target, std::uint8_t flag)
{
    relativeScale(v.x, v.y, v.z, target, flag);
}

// --- set, add and change operations ---------------------------------------------------

void QvTransform::setRotation(float x, float y, float z)
{
    rotation = accumulateAxisRotations(rotation, x, y, z);
    composePlain();
}

void QvTransform::setRotation(float angle, const glm::vec3& axis)
{
    rotation = axisRotation(angle, axis);
    composePlain();
}

void QvTransform::setTranslation(float x, float y, float z)
{
    setTranslation(glm::vec3(x, y, z));
}

void QvTransform::setTranslation(const glm::vec3& v)
{
    changeTranslationComponent(v, 1);
    composePlain();
}

void QvTransform::addTranslation(float x, float y, float z)
{
    addTranslation(glm::vec3(x, y, z));
}

void QvTransform::addTranslation(const glm::vec3& v)
{
    changeTranslationComponent(v, 0);
    composePlain();
}

void QvTransform::setRelationTranslation(const glm::vec3& v)
{
    addTranslation(v);
}

void QvTransform::changeTranslation(float x, float y, float z)
{
    const glm::vec3 v(x, y, z);
    for (int i = 0; i < 3; ++i) translationVector[i] = v[i] == 0.0f ? kZeroTranslationStandIn : v[i];
    translation = translationMatrix(v);
    composePlain();
}

void QvTransform::setScaling(float x, float y, float z)
{
    changeScalingComponent(glm::vec3(x, y, z), 1);
    composePlain();
}

// --- centre-pivot operations ----------------------------------------------------------

void QvTransform::setRelativeRotation(float x, float y, float z)
{
    computeCentrePivots();
    rotation = accumulateAxisRotations(rotation, x, y, z);
    composeCentrePivot(true);
}

void QvTransform::setRelativeTranslation(float x, float y, float z)
{
    setRelativeTranslation(glm::vec3(x, y, z));
}

void QvTransform::setRelativeTranslation(const glm::vec3& v)
{
    changeTranslationComponent(v, 0);
    computeCentrePivots();
    composeCentrePivot(true);
}

void QvTransform::changeTranslation(const glm::vec3& v)
{
    changeTranslationComponent(v, 1);
    computeCentrePivots();
    composeCentrePivot(true);
}

void QvTransform::setRelativeScaling(float x, float y, float z)
{
    scalingVector += glm::vec3(x, y, z);
    scaling = scalingMatrix(scalingVector);
    composeCentrePivot(true);
}

void QvTransform::updateRelativeTransformation(const QvTransform* p)
{
    if (p != nullptr) parentModel = p->getMatrix();
    computeCentrePivots();
    composeCentrePivot(p != nullptr);
}
