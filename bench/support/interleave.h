// Costs of two or more pieces of work compared on a shared machine whose
// speed swings from one second to the next. The sides run in turn, one block
// each a round (A, B, A, B, ...), for many rounds, so a busy stretch falls on
// all of them alike; every block gives the same statistic for every side, and
// each round gives its own ratio. The median ratio is the figure, the range
// of the rounds' ratios says how far to trust it.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <time.h>

namespace bench {

// Milliseconds of one block: wall time, and CPU time of every thread that did
// the work (the software rasteriser's and a child process's included).
struct Cost {
    double wallMs = 0.0;
    double cpuMs = 0.0;
};

// The clock's reading in seconds.
double seconds(clockid_t clock);

// The mean cost of one of `repeats` runs of work() in this process.
Cost measure(const std::function<void()>& work, int repeats = 1);

// Runs the program with its standard input and output redirected to files and
// returns exec to exit in wall time and the child's CPU time (NaN when it
// could not start or did not exit with 0).
Cost timeProcess(const std::vector<std::string>& arguments, const std::string& input,
                 const std::string& output);

// The order of the blocks within a round.
enum class Order {
    same,
    // Every other round runs them in reverse (A, B, B, A, A, B, ...): what
    // the first of a round pays, or leaves behind for the next, falls on
    // every side alike.
    swapEachRound,
};

// Runs the blocks in turn, `rounds` times: costs[side][round]. A block does
// its own untimed preparation and returns the cost of what it timed.
std::vector<std::vector<Cost>> interleave(int rounds, const std::vector<std::function<Cost()>>& blocks,
                                          Order order = Order::same);

double median(std::vector<double> values);

// One line: the side's median wall and CPU time a block.
void printMedians(std::FILE* out, const std::string& name, const std::vector<Cost>& costs);

// Each round's ratio a / b in wall time and in CPU time, then their median and
// range (min-max).
void printRatios(std::FILE* out, const std::string& name, const std::vector<Cost>& a,
                 const std::vector<Cost>& b);

}  // namespace bench
