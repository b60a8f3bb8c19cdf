// Building GLSL programs: the shipped programs, failure diagnostics, rebuilds
// and uniform uploads.
#include "tempfiles.h"
#include "glcontext.h"
#include "hostilefiles.h"
#include "engine/gl/qvattributes.h"
#include "engine/gl/qvshader.h"

#include <gtest/gtest.h>
#include <glm/gtc/matrix_transform.hpp>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

namespace {

const char* programNames[] = {"default", "light",        "texture", "textureLight", "skybox",
                              "text2D",  "text2DStatic", "image",   "point",        "circlePoint"};

std::string writeTemp(const std::string& name, const std::string& text)
{
    const auto path = testsupport::tempPath(name);
    std::ofstream(path) << text;
    return path.string();
}

const char* plainVertex =
    "#version 140\nin vec3 aPosition;\nvoid main() { gl_Position = vec4(aPosition, 1.0); }\n";
const char* plainFragment = "#version 140\nuniform vec4 diffuseColor;\nout vec4 fragColor;\nvoid main() { "
                            "fragColor = diffuseColor; }\n";

GLint linkStatus(GLuint program)
{
    GLint status = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &status);
    return status;
}

}  // namespace

TEST(ShaderPrograms, EveryShippedProgramLinksWithTheAttributeLocationsTheDrawingCodeUses)
{
    testsupport::GlContext context;
    for (const char* directory : {"3.3", "3.1"}) {
        for (const char* name : programNames) {
            const std::string base = std::string("shaders/") + directory + "/" + name;
            testing::internal::CaptureStdout();
            QvShader shader(base + ".vert", base + ".frag");
            const std::string output = testing::internal::GetCapturedStdout();
            EXPECT_EQ(output, "") << base;
            ASSERT_NE(shader.program.get(), 0u);
            EXPECT_EQ(linkStatus(shader.program.get()), GL_TRUE) << base;
            for (const char* attribute : {"aPosition", "aVertex"}) {
                const GLint location = glGetAttribLocation(shader.program.get(), attribute);
                EXPECT_TRUE(location == -1 || location == 0) << base << " " << attribute;
            }
            for (const auto& [attribute, expected] : {std::pair{"aNormal", 1},
                                                      {"aAtlasCoords", 1},
                                                      {"aTexCoords", 2},
                                                      {"aBoneIds", 5},
                                                      {"aWeights", 6}}) {
                const GLint location = glGetAttribLocation(shader.program.get(), attribute);
                EXPECT_TRUE(location == -1 || location == expected) << base << " " << attribute;
            }
        }
    }
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST(ShaderPrograms, CompileFailurePrintsTheRedLineWithPathAndLog)
{
    testsupport::GlContext context;
    const std::string vertexPath = writeTemp("broken.vert", "#version 140\nvoid main() { oops }\n");
    const std::string fragmentPath = writeTemp("plain.frag", plainFragment);
    testing::internal::CaptureStdout();
    QvShader shader(vertexPath, fragmentPath);
    const std::string output = testing::internal::GetCapturedStdout();

    const std::string head =
        "\x1b[01;31mERROR! File: " + vertexPath + ". Vertex shader compilation failed\x1b[0m ";
    ASSERT_EQ(output.rfind(head, 0), 0u) << output;
    // The link line, the last red one, names both files.
    const std::string linkHead =
        "\x1b[01;31mERROR! Files: " + vertexPath + " and " + fragmentPath + ". Shader link failed\n\x1b[0m ";
    EXPECT_EQ(output.substr(output.rfind("\x1b[01;31m")).rfind(linkHead, 0), 0u) << output;
    EXPECT_EQ(output.find("Fragment shader compilation failed"), std::string::npos);
    EXPECT_NE(shader.program.get(), 0u);  // the failed program is still recorded
    EXPECT_EQ(linkStatus(shader.program.get()), GL_FALSE);
}

TEST(ShaderPrograms, FragmentFailureNamesTheFragmentFile)
{
    testsupport::GlContext context;
    const std::string vertexPath = writeTemp("plain.vert", plainVertex);
    const std::string fragmentPath = writeTemp("broken.frag", "#version 140\nvoid main() { x = ; }\n");
    testing::internal::CaptureStdout();
    QvShader shader(vertexPath, fragmentPath);
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(output.rfind("\x1b[01;31mERROR! File: " + fragmentPath +
                               ". Fragment shader compilation failed\x1b[0m ",
                           0),
              0u)
        << output;
}

TEST(ShaderPrograms, RebuildsReadFreshSourcesAndTextBuildsReuseAStage)
{
    testsupport::GlContext context;
    const std::string vertexPath = writeTemp("plain.vert", plainVertex);
    const std::string fragmentPath = writeTemp("plain.frag", plainFragment);
    const std::string otherVertex = writeTemp(
        "other.vert",
        "#version 140\nin vec3 aPosition;\nvoid main() { gl_Position = vec4(aPosition * 2.0, 1.0); }");
    QvShader shader(vertexPath, fragmentPath);
    const GLuint first = shader.program.get();
    shader.loadFromFile(otherVertex, fragmentPath);
    EXPECT_NE(shader.program.get(), first);
    EXPECT_EQ(shader.vertexSource.find("aPosition * 2.0"), shader.vertexSource.rfind("aPosition"));
    EXPECT_EQ(shader.vertexSource.find("void main() { gl_Position = vec4(aPosition, 1.0)"),
              std::string::npos);  // nothing of the first file remains

    // A text build with an empty fragment stage relinks with the last fragment shader.
    shader.prepareNewShaders(plainVertex, "");
    EXPECT_EQ(linkStatus(shader.program.get()), GL_TRUE);

    // A fresh object has no stage to reuse: the program is built from the
    // one stage it has, without a GL error.
    QvShader empty;
    empty.prepareNewShaders(plainVertex, "");
    EXPECT_NE(empty.program.get(), 0u);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST(ShaderPrograms, MissingFileLeavesTheProgramUntouched)
{
    testsupport::GlContext context;
    QvShader shader(writeTemp("plain.vert", plainVertex), writeTemp("plain.frag", plainFragment));
    const GLuint program = shader.program.get();
    EXPECT_THROW(shader.loadFromFile("no/such.vert", "no/such.frag"), QvShaderFileError);
    EXPECT_EQ(shader.program.get(), program);
}

TEST(ShaderUniforms, MatricesArriveAsTheMathematicalMatrixAndSamplersAsUnits)
{
    testsupport::GlContext context;
    QvShader shader("shaders/3.3/default.vert", "shaders/3.3/default.frag");
    QvShader textured("shaders/3.3/skybox.vert", "shaders/3.3/skybox.frag");
    shader.useProgram();
    const glm::mat4 model = glm::translate(glm::mat4(1.0f), glm::vec3(5.0f, 6.0f, 7.0f));
    shader.setUniform("model", model);
    shader.setUniform("diffuseColor", glm::vec4(0.25f, 0.5f, 0.75f, 1.0f));
    float read[16] = {};
    glGetUniformfv(shader.program.get(), glGetUniformLocation(shader.program.get(), "model"), read);
    // GLSL reads matrices by columns: the translation is the fourth column.
    EXPECT_FLOAT_EQ(read[12], 5.0f);
    EXPECT_FLOAT_EQ(read[13], 6.0f);
    EXPECT_FLOAT_EQ(read[14], 7.0f);
    EXPECT_FLOAT_EQ(read[3], 0.0f);
    float colour[4] = {};
    glGetUniformfv(shader.program.get(), glGetUniformLocation(shader.program.get(), "diffuseColor"), colour);
    EXPECT_FLOAT_EQ(colour[2], 0.75f);

    textured.useProgram();
    textured.setUniform("skybox", std::uint64_t{3});
    GLint unit = -1;
    glGetUniformiv(textured.program.get(), glGetUniformLocation(textured.program.get(), "skybox"), &unit);
    EXPECT_EQ(unit, 3);
    shader.setUniform("noSuchUniform", glm::vec3(1.0f));  // location -1: ignored
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST(ShaderPrograms, ReplacedAndDestroyedProgramsAreReleased)
{
    testsupport::GlContext context;
    const std::string vertexPath = writeTemp("plain.vert", plainVertex);
    const std::string fragmentPath = writeTemp("plain.frag", plainFragment);
    GLuint last = 0;
    {
        QvShader shader(vertexPath, fragmentPath);
        const GLuint first = shader.program.get();
        shader.loadFromFile(vertexPath, fragmentPath);
        EXPECT_FALSE(glIsProgram(first)) << "a file rebuild releases the program it replaces";
        const GLuint second = shader.program.get();
        shader.prepareNewShaders(plainVertex, plainFragment);
        EXPECT_FALSE(glIsProgram(second)) << "so does a text rebuild";
        last = shader.program.get();
        shader.useProgram();  // still current when its owner goes
    }
    EXPECT_FALSE(glIsProgram(last));
    GLint current = -1;
    glGetIntegerv(GL_CURRENT_PROGRAM, &current);
    EXPECT_EQ(current, 0);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

// Locations are remembered per program: a rebuild that moves a uniform must
// not send values to where the old program had it.
TEST(ShaderUniforms, ValuesFollowTheirUniformAcrossARebuild)
{
    testsupport::GlContext context;
    QvShader shader;
    shader.prepareNewShaders(plainVertex,
                             "#version 140\nuniform vec4 tint;\nuniform vec4 diffuseColor;\n"
                             "out vec4 fragColor;\nvoid main() { fragColor = tint + diffuseColor; }\n");
    shader.useProgram();
    shader.setUniform("tint", glm::vec4(0.5f));
    shader.setUniform("diffuseColor", glm::vec4(0.25f));
    const GLint before = glGetUniformLocation(shader.program.get(), "diffuseColor");

    shader.prepareNewShaders("", "#version 140\nuniform vec4 diffuseColor;\nuniform vec4 shade;\n"
                                 "out vec4 fragColor;\nvoid main() { fragColor = diffuseColor * shade; }\n");
    shader.useProgram();
    const GLint after = glGetUniformLocation(shader.program.get(), "diffuseColor");
    shader.setUniform("diffuseColor", glm::vec4(0.75f));
    shader.setUniform("shade", glm::vec4(0.125f));
    shader.setUniform("tint", glm::vec4(1.0f));  // gone from the new program: ignored
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    float colour[4] = {};
    glGetUniformfv(shader.program.get(), after, colour);
    EXPECT_FLOAT_EQ(colour[0], 0.75f) << "locations " << before << " then " << after;
    float shade[4] = {};
    glGetUniformfv(shader.program.get(), glGetUniformLocation(shader.program.get(), "shade"), shade);
    EXPECT_FLOAT_EQ(shade[0], 0.125f);
}

// Sending a vec4 to a vec3 uniform (or the reverse) is a GL error and loads
// nothing; the colour setter follows the declaration.
TEST(ShaderUniforms, ColourFollowsTheDeclaredType)
{
    testsupport::GlContext context;
    QvShader rgba;
    rgba.prepareNewShaders(plainVertex, plainFragment);
    QvShader rgb;
    rgb.prepareNewShaders(plainVertex, "#version 140\nuniform vec3 diffuseColor;\nout vec4 fragColor;\n"
                                       "void main() { fragColor = vec4(diffuseColor, 1.0); }\n");
    const glm::vec4 colour(0.25f, 0.5f, 0.75f, 0.125f);
    for (QvShader* shader : {&rgba, &rgb}) {
        shader->useProgram();
        shader->setColorUniform("diffuseColor", colour);
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
        float read[4] = {};
        glGetUniformfv(shader->program.get(), glGetUniformLocation(shader->program.get(), "diffuseColor"),
                       read);
        EXPECT_FLOAT_EQ(read[0], 0.25f);
        EXPECT_FLOAT_EQ(read[2], 0.75f);
        shader->setColorUniform("noSuchColour", colour);
    }
    float alpha[4] = {};
    glGetUniformfv(rgba.program.get(), glGetUniformLocation(rgba.program.get(), "diffuseColor"), alpha);
    EXPECT_FLOAT_EQ(alpha[3], 0.125f);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

// Both shipped sets come from one source: they differ only in the version
// line and, in the 330 set, in the locations written before each vertex input
// and the fragment colour, which must be those the drawing code uses.
TEST(ShaderFiles, BothSetsAreOneSourceWithTheirVersionAndLocations)
{
    const std::regex layout(R"(^layout\(location = (\d+)\) (in|out) \w+ (\w+);)");
    int located = 0;
    for (const auto& entry : std::filesystem::directory_iterator("shaders/3.3")) {
        const std::string name = entry.path().filename().string();
        std::ifstream modernFile(entry.path()), legacyFile("shaders/3.1/" + name);
        ASSERT_TRUE(legacyFile) << name << " is missing from the 3.1 set";
        std::string modernLine, legacyLine;
        std::getline(modernFile, modernLine);
        std::getline(legacyFile, legacyLine);
        EXPECT_EQ(modernLine, "#version 330") << name;
        EXPECT_EQ(legacyLine, "#version 140") << name;
        while (std::getline(modernFile, modernLine)) {
            ASSERT_TRUE(std::getline(legacyFile, legacyLine)) << name;
            std::smatch match;
            if (!std::regex_search(modernLine, match, layout)) {
                EXPECT_EQ(modernLine, legacyLine) << name;
                continue;
            }
            ++located;
            EXPECT_EQ(modernLine.substr(match.position(2)), legacyLine) << name;
            int expected = 0;  // the fragment colour
            if (match[2] == "in") {
                expected = -1;
                for (const QvAttributeBinding& binding : qvAttributeBindings) {
                    if (binding.name == match[3].str())
                        expected = static_cast<int>(qvLocation(binding.attribute));
                }
            }
            EXPECT_EQ(std::stoi(match[1]), expected) << name << ": " << modernLine;
        }
        EXPECT_FALSE(std::getline(legacyFile, legacyLine)) << name;
    }
    EXPECT_GT(located, 20);
}

// Shader directory choice and version parsing (no GL context needed).
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

TEST(ShaderFiles, MissingFileOrAnythingButAFileRaisesBeforeAnyGlCall)
{
    // No context exists here: reaching the driver would crash, so this also
    // proves that nothing is compiled when a file is missing.
    EXPECT_THROW(QvShader("shaders/3.3/nothing.vert", "shaders/3.3/nothing.frag"), QvShaderFileError);

    // Nor does a stand-in for a file hold the build up, nor is a file too
    // large to be a shader read whole: each is refused at once.
    const std::string vertex = writeTemp("standin.vert", plainVertex);
    const std::string fragment = testsupport::tempPath("standin.frag").string();
    const auto expectRefused = [&](const std::string& reason) {
        try {
            QvShader shader(vertex, fragment);
            ADD_FAILURE() << reason << ": taken for a file";
        } catch (const QvShaderFileError& error) {
            EXPECT_EQ(std::string(error.what()), "Cannot open shader file " + fragment + ": " + reason);
        }
    };
    for (const hostilefiles::StandIn& standIn : hostilefiles::standIns) {
        hostilefiles::plant(fragment, standIn);
        expectRefused(standIn.reason);
    }
    hostilefiles::plantLarge(fragment, (std::uintmax_t(1) << 20) + 1);
    expectRefused("larger than 1 MiB");
    // The driver would take the text as ending at a NUL byte and silently
    // build from its start only.
    std::ofstream(fragment, std::ios::binary) << plainFragment << '\0' << "uniform vec4 lost;\n";
    expectRefused("it holds a NUL byte at offset " + std::to_string(std::strlen(plainFragment)));
    std::filesystem::remove_all(fragment);
    std::filesystem::remove(vertex);
}
