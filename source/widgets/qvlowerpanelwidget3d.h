// The lower HUD panel: the controls of the tracker and the window: Start/Stop,
// Clear, Eco/Power (VSync), Off Top/On Top, the name box for the 3D title and
// the ticker with the about line, in the interface language.
#pragma once

#include "widgets/qvwidget3d.h"

#include <cstdint>
#include <memory>

class QvButton;
class QvEdit2D;
class QvPanel;
class QvSwitch;
class QvTextControl;

class QvLowerPanelWidget3D : public QvWidget3D {
public:
    explicit QvLowerPanelWidget3D(QvScene* scene);
    ~QvLowerPanelWidget3D() override;

    // Builds the slab and its controls, once.
    virtual void initialize();

    QvTransform* widgetTransform = nullptr;
    std::unique_ptr<QvPanel> panel;
    // Each switch flips its text and colour on the press; the scene's
    // operation runs on the release.
    std::unique_ptr<QvSwitch> switchShading;  // "QvModel_SwitchShading": startTracker
    std::unique_ptr<QvButton> clearButton;    // "QvModel_ButtonClear": buttonClear
    std::unique_ptr<QvSwitch> switchVSync;    // "QvModel_SwitchVSync": switchVSync
    std::unique_ptr<QvSwitch> switchOnTop;    // "QvModel_SwitchOnTop": switchOnTop
    // "QvModel_EditName": Enter puts its text on the 3D title (the scene
    // subscribes to its entered event).
    std::unique_ptr<QvEdit2D> editName;
    // "QvModel_LabelLogo": the about line scrolling, read-only.
    std::unique_ptr<QvEdit2D> ticker;

private:
    // A switch of the panel showing dictionary entry `offKey` off and
    // `onKey` on, at x.
    std::unique_ptr<QvSwitch> _createSwitch(const char* name, std::int32_t offKey, std::int32_t onKey,
                                            float x);
    // Transform and programs, the steps a switch and the button share.
    void _setUpTextControl(QvTextControl& control, QvTransform* transform);
    // A 2D edit box of `width` x 1 at x on the panel, set up with the
    // panel's programs.
    std::unique_ptr<QvEdit2D> _createEditBox(const char* name, float width, float x);
};
