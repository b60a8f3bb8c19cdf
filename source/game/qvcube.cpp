// qvcube: letter tiles on the unit cube mesh.
#include "game/qvcube.h"

#include "engine/core/qvevents.h"
#include "engine/core/qvtransform.h"
#include "engine/gl/qvshader.h"
#include "game/qvcubemesh.h"
#include "game/qvmovement.h"

// ---------------------------------------------------------------------------
// Tile

QvCube::QvCube(const std::string& name, const std::u16string& text, QvFont3D& font, QvLight* light,
               Camera& camera)
    : QvButton(name, text, font, light, camera)
{
}

QvCube::QvCube(const std::string& name, const std::u16string& text, QvFont2D& font, QvLight* light,
               Camera& camera)
    : QvButton(name, text, font, light, camera)
{
}

void QvCube::setSize(float width, float height, float depth)
{
    size = {width, height, depth};
    vertices = qvCubeVertices();
    aabb = std::make_unique<QvAABB>(qvCubeTriangles(vertices));
    aabb->addBoxVertices(qvCubeAABBVertices(vertices));
    updateAABBboxNormals();
    initBuffers();
}

void QvCube::draw(Camera& camera)
{
    if (shader == nullptr) return;
    prepareBoxDraw(camera);
    qvSetControlStencil(1, 0xFF);
    drawFrame();
    if (drawAABB) drawAABBbox();
    if (textShader == nullptr) return;
    textShader->useProgram();
    drawGlyphs(camera, currentColor);
}

// ---------------------------------------------------------------------------
// Flying tile

QvFlyingCube::QvFlyingCube(const std::string& name, const std::u16string& text, QvFont3D& font,
                           QvLight* light, Camera& camera)
    : QvCube(name, text, font, light, camera)
{
    initialize(camera);
}

QvFlyingCube::QvFlyingCube(const std::string& name, const std::u16string& text, QvFont2D& font,
                           QvLight* light, Camera& camera)
    : QvCube(name, text, font, light, camera)
{
    initialize(camera);
}

void QvFlyingCube::initialize(Camera& cameraValue)
{
    camera = &cameraValue;
    flyingEvent = std::make_unique<QvEvent<QvMaterialObject, QvEventArgs>>();
    *onKeyUp += [this](QvMaterialObject* sender, QvKeyboardEventArgs* args) { handlerOnKeyUp(sender, args); };
}

void QvFlyingCube::handlerOnKeyUp(QvMaterialObject* /*sender*/, QvKeyboardEventArgs* /*args*/)
{
    if (auto* vehicle = dynamic_cast<QvVehicleMovement*>(movement)) vehicle->inertia = true;
}

void QvFlyingCube::draw(Camera& cameraValue)
{
    QvCube::draw(cameraValue);
    if (movement != nullptr) movement->tick();
}
