// GLSL programs: reading the stage files, compiling, linking, printing the
// driver's log on failure, and the uniform setters.
#include "engine/gl/qvshader.h"

#include "engine/core/qvfiles.h"
#include "engine/gl/qvattributes.h"

#include <fmt/core.h>
#include <glm/gtc/type_ptr.hpp>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <optional>
#include <utility>
#include <vector>

namespace {

constexpr GLsizei infoLogCapacity = 1024;
// The oldest GLSL version that accepts the "#version 330" programs.
constexpr float glsl330 = 3.3f;
constexpr float versionTolerance = 1e-4f;
// A stage is read into memory whole and handed to the driver as one string.
// The shipped stages are a few KiB; a mebibyte leaves any hand-written one
// ample room, while a larger file is no shader and is refused, not read.
constexpr std::uintmax_t largestShaderFile = std::uintmax_t(1) << 20;

// The stage's text; only a regular file of bounded size is read, so a named
// pipe, a device or a huge file in its place is refused at once instead of
// holding up the start or exhausting memory. The driver takes the text as
// ending at its first NUL byte, so a file holding one is refused rather than
// built from its start only.
std::string readStageFile(const std::string& path)
{
    std::string problem;
    const std::optional<std::vector<std::uint8_t>> bytes =
        qvReadBoundedFile(path, problem, largestShaderFile);
    if (!bytes) {
        throw QvShaderFileError(path, problem);
    }
    const auto nul = std::find(bytes->begin(), bytes->end(), std::uint8_t{0});
    if (nul != bytes->end()) {
        throw QvShaderFileError(path, fmt::format("it holds a NUL byte at offset {}", nul - bytes->begin()));
    }
    return std::string(bytes->begin(), bytes->end());
}

// The driver's log of a shader or program (glGetShaderInfoLog or glGetProgramInfoLog).
std::string infoLog(GLuint object, void (*getLog)(GLuint, GLsizei, GLsizei*, GLchar*))
{
    char text[infoLogCapacity] = {};
    GLsizei length = 0;
    getLog(object, infoLogCapacity, &length, text);
    return std::string(text, static_cast<size_t>(length));
}

// Compiles one stage; on failure prints the red diagnostic with the driver's log.
QvShaderObject compileStage(GLenum type, const std::string& source, const std::string& path,
                            const char* stageName, GLint& status)
{
    QvShaderObject shader(glCreateShader(type));
    const char* text = source.c_str();
    glShaderSource(shader.get(), 1, &text, nullptr);
    glCompileShader(shader.get());
    glGetShaderiv(shader.get(), GL_COMPILE_STATUS, &status);
    if (status == 0) {
        fmt::print("\x1b[01;31mERROR! File: {}. {} shader compilation failed\x1b[0m {} \n", path, stageName,
                   infoLog(shader.get(), glGetShaderInfoLog));
        std::fflush(stdout);
    }
    return shader;
}

}  // namespace

QvShaderFileError::QvShaderFileError(const std::string& path, const std::string& reason)
    : std::runtime_error(fmt::format("Cannot open shader file {}: {}", path, reason))
{
}

QvShader::QvShader(const std::string& vertexPath, const std::string& fragmentPath)
{
    loadFromFile(vertexPath, fragmentPath);
}

QvShader::~QvShader()
{
    if (!program) {
        return;  // never built: there may be no context at all
    }
    // A program still current would only be marked for deletion.
    GLint current = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &current);
    if (static_cast<GLuint>(current) == program.get()) {
        glUseProgram(0);
    }
}

void QvShader::loadFromFile(const std::string& vertexPath, const std::string& fragmentPath)
{
    // Both files are read before anything is handed to the driver, so a
    // missing file leaves the object exactly as it was.
    std::string vertexText = readStageFile(vertexPath);
    std::string fragmentText = readStageFile(fragmentPath);
    this->vertexPath = vertexPath;
    this->fragmentPath = fragmentPath;
    vertexSource = std::move(vertexText);
    fragmentSource = std::move(fragmentText);
    _createAndCompileVertexShader();
    _createAndCompileFragmentShader();
    _linkBothShaders();
    _deleteBothShaders();
}

void QvShader::prepareNewShaders(const std::string& vertexText, const std::string& fragmentText)
{
    // An empty text keeps the stage's last source, compiled afresh: the
    // stage objects themselves went with the previous link.
    if (!vertexText.empty()) {
        vertexSource = vertexText;
    }
    if (!fragmentText.empty()) {
        fragmentSource = fragmentText;
    }
    if (!vertexSource.empty()) {
        _createAndCompileVertexShader();
    }
    if (!fragmentSource.empty()) {
        _createAndCompileFragmentShader();
    }
    _linkBothShaders();
    _deleteBothShaders();
}

void QvShader::useProgram()
{
    glUseProgram(program.get());
}

void QvShader::_createAndCompileVertexShader()
{
    vertexShader = compileStage(GL_VERTEX_SHADER, vertexSource, vertexPath, "Vertex", status);
}

void QvShader::_createAndCompileFragmentShader()
{
    fragmentShader = compileStage(GL_FRAGMENT_SHADER, fragmentSource, fragmentPath, "Fragment", status);
}

void QvShader::_linkBothShaders()
{
    // The new name is made before the old one goes, so it never takes the
    // old one's name; the move then deletes the old program.
    QvProgram linked = QvProgram::create();
    // A text build on a fresh object may lack a stage: attaching name 0 would
    // only raise a GL error, the link reports what is missing.
    for (const QvShaderObject* stage : {&vertexShader, &fragmentShader}) {
        if (*stage) {
            glAttachShader(linked.get(), stage->get());
        }
    }
    for (const QvAttributeBinding& binding : qvAttributeBindings) {
        glBindAttribLocation(linked.get(), qvLocation(binding.attribute), std::string(binding.name).c_str());
    }
    glBindFragDataLocation(linked.get(), 0, "fragColor");
    glLinkProgram(linked.get());
    glGetProgramiv(linked.get(), GL_LINK_STATUS, &status);
    if (status == 0) {
        fmt::print("\x1b[01;31mERROR! Files: {} and {}. Shader link failed\n\x1b[0m {} \n", vertexPath,
                   fragmentPath, infoLog(linked.get(), glGetProgramInfoLog));
        std::fflush(stdout);
    }
    program = std::move(linked);
    uniformLocations.clear();
}

void QvShader::_deleteBothShaders()
{
    // Attached stages live on inside the program; nothing else needs them.
    vertexShader.reset();
    fragmentShader.reset();
}

GLint QvShader::_uniformLocation(const std::string& name)
{
    const auto known = uniformLocations.find(name);
    if (known != uniformLocations.end()) {
        return known->second;
    }
    const GLint location = glGetUniformLocation(program.get(), name.c_str());
    uniformLocations.emplace(name, location);
    return location;
}

void QvShader::setUniform(const std::string& name, const glm::mat4& value)
{
    glUniformMatrix4fv(_uniformLocation(name), 1, GL_FALSE, glm::value_ptr(value));
}

void QvShader::setUniform(const std::string& name, const glm::vec4& value)
{
    glUniform4fv(_uniformLocation(name), 1, glm::value_ptr(value));
}

void QvShader::setUniform(const std::string& name, const glm::vec3& value)
{
    glUniform3fv(_uniformLocation(name), 1, glm::value_ptr(value));
}

void QvShader::setUniform(const std::string& name, std::uint64_t value)
{
    glUniform1i(_uniformLocation(name), static_cast<GLint>(value));
}

void QvShader::setColorUniform(const std::string& name, glm::vec4 color)
{
    const GLint location = _uniformLocation(name);
    if (location == -1) {
        return;
    }
    const char* names[] = {name.c_str()};
    GLuint index = GL_INVALID_INDEX;
    glGetUniformIndices(program.get(), 1, names, &index);
    if (index == GL_INVALID_INDEX) {
        return;
    }
    GLint type = 0;
    glGetActiveUniformsiv(program.get(), 1, &index, GL_UNIFORM_TYPE, &type);
    if (type == GL_FLOAT_VEC3) {
        glUniform3f(location, color.r, color.g, color.b);
    } else if (type == GL_FLOAT_VEC4) {
        glUniform4fv(location, 1, glm::value_ptr(color));
    }
}

std::string QvShader::directoryFor(float glslVersion)
{
    return glslVersion + versionTolerance >= glsl330 ? "3.3" : "3.1";
}

std::string QvShader::pathFor(float glslVersion, std::string_view name, std::string_view extension)
{
    return fmt::format("shaders/{}/{}{}", directoryFor(glslVersion), name, extension);
}

float QvShader::parseGlslVersion(std::string_view text)
{
    // "4.60 NVIDIA ..." or "OpenGL ES GLSL ES 3.20": the first number is the version.
    const auto start = text.find_first_of("0123456789");
    if (start == std::string_view::npos) {
        return 0.0f;
    }
    float version = 0.0f;
    std::from_chars(text.data() + start, text.data() + text.size(), version);
    return version;
}
