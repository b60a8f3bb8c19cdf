// QvLowerPanelWidget3D: the slab and the controls of the lower panel and their wiring.
#include "widgets/qvlowerpanelwidget3d.h"

#include "controls/qvpanel.h"

namespace {

constexpr float kWidgetY = -0.388f;
constexpr float kPanelHeight = 0.9f;
constexpr glm::vec4 kPanelColour(0.5058f, 0.79f, 1.0f, 1.0f);

}  // namespace

QvLowerPanelWidget3D::QvLowerPanelWidget3D(QvScene* owner) : QvWidget3D(owner)
{
    initialize();
}

QvLowerPanelWidget3D::~QvLowerPanelWidget3D() = default;

void QvLowerPanelWidget3D::initialize()
{
    widgetTransform = createWidgetTransform(kWidgetY);
    panel = createPanel(widgetTransform, kPanelHeight, kPanelColour);
}

void QvLowerPanelWidget3D::draw()
{
    QvWidget3D::draw();
}
