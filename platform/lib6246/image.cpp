#include "image.h"

#include <algorithm>

namespace flash {

namespace fs = std::filesystem;

std::vector<ImageFile> listImage(const fs::path& dir)
{
    std::error_code error;
    std::vector<ImageFile> files;
    fs::recursive_directory_iterator entry(dir, fs::directory_options::none, error);
    for (; !error && entry != fs::recursive_directory_iterator(); entry.increment(error)) {
        if (!entry->is_symlink(error) && entry->is_regular_file(error)) {
            const auto size = entry->file_size(error);
            files.push_back(
                {entry->path().lexically_relative(dir).generic_string(), entry->path(), size});
        }
    }
    // A half-read directory would flash a partial image.
    if (error)
        return {};
    std::sort(files.begin(), files.end(),
              [](const ImageFile& a, const ImageFile& b) { return a.name < b.name; });
    return files;
}

} // namespace flash
