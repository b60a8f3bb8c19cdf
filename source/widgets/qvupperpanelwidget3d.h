// The upper HUD panel: the tracker's odometer, speed and pointer position,
// captions and values in one row. Its texts are fixed English strings; the
// scene writes the values every sample.
#pragma once

#include "widgets/qvwidget3d.h"

#include <memory>

class QvPanel;

class QvUpperPanelWidget3D : public QvWidget3D {
public:
    explicit QvUpperPanelWidget3D(QvScene* scene);
    ~QvUpperPanelWidget3D() override;

    // Builds the slab and its labels, once.
    virtual void initialize();
    void draw() override;

    QvTransform* widgetTransform = nullptr;
    std::unique_ptr<QvPanel> panel;
};
