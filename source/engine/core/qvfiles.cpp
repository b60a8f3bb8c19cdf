// qvfiles: a temporary file beside the target, synced, then renamed over it.
#include "engine/core/qvfiles.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <unistd.h>

bool qvReplaceFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes, std::string& error)
{
    namespace fs = std::filesystem;
    const fs::path temporary = fs::path(path).concat(".tmp");
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) {
        error = std::strerror(errno);
        return false;
    }
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    written = std::fflush(file) == 0 && written;
    written = ::fsync(::fileno(file)) == 0 && written;
    const int reason = errno;
    written = std::fclose(file) == 0 && written;
    std::error_code ec;
    if (!written) {
        fs::remove(temporary, ec);
        error = std::strerror(reason);
        return false;
    }
    fs::rename(temporary, path, ec);
    if (ec) {
        error = ec.message();
        fs::remove(temporary, ec);
        return false;
    }
    return true;
}
