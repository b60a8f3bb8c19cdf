// The image control: a texture on its quad, nothing before its buffers.
#include "controlfixtures.h"

#include "controls/qvimage.h"

using controlfixtures::kViewSize;
using ImageDraw = controlfixtures::ControlDraw;

TEST_F(ImageDraw, TextureShowsOnTheQuadOnlyOnceItHasBuffers)
{
    // A 1 x 1 red texture.
    QvTexture red = QvTexture::create();
    const std::uint8_t pixel[4] = {255, 0, 0, 255};
    glBindTexture(GL_TEXTURE_2D, red.get());
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glBindTexture(GL_TEXTURE_2D, 0);
    QvShader image = controlfixtures::shipped("image");

    QvImage picture("QvModel_Image", &red, *camera);
    picture.shader = &image;
    picture.setSize(1.0f, 1.0f, 0.0f);
    controlfixtures::clearAll();
    picture.draw(*camera);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    EXPECT_EQ(context.pixel(kViewSize / 2 + 10, kViewSize / 2 + 10)[0], 0) << "no buffers, nothing drawn";

    picture.initBuffers();
    picture.draw(*camera);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    // The quad runs from the origin up and right: red there, not below-left.
    EXPECT_GT(context.pixel(kViewSize / 2 + 10, kViewSize / 2 + 10)[0], 200);
    EXPECT_EQ(context.pixel(kViewSize / 2 - 10, kViewSize / 2 - 10)[0], 0);
    // A short box list keeps the material object's box update safe.
    picture.updateAABBbox();
    EXPECT_FLOAT_EQ(picture.aabb->maxX, 1.03f);
}
