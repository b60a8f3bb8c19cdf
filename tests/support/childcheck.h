// Running a check in a forked child, where what it sets (a memory limit, an
// alarm) or what it may do wrong (wait for ever) cannot reach the other tests.
#pragma once

#include <cstddef>
#include <cstdio>
#include <fstream>

#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

// Holds this process to the address space it maps now plus `headroom` bytes;
// false when the limit cannot be set.
inline bool limitAddressSpaceGrowth(std::size_t headroom)
{
    // Large blocks each in their own mapping, returned when freed: otherwise
    // what earlier tests left in the heap decides what still fits.
    ::mallopt(M_MMAP_THRESHOLD, 1 << 20);
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const rlimit limit{rlim_t(pages * ::sysconf(_SC_PAGESIZE)) + headroom, RLIM_INFINITY};
    return ::setrlimit(RLIMIT_AS, &limit) == 0;
}

// Runs `check` in a forked child; true when it answered true. Nothing it
// throws leaves the child to run the parent's tests.
template <class Check>
bool holdsInChild(Check check)
{
    const pid_t child = ::fork();
    if (child == 0) {
        bool held = false;
        try {
            held = check();
        } catch (...) {
        }
        // What it printed on the way comes out, though it ends without exit's flushing.
        std::fflush(stdout);
        ::_exit(held ? 0 : 1);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

}  // namespace testsupport
