// qvobject: transform ownership of scene objects and the light's position.
#include "engine/core/qvobject.h"

#include "engine/core/qvtransform.h"

QvObject::QvObject() : ownTransform(std::make_unique<QvTransform>())
{
    transform = ownTransform.get();
}

QvObject::~QvObject() = default;

QvTransform* QvObject::getTransform() const
{
    return transform;
}

void QvObject::setTransform(QvTransform* t)
{
    transform = t;
}

glm::mat4 QvObject::getCameraMatrix() const
{
    return mcp.camera;
}

void QvLight::setTransform(QvTransform* t)
{
    QvObject::setTransform(t);
    if (t != nullptr) {
        lightSpecs.position = t->getTranslationVector();
    }
}

glm::vec3 QvLight::getPosition()
{
    if (transform != nullptr) {
        lightSpecs.position = transform->getTranslationVectorFromMatrix();
    }
    return lightSpecs.position;
}
