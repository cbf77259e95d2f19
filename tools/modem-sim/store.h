#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// Whether a file name from the wire stays below the output directory: relative,
// '/'-separated, without empty, "." or ".." components and without NUL bytes.
bool isSafeRelativeName(std::string_view name);

// Writes received files below one directory, one file at a time. A file appears
// under its name only once all its bytes have come; symbolic links met on the
// way are never followed.
class ImageStore final {
public:
    ImageStore() = default;
    ~ImageStore();
    ImageStore(const ImageStore&) = delete;
    ImageStore& operator=(const ImageStore&) = delete;

    // Creates dir when it is missing (its parent must exist).
    bool open(const std::string& dir);
    bool begin(std::string_view name, uint64_t size);
    // False, and the file abandoned, when the bytes exceed the announced size or
    // cannot be written.
    bool write(std::span<const uint8_t> bytes);
    // False when fewer bytes came than announced or the file cannot be put in place.
    bool finish();
    void abandon();
    bool receiving() const { return file_ >= 0; }
    std::size_t filesStored() const { return stored_; }

private:
    // The directory that will hold name's last component, created as needed.
    int openParent(std::string_view name);
    bool createTemporary();
    void closeParent();

    int root_ = -1;
    int parent_ = -1;
    int file_ = -1;
    std::string baseName_;
    std::string temporaryName_;
    uint64_t expected_ = 0;
    uint64_t received_ = 0;
    std::size_t stored_ = 0;
};
