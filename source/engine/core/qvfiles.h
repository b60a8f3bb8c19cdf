// qvfiles: replacing a file so that it is never seen half written.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

// Replaces the file at `path` by `bytes`: they go to a temporary file beside
// it (the name with ".tmp" added), which is flushed to disk and renamed over
// the name only once complete, so a kill or a full disk mid-write leaves the
// earlier file whole. On failure the temporary file is removed, and the
// reason is in `error`.
bool qvReplaceFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes, std::string& error);
