// Scratch file names for tests. CTest runs every test in its own process and
// several at once, so each name carries the process id: two tests never share
// (or delete) each other's files.
#pragma once

#include <filesystem>
#include <string>

#include <unistd.h>

namespace testsupport {

// <temp>/velmorin_<pid>_<name>
inline std::filesystem::path tempPath(const std::string& name)
{
    return std::filesystem::temp_directory_path() / ("velmorin_" + std::to_string(::getpid()) + "_" + name);
}

}  // namespace testsupport
