// What a user's folder can hold where the program expects a file: each
// reader's test plants these in turn and expects the reader to refuse them
// at once, with the reason qvRegularFileProblem gives.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include <sys/stat.h>

namespace hostilefiles {

struct StandIn {
    const char* what;
    // The words of qvRegularFileProblem's reason for it.
    const char* reason;
};

// A folder, a named pipe (opening it would wait for a writer), a link to an
// endless device (reading it would never end) and a link to nothing.
inline constexpr StandIn standIns[] = {
    {"folder", "a folder, not a file"},
    {"pipe", "a named pipe, not a file"},
    {"device", "a device, not a file"},
    {"dangling link", "No such file or directory"},
};

// Replaces whatever is at `path` by the stand-in.
inline void plant(const std::filesystem::path& path, const StandIn& standIn)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::remove_all(path, ec);
    const std::string what = standIn.what;
    if (what == "folder") {
        fs::create_directories(path);
    } else if (what == "pipe") {
        ::mkfifo(path.c_str(), 0600);
    } else if (what == "device") {
        fs::create_symlink("/dev/zero", path);
    } else {
        fs::create_symlink(path.string() + ".nowhere", path);
    }
}

// Replaces whatever is at `path` by a sparse file of `bytes` bytes: a file
// too large to be read costs no disk.
inline void plantLarge(const std::filesystem::path& path, std::uintmax_t bytes)
{
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
    std::ofstream{path};
    std::filesystem::resize_file(path, bytes);
}

}  // namespace hostilefiles
