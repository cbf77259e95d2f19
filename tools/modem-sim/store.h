#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Whether a file name from the wire stays below the output directory: relative,
// '/'-separated, without empty, "." or ".." components and without NUL bytes.
bool isSafeRelativeName(std::string_view name);

// The modem's image: the files below one directory. The files of a flash are
// received one at a time into a staging directory beside them and replace the
// image's files together on commit, so the image is never a mix of old and new
// files. A commit cut short by a crash is finished when the store is opened
// again; staged files of a flash that never committed are dropped then. Symbolic
// links met on the way are never followed.
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
    // Stages the file; false when fewer bytes came than announced.
    bool finish();
    // Drops the file being received.
    void abandon();
    // Drops every staged file; the image stays as it is.
    void discard();
    // Puts every staged file in place of the image's file of that name.
    bool commit();
    bool receiving() const { return file_ >= 0; }
    std::size_t filesStaged() const { return staged_.size(); }
    std::size_t filesStored() const { return stored_; }

private:
    bool openStaging();
    // Whether name's directories are real directories below the image, or
    // still to be made.
    bool pathUsable(std::string_view name) const;
    // The directory that will hold name's last component, created as needed.
    int openParent(std::string_view name) const;
    bool writeJournal();
    bool readJournal();
    // Moves the staged files listed in staged_ into the image; a file already
    // moved by an earlier, interrupted try is passed over.
    bool placeStaged();
    void dropStaging();

    int root_ = -1;
    int staging_ = -1;
    int file_ = -1;
    std::string receivedName_;
    uint64_t expected_ = 0;
    uint64_t received_ = 0;
    std::vector<std::string> staged_; // image names, by staged file number
    std::size_t stored_ = 0;
};
