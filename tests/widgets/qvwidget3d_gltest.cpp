// The HUD widget base without drawing: its control list and the tree that
// carries its controls with the camera.
#include "widgets/qvwidget3d.h"

#include "engine/core/qvcamera.h"
#include "engine/core/qvcontainer.h"
#include "engine/core/qvtransform.h"
#include "engine/gl/qvmaterialobject.h"
#include "scene/qvscene.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

class BareScene : public QvScene {
public:
    BareScene() : QvScene(Bare{}, 1024, 768, 1920, 1080, 3.3f) {}
};

struct WidgetBase : testing::Test {
    BareScene scene;
    QvWidget3D widget{&scene};
    QvMaterialObject a{"QvModel_A"}, b{"QvModel_B"}, twinOfA{"QvModel_Twin"};

    WidgetBase()
    {
        a.setId(1);
        b.setId(2);
        twinOfA.setId(1);
    }
};

}  // namespace

TEST_F(WidgetBase, ShowAppendsAlwaysAndHideRemovesTheFirstWithTheSameId)
{
    widget.showComponent(&a);
    widget.showComponent(&b);
    widget.showComponent(&a);  // listed twice, as asked
    EXPECT_EQ(widget.components, (std::vector<QvMaterialObject*>{&a, &b, &a}));

    widget.hideComponent(&twinOfA);  // equal by id: the first a goes
    EXPECT_EQ(widget.components, (std::vector<QvMaterialObject*>{&b, &a}));

    QvMaterialObject stranger("QvModel_Stranger");
    stranger.setId(99);
    widget.hideComponent(&stranger);
    EXPECT_EQ(widget.components, (std::vector<QvMaterialObject*>{&b, &a}));
}

// A widget hidden while the camera moves is brought to the camera's place
// when it is shown again, and only then.
TEST_F(WidgetBase, ShowingAgainCarriesTheControlsToTheMovedCamera)
{
    QvTransform* control = scene.createTransform(scene.centerTransform);
    control->setTranslation(0.0f, 0.0f, -1.0f);
    widget.widgetTree->insert(scene.centerTransform, control);
    widget.addToScreen();
    EXPECT_TRUE(widget.onScreen);
    EXPECT_NEAR(control->getTranslationVectorFromMatrix().z, 19.0f, 1e-4f);  // camera at z 20

    widget.removeFromScreen();
    EXPECT_FALSE(widget.onScreen);
    scene.camera->moveUpDown(-1.0);  // the scene re-places only shown widgets
    EXPECT_NEAR(control->getTranslationVectorFromMatrix().y, 0.0f, 1e-4f);

    widget.addToScreen();
    const glm::vec3 placed = control->getTranslationVectorFromMatrix();
    EXPECT_NEAR(placed.y, -24.0f, 1e-4f);
    EXPECT_NEAR(placed.z, 19.0f, 1e-4f);
}
