// The memory loading the largest floating-point picture takes, over every
// process that takes part: this program, the decoder process (qvdecoder, in
// our process group) and the child that decodes (qvdecoding, the decoder
// process's child). A 7680x4320 RGB PFM (398 MB, written by FreeImage in a
// child of this process, so that its bitmap is never ours) is loaded through
// TextureLoader::loadImage while threads sample each process.
//
// Three sums are kept, since the picture's bytes and its rows are System V
// segments that two processes map at once:
//   real each process's VmRSS less its resident shared memory (RssShmem),
//        plus the resident bytes of every segment this program made
//        (/proc/sysvipc/shm): each page of a segment counts once, whether
//        one process has touched it, two, or none any more (rows the child
//        wrote before it ended). All of it kernel counters, read at once, so
//        it is sampled every 2 ms. The figure to quote; the libraries'
//        pages count once in each process (a few MiB).
//   pss  the processes' proportional sets (smaps_rollup Pss) added up: a
//        shared page counts once, split among the processes that have
//        touched it. Each read walks the process's page tables (about 10 ms
//        for 900 MB, holding its memory map lock), so a second thread reads
//        them as fast as it can: a check of the first, not a finer sample.
//   rss  the processes' VmRSS added up: a shared page counts once in each
//        process that has touched it.
// Each process's own peak is its VmHWM (the child's as last sampled before
// it ended, a lower bound, and its largest VmRSS sampled). The load is then
// timed once more with no thread sampling.
//
//   cmake --build build --target bench_picture_peak
//   build/bench_picture_peak [directory for the picture=/var/tmp]
#include "engine/gl/qvloadimage.h"
#include "engine/picture/qvdecoderprocess.h"

#include <FreeImage.h>
#include <fmt/core.h>

#include <algorithm>
#include <cctype>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int width = 7680;
constexpr int height = 4320;
constexpr auto sampleEvery = std::chrono::milliseconds(2);
// Quiet time sampled before and after the load, for the baseline and the end.
constexpr auto quiet = std::chrono::milliseconds(200);
constexpr char decoderName[] = "qvdecoder";
constexpr double mebibyte = 1 << 20;

// Writes the picture in a child process: its 398 MB bitmap never counts
// against this one. A smooth gradient within 0..1, as a render would give.
bool writePicture(const std::string& path)
{
    const pid_t writer = ::fork();
    if (writer == 0) {
        FIBITMAP* bitmap = FreeImage_AllocateT(FIT_RGBF, width, height);
        if (bitmap == nullptr) ::_exit(1);
        for (int y = 0; y < height; ++y) {
            auto* line = reinterpret_cast<FIRGBF*>(FreeImage_GetScanLine(bitmap, y));
            for (int x = 0; x < width; ++x)
                line[x] = {float(0.5 + 0.45 * std::sin(x * 0.002 + y * 0.003)), float(double(x) / width),
                           float(double(y) / height)};
        }
        ::_exit(FreeImage_Save(FIF_PFM, bitmap, path.c_str(), 0) ? 0 : 1);
    }
    int status = 0;
    ::waitpid(writer, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The fields of a /proc status-like file, in KiB.
std::map<std::string, long> kibFields(const std::string& path)
{
    std::map<std::string, long> fields;
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos || line.find("kB") == std::string::npos) continue;
        fields[line.substr(0, colon)] = std::atol(line.c_str() + colon + 1);
    }
    return fields;
}

// A process's name, parent, process group and start time, from its stat.
struct Stat {
    std::string comm;
    pid_t parent = 0;
    pid_t group = 0;
    unsigned long long started = 0;
    double cpuSeconds = 0;  // user and system time so far
};
std::optional<Stat> statOf(pid_t pid)
{
    std::ifstream file(fmt::format("/proc/{}/stat", pid));
    std::string text;
    if (!std::getline(file, text)) return std::nullopt;
    const std::size_t open = text.find('(');
    const std::size_t close = text.rfind(')');
    if (open == std::string::npos || close == std::string::npos) return std::nullopt;
    Stat stat;
    stat.comm = text.substr(open + 1, close - open - 1);
    std::istringstream rest(text.substr(close + 2));
    std::string field;
    std::vector<std::string> fields;
    while (rest >> field) fields.push_back(field);
    // After the name: state, ppid, pgrp, ... starttime is the 20th.
    if (fields.size() < 20) return std::nullopt;
    stat.parent = std::stoi(fields[1]);
    stat.group = std::stoi(fields[2]);
    stat.started = std::stoull(fields[19]);
    stat.cpuSeconds =
        double(std::stoull(fields[11]) + std::stoull(fields[12])) / double(::sysconf(_SC_CLK_TCK));
    return stat;
}

std::vector<pid_t> processes()
{
    std::vector<pid_t> pids;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (!name.empty() && std::all_of(name.begin(), name.end(), ::isdigit))
            pids.push_back(std::stoi(name));
    }
    return pids;
}

// Our decoder process: the latest started qvdecoder of our process group.
pid_t findDecoder()
{
    for (int attempt = 0; attempt < 1000; ++attempt) {
        pid_t found = 0;
        unsigned long long latest = 0;
        for (const pid_t pid : processes()) {
            const std::optional<Stat> stat = statOf(pid);
            if (stat && stat->comm == decoderName && stat->group == ::getpgrp() && stat->started >= latest &&
                (statOf(stat->parent).value_or(Stat{}).comm != decoderName)) {
                found = pid;
                latest = stat->started;
            }
        }
        if (found != 0) return found;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return 0;
}

// Resident bytes of the System V segments that `creator` made.
double segmentBytes(pid_t creator)
{
    std::ifstream file("/proc/sysvipc/shm");
    std::string line;
    std::getline(file, line);
    double bytes = 0;
    while (std::getline(file, line)) {
        std::istringstream fields(line);
        std::vector<std::string> columns;
        std::string column;
        while (fields >> column) columns.push_back(column);
        // key shmid perms size cpid lpid nattch uid gid cuid cgid atime dtime ctime rss swap
        if (columns.size() >= 15 && std::stoi(columns[4]) == creator) bytes += std::stod(columns[14]);
    }
    return bytes;
}

// One process's figures in one sample, in MiB: from its status, which the
// kernel keeps as counters and reads at once.
struct ProcessSample {
    double rss = 0;
    double hwm = 0;
    double shmem = 0;  // its resident pages of shared memory, among rss
};
std::optional<ProcessSample> sample(pid_t pid)
{
    const std::map<std::string, long> status = kibFields(fmt::format("/proc/{}/status", pid));
    if (!status.contains("VmRSS") || !status.contains("RssShmem")) return std::nullopt;
    return ProcessSample{double(status.at("VmRSS")) / 1024, double(status.at("VmHWM")) / 1024,
                         double(status.at("RssShmem")) / 1024};
}
// A process's proportional set (smaps_rollup Pss, MiB): a walk of its page
// tables, about 10 ms for a process of 900 MB.
std::optional<double> pssOf(pid_t pid)
{
    const std::map<std::string, long> rollup = kibFields(fmt::format("/proc/{}/smaps_rollup", pid));
    if (!rollup.contains("Pss")) return std::nullopt;
    return double(rollup.at("Pss")) / 1024;
}

// The processes of one sample by role: 0 the program, 1 the decoder
// process, 2 a decoding child (the decoder's children were started after
// it: only later process ids are read).
std::vector<std::pair<int, pid_t>> taking(pid_t self, pid_t decoder)
{
    std::vector<std::pair<int, pid_t>> roles = {{0, self}, {1, decoder}};
    for (const pid_t pid : processes())
        if (const std::optional<Stat> stat = pid > decoder ? statOf(pid) : std::nullopt;
            stat && stat->parent == decoder)
            roles.emplace_back(2, pid);
    return roles;
}

// The peaks the sampling threads find.
struct Peaks {
    double rss = 0, pss = 0, real = 0;
    double baseline = -1;
    double ownRss[3] = {};
    double ownHwm[3] = {};
    int samples = 0;
    int pssSamples = 0;
    double sampledSeconds = 0;
    int childSamples = 0;
    // Seconds from the sampling's start: the child first and last seen, the
    // peak of the real sum; and the child's processor time when last seen.
    double childFrom = -1, childUntil = -1, realPeakAt = 0, childCpu = 0;
    std::vector<pid_t> children;
};

// Samples the status of each process every sampleEvery until stopped.
void sampleStatus(const std::atomic<bool>& stop, pid_t self, pid_t decoder, Peaks& peaks)
{
    const auto start = std::chrono::steady_clock::now();
    while (!stop.load()) {
        double rss = 0, unshared = 0;
        for (const auto& [role, pid] : taking(self, decoder)) {
            const std::optional<ProcessSample> figures = sample(pid);
            if (!figures) continue;
            rss += figures->rss;
            unshared += figures->rss - figures->shmem;
            peaks.ownRss[role] = std::max(peaks.ownRss[role], figures->rss);
            peaks.ownHwm[role] = std::max(peaks.ownHwm[role], figures->hwm);
            if (role != 2) continue;
            ++peaks.childSamples;
            const double now =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            if (peaks.childFrom < 0) peaks.childFrom = now;
            peaks.childUntil = now;
            peaks.childCpu = statOf(pid).value_or(Stat{}).cpuSeconds;
            if (std::find(peaks.children.begin(), peaks.children.end(), pid) == peaks.children.end())
                peaks.children.push_back(pid);
        }
        const double real = unshared + segmentBytes(self) / mebibyte;
        if (peaks.baseline < 0) peaks.baseline = real;
        peaks.rss = std::max(peaks.rss, rss);
        if (real > peaks.real) {
            peaks.real = real;
            peaks.realPeakAt =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        }
        ++peaks.samples;
        std::this_thread::sleep_for(sampleEvery);
    }
    peaks.sampledSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Adds up the processes' Pss as fast as it can be read, until stopped.
void samplePss(const std::atomic<bool>& stop, pid_t self, pid_t decoder, Peaks& peaks)
{
    while (!stop.load()) {
        double pss = 0;
        for (const auto& [role, pid] : taking(self, decoder)) pss += pssOf(pid).value_or(0);
        peaks.pss = std::max(peaks.pss, pss);
        ++peaks.pssSamples;
        std::this_thread::sleep_for(sampleEvery);
    }
}

// Loads the picture, sampled or not; its wall time.
double timedLoad(TextureLoader& loader, const std::string& path, std::vector<std::uint8_t>& pixels)
{
    const auto start = std::chrono::steady_clock::now();
    pixels = loader.loadImage(path);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv)
{
    // Forked while this process has one thread.
    if (!qvStartDecoderProcess()) {
        fmt::print(stderr, "the decoder process cannot be started\n");
        return 1;
    }
    const std::filesystem::path directory = argc > 1 ? argv[1] : "/var/tmp";
    const std::string path = (directory / fmt::format("velmorin-peak-{}.pfm", ::getpid())).string();
    if (!writePicture(path)) {
        fmt::print(stderr, "{} cannot be written\n", path);
        return 1;
    }
    TextureLoader loader;
    const pid_t decoder = findDecoder();
    if (decoder == 0) {
        fmt::print(stderr, "no decoder process found\n");
        return 1;
    }
    std::atomic<bool> stop = false;
    Peaks peaks;
    std::thread statusSampler(sampleStatus, std::cref(stop), ::getpid(), decoder, std::ref(peaks));
    std::thread pssSampler(samplePss, std::cref(stop), ::getpid(), decoder, std::ref(peaks));
    std::this_thread::sleep_for(quiet);
    std::vector<std::uint8_t> pixels;
    const double seconds = timedLoad(loader, path, pixels);
    std::this_thread::sleep_for(quiet);
    stop = true;
    statusSampler.join();
    pssSampler.join();
    const std::optional<ProcessSample> self = sample(::getpid());
    const std::optional<ProcessSample> decoderNow = sample(decoder);
    // The same load again, no thread reading the processes meanwhile.
    const std::size_t rowBytes = pixels.size();
    pixels = {};
    std::vector<std::uint8_t> again;
    const double unsampledSeconds = timedLoad(loader, path, again);

    fmt::print("{}: {} bytes, loaded {}x{} ({} bytes of rows) in {:.3f} s sampled, {:.3f} s unsampled\n",
               path, std::filesystem::file_size(path), loader.getImageWidth(), loader.getImageHeight(),
               rowBytes, seconds, unsampledSeconds);
    fmt::print("{} status samples, one each {:.1f} ms ({} of a decoding child, pids", peaks.samples,
               1000 * peaks.sampledSeconds / std::max(peaks.samples, 1), peaks.childSamples);
    for (const pid_t child : peaks.children) fmt::print(" {}", child);
    fmt::print("); {} Pss samples\n", peaks.pssSamples);
    // The load started `quiet` after the sampling.
    const double loadStart = std::chrono::duration<double>(quiet).count();
    fmt::print(
        "from the load's start, s: child seen {:.3f} to {:.3f} ({:.2f} s of processor time), real sum at "
        "its peak {:.3f}\n",
        peaks.childFrom - loadStart, peaks.childUntil - loadStart, peaks.childCpu,
        peaks.realPeakAt - loadStart);
    fmt::print("peak of the sum, MiB:  real {:.0f} (before the load {:.0f})   pss {:.0f}   rss {:.0f}\n",
               peaks.real, peaks.baseline, peaks.pss, peaks.rss);
    fmt::print("own peaks, MiB:  program VmHWM {:.0f} (largest VmRSS sampled {:.0f})\n",
               self ? self->hwm : peaks.ownHwm[0], peaks.ownRss[0]);
    fmt::print("                 decoder process VmHWM {:.0f} (largest VmRSS sampled {:.0f})\n",
               decoderNow ? decoderNow->hwm : peaks.ownHwm[1], peaks.ownRss[1]);
    fmt::print(
        "                 decoding child VmHWM {:.0f} as last sampled (largest VmRSS sampled {:.0f})\n",
        peaks.ownHwm[2], peaks.ownRss[2]);
    std::filesystem::remove(path);
    return rowBytes == 0 || again.empty() ? 1 : 0;
}
