// The reference for the program's start-up: a GLFW window with the program's
// context and window hints at the main window's size, clearing to white and
// swapping until it is closed. It links GLFW and epoxy only, so its start is
// what any such window costs.
#include <epoxy/gl.h>

#include <GLFW/glfw3.h>

namespace {

constexpr int kWidth = 1024;
constexpr int kHeight = 768;
constexpr int kSamples = 8;

}  // namespace

int main()
{
    if (glfwInit() == GLFW_FALSE) return 1;
    // The program's hints (its window starts undecorated and is decorated
    // once it has its size; under Xvfb there is no frame either way).
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 3);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 1);
    glfwWindowHint(GLFW_DECORATED, GLFW_FALSE);
    glfwWindowHint(GLFW_OPENGL_PROFILE, GLFW_OPENGL_ANY_PROFILE);
    glfwWindowHint(GLFW_RESIZABLE, GLFW_TRUE);
    glfwWindowHint(GLFW_SAMPLES, kSamples);
    GLFWwindow* window = glfwCreateWindow(kWidth, kHeight, "minimal", nullptr, nullptr);
    if (window == nullptr) return 1;
    glfwMakeContextCurrent(window);
    glfwSwapInterval(1);
    while (glfwWindowShouldClose(window) == 0) {
        glfwPollEvents();
        glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
        glfwSwapBuffers(window);
    }
    glfwTerminate();
    return 0;
}
