// The GL test harness itself: a context exists and the offscreen target reads back.
#include "glcontext.h"

#include <gtest/gtest.h>

TEST(GlHarness, ClearColourReadsBack)
{
    testsupport::GlContext context(8, 8);
    glClearColor(1.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    const auto rgba = context.pixel(3, 3);
    EXPECT_EQ(rgba[0], 255);
    EXPECT_EQ(rgba[1], 0);
    EXPECT_EQ(rgba[2], 0);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    EXPECT_GT(context.glslVersion(), 1.2f);
}
