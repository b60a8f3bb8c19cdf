// Running a check in a forked child, where what it sets (a memory limit, an alarm) or what it may do wrong
// (wait for ever) cannot reach the other tests.
#pragma once

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

// Holds this process to the address space it maps now plus `headroom` bytes; false when it cannot.
inline bool limitAddressSpaceGrowth(std::size_t headroom)
{
    // Large blocks each in their own mapping, returned when freed: otherwise what earlier tests left in
    // the heap decides what still fits.
    ::mallopt(M_MMAP_THRESHOLD, 1 << 20);
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const rlimit limit{rlim_t(pages * ::sysconf(_SC_PAGESIZE)) + headroom, RLIM_INFINITY};
    return ::setrlimit(RLIMIT_AS, &limit) == 0;
}

// Past this a check run in a child (instrumented, beside busy processes) is taken to hang, and killed.
inline constexpr int childDeadlineSeconds = 150;

// Runs `check` in a forked child; true when it answered true. Nothing it throws leaves the child to run
// the parent's tests; what it printed comes out, though the child ends without exit's flushing. A child
// past its deadline is killed, and the test fails saying so.
template <class Check>
bool holdsInChild(Check check, int deadlineSeconds = childDeadlineSeconds)
{
    const pid_t child = ::fork();
    if (child == 0) {
        bool held = false;
        try {
            held = check();
        } catch (...) {
        }
        std::fflush(stdout);
        ::_exit(held ? 0 : 1);
    }
    if (child < 0) return false;
    pollfd ended{int(::syscall(SYS_pidfd_open, child, 0)), POLLIN, 0};
    int ready = 1;
    while (ended.fd >= 0 && (ready = ::poll(&ended, 1, deadlineSeconds * 1000)) < 0 && errno == EINTR) {}
    ::close(ended.fd);
    if (ready == 0) ::kill(child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {}
    if (ready == 0) ADD_FAILURE() << "the check in a child took longer than " << deadlineSeconds << " s";
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Runs `report` in a forked child and gives the text it returned (a short one), so that the test can
// hold it to the exact text expected.
template <class Report>
std::string reportInChild(Report report, int deadlineSeconds = childDeadlineSeconds)
{
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) return "no pipe to the child";
    const bool returned = holdsInChild(
        [&] {
            const std::string text = report();
            return ::write(pipe[1], text.data(), text.size()) == ssize_t(text.size());
        },
        deadlineSeconds);
    ::close(pipe[1]);
    // What it wrote is there by now: a process it left behind holding the pipe is not waited for.
    ::fcntl(pipe[0], F_SETFL, O_NONBLOCK);
    std::string text;
    char part[256];
    for (ssize_t got; (got = ::read(pipe[0], part, sizeof part)) > 0;) text.append(part, std::size_t(got));
    ::close(pipe[0]);
    return returned ? text : "the child ended without its report";
}

// Runs `check` in a fresh run of this test program started for the running test alone, so that nothing
// earlier tests left in this process (the free blocks of its heap among it) can change what it finds; true
// when it held there.
template <class Check>
bool holdsInFreshProcess(Check check)
{
    if (std::getenv("VELMORIN_FRESH_TEST") != nullptr) return check();
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    const std::string filter = std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name();
    const std::string program = "/proc/" + std::to_string(::getpid()) + "/exe";
    return holdsInChild([&] {
        ::setenv("VELMORIN_FRESH_TEST", "1", 1);
        ::execl(program.c_str(), program.c_str(), filter.c_str(), nullptr);
        return false;
    });
}

}  // namespace testsupport
