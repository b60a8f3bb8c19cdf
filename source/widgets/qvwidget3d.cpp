// QvWidget3D: the widget's transform tree, its control list and drawing, and
// the set-up steps every panel shares.
#include "widgets/qvwidget3d.h"

#include "controls/qvlabel.h"
#include "controls/qvpanel.h"
#include "engine/core/qvcontainer.h"
#include "engine/core/qvtransform.h"
#include "engine/gl/qvloadimage.h"
#include "engine/gl/qvmaterialobject.h"
#include "engine/gl/qvshader.h"
#include "scene/qvscene.h"

#include <algorithm>

namespace {

constexpr glm::vec3 kWidgetScaling(0.05f, 0.05f, 0.02f);
constexpr float kWidgetDistance = -1.0f;  // in front of the camera
constexpr float kPanelWidth = 27.0f;
constexpr float kPanelDepth = 1.0f;
constexpr const char* kPanelName = "QvModel_UpperPanel";
constexpr float kLabelZ = 0.1f;  // just in front of the slab
constexpr float kLabelFontSize = 15.0f;

}  // namespace

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

QvTransform* QvWidget3D::createWidgetTransform(float y)
{
    QvTransform* transform = scene->createTransform(scene->centerTransform);
    transform->setScaling(kWidgetScaling.x, kWidgetScaling.y, kWidgetScaling.z);
    transform->setRotation(0.0f, 0.0f, 0.0f);
    transform->setTranslation(0.0f, y, kWidgetDistance);
    widgetTree->insert(transform->getParent(), transform);
    return transform;
}

std::unique_ptr<QvPanel> QvWidget3D::createPanel(QvTransform* widgetTransform, float height, glm::vec4 colour)
{
    auto panel = std::make_unique<QvPanel>(kPanelName, *scene->camera);
    panel->setId(nextControlId());
    panel->setSize(kPanelWidth, height, kPanelDepth);
    panel->setColor(colour);
    panel->setTransform(widgetTransform);
    panel->shader = scene->shaders[QvScene::lightShader].get();
    panel->pickingShader = scene->shaders[QvScene::lightShader].get();
    panel->setDimension();
    panel->updateAABBbox();
    panel->addLight(scene->hudLight.get());
    components.push_back(panel.get());
    return panel;
}

QvTransform* QvWidget3D::createControlTransform(QvTransform* widgetTransform, glm::vec3 scaling,
                                                glm::vec3 translation)
{
    QvTransform* transform = scene->createTransform(widgetTransform);
    transform->setScaling(scaling.x, scaling.y, scaling.z);
    transform->setRotation(0.0f, 0.0f, 0.0f);
    transform->setTranslation(translation);
    widgetTree->insert(widgetTransform, transform);
    return transform;
}

std::unique_ptr<QvLabel> QvWidget3D::createLabel(QvTransform* widgetTransform, const std::string& labelName,
                                                 const std::u16string& text, float x, glm::vec4 colour)
{
    QvTransform* transform =
        createControlTransform(widgetTransform, glm::vec3(1.0f), glm::vec3(x, 0.0f, kLabelZ));
    auto label =
        std::make_unique<QvLabel>(labelName, text, *scene->font2D, scene->light.get(), *scene->camera);
    label->setObjectTree(widgetTree.get());
    label->setId(nextControlId());
    label->setSize(1.0f, 1.0f, 1.0f);
    label->setFontSize(kLabelFontSize);
    label->setColor(colour);
    label->setTransform(transform);
    label->shader = scene->shaders[QvScene::lightShader].get();
    label->setTextShader(scene->shaders[QvScene::text2DShader].get());
    label->initLabel();
    label->addLight(scene->hudLight.get());
    components.push_back(label.get());
    return label;
}

int QvWidget3D::nextControlId()
{
    return ++scene->objectIdCounter;
}
