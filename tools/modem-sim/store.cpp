#include "store.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
constexpr int kTemporaryTries = 100;

bool isSafeComponent(std::string_view component)
{
    return !component.empty() && component != "." && component != "..";
}

int openSubdirectory(int parent, const std::string& name)
{
    if (mkdirat(parent, name.c_str(), 0755) != 0 && errno != EEXIST)
        return -1;
    return openat(parent, name.c_str(), kDirectoryFlags);
}

bool writeAll(int fd, std::span<const uint8_t> bytes)
{
    while (!bytes.empty()) {
        const ssize_t put = write(fd, bytes.data(), bytes.size());
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        bytes = bytes.subspan(static_cast<std::size_t>(put));
    }
    return true;
}

} // namespace

bool isSafeRelativeName(std::string_view name)
{
    if (name.empty() || name.find('\0') != std::string_view::npos)
        return false;
    for (std::size_t start = 0;;) {
        const std::size_t end = name.find('/', start);
        if (!isSafeComponent(name.substr(start, end - start)))
            return false;
        if (end == std::string_view::npos)
            return true;
        start = end + 1;
    }
}

ImageStore::~ImageStore()
{
    abandon();
    if (root_ >= 0)
        close(root_);
}

bool ImageStore::open(const std::string& dir)
{
    if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST)
        return false;
    root_ = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return root_ >= 0;
}

bool ImageStore::begin(std::string_view name, uint64_t size)
{
    abandon();
    if (root_ < 0 || !isSafeRelativeName(name))
        return false;
    parent_ = openParent(name);
    if (parent_ < 0)
        return false;
    baseName_ = name.substr(name.rfind('/') + 1);
    expected_ = size;
    received_ = 0;
    if (!createTemporary()) {
        abandon();
        return false;
    }
    return true;
}

int ImageStore::openParent(std::string_view name)
{
    int dir = fcntl(root_, F_DUPFD_CLOEXEC, 0);
    std::size_t start = 0;
    for (auto end = name.find('/'); dir >= 0 && end != name.npos; end = name.find('/', start)) {
        const int sub = openSubdirectory(dir, std::string(name.substr(start, end - start)));
        close(dir);
        dir = sub;
        start = end + 1;
    }
    return dir;
}

bool ImageStore::createTemporary()
{
    // A name of its own, so that no received file is overwritten by a later one's
    // partial bytes.
    for (int attempt = 0; attempt < kTemporaryTries; ++attempt) {
        temporaryName_ = "." + baseName_ + ".part" + std::to_string(attempt);
        file_ = openat(parent_, temporaryName_.c_str(),
                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (file_ >= 0 || errno != EEXIST)
            break;
    }
    return file_ >= 0;
}

bool ImageStore::write(std::span<const uint8_t> bytes)
{
    if (file_ < 0)
        return false;
    // A file that cannot take its bytes is broken for good.
    if (bytes.size() > expected_ - received_ || !writeAll(file_, bytes)) {
        abandon();
        return false;
    }
    received_ += bytes.size();
    return true;
}

bool ImageStore::finish()
{
    if (file_ < 0 || received_ != expected_) {
        abandon();
        return false;
    }
    const bool closed = ::close(file_) == 0;
    file_ = -1;
    // Replaces an earlier entry of that name, a symbolic link included, never its target.
    const bool placed =
        closed && renameat(parent_, temporaryName_.c_str(), parent_, baseName_.c_str()) == 0;
    if (!placed)
        unlinkat(parent_, temporaryName_.c_str(), 0);
    closeParent();
    if (placed)
        ++stored_;
    return placed;
}

void ImageStore::abandon()
{
    if (file_ >= 0) {
        ::close(file_);
        file_ = -1;
        unlinkat(parent_, temporaryName_.c_str(), 0);
    }
    closeParent();
}

void ImageStore::closeParent()
{
    if (parent_ >= 0)
        ::close(parent_);
    parent_ = -1;
}
