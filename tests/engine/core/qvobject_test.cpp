// Scene objects, sizes and the light's lazily refreshed position.
#include <gtest/gtest.h>

#include <cmath>

#include "matrix_checks.h"
#include "engine/core/qvobject.h"
#include "engine/core/qvtransform.h"

TEST(Object, NewObjectOwnsAFreshTransformAndUnsetMatrices)
{
    QvObject a, b;
    ASSERT_NE(a.getTransform(), nullptr);
    EXPECT_NE(a.getTransform(), b.getTransform());
    EXPECT_EQ(a.getTransform()->getMatrix(), glm::mat4(1.0f));
    EXPECT_TRUE(isUnset(a.getCameraMatrix()));
    EXPECT_TRUE(std::isnan(a.mcp.cameraPosition.x));

    QvTransform shared;
    a.setTransform(&shared);
    EXPECT_EQ(a.getTransform(), &shared);
    a.mcp.camera = glm::mat4(2.0f);
    EXPECT_EQ(a.getCameraMatrix(), glm::mat4(2.0f));
}

TEST(Object, DimensionsAreEqualOnlyWhenAllThreeAre)
{
    const QvDimension unset;
    EXPECT_TRUE(std::isnan(unset.width));
    EXPECT_FALSE(unset == unset);
    const QvDimension box{1, 2, 3};
    EXPECT_TRUE(box == (QvDimension{1, 2, 3}));
    EXPECT_FALSE(box == (QvDimension{1, 2, 4}));
}

TEST(Light, PositionFollowsTheTransformOnlyWhenAsked)
{
    QvLight light;
    EXPECT_TRUE(std::isnan(light.lightSpecs.ambient.x));  // never given colours
    EXPECT_TRUE(std::isnan(light.physicalSpecs.value));

    QvTransform place;
    place.setTranslation(1, 2, 3);
    light.setTransform(&place);
    EXPECT_EQ(light.lightSpecs.position, glm::vec3(1, 2, 3));

    place.translate(4, 0, 0, 0);  // now at (5, 2, 3)
    EXPECT_EQ(light.lightSpecs.position, glm::vec3(1, 2, 3));
    EXPECT_EQ(light.getPosition(), glm::vec3(5, 2, 3));
    EXPECT_EQ(light.lightSpecs.position, glm::vec3(5, 2, 3));

    // Through a parent the composed matrix carries the parent's translation,
    // which the stored translation vector does not.
    QvTransform parent;
    parent.translate(0, 10, 0, 1);
    QvTransform child(&parent);
    child.translate(1, 0, 0, 1);
    light.setTransform(&child);
    EXPECT_EQ(light.lightSpecs.position, glm::vec3(1, 0, 0));
    EXPECT_EQ(light.getPosition(), glm::vec3(1, 10, 0));
}
