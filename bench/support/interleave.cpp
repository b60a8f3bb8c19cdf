#include "interleave.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace bench {

namespace {

double milliseconds(const timeval& t)
{
    return double(t.tv_sec) * 1000.0 + double(t.tv_usec) * 1e-3;
}

// The rounds' ratios of one measure, then their median and range.
void printRatioLine(std::FILE* out, const char* measure, const std::vector<double>& ratios)
{
    fmt::print(out, "    {:<5}", measure);
    for (double ratio : ratios) fmt::print(out, " {:.2f}", ratio);
    const auto [least, most] = std::minmax_element(ratios.begin(), ratios.end());
    fmt::print(out, "\n          median {:.2f}x, range {:.2f}-{:.2f}x\n", median(ratios), *least, *most);
}

}  // namespace

double seconds(clockid_t clock)
{
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

Cost measure(const std::function<void()>& work, int repeats)
{
    repeats = std::max(1, repeats);
    const double wall = seconds(CLOCK_MONOTONIC), cpu = seconds(CLOCK_PROCESS_CPUTIME_ID);
    for (int i = 0; i < repeats; ++i) work();
    return {(seconds(CLOCK_MONOTONIC) - wall) * 1000.0 / repeats,
            (seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu) * 1000.0 / repeats};
}

Cost timeProcess(const std::vector<std::string>& arguments, const std::string& input,
                 const std::string& output)
{
    const Cost failed{std::nan(""), std::nan("")};
    if (arguments.empty()) return failed;
    std::vector<char*> argv;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, input.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);

    const double start = seconds(CLOCK_MONOTONIC);
    pid_t child = 0;
    const int spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return failed;
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child) return failed;
    const double wall = (seconds(CLOCK_MONOTONIC) - start) * 1000.0;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return failed;
    return {wall, milliseconds(usage.ru_utime) + milliseconds(usage.ru_stime)};
}

std::vector<std::vector<Cost>> interleave(int rounds, const std::vector<std::function<Cost()>>& blocks,
                                          Order order)
{
    std::vector<std::vector<Cost>> costs(blocks.size(), std::vector<Cost>(size_t(std::max(rounds, 0))));
    for (int round = 0; round < rounds; ++round) {
        const bool reversed = order == Order::swapEachRound && round % 2 == 1;
        for (size_t i = 0; i < blocks.size(); ++i) {
            const size_t side = reversed ? blocks.size() - 1 - i : i;
            costs[side][size_t(round)] = blocks[side]();
        }
    }
    return costs;
}

double median(std::vector<double> values)
{
    if (values.empty()) return std::nan("");
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

void printMedians(std::FILE* out, const std::string& name, const std::vector<Cost>& costs)
{
    std::vector<double> wall, cpu;
    for (const Cost& cost : costs) {
        wall.push_back(cost.wallMs);
        cpu.push_back(cost.cpuMs);
    }
    fmt::print(out, "  {:<50}{:>10.2f} ms wall{:>10.2f} ms CPU\n", name, median(wall), median(cpu));
}

void printRatios(std::FILE* out, const std::string& name, const std::vector<Cost>& a,
                 const std::vector<Cost>& b)
{
    std::vector<double> wall, cpu;
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
        wall.push_back(a[i].wallMs / b[i].wallMs);
        cpu.push_back(a[i].cpuMs / b[i].cpuMs);
    }
    if (wall.empty()) return;
    fmt::print(out, "  {}, each round's ratio:\n", name);
    printRatioLine(out, "wall", wall);
    printRatioLine(out, "CPU", cpu);
}

}  // namespace bench
