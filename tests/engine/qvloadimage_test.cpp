// Image buffers: row length, row order and padding of what the loader reads.
#include "imagefixtures.h"
#include "qvloadimage.h"

#include <gtest/gtest.h>

TEST(ImageBuffer, RowsArePaddedToFourBytes)
{
    EXPECT_EQ(TextureLoader::scanLineWidth(1024), 3072);
    EXPECT_EQ(TextureLoader::scanLineWidth(5), 16);
    EXPECT_EQ(TextureLoader::scanLineWidth(6), 20);
    EXPECT_EQ(TextureLoader::scanLineWidth(4), 12);
    EXPECT_EQ(TextureLoader::scanLineWidth(1), 4);
}

TEST(ImageBuffer, BottomRowFirstWithZeroPadding)
{
    constexpr int width = 5, height = 3;
    const std::string path = imagefixtures::writePng("layout.png", width, height);
    TextureLoader loader;
    const auto pixels = loader.loadImage(path);
    ASSERT_EQ(loader.getImageWidth(), width);
    ASSERT_EQ(loader.getImageHeight(), height);
    const int stride = 16;
    ASSERT_EQ(pixels.size(), static_cast<size_t>(stride * height));
    for (int row = 0; row < height; ++row) {
        const int pictureRow = height - 1 - row;  // buffer row 0 is the picture's bottom
        for (int x = 0; x < width; ++x) {
            const auto expected = imagefixtures::colourAt(x, pictureRow);
            for (int c = 0; c < 3; ++c) {
                EXPECT_EQ(pixels[row * stride + 3 * x + c], expected[c])
                    << "row " << row << " x " << x << " channel " << c;
            }
        }
        EXPECT_EQ(pixels[row * stride + 15], 0) << "padding of row " << row;
    }
}

TEST(ImageBuffer, UnreadableFileGivesNoBufferAndNoSize)
{
    TextureLoader loader;
    loader.loadImage(imagefixtures::writePng("first.png", 6, 2));
    EXPECT_EQ(loader.getImageWidth(), 6);
    EXPECT_TRUE(loader.loadImage("textures/no_such_picture.jpg").empty());
    EXPECT_EQ(loader.getImageWidth(), 0);
    EXPECT_EQ(loader.getImageHeight(), 0);
}

TEST(ImageBuffer, TheGeneratedPicturesHaveTheirDocumentedSizes)
{
    TextureLoader loader;
    EXPECT_FALSE(loader.loadImage("textures/logo.png").empty());
    EXPECT_EQ(loader.getImageWidth(), 512);
    EXPECT_EQ(loader.getImageHeight(), 256);
    for (const char* face : {"right", "left", "top", "bottom", "front", "back"}) {
        EXPECT_FALSE(loader.loadImage(std::string("skybox/art/") + face + ".jpg").empty()) << face;
        EXPECT_EQ(loader.getImageWidth(), loader.getImageHeight()) << "cube faces are square";
    }
    EXPECT_FALSE(loader.loadImage("textures/0096-512x512.jpg").empty());
    EXPECT_EQ(loader.getImageWidth(), 512);
    for (const char* monitor : {"monitor_info_black", "monitor_route", "monitor_speed", "monitor_stops",
                                "monitor_default", "grass"}) {
        EXPECT_FALSE(loader.loadImage(std::string("textures/") + monitor + ".jpg").empty()) << monitor;
    }
}

TEST(ImageBuffer, IconIsA32BitBottomUpBitmapWithAStandardHeader)
{
    std::FILE* file = std::fopen("icons/icon.bmp", "rb");
    ASSERT_NE(file, nullptr);
    unsigned char header[54] = {};
    ASSERT_EQ(std::fread(header, 1, sizeof header, file), sizeof header);
    std::fseek(file, 0, SEEK_END);
    const long size = std::ftell(file);
    std::fclose(file);
    auto u32 = [&](int at) {
        return header[at] | header[at + 1] << 8 | header[at + 2] << 16 | header[at + 3] << 24;
    };
    EXPECT_EQ(header[0], 'B');
    EXPECT_EQ(header[1], 'M');
    const int offset = u32(10);
    EXPECT_EQ(u32(14), 40);     // BITMAPINFOHEADER
    EXPECT_EQ(u32(18), 32);     // width
    EXPECT_EQ(u32(22), 32);     // height, positive: rows bottom-up
    EXPECT_EQ(header[28], 32);  // bits per pixel
    EXPECT_EQ(size, offset + 32 * 32 * 4);
    EXPECT_EQ(u32(2), size);
}
