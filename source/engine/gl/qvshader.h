// GLSL programs: one QvShader is a vertex and a fragment stage linked into a
// program, built from files or from text, with the uniform setters every
// drawable uses. Compile and link failures are printed with the files they
// came from, never thrown. The object owns its program: a rebuild or the
// destructor releases it, so both must run while the context that built it
// is current. Uniform locations are looked up once per program and name.
#pragma once

#include <epoxy/gl.h>
#include <glm/mat4x4.hpp>
#include <glm/vec3.hpp>
#include <glm/vec4.hpp>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>

#include "engine/gl/qvglobjects.h"

// Raised when a shader file cannot be read, is no regular file or holds a
// NUL byte; the message names the file and the reason. No program is built
// then.
class QvShaderFileError : public std::runtime_error {
public:
    QvShaderFileError(const std::string& path, const std::string& reason);
};

class QvShader {
public:
    QvShader() = default;
    // Reads both files and builds the program (throws QvShaderFileError).
    QvShader(const std::string& vertexPath, const std::string& fragmentPath);
    virtual ~QvShader();
    QvShader(const QvShader&) = delete;
    QvShader& operator=(const QvShader&) = delete;

    // Builds a new program from GLSL text, in place of the previous one; an
    // empty text keeps that stage as the previous build had it.
    virtual void prepareNewShaders(const std::string& vertexText, const std::string& fragmentText);
    // Builds a new program from two files, in place of the previous one
    // (throws QvShaderFileError, and then keeps the previous one).
    virtual void loadFromFile(const std::string& vertexPath, const std::string& fragmentPath);
    virtual void useProgram();

    // Uniform setters: find the name's location in `program` and load one
    // value into the current program (call useProgram first). Unknown names
    // are ignored.
    void setUniform(const std::string& name, const glm::mat4& value);
    void setUniform(const std::string& name, const glm::vec4& value);
    void setUniform(const std::string& name, const glm::vec3& value);
    // Sampler uniforms: the texture unit number.
    void setUniform(const std::string& name, std::uint64_t value);
    // A colour sent with the type the program declares for it: red, green and
    // blue to a vec3, all four to a vec4; nothing when the program lacks it.
    void setColorUniform(const std::string& name, glm::vec4 color);

    // Shader directory under "shaders/" for a driver GLSL version: "3.3" when
    // the driver understands #version 330, "3.1" (#version 140) otherwise.
    static std::string directoryFor(float glslVersion);
    // "shaders/<dir>/<name><extension>" for the driver's GLSL version.
    static std::string pathFor(float glslVersion, std::string_view name, std::string_view extension);
    // The leading "major.minor" of a GL_SHADING_LANGUAGE_VERSION string; 0 when absent.
    static float parseGlslVersion(std::string_view text);

    QvProgram program;
    QvShaderObject vertexShader;  // stages between compile and link; released once linked
    QvShaderObject fragmentShader;
    GLint status = 0;          // last compile or link status read from the driver
    std::string vertexSource;  // kept alive for the driver, as handed over
    std::string fragmentSource;
    std::string vertexPath;  // file names of the last file build, for diagnostics
    std::string fragmentPath;

protected:
    void _createAndCompileVertexShader();
    void _createAndCompileFragmentShader();
    void _linkBothShaders();
    void _deleteBothShaders();

private:
    // The location of a uniform of `program` (-1 when it has none), asked
    // of the driver the first time only.
    GLint _uniformLocation(const std::string& name);

    std::unordered_map<std::string, GLint> uniformLocations;  // of the current program
};
