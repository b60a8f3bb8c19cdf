// qvpanel: the slab's draw.
#include "controls/qvpanel.h"

QvPanel::QvPanel(const std::string& name, Camera& camera)
    : QvBoxControl(name, camera, qvPanelFirstTransformId)
{
}

void QvPanel::draw(Camera& camera)
{
    QvMaterialObject::draw(camera);
    if (shader == nullptr) {
        return;
    }
    currentColor = color;
    prepareBoxDraw(camera);
    qvSetControlStencil(1, 0x00);
    drawFrame();
}
