// Program entry: builds the OpenGL window titled "Velmorin", hands it to the
// application, runs it, and reports start-up failures with their message and
// a failure status.
#include "engine/shell/qvapplication.h"
#include "engine/shell/qvglwindow.h"

#include <fmt/core.h>

#include <exception>
#include <memory>

namespace {
constexpr const char* APPTITLE = "Velmorin";
}

int main()
{
    try {
        auto window = std::make_unique<QvGLWindow>(APPTITLE);
        QvApplication application(window.get());
        application.start();
        application.stop();
        // The window's destructor releases the world's GL objects while the
        // context exists, then destroys the window and terminates GLFW.
    } catch (const std::exception& error) {
        fmt::print("{}\n", error.what());
        return 1;
    }
    return 0;
}
