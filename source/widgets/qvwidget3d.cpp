// QvWidget3D: the widget's transform tree, its control list and drawing.
#include "widgets/qvwidget3d.h"

#include "engine/core/qvcontainer.h"
#include "engine/gl/qvloadimage.h"
#include "engine/gl/qvmaterialobject.h"
#include "scene/qvscene.h"
#include "engine/core/qvtransform.h"

#include <algorithm>

QvWidget3D::QvWidget3D(QvScene* owner) : scene(owner)
{
    name = "QvWidget3D";
    textureLoader = std::make_unique<TextureLoader>();
    widgetTree = std::make_unique<OakTree<QvTransform>>(scene->rootTransform);
    widgetTree->insert(scene->rootTransform, scene->centerTransform);
}

QvWidget3D::~QvWidget3D() = default;

void QvWidget3D::getChildrenOfParent(QvTransform* parent)
{
    scene->getChildrenOfParent(widgetTree.get(), parent);
}

void QvWidget3D::draw()
{
    for (QvMaterialObject* control : components) control->draw(*scene->camera);
}

void QvWidget3D::showComponent(QvMaterialObject* control)
{
    components.push_back(control);
}

void QvWidget3D::hideComponent(QvMaterialObject* control)
{
    const auto sameId = [control](const QvMaterialObject* c) { return c->id == control->id; };
    const auto found = std::find_if(components.begin(), components.end(), sameId);
    if (found != components.end()) components.erase(found);
}

void QvWidget3D::addToScreen()
{
    getChildrenOfParent(scene->centerTransform);
    onScreen = true;
}

void QvWidget3D::removeFromScreen()
{
    onScreen = false;
}

void QvWidget3D::updateChildren(QvTransform* transform)
{
    getChildrenOfParent(transform);
}
