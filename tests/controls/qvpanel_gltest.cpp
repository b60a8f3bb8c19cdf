// The panel slab drawn into a framebuffer: its box shows in its colour, it
// leaves the stencil alone, and rebuilding its box leaks no GL object.
#include "controlfixtures.h"

#include "controls/qvpanel.h"
#include "engine/core/qvtransform.h"

using PanelDraw = controlfixtures::ControlDraw;
using controlfixtures::kViewSize;

namespace {

bool isPanelBlue(std::uint8_t r, std::uint8_t g, std::uint8_t b)
{
    return r < 60 && g > 150 && b > 200;
}

}  // namespace

TEST_F(PanelDraw, PanelFillsItsBoxAndWritesNoStencil)
{
    QvPanel panel("QvModel_UpperPanel", *camera);
    panel.shader = &flat;
    panel.setSize(2.0f, 1.0f, 0.1f);
    controlfixtures::clearAll();
    panel.draw(*camera);
    ASSERT_EQ(glGetError(), GLenum(GL_NO_ERROR));

    // Centre covered, corners of the view not.
    EXPECT_TRUE(isPanelBlue(context.pixel(kViewSize / 2, kViewSize / 2)[0],
                            context.pixel(kViewSize / 2, kViewSize / 2)[1],
                            context.pixel(kViewSize / 2, kViewSize / 2)[2]));
    EXPECT_EQ(context.pixel(2, 2)[2], 0);
    // A 2 x 1 box is twice as wide as it is high on screen.
    const int wide =
        controlfixtures::countPixels(context, 0, kViewSize / 2, kViewSize, kViewSize / 2 + 1, isPanelBlue);
    const int high =
        controlfixtures::countPixels(context, kViewSize / 2, 0, kViewSize / 2 + 1, kViewSize, isPanelBlue);
    EXPECT_NEAR(static_cast<double>(wide) / high, 2.0, 0.15);

    for (std::uint8_t s : controlfixtures::stencilValues(kViewSize, kViewSize)) {
        ASSERT_EQ(s, 0) << "the panel must not mark the stencil";
    }
    GLint mask = -1;
    glGetIntegerv(GL_STENCIL_WRITEMASK, &mask);
    EXPECT_EQ(mask, 0);
}

TEST_F(PanelDraw, SecondSetSizeReplacesTheBoxObjects)
{
    const std::int64_t before = qvLiveGLObjects();
    {
        QvPanel panel("QvModel_UpperPanel", *camera);
        panel.shader = &flat;
        panel.setSize(1.0f, 1.0f, 1.0f);
        const std::int64_t afterFirst = qvLiveGLObjects();
        EXPECT_GT(afterFirst, before);  // the box, and the wire box and line of the material object
        panel.setSize(3.0f, 0.5f, 0.1f);
        EXPECT_EQ(qvLiveGLObjects(), afterFirst);
        EXPECT_FLOAT_EQ(panel.size.width, 3.0f);
        EXPECT_FLOAT_EQ(panel.aabb->maxX, 1.545f);
        // The rebuilt box is what is drawn: narrower than the view.
        controlfixtures::clearAll();
        panel.draw(*camera);
        EXPECT_EQ(context.pixel(kViewSize / 2, 2)[2], 0);
        EXPECT_GT(context.pixel(kViewSize / 2, kViewSize / 2)[2], 200);
    }
    EXPECT_EQ(qvLiveGLObjects(), before);
}

TEST_F(PanelDraw, PanelHandsOutConsecutiveTransformIds)
{
    QvPanel panel("QvModel_UpperPanel", *camera);
    panel.transform->setId(5);
    QvTransform* first = panel.createTransform(panel.transform);
    QvTransform* second = panel.createTransform(panel.transform);
    EXPECT_EQ(first->getId(), 24005);
    EXPECT_EQ(second->getId(), 24006);
    EXPECT_EQ(first->getParent(), panel.transform);

    panel.setSize(1.0f, 0.5f, 0.1f);
    panel.transform->setScaling(2.0f, 2.0f, 1.0f);
    panel.setDimension();
    EXPECT_EQ(panel.transform->getDimension(), glm::vec3(2.0f, 1.0f, 0.1f));
}

TEST_F(PanelDraw, PanelWithoutBoxDrawsNothing)
{
    QvPanel panel("QvModel_UpperPanel", *camera);
    panel.shader = &flat;
    controlfixtures::clearAll();
    panel.draw(*camera);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    EXPECT_EQ(context.pixel(kViewSize / 2, kViewSize / 2)[2], 0);
}
