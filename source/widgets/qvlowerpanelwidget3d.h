// The lower HUD panel: the controls of the tracker and the window: Start/Stop,
// Clear, Eco/Power (VSync), Off Top/On Top, the name box for the 3D title and
// the ticker with the about line, in the interface language.
#pragma once

#include "widgets/qvwidget3d.h"

#include <memory>

class QvPanel;

class QvLowerPanelWidget3D : public QvWidget3D {
public:
    explicit QvLowerPanelWidget3D(QvScene* scene);
    ~QvLowerPanelWidget3D() override;

    // Builds the slab and its controls, once.
    virtual void initialize();
    void draw() override;

    QvTransform* widgetTransform = nullptr;
    std::unique_ptr<QvPanel> panel;
};
