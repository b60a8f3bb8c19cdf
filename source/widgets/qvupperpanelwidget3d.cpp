// QvUpperPanelWidget3D: the slab and the statistics labels of the upper panel.
#include "widgets/qvupperpanelwidget3d.h"

#include "controls/qvpanel.h"

namespace {

constexpr float kWidgetY = 0.385f;
constexpr float kPanelHeight = 1.0f;
constexpr glm::vec4 kPanelColour(0.5058f, 0.79f, 1.0f, 1.0f);

}  // namespace

QvUpperPanelWidget3D::QvUpperPanelWidget3D(QvScene* owner) : QvWidget3D(owner)
{
    initialize();
}

QvUpperPanelWidget3D::~QvUpperPanelWidget3D() = default;

void QvUpperPanelWidget3D::initialize()
{
    widgetTransform = createWidgetTransform(kWidgetY);
    panel = createPanel(widgetTransform, kPanelHeight, kPanelColour);
}

void QvUpperPanelWidget3D::draw()
{
    QvWidget3D::draw();
}
