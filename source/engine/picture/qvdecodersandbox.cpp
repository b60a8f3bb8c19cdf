// qvdecodersandbox: the decoders' system-call filter, built with libseccomp
// as an allowlist; the calls listed are those the decoders and the C
// library under them were seen to make while decoding every kind of picture
// (the release and the sanitizer build), and the few that their rarer paths
// take.
#include "engine/picture/qvdecodersandbox.h"

#include <seccomp.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <utility>

#include <linux/seccomp.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace {

// The tasks a decoding child may run: itself and the few threads decoders
// start (the lossy WebP decoder one).
constexpr rlim_t decodingTasks = 4;

// What every call off the list gets. Code that took over the child gains
// nothing from a call that fails, while a library that probes for
// something optional (a processor count, a locale's messages, a file of
// settings) goes on without it and still decodes: ending the child instead
// would lose such pictures for no more safety.
constexpr std::uint32_t refused = SCMP_ACT_ERRNO(EPERM);

// Calls allowed whatever their arguments. A decoder reads its picture from
// memory and writes its rows there: no descriptor is read.
constexpr int anyArguments[] = {
    // Memory: the heap, large blocks mapped apart and grown by realloc, and
    // pages handed back (a thread's stack among them).
    SCMP_SYS(brk),
    SCMP_SYS(munmap),
    SCMP_SYS(mremap),
    SCMP_SYS(madvise),
    // A decoder's warnings and the C library's last words on standard
    // error; its own descriptors closed.
    SCMP_SYS(write),
    SCMP_SYS(writev),
    SCMP_SYS(close),
    // Threads (the lossy WebP decoder filters in one of its own): their
    // start, locks and waits, signal masks, and ending; a signal handler
    // the program left returns through rt_sigreturn. glibc's
    // pthread_getattr_np, by which the sanitizers find each new thread's
    // stack, asks for the thread's processors too.
    SCMP_SYS(futex),
    SCMP_SYS(set_robust_list),
    SCMP_SYS(rseq),
    SCMP_SYS(rt_sigprocmask),
    SCMP_SYS(rt_sigreturn),
    SCMP_SYS(exit),
    SCMP_SYS(gettid),
    SCMP_SYS(getpid),
    SCMP_SYS(sched_getaffinity),
    // Clocks where the vDSO does not answer, and a thread's waits. One
    // stopped and continued in a timed wait resumes it by restart_syscall.
    SCMP_SYS(clock_gettime),
    SCMP_SYS(gettimeofday),
    SCMP_SYS(nanosleep),
    SCMP_SYS(clock_nanosleep),
    SCMP_SYS(sched_yield),
    SCMP_SYS(restart_syscall),
    // glibc's qsort sizes its buffer from the machine's memory.
    SCMP_SYS(sysinfo),
    SCMP_SYS(exit_group),
};

// Adds the allowlist to `filter`, for the process whose pid is `self`: 0,
// or the errno of the first setting or rule the library refused.
int addRules(scmp_filter_ctx filter, pid_t self)
{
    int error = 0;
    const auto rule = [&](std::uint32_t action, int call, unsigned count, auto... conditions) {
        if (error == 0) error = -seccomp_rule_add(filter, action, call, count, conditions...);
    };
    // The kernel's own errno on loading, rather than the library's
    // ECANCELED; a call in another architecture's numbering (the 32-bit
    // entry) is refused as any other off the list.
    error = -seccomp_attr_set(filter, SCMP_FLTATR_API_SYSRAWRC, 1);
    if (error == 0) error = -seccomp_attr_set(filter, SCMP_FLTATR_ACT_BADARCH, refused);
    // qvEnterDecoderSandbox sets no new privileges itself, before the
    // filter: set again by the library, it would be one more call to bind.
    if (error == 0) error = -seccomp_attr_set(filter, SCMP_FLTATR_CTL_NNP, 0);
    for (const int call : anyArguments) rule(SCMP_ACT_ALLOW, call, 0);
    // Memory that is never executable: code a picture brings stays data.
    for (const int call : {SCMP_SYS(mmap), SCMP_SYS(mprotect)})
        rule(SCMP_ACT_ALLOW, call, 1, SCMP_A2(SCMP_CMP_MASKED_EQ, PROT_EXEC, 0));
    // A thread, never a process. glibc tries clone3 first, whose flags sit
    // in memory the filter cannot read: told the kernel has none, it falls
    // back to clone, whose flags it can.
    rule(SCMP_ACT_ALLOW, SCMP_SYS(clone), 1, SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_THREAD, CLONE_THREAD));
    rule(SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3), 0);
    // Signals to itself only: abort() raises SIGABRT so, and the C library
    // signals its own threads.
    for (const int call : {SCMP_SYS(kill), SCMP_SYS(tgkill)})
        rule(SCMP_ACT_ALLOW, call, 1, SCMP_A0(SCMP_CMP_EQ, std::uint64_t(self)));
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizers learn whether they may read an object's type by writing
    // it into a pipe of their own (a pipe reaches nothing outside the
    // child), and look at the signal stack on a long jump (libjpeg's and
    // libpng's way out of a damaged file) and give each thread one.
    rule(SCMP_ACT_ALLOW, SCMP_SYS(pipe2), 0);
    rule(SCMP_ACT_ALLOW, SCMP_SYS(sigaltstack), 0);
#endif
    return error;
}

// Whether the kernel counts a user's tasks against their limit in each user
// namespace apart (Linux 5.14 on); an older one counts every process the
// user runs.
bool countsTasksPerNamespace()
{
    utsname system{};
    int major = 0, minor = 0;
    return ::uname(&system) == 0 && std::sscanf(system.release, "%d.%d", &major, &minor) == 2 &&
           std::pair(major, minor) >= std::pair(5, 14);
}

// Read once, as the program starts: every decoding child is forked with it.
const bool tasksCountedPerNamespace = countsTasksPerNamespace();

// Holds the process to decodingTasks tasks: in a user namespace of its own,
// the count starts at the child itself, whatever else the user runs. Where
// the user may not make one, or the kernel counts every process of the
// user's (a user running more than a few could then start no thread at
// all), the child runs without the bound, as it does for root, whom the
// kernel holds to no such limit.
void boundTasks()
{
    if (!tasksCountedPerNamespace || ::unshare(CLONE_NEWUSER) != 0) return;
    const rlimit tasks{decodingTasks, decodingTasks};
    ::setrlimit(RLIMIT_NPROC, &tasks);
}

// The kernel's answer to seccomp() itself, which refuses this call (strict
// mode takes no flags) with EINVAL where it is there: otherwise ENOSYS from a
// kernel without it, or whatever a launcher's own filter answers.
int seccompCallAnswer()
{
    return ::syscall(SYS_seccomp, SECCOMP_SET_MODE_STRICT, 1, nullptr) == 0 ? 0 : errno;
}

}  // namespace

void qvBindDecoderSandbox()
{
    const std::unique_ptr<void, decltype(&seccomp_release)> filter(seccomp_init(refused), &seccomp_release);
    if (!filter || addRules(filter.get(), ::getpid()) != 0) return;
    // Compiled as the load compiles it, into nothing: the calls compiling
    // makes are bound too.
    const int nowhere = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (nowhere < 0) return;
    seccomp_export_bpf(filter.get(), nowhere);
    ::close(nowhere);
}

int qvEnterDecoderSandbox(bool filtered)
{
    boundTasks();
    // Even where the filter is refused, nothing the child runs gains rights.
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return errno;
    if (!filtered) return 0;
    const std::unique_ptr<void, decltype(&seccomp_release)> filter(seccomp_init(refused), &seccomp_release);
    if (!filter) return ENOMEM;
    if (const int error = addRules(filter.get(), ::getpid()); error != 0) return error;
    const int error = -seccomp_load(filter.get());
    if (error == 0) return 0;
    // libseccomp passes on only the errnos it knows, any other as EFAULT:
    // where the kernel refuses seccomp() itself, that refusal is the reason.
    const int answer = seccompCallAnswer();
    return answer != 0 && answer != EINVAL ? answer : error;
}
