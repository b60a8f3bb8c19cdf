// A fresh, empty working directory for each test of the word game: the rules
// read and write "savegame/..." and "dictionary/..." relative to it.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tempfiles.h"

namespace gamefolder {

inline void writeBytes(const std::filesystem::path& path, const std::vector<unsigned char>& bytes)
{
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline void writeText(const std::filesystem::path& path, const std::string& text)
{
    writeBytes(path, std::vector<unsigned char>(text.begin(), text.end()));
}

inline std::vector<unsigned char> readBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Makes an empty folder named after the running test and works in it until
// destroyed; then the previous working directory comes back and the folder goes.
class Scratch {
public:
    Scratch() : previous(std::filesystem::current_path())
    {
        folder = testsupport::tempPath(std::string("game_") +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        std::filesystem::current_path(folder);
    }
    ~Scratch()
    {
        std::filesystem::current_path(previous);
        std::error_code ec;
        std::filesystem::permissions(folder, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(folder, ec);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

private:
    std::filesystem::path previous;
    std::filesystem::path folder;
};

}  // namespace gamefolder

class GameFolder : public ::testing::Test {
protected:
    static void writeBytes(const std::filesystem::path& path, const std::vector<unsigned char>& bytes)
    {
        gamefolder::writeBytes(path, bytes);
    }
    static void writeText(const std::filesystem::path& path, const std::string& text)
    {
        gamefolder::writeText(path, text);
    }
    static std::vector<unsigned char> readBytes(const std::filesystem::path& path)
    {
        return gamefolder::readBytes(path);
    }

    gamefolder::Scratch scratch;
};
