// qvobject: the root of everything placed in the 3D scene, and the light.
//
// QvObject holds the object's transform and the matrices and camera position
// it last sent to its shader. QvPhysicalObject leads to QvLight, the point
// light that lit controls send to their shaders; QvMaterialObject (its own
// module) is the base of every drawable control. QvDimension is the size
// record of every control.
#pragma once

#include <limits>
#include <memory>

#include <glm/mat4x4.hpp>
#include <glm/vec3.hpp>

#include "engine/core/qvvectormath.h"

class QvTransform;

// Width, height and depth of a control; NaN until set. Equal when all three
// floats are equal (so an unset size equals nothing, itself included).
struct QvDimension {
    float width = std::numeric_limits<float>::quiet_NaN();
    float height = std::numeric_limits<float>::quiet_NaN();
    float depth = std::numeric_limits<float>::quiet_NaN();

    bool operator==(const QvDimension&) const = default;
};

class QvObject {
public:
    // Matrices and camera position last sent to a shader; NaN until the first
    // draw, so an object that was never drawn is never picked.
    struct MCP {
        glm::mat4 model = unsetMatrix();
        glm::mat4 camera = unsetMatrix();
        glm::mat4 projection = unsetMatrix();
        glm::mat4 inverseProjection = unsetMatrix();
        glm::vec3 cameraPosition{std::numeric_limits<float>::quiet_NaN()};
    };

    // Creates the object's own transform.
    QvObject();
    virtual ~QvObject();
    QvObject(const QvObject&) = delete;
    QvObject& operator=(const QvObject&) = delete;

    virtual QvTransform* getTransform() const;
    // Places the object by t from now on; nothing is recomputed. The object's
    // own transform stays alive with the object, since glyphs and transform
    // trees may still refer to it.
    virtual void setTransform(QvTransform* t);
    // The view matrix last taken from the camera.
    virtual glm::mat4 getCameraMatrix() const;

    MCP mcp;
    QvTransform* transform = nullptr;  // shared with glyphs and transform trees

private:
    std::unique_ptr<QvTransform> ownTransform;
};

class QvPhysicalObject : public QvObject {
public:
    // Reserved for physical properties; nothing reads or writes it yet.
    struct PhysicalSpecs {
        float value = std::numeric_limits<float>::quiet_NaN();
    };

    PhysicalSpecs physicalSpecs;
};

// A point light. Its creator writes the colour terms and places it through
// its transform; `getPosition` reads the position from the transform.
class QvLight : public QvPhysicalObject {
public:
    struct LightSpecs {
        glm::vec3 position{std::numeric_limits<float>::quiet_NaN()};
        glm::vec3 ambient{std::numeric_limits<float>::quiet_NaN()};
        glm::vec3 diffuse{std::numeric_limits<float>::quiet_NaN()};
        glm::vec3 specular{std::numeric_limits<float>::quiet_NaN()};
    };

    // Also takes t's stored translation vector as the position.
    void setTransform(QvTransform* t) override;
    // Refreshes the position from the translation column of the transform's
    // composed matrix, so the light follows later moves, then returns it.
    virtual glm::vec3 getPosition();

    LightSpecs lightSpecs;
};
