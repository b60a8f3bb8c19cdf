// Shader directory choice and version parsing (no GL context needed).
#include "qvshader.h"

#include <gtest/gtest.h>

TEST(ShaderDirectory, NeedsGlsl330ForTheVersion330Programs)
{
    EXPECT_EQ(QvShader::directoryFor(1.3f), "3.1");
    EXPECT_EQ(QvShader::directoryFor(1.4f), "3.1");  // a GL 3.1 driver: #version 140 only
    EXPECT_EQ(QvShader::directoryFor(1.5f), "3.1");
    EXPECT_EQ(QvShader::directoryFor(3.3f), "3.3");
    EXPECT_EQ(QvShader::directoryFor(4.6f), "3.3");
    EXPECT_EQ(QvShader::directoryFor(0.0f), "3.1");  // unknown version: the conservative set
}

TEST(ShaderDirectory, ParsesDriverVersionStrings)
{
    EXPECT_FLOAT_EQ(QvShader::parseGlslVersion("3.30 NVIDIA via Cg compiler"), 3.3f);
    EXPECT_FLOAT_EQ(QvShader::parseGlslVersion("4.50"), 4.5f);
    EXPECT_FLOAT_EQ(QvShader::parseGlslVersion("1.40 Mesa"), 1.4f);
    EXPECT_FLOAT_EQ(QvShader::parseGlslVersion("1.30"), 1.3f);
    EXPECT_FLOAT_EQ(QvShader::parseGlslVersion(""), 0.0f);
    EXPECT_FLOAT_EQ(QvShader::parseGlslVersion("none"), 0.0f);
    EXPECT_EQ(QvShader::directoryFor(QvShader::parseGlslVersion("3.30 - Build 31.0")), "3.3");
    EXPECT_EQ(QvShader::directoryFor(QvShader::parseGlslVersion("1.30")), "3.1");
    EXPECT_EQ(QvShader::directoryFor(QvShader::parseGlslVersion("1.40")), "3.1");
}

TEST(ShaderDirectory, ComposesProgramPaths)
{
    EXPECT_EQ(QvShader::pathFor(4.6f, "textureLight", ".frag"), "shaders/3.3/textureLight.frag");
    EXPECT_EQ(QvShader::pathFor(1.4f, "skybox", ".vert"), "shaders/3.1/skybox.vert");
}

TEST(ShaderFiles, MissingFileRaisesBeforeAnyGlCall)
{
    // No context exists here: reaching the driver would crash, so this also
    // proves that nothing is compiled when a file is missing.
    EXPECT_THROW(QvShader("shaders/3.3/nothing.vert", "shaders/3.3/nothing.frag"), QvShaderFileError);
}
