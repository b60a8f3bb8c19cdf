// QvUpperPanelWidget3D: the slab and the statistics labels of the upper panel.
#include "widgets/qvupperpanelwidget3d.h"

#include "controls/qvlabel.h"
#include "controls/qvpanel.h"

namespace {

constexpr float kWidgetY = 0.385f;
constexpr float kPanelHeight = 1.0f;
constexpr glm::vec4 kPanelColour(0.5058f, 0.79f, 1.0f, 1.0f);
constexpr glm::vec4 kTextColour(0.0f, 0.0f, 0.0f, 1.0f);

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
    // Fixed English texts: the panel does not follow the interface language.
    // The value labels of odometer and speed share their caption's name.
    odometerLabel = createLabel(widgetTransform, "QvModel_LabelOdometer", u"Odometer:", -10.0f, kTextColour);
    odometerValueLabel = createLabel(widgetTransform, "QvModel_LabelOdometer", u"0", -7.6f, kTextColour);
    speedLabel = createLabel(widgetTransform, "QvModel_LabelSpeed", u"Speedometer:", -3.0f, kTextColour);
    speedValueLabel = createLabel(widgetTransform, "QvModel_LabelSpeed", u"0", 0.2f, kTextColour);
    xCoordLabel = createLabel(widgetTransform, "QvModel_LabelXCoord", u"X:", 5.5f, kTextColour);
    xCoordValueLabel = createLabel(widgetTransform, "QvModel_LabelXCoordValue", u"0", 6.0f, kTextColour);
    yCoordLabel = createLabel(widgetTransform, "QvModel_LabelYCoord", u"Y:", 9.5f, kTextColour);
    yCoordValueLabel = createLabel(widgetTransform, "QvModel_LabelYCoordValue", u"0", 10.0f, kTextColour);
}
