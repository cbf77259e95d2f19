#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace flash {

struct ImageFile {
    std::string name; // relative to the image directory, '/'-separated
    std::filesystem::path path;
    uint64_t size = 0;
};

// The regular files below dir, sorted by name. Symbolic links are skipped, so
// nothing outside dir is read. Empty when dir is missing, unreadable or empty.
std::vector<ImageFile> listImage(const std::filesystem::path& dir);

} // namespace flash
