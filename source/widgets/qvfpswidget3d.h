// The FPS HUD panel: the frame rate, caption and value, off screen until F.
#pragma once

#include "widgets/qvwidget3d.h"

#include <memory>

class QvLabel;
class QvPanel;

class QvFPSWidget3D : public QvWidget3D {
public:
    explicit QvFPSWidget3D(QvScene* scene);
    ~QvFPSWidget3D() override;

    // Builds the slab and its labels, once.
    virtual void initialize();

    QvTransform* widgetTransform = nullptr;
    std::unique_ptr<QvPanel> panel;
    std::unique_ptr<QvLabel> fpsLabel;
    std::unique_ptr<QvLabel> fpsValueLabel;
};
