// The base of the head-up panels: a widget whose controls hang below the
// scene's centre transform, so they follow the camera and stay in view. It
// keeps its own transform tree and the list of its controls, which the world
// walks for input and the scene draws when the widget is on screen.
#pragma once

#include "widgets/qvwidget.h"

#include <glm/vec3.hpp>
#include <glm/vec4.hpp>

#include <memory>
#include <string>
#include <vector>

class QvLabel;
class QvMaterialObject;
class QvPanel;
class QvScene;
class QvTransform;
class TextureLoader;
template <class T>
class OakTree;

class QvWidget3D : public QvWidget {
public:
    explicit QvWidget3D(QvScene* scene);
    ~QvWidget3D() override;
    QvWidget3D(const QvWidget3D&) = delete;
    QvWidget3D& operator=(const QvWidget3D&) = delete;

    // Rooted at the scene's root transform, the centre transform below it;
    // the panels insert their controls' transforms below the centre.
    std::unique_ptr<OakTree<QvTransform>> widgetTree;
    // The widget's controls in drawing and dispatch order; the panel that
    // creates a control owns it.
    std::vector<QvMaterialObject*> components;
    QvScene* scene = nullptr;
    std::unique_ptr<TextureLoader> textureLoader;

    // Re-places every transform below `parent` in the widget's tree.
    virtual void getChildrenOfParent(QvTransform* parent);
    virtual void draw();
    // Appends the control (also when it is there already).
    virtual void showComponent(QvMaterialObject* control);
    // Removes the first control with the same id; no match, no change.
    virtual void hideComponent(QvMaterialObject* control);
    // Brings the controls to the camera's current place, then shows them.
    void addToScreen() override;
    void removeFromScreen() override;
    // Re-places the transforms below a control's own (its glyphs follow its
    // press and release scaling).
    virtual void updateChildren(QvTransform* transform);

protected:
    // The panels' common steps. The widget transform: below the centre
    // transform, scaled to HUD size, `y` up from the view's centre, one unit
    // in front of the camera; in the widget's tree.
    QvTransform* createWidgetTransform(float y);
    // The slab ("QvModel_UpperPanel" for all three panels), 27 x height,
    // sharing the widget transform, lit by the HUD light; listed first.
    std::unique_ptr<QvPanel> createPanel(QvTransform* widgetTransform, float height, glm::vec4 colour);
    // A control's transform below the widget transform, in the widget's tree.
    QvTransform* createControlTransform(QvTransform* widgetTransform, glm::vec3 scaling,
                                        glm::vec3 translation);
    // A fixed-text HUD label (font size 15) at x on the panel's centre line,
    // its glyphs in the widget's tree; listed after the controls before it.
    std::unique_ptr<QvLabel> createLabel(QvTransform* widgetTransform, const std::string& name,
                                         const std::u16string& text, float x, glm::vec4 colour);
    // The next control id of the scene's HUD panels.
    int nextControlId();
};
