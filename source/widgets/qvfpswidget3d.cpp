// QvFPSWidget3D: the slab and the frame-rate labels.
#include "widgets/qvfpswidget3d.h"

#include "controls/qvlabel.h"
#include "controls/qvpanel.h"

namespace {

constexpr float kWidgetY = 0.335f;
constexpr float kPanelHeight = 1.0f;
constexpr glm::vec4 kPanelColour(0.4058f, 0.3607f, 0.5803f, 0.75f);
constexpr glm::vec4 kTextColour(1.0f, 1.0f, 1.0f, 1.0f);

}  // namespace

QvFPSWidget3D::QvFPSWidget3D(QvScene* owner) : QvWidget3D(owner)
{
    initialize();
}

QvFPSWidget3D::~QvFPSWidget3D() = default;

void QvFPSWidget3D::initialize()
{
    widgetTransform = createWidgetTransform(kWidgetY);
    panel = createPanel(widgetTransform, kPanelHeight, kPanelColour);
    fpsLabel = createLabel(widgetTransform, "QvModel_LabelFPS", u"FPS:", -10.0f, kTextColour);
    fpsValueLabel = createLabel(widgetTransform, "QvModel_LabelFPS", u"0", -9.0f, kTextColour);
}
