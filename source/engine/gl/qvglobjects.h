// Owners of OpenGL object names. Each owner creates its name on demand and
// deletes it in its destructor and whenever it is given another name, so a
// rebuilt drawable replaces its objects instead of leaking them. They are
// move-only: one GL name, one owner.
//
// Every owner counts the names it holds (qvLiveGLObjects), which the tests use
// to prove that building and rebuilding a drawable leaves nothing behind.
#pragma once

#include <epoxy/gl.h>

#include <cstdint>
#include <utility>

// Kinds of GL object, for the live-name counters.
enum class QvGLObjectKind { vertexArray, buffer, texture, program, shader, framebuffer, renderbuffer, count };

// Number of names of `kind` (or of all kinds) held by owners right now.
std::int64_t qvLiveGLObjects(QvGLObjectKind kind);
std::int64_t qvLiveGLObjects();
// Number of names owners have made since the process started (deletions do
// not lower it): shows churn that the live counts hide.
std::int64_t qvCreatedGLObjects();

namespace qvgl_detail {
void countCreated(QvGLObjectKind kind);
void countDeleted(QvGLObjectKind kind);
}  // namespace qvgl_detail

// A move-only GL name. Traits supply create(), destroy(name) and the kind.
template <class Traits>
class QvGLName {
public:
    QvGLName() = default;
    // Takes over a name made elsewhere (0 holds nothing).
    explicit QvGLName(GLuint adopted) : name_(adopted)
    {
        if (name_ != 0) qvgl_detail::countCreated(Traits::kind);
    }
    ~QvGLName() { reset(); }
    QvGLName(const QvGLName&) = delete;
    QvGLName& operator=(const QvGLName&) = delete;
    QvGLName(QvGLName&& other) noexcept : name_(std::exchange(other.name_, 0)) {}
    QvGLName& operator=(QvGLName&& other) noexcept
    {
        if (this != &other) {
            reset();
            name_ = std::exchange(other.name_, 0);
        }
        return *this;
    }

    // An owner of a fresh name of this kind; assigning it over an owner deletes that one's name.
    static QvGLName create()
    {
        QvGLName owner;
        owner.name_ = Traits::create();
        if (owner.name_ != 0) qvgl_detail::countCreated(Traits::kind);
        return owner;
    }

    // Deletes the name held, if any.
    void reset()
    {
        if (name_ == 0) return;
        Traits::destroy(name_);
        qvgl_detail::countDeleted(Traits::kind);
        name_ = 0;
    }

    GLuint get() const { return name_; }
    explicit operator bool() const { return name_ != 0; }

private:
    GLuint name_ = 0;
};

namespace qvgl_detail {
struct VertexArrayTraits {
    static constexpr QvGLObjectKind kind = QvGLObjectKind::vertexArray;
    static GLuint create()
    {
        GLuint name = 0;
        glGenVertexArrays(1, &name);
        return name;
    }
    static void destroy(GLuint name) { glDeleteVertexArrays(1, &name); }
};
struct BufferTraits {
    static constexpr QvGLObjectKind kind = QvGLObjectKind::buffer;
    static GLuint create()
    {
        GLuint name = 0;
        glGenBuffers(1, &name);
        return name;
    }
    static void destroy(GLuint name) { glDeleteBuffers(1, &name); }
};
struct TextureTraits {
    static constexpr QvGLObjectKind kind = QvGLObjectKind::texture;
    static GLuint create()
    {
        GLuint name = 0;
        glGenTextures(1, &name);
        return name;
    }
    static void destroy(GLuint name) { glDeleteTextures(1, &name); }
};
struct ProgramTraits {
    static constexpr QvGLObjectKind kind = QvGLObjectKind::program;
    static GLuint create() { return glCreateProgram(); }
    static void destroy(GLuint name) { glDeleteProgram(name); }
};
// Shader objects need their stage to be made: adopt glCreateShader's name.
struct ShaderTraits {
    static constexpr QvGLObjectKind kind = QvGLObjectKind::shader;
    static void destroy(GLuint name) { glDeleteShader(name); }
};
struct FramebufferTraits {
    static constexpr QvGLObjectKind kind = QvGLObjectKind::framebuffer;
    static GLuint create()
    {
        GLuint name = 0;
        glGenFramebuffers(1, &name);
        return name;
    }
    static void destroy(GLuint name) { glDeleteFramebuffers(1, &name); }
};
struct RenderbufferTraits {
    static constexpr QvGLObjectKind kind = QvGLObjectKind::renderbuffer;
    static GLuint create()
    {
        GLuint name = 0;
        glGenRenderbuffers(1, &name);
        return name;
    }
    static void destroy(GLuint name) { glDeleteRenderbuffers(1, &name); }
};
}  // namespace qvgl_detail

using QvVertexArray = QvGLName<qvgl_detail::VertexArrayTraits>;
using QvBuffer = QvGLName<qvgl_detail::BufferTraits>;
using QvTexture = QvGLName<qvgl_detail::TextureTraits>;
using QvProgram = QvGLName<qvgl_detail::ProgramTraits>;
using QvShaderObject = QvGLName<qvgl_detail::ShaderTraits>;
using QvFramebuffer = QvGLName<qvgl_detail::FramebufferTraits>;
using QvRenderbuffer = QvGLName<qvgl_detail::RenderbufferTraits>;
