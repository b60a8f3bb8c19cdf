// Material object without a GL context: colour states, press and release
// scaling, picking through the stored matrices, and box maintenance.
#include "materialfixtures.h"
#include "qvmaterial.h"

#include <glm/gtc/matrix_transform.hpp>
#include <gtest/gtest.h>

#include <cmath>

using materialfixtures::TestBox;

namespace {

// A box of 2 x 2 x 2 that "was drawn" by a camera at (0, 0, 5): the picking
// matrices are what the last draw would have stored.
void placeInView(TestBox& box)
{
    box.build(2.0f, 2.0f, 2.0f);
    const auto camera = materialfixtures::frontCamera(100, 100);
    box.mcp.projection = camera->getProjectionMatrix();
    box.mcp.camera = camera->getCameraMatrix();
}

const glm::vec4 centre{0.0f, 0.0f, 0.0f, 0.0f};
const glm::vec4 corner{0.95f, 0.95f, 0.0f, 0.0f};

}  // namespace

TEST(MaterialObjectPicking, ClickInsideTheOutlinePressesAndFiresOnce)
{
    TestBox box("QvModel_Box");
    placeInView(box);
    int presses = 0;
    *box.onMouseButtonPress += [&](QvMaterialObject* sender, QvMouseEventArgs*) {
        EXPECT_EQ(sender, &box);
        ++presses;
    };
    QvMouseEventArgs args;
    EXPECT_FALSE(box.findIntersectsWithAABB(corner, &args));
    EXPECT_FALSE(box.pressed);
    EXPECT_EQ(box.mouseVector, corner);
    EXPECT_TRUE(box.findIntersectsWithAABB(centre, &args));
    EXPECT_TRUE(box.pressed);
    EXPECT_EQ(presses, 1);
    EXPECT_EQ(box.currentColor, box.pressedColor);
}

TEST(MaterialObjectPicking, NeverDrawnOrBoxlessObjectsAreNotHit)
{
    TestBox neverDrawn("QvModel_Box");
    neverDrawn.build(2.0f, 2.0f, 2.0f);  // NaN matrices until a draw
    QvMouseEventArgs args;
    EXPECT_FALSE(neverDrawn.findIntersectsWithAABB(centre, &args));
    TestBox boxless("QvModel_Empty");
    EXPECT_FALSE(boxless.findIntersectsWithAABB(centre, &args));
    EXPECT_EQ(boxless.mouseVector, centre);
}

TEST(MaterialObjectPressRelease, ReleaseRestoresExactlyTheScaleThePressFound)
{
    // A fresh transform: identity scaling matrix, stored scaling vector (0, 0, 0).
    TestBox box("QvModel_Box");
    placeInView(box);
    const glm::mat4 before = box.transform->getMatrix();
    QvMouseEventArgs args;
    ASSERT_TRUE(box.findIntersectsWithAABB(centre, &args));
    const glm::mat4 pressed = box.transform->getMatrix();
    EXPECT_NEAR(pressed[0][0], 1.0f / 1.2f, 1e-6f) << "shrunk, not collapsed";
    EXPECT_NEAR(pressed[1][1], 1.0f / 1.2f, 1e-6f);
    EXPECT_NEAR(pressed[2][2], 1.0f / 1.2f, 1e-6f);

    box.pressed = false;  // as the world's release handler does
    box.onMouseButtonRelease->opCall(&box, &args);
    EXPECT_TRUE(box.transform->getMatrix() == before);
    EXPECT_EQ(box.currentColor, box.color);
}

TEST(MaterialObjectPressRelease, ScaledAndParentedObjectsComeBackUnchanged)
{
    QvTransform parent;
    parent.setTranslation(1.0f, 2.0f, 3.0f);
    TestBox box("QvModel_Child");
    QvTransform placement(&parent);
    placement.setScaling(0.3f, 0.7f, 1.9f);
    placement.updateRelativeTransformation(&parent);
    box.setTransform(&placement);
    placeInView(box);
    const glm::mat4 before = placement.getMatrix();
    QvMouseEventArgs args;
    box.handlerMouseButtonPress(&box, &args);
    box.handlerMouseButtonPress(&box, &args);  // a second press does not shrink twice
    EXPECT_NEAR(placement.getScaling()[1][1], 0.7f / 1.2f, 1e-6f);
    box.handlerMouseButtonRelease(&box, &args);
    EXPECT_TRUE(placement.getMatrix() == before);
    box.handlerMouseButtonRelease(&box, &args);  // a stray release does not grow it
    EXPECT_TRUE(placement.getMatrix() == before);
}

// A control whose press does something else (as the monitor canvas does).
class NoShrinkBox : public TestBox {
public:
    using TestBox::TestBox;
    void handlerMouseButtonPress(QvMaterialObject*, QvMouseEventArgs*) override { focused = true; }
};

TEST(MaterialObjectPressRelease, ReleaseAfterAnOverriddenPressKeepsTheScale)
{
    NoShrinkBox box("QvModel_Canvas");
    placeInView(box);
    const glm::mat4 before = box.transform->getMatrix();
    QvMouseEventArgs args;
    ASSERT_TRUE(box.findIntersectsWithAABB(centre, &args));
    EXPECT_TRUE(box.focused) << "the override runs instead of the base handler";
    box.onMouseButtonRelease->opCall(&box, &args);
    EXPECT_TRUE(box.transform->getMatrix() == before);
}

TEST(MaterialObjectHover, HoverColourComesAndGoesWithTheCursor)
{
    TestBox box("QvModel_Box");
    placeInView(box);
    QvCursorEventArgs cursor;
    EXPECT_TRUE(box.findIntersectsWithAABBMouseMove(centre, &cursor));
    EXPECT_TRUE(box.hovered);
    EXPECT_EQ(box.currentColor, box.hoverColor);
    box.hovered = false;  // the world clears it before each cursor pass
    EXPECT_FALSE(box.findIntersectsWithAABBMouseMove(corner, &cursor));
    EXPECT_EQ(box.currentColor, box.color);

    // Hover, press, release: the normal colour, not the hover colour.
    QvMouseEventArgs args;
    box.findIntersectsWithAABBMouseMove(centre, &cursor);
    box.findIntersectsWithAABB(centre, &args);
    EXPECT_EQ(box.currentColor, box.pressedColor);
    box.hovered = false;
    box.findIntersectsWithAABBMouseMove(corner, &cursor);
    EXPECT_EQ(box.currentColor, box.pressedColor) << "leaving while pressed keeps the press";
    box.onMouseButtonRelease->opCall(&box, &args);
    EXPECT_EQ(box.currentColor, box.color);
}

TEST(MaterialObjectBox, NormalsArePerTriangleCentroidAndUnitNormal)
{
    TestBox box("QvModel_Box");
    box.build(2.0f, 4.0f, 6.0f);
    box.updateAABBboxNormals();
    ASSERT_EQ(box.normals.size(), 12u * 6u);
    // First triangle of the front face (vertices 6, 7, 8 of the 1.03 wire box):
    // corners (-1, -2, 3), (1, -2, 3), (1, 2, 3) scaled by 1.03.
    const float s = 1.03f;
    const float* front = &box.normals[2 * 6];
    EXPECT_NEAR(front[0], s * (1.0f / 3.0f), 1e-5f);
    EXPECT_NEAR(front[1], s * (-2.0f / 3.0f), 1e-5f);
    EXPECT_NEAR(front[2], s * 3.0f, 1e-5f);
    EXPECT_NEAR(front[5] - front[2], 1.0f, 1e-5f) << "unit normal towards +z";
    box.updateAABBboxNormals();
    EXPECT_EQ(box.normals.size(), 2u * 12u * 6u) << "appended, never cleared";
    EXPECT_EQ(&box.normalSegments, &box.normals);
}

TEST(MaterialObjectBox, BoundsAndHeadingFollowTheModelMatrix)
{
    TestBox box("QvModel_Box");
    box.build(2.0f, 2.0f, 2.0f);
    box.transform->setTranslation(10.0f, 0.0f, 0.0f);
    box.transform->setRotation(0.0f, static_cast<float>(M_PI / 2), 0.0f);
    box.updateAABBbox();
    EXPECT_NEAR(box.aabb->minX, 10.0f - 1.03f, 1e-4f);
    EXPECT_NEAR(box.aabb->maxX, 10.0f + 1.03f, 1e-4f);
    // The heading is the box's local -z; a quarter turn about y takes it to -x.
    EXPECT_NEAR(box.aabb->direction.x, -1.0f, 1e-5f);
    EXPECT_NEAR(box.aabb->direction.z, 0.0f, 1e-5f);
    EXPECT_NEAR(glm::length(box.aabb->direction), 1.0f, 1e-6f);
    box.updateAABBbox();
    EXPECT_NEAR(box.aabb->previousDirection.x, -1.0f, 1e-5f);
}

TEST(MaterialObjectBox, AnObjectWithoutABoxIsLeftAlone)
{
    TestBox boxless("QvModel_Empty");
    const glm::mat4 before = boxless.transform->getMatrix();
    boxless.updateAABBbox();
    boxless.updateAABBboxNormals();
    boxless.updateCollisionWithTriangles();
    EXPECT_TRUE(boxless.normals.empty());
    EXPECT_FALSE(boxless.aabb);
    EXPECT_TRUE(boxless.transform->getMatrix() == before);
}
