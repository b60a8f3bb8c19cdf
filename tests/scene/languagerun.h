// A run directory whose options file chooses the interface language, for
// scenes built in another language than the shared run directory's.
#pragma once

#include "tempfiles.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

namespace testsupport {

// The resources linked from the shared run directory, a savegame folder whose
// options choose `language`; the working directory moves there for the
// object's life.
class LanguageRunDirectory {
public:
    explicit LanguageRunDirectory(std::int32_t language)
        : previous(std::filesystem::current_path()), folder(tempPath("run_" + std::to_string(language)))
    {
        std::filesystem::create_directories(folder / "savegame");
        for (const char* entry : {"shaders", "fonts", "textures", "skybox", "icons", "dictionary"}) {
            std::filesystem::create_directory_symlink(previous / entry, folder / entry);
        }
        const std::int32_t options[3] = {3, 7, language};  // speed, columns, language; little-endian host
        std::ofstream(folder / "savegame/saveOptions.sqv", std::ios::binary)
            .write(reinterpret_cast<const char*>(options), sizeof options);
        std::filesystem::current_path(folder);
    }
    ~LanguageRunDirectory()
    {
        std::filesystem::current_path(previous);
        std::filesystem::remove_all(folder);
    }
    LanguageRunDirectory(const LanguageRunDirectory&) = delete;
    LanguageRunDirectory& operator=(const LanguageRunDirectory&) = delete;

private:
    std::filesystem::path previous;
    std::filesystem::path folder;
};

}  // namespace testsupport
