// qvtransform: the placement of one node of the scene.
//
// A QvTransform keeps the components of a placement (translation, rotation,
// scaling, spin and the pivot matrices of the orbit and centre-pivot forms) and
// the composed model matrix read through getMatrix(). Every mutating operation
// recomposes `model` before it returns, in one of four fixed forms:
//
//   normal       [parentModel x] translation x spin x rotation x scaling
//   orbit        [parentModel x] orbitPivot x rotation x orbitDistance x spin x scaling
//   centre pivot [parentModel x] outerPivot x rotation x innerPivot x scaling
//   plain        translation x rotation x scaling        (never the parent)
//
// [parentModel x] stands in front only when the transform was built with a
// parent. Matrices map column vectors (M x p); the leftmost factor acts last.
// All angles are radians.
//
// Which operations fire onChange(this, nullptr) after storing `model`:
//   fire:   performMatrixMultiplication, skew, rotate, translate, scale, spin,
//           relativeSpin, relativeRotate, relativeTranslate, relativeScale
//   silent: setRotation, setTranslation, addTranslation, setRelationTranslation,
//           changeTranslation, setScaling, setRelativeRotation,
//           setRelativeTranslation, setRelativeScaling,
//           updateRelativeTransformation, setTransformation and the setters.
// Flags (uint8_t): non-zero replaces the component, zero accumulates onto it.
//
// Transforms are shared by identity (a control, its glyphs and the transform
// trees hold the same object through plain pointers), so they can be neither
// copied nor moved.
#pragma once

#include <compare>
#include <cstdint>

#include <glm/ext/quaternion_float.hpp>
#include <glm/mat4x4.hpp>
#include <glm/vec3.hpp>

#include "engine/core/qvevents.h"

class QvTransform {
public:
    // Identity placement, no parent.
    QvTransform();
    // Starts equal to the parent's model matrix; compositions put a snapshot of
    // it in front. A null parent gives a transform without parent.
    explicit QvTransform(QvTransform* parent);
    // The same as QvTransform(parent); the flag is not read. Kept for the glyph
    // code that builds its transforms in storage of its own.
    QvTransform(QvTransform* parent, bool flag);

    QvTransform(const QvTransform&) = delete;
    QvTransform& operator=(const QvTransform&) = delete;

    // --- identity -----------------------------------------------------------
    void setId(std::int64_t id);
    std::int64_t getId() const;
    bool opEquals(const QvTransform& other) const;  // ids equal
    // -1 when this id is greater, +1 when it is smaller, 0 when equal.
    int opCmp(const QvTransform& other) const;
    bool operator==(const QvTransform& other) const { return opEquals(other); }
    std::weak_ordering operator<=>(const QvTransform& other) const;

    // --- direct access (silent, no recomposition) ----------------------------
    void setTransformation(const glm::mat4& m);  // model = m; fire onChange yourself if needed
    void setDimension(const glm::vec3& d);
    glm::vec3 getDimension() const;
    glm::mat4 getRotation() const;
    glm::mat4 getTranslation() const;
    glm::mat4 getScaling() const;
    glm::mat4 getMatrix() const;
    glm::vec3 getTranslationVector() const;
    glm::vec3 getTranslationVectorFromMatrix() const;  // translation column of `model`
    glm::vec3 getScalingVector() const;
    glm::quat getQuaternion() const;  // the one skew(angle, axis, flag) keeps
    QvTransform* getParent() const;
    void setDistanceFromObjectSurveillance(const glm::vec3& distance);
    glm::vec3 getDistanceFromObjectSurveillance() const;

    // Mode 0: normal form; any other mode: orbit form with the stored pivots. Fires.
    void performMatrixMultiplication(std::uint8_t mode);

    // --- absolute operations: normal form, fire -----------------------------
    void skew(const glm::quat& q);  // spin = matrix of q; `quaternion` unchanged
    void skew(long double angle, const glm::vec3& axis,
              std::uint8_t flag);                     // `quaternion` from axis/angle, spin its matrix
    void skew(float angle, const glm::vec3& axis);    // rotation replaced (as rotate)
    void rotate(float x, float y, float z);           // rotation accumulates
    void rotate(float angle, const glm::vec3& axis);  // rotation replaced
    void translate(float x, float y, float z, std::uint8_t flag);
    void translate(const glm::vec3& v, std::uint8_t flag);
    void scale(float x, float y, float z, std::uint8_t flag);  // zero flag: vector adds, matrix multiplies
    void scale(const glm::vec3& v, std::uint8_t flag);
    void spin(float x, float y, float z);           // spin accumulates
    void spin(float angle, const glm::vec3& axis);  // spin replaced

    // --- orbit operations: orbit form, fire ---------------------------------
    // The target's stored translation vector is the orbit centre; a null target
    // orbits the origin.
    void relativeSpin(float x, float y, float z);  // keeps the stored pivots
    void relativeSpin(float angle, const glm::vec3& axis);
    void relativeRotate(float x, float y, float z, const QvTransform* target);
    void relativeRotate(float angle, const glm::vec3& axis, const QvTransform* target);
    void relativeTranslate(float x, float y, float z, const QvTransform* target, std::uint8_t flag);
    void relativeTranslate(const glm::vec3& v, const QvTransform* target, std::uint8_t flag);
    void relativeScale(float x, float y, float z, const QvTransform* target, std::uint8_t flag);
    void relativeScale(const glm::vec3& v, const QvTransform* target, std::uint8_t flag);

    // --- set, add and change operations: plain form, silent -----------------
    void setRotation(float x, float y, float z);           // accumulates, like rotate
    void setRotation(float angle, const glm::vec3& axis);  // replaced
    void setTranslation(float x, float y, float z);
    void setTranslation(const glm::vec3& v);
    void addTranslation(float x, float y, float z);
    void addTranslation(const glm::vec3& v);
    void setRelationTranslation(const glm::vec3& v);    // same as addTranslation(v)
    void changeTranslation(float x, float y, float z);  // zero components stored as 0.0001
    void setScaling(float x, float y, float z);

    // --- centre-pivot operations: centre-pivot form, silent ------------------
    void setRelativeRotation(float x, float y, float z);
    void setRelativeTranslation(float x, float y, float z);
    void setRelativeTranslation(const glm::vec3& v);
    void changeTranslation(const glm::vec3& v);          // keeps zero components
    void setRelativeScaling(float x, float y, float z);  // scaling rebuilt from the summed vector
    // Snapshot p's model matrix as the parent factor and recompose. A null p
    // composes without any parent factor.
    void updateRelativeTransformation(const QvTransform* p);

    // Fired with this transform as sender and no argument object.
    QvEvent<QvTransform, QvEventArgs> onChange;

private:
    void composeNormal();
    void composeOrbit();
    void composeCentrePivot(bool withParent);
    void composePlain();
    void computeOrbitPivots(const QvTransform* target);
    void computeCentrePivots();
    void fireChange();
    void commitNormal();
    void commitOrbit();
    void commitOrbitAround(const QvTransform* target);
    void changeTranslationComponent(const glm::vec3& v, std::uint8_t flag);
    void changeScalingComponent(const glm::vec3& v, std::uint8_t flag);
    glm::mat4 parentFactor(const glm::mat4& rest) const;

    std::int64_t id = 0;
    QvTransform* parent = nullptr;  // fixed at construction, not owned; null: no parent factor
    glm::mat4 model{1.0f};
    glm::mat4 translation{1.0f};
    glm::mat4 rotation{1.0f};
    glm::mat4 scaling{1.0f};
    glm::mat4 orbitPivot{1.0f};     // translation to the orbit target's position
    glm::mat4 orbitDistance{1.0f};  // translation by the orbit distance
    glm::mat4 spinMatrix{1.0f};     // own rotation next to scaling ("spin")
    glm::mat4 parentModel;          // NaN until a parent snapshot is taken
    glm::mat4 outerPivot{1.0f};
    glm::mat4 innerPivot{1.0f};
    glm::vec3 dimension{0.0f};
    glm::vec3 translationVector{0.0f};
    glm::vec3 scalingVector{0.0f};  // starts at 0 although `scaling` is identity
    glm::vec3 distanceFromObjectSurveillance{0.0f};
    glm::quat quaternion{1.0f, 0.0f, 0.0f, 0.0f};  // w, x, y, z
};
