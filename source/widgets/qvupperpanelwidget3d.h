// The upper HUD panel: the tracker's odometer, speed and pointer position,
// captions and values in one row. Its texts are fixed English strings; the
// scene writes the values every sample.
#pragma once

#include "widgets/qvwidget3d.h"

#include <memory>

class QvLabel;
class QvPanel;

class QvUpperPanelWidget3D : public QvWidget3D {
public:
    explicit QvUpperPanelWidget3D(QvScene* scene);
    ~QvUpperPanelWidget3D() override;

    // Builds the slab and its labels, once.
    virtual void initialize();

    QvTransform* widgetTransform = nullptr;
    std::unique_ptr<QvPanel> panel;
    std::unique_ptr<QvLabel> odometerLabel;
    std::unique_ptr<QvLabel> odometerValueLabel;  // "1234px"
    std::unique_ptr<QvLabel> speedLabel;
    std::unique_ptr<QvLabel> speedValueLabel;  // "37px/100ms"
    std::unique_ptr<QvLabel> xCoordLabel;
    std::unique_ptr<QvLabel> xCoordValueLabel;
    std::unique_ptr<QvLabel> yCoordLabel;
    std::unique_ptr<QvLabel> yCoordValueLabel;
};
