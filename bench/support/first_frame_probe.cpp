// Preloaded (LD_PRELOAD) into a freshly started program: lets it run until
// its Nth buffer swap, waits for that frame to finish on the GPU, writes the
// moment, the process's CPU time (every thread, the GL driver's included, and
// the processes it started: the picture decoder and the children it ended)
// and the framebuffer's size to a pipe, and ends the process. bench_mainloop
// times the unchanged program this way, from exec to its first main-window
// frame, and the minimal window the same way.
//
//   VELMORIN_PROBE_SWAP  the swap to stop after (1 = the first)
//   VELMORIN_PROBE_FD    the pipe's write end, inherited from the bench
//
// One line is written: "<CLOCK_MONOTONIC s> <process CPU s> <width> <height>".
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

// CPU seconds of this process's own children and of the children they have
// ended: the picture decoder process decodes each picture in a child.
double childrenCpuSeconds()
{
    const double tick = double(sysconf(_SC_CLK_TCK));
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/task/%d/children", int(getpid()));
    FILE* children = std::fopen(path, "r");
    if (children == nullptr) return 0.0;
    double total = 0.0;
    for (int child = 0; std::fscanf(children, "%d", &child) == 1;) {
        std::snprintf(path, sizeof path, "/proc/%d/stat", child);
        FILE* stat = std::fopen(path, "r");
        if (stat == nullptr) continue;
        // Fields 14 to 17 follow the command name, which ends with the last ')'.
        char text[1024] = {};
        const std::size_t length = std::fread(text, 1, sizeof text - 1, stat);
        std::fclose(stat);
        const char* after = nullptr;
        for (std::size_t i = 0; i < length; ++i)
            if (text[i] == ')') after = text + i + 1;
        unsigned long long user = 0, system = 0, childUser = 0, childSystem = 0;
        if (after != nullptr &&
            std::sscanf(after, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu %llu %llu", &user,
                        &system, &childUser, &childSystem) == 4)
            total += double(user + system + childUser + childSystem) / tick;
    }
    std::fclose(children);
    return total;
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
    const double cpu = seconds(CLOCK_PROCESS_CPUTIME_ID) + childrenCpuSeconds();
    int width = 0, height = 0;
    glfwFunction<SizeFunction>("glfwGetFramebufferSize")(window, &width, &height);
    const int fd = environmentNumber("VELMORIN_PROBE_FD", -1);
    if (fd >= 0) dprintf(fd, "%.9f %.9f %d %d\n", now, cpu, width, height);
    _exit(0);
}
