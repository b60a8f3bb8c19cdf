// Preloaded (LD_PRELOAD) into a freshly started program: lets it run until
// its Nth buffer swap, waits for that frame to finish on the GPU, writes the
// moment and the framebuffer's size to a pipe, and ends the process.
// bench_mainloop times the unchanged program this way, from exec to its
// first main-window frame, and the minimal window the same way. The
// processor time is the bench's to count: it reaps this process and every
// process it started (see bench_mainloop).
//
//   VELMORIN_PROBE_SWAP  the swap to stop after (1 = the first)
//   VELMORIN_PROBE_FD    the pipe's write end, inherited from the bench
//
// One line is written: "<CLOCK_MONOTONIC s> <width> <height>".
#include <dlfcn.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

struct GLFWwindow;

namespace {

using SwapFunction = void (*)(GLFWwindow*);
using SizeFunction = void (*)(GLFWwindow*, int*, int*);
using ProcFunction = void* (*)(const char*);
using FinishFunction = void (*)();

double seconds(clockid_t clock)
{
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

int environmentNumber(const char* name, int fallback)
{
    const char* value = std::getenv(name);
    return value != nullptr ? std::atoi(value) : fallback;
}

template <class Function>
Function glfwFunction(const char* name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" void glfwSwapBuffers(GLFWwindow* window)
{
    static const SwapFunction swap = glfwFunction<SwapFunction>("glfwSwapBuffers");
    static const int stopAfter = environmentNumber("VELMORIN_PROBE_SWAP", 1);
    static int swaps = 0;
    swap(window);
    if (++swaps < stopAfter) return;

    // The frame counts once the GPU has drawn it, not when it was queued.
    const auto procAddress = glfwFunction<ProcFunction>("glfwGetProcAddress");
    if (const auto finish = reinterpret_cast<FinishFunction>(procAddress("glFinish"))) finish();
    const double now = seconds(CLOCK_MONOTONIC);
    int width = 0, height = 0;
    glfwFunction<SizeFunction>("glfwGetFramebufferSize")(window, &width, &height);
    const int fd = environmentNumber("VELMORIN_PROBE_FD", -1);
    if (fd >= 0) dprintf(fd, "%.9f %d %d\n", now, width, height);
    _exit(0);
}
