// Program entry: gives closed standard streams /dev/null, finds the run
// directory, builds the OpenGL window titled "Velmorin", hands it to the
// application, runs it, and reports start-up failures with their message and
// a failure status.
#include "engine/picture/qvdecoderprocess.h"
#include "engine/shell/qvapplication.h"
#include "engine/shell/qvglwindow.h"

#include <fmt/core.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <new>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr const char* APPTITLE = "Velmorin";
// Every resource path is relative to the run directory; its shader folder is
// the first thing read, so it marks the directory.
constexpr const char* kRunDirectoryMark = "shaders";

namespace fs = std::filesystem;

// Opens /dev/null on each of the descriptors 0, 1 and 2 that is closed. A
// program started with them closed (`velmorin <&- >&- 2>&-`) would hand them
// out to the next files it opens, the decoder's socket and the X connection
// among them, and its printed lines would go there.
void openClosedStandardStreams()
{
    for (int stream = STDIN_FILENO; stream <= STDERR_FILENO; ++stream) {
        if (::fcntl(stream, F_GETFD) != -1 || errno != EBADF) continue;
        // Inherited by the decoder process: no close-on-exec. The open takes
        // the lowest free descriptor, this one while those below are open.
        const int opened = ::open("/dev/null", stream == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != stream) {
            ::dup2(opened, stream);
            ::close(opened);
        }
    }
}

bool holdsRunDirectory(const fs::path& folder)
{
    std::error_code error;
    return fs::is_directory(folder / kRunDirectoryMark, error);
}

// Started from another folder (a launcher, or the repository root), the
// program works from the folder of its executable when that one holds the
// run directory. False, after saying which folder is needed, when neither does.
bool enterRunDirectory()
{
    std::error_code error;
    const fs::path current = fs::current_path(error);
    if (!error && holdsRunDirectory(current)) return true;
    const fs::path executable = fs::read_symlink("/proc/self/exe", error);
    const fs::path home = error ? fs::path() : executable.parent_path();
    if (!home.empty() && holdsRunDirectory(home)) {
        fs::current_path(home, error);
        if (!error) return true;
    }
    fmt::print("Velmorin cannot find its run directory: neither the working directory {} nor the "
               "executable's folder {} holds {}/ (with fonts/, textures/, skybox/ and icons/). Start it "
               "from the run directory that the build assembles (build/run).\n",
               current.string(), home.string(), kRunDirectoryMark);
    return false;
}

// What the program was making when memory ran out, told by how far it got:
// the window object starts GLFW; the world, and the scene in it, exists once
// the window is open and the scene built; after that it runs.
const char* stageOf(QvGLWindow* window)
{
    if (window == nullptr) return "starting GLFW";
    if (window->getWorld() == nullptr) return "opening its window and building its scene";
    return "running";
}

}  // namespace

int main(int argc, char** argv)
{
    openClosedStandardStreams();
    // Each line goes out as it is printed, also into a file or a pipe: an
    // ending that skips exit's flush (the sanitizers' reports end the process
    // through _exit, the GL driver may crash) must not take the lines before
    // it along, and the decoder process forked below starts with nothing of
    // ours buffered.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    qvEnterDecoderRoleIfAsked(argc, argv);
    if (!enterRunDirectory()) return 1;
    // A file-size limit is for the files the program writes: a write past it
    // fails and is named (the photo's line), where the signal it raises
    // would end the program, in whichever library wrote (Mesa's shader
    // cache on a first start among them).
    std::signal(SIGXFSZ, SIG_IGN);
    // Pictures are decoded apart from the program. The process that does it
    // is forked from this one while it has one thread, before GLFW and the GL
    // driver start theirs: cheaper than running the program's own file in the
    // decoder role, as a later restart must.
    qvStartDecoderProcess();
    // Outside the try, so that a failure can tell how far start-up got. Its
    // destructor releases the world's GL objects while the context exists,
    // then destroys the window and terminates GLFW.
    std::unique_ptr<QvGLWindow> window;
    try {
        window = std::make_unique<QvGLWindow>(APPTITLE);
        QvApplication application(window.get());
        application.start();
        application.stop();
    } catch (const std::bad_alloc&) {
        // The exception's own text, "std::bad_alloc", says neither that
        // memory ran out nor what for (under a tight address-space limit the
        // GL driver's shader compiler is the first to find none).
        fmt::print("Velmorin ran out of memory while {}\n", stageOf(window.get()));
        return 1;
    } catch (const std::exception& error) {
        fmt::print("{}\n", error.what());
        return 1;
    }
    return 0;
}
