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

class GameFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        previous = std::filesystem::current_path();
        folder = testsupport::tempPath(std::string("game_") +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        std::filesystem::current_path(folder);
    }
    void TearDown() override
    {
        std::filesystem::current_path(previous);
        std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
        std::filesystem::remove_all(folder);
    }

    static void writeBytes(const std::filesystem::path& path, const std::vector<unsigned char>& bytes)
    {
        if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    static void writeText(const std::filesystem::path& path, const std::string& text)
    {
        writeBytes(path, std::vector<unsigned char>(text.begin(), text.end()));
    }
    static std::vector<unsigned char> readBytes(const std::filesystem::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    std::filesystem::path previous;
    std::filesystem::path folder;
};
