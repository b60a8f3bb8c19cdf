// qvpanel: the plain background slab of a head-up panel: the control box and
// nothing else. It never writes the stencil buffer, so text clipped by an
// edit box's stencil stays hidden where it runs over the panel.
#pragma once

#include "controls/qvboxcontrol.h"

inline constexpr std::int64_t qvPanelFirstTransformId = 24000;

class QvPanel : public QvBoxControl {
public:
    QvPanel(const std::string& name, Camera& camera);

    // The box in the normal colour, stencil write mask 0.
    void draw(Camera& camera) override;
};
