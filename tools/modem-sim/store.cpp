#include "store.h"

#include <cerrno>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
constexpr char kStagingDir[] = ".staged";
constexpr char kJournal[] = "journal";
constexpr char kJournalDraft[] = "journal.part";

bool isSafeComponent(std::string_view component)
{
    return !component.empty() && component != "." && component != "..";
}

std::string_view firstComponent(std::string_view name)
{
    return name.substr(0, name.find('/'));
}

std::string_view lastComponent(std::string_view name)
{
    return name.substr(name.rfind('/') + 1);
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

std::string readAll(int fd)
{
    std::string content;
    char chunk[4096];
    for (ssize_t got; (got = read(fd, chunk, sizeof chunk)) != 0;) {
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return {};
        content.append(chunk, static_cast<std::size_t>(got));
    }
    return content;
}

// Data first, then the name that publishes it: both must survive a power cut.
bool closeDurably(int fd)
{
    const bool synced = fsync(fd) == 0;
    return close(fd) == 0 && synced;
}

std::string stagedName(std::size_t number)
{
    return std::to_string(number);
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
    dropStaging();
    if (root_ >= 0)
        close(root_);
}

bool ImageStore::open(const std::string& dir)
{
    if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST)
        return false;
    root_ = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root_ < 0)
        return false;
    staging_ = openat(root_, kStagingDir, kDirectoryFlags);
    if (staging_ >= 0 && readJournal())
        placeStaged();
    dropStaging();
    return true;
}

bool ImageStore::openStaging()
{
    if (staging_ < 0)
        staging_ = openSubdirectory(root_, kStagingDir);
    return staging_ >= 0;
}

bool ImageStore::begin(std::string_view name, uint64_t size)
{
    abandon();
    // The staging directory is the store's own, not part of the image.
    if (root_ < 0 || !isSafeRelativeName(name) || firstComponent(name) == kStagingDir ||
        !pathUsable(name) || !openStaging())
        return false;
    receivedName_ = name;
    expected_ = size;
    received_ = 0;
    file_ = openat(staging_, stagedName(staged_.size()).c_str(),
                   O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    return file_ >= 0;
}

bool ImageStore::pathUsable(std::string_view name) const
{
    int dir = fcntl(root_, F_DUPFD_CLOEXEC, 0);
    std::size_t start = 0;
    for (auto end = name.find('/'); dir >= 0 && end != name.npos; end = name.find('/', start)) {
        const int sub =
            openat(dir, std::string(name.substr(start, end - start)).c_str(), kDirectoryFlags);
        const bool missing = sub < 0 && errno == ENOENT;
        close(dir);
        if (missing)
            return true;
        dir = sub;
        start = end + 1;
    }
    if (dir < 0)
        return false;
    struct stat existing {};
    const bool isDirectory = fstatat(dir, std::string(lastComponent(name)).c_str(), &existing,
                                     AT_SYMLINK_NOFOLLOW) == 0 &&
                             S_ISDIR(existing.st_mode);
    close(dir);
    return !isDirectory;
}

int ImageStore::openParent(std::string_view name) const
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
    const bool closed = closeDurably(file_);
    file_ = -1;
    if (!closed) {
        unlinkat(staging_, stagedName(staged_.size()).c_str(), 0);
        return false;
    }
    staged_.push_back(receivedName_);
    return true;
}

void ImageStore::abandon()
{
    if (file_ < 0)
        return;
    ::close(file_);
    file_ = -1;
    unlinkat(staging_, stagedName(staged_.size()).c_str(), 0);
}

void ImageStore::discard()
{
    abandon();
    dropStaging();
}

bool ImageStore::commit()
{
    abandon();
    // Everything that could refuse a file is looked at before the first one
    // moves; from the journal on, the commit is finished even after a crash.
    for (const std::string& name : staged_) {
        if (!pathUsable(name))
            return false;
    }
    if (staged_.empty() || !writeJournal())
        return false;
    const bool placed = placeStaged();
    if (placed)
        stored_ += staged_.size();
    dropStaging();
    return placed;
}

bool ImageStore::writeJournal()
{
    std::string entries;
    for (const std::string& name : staged_)
        entries.append(name).push_back('\0');
    const int draft = openat(staging_, kJournalDraft,
                             O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (draft < 0)
        return false;
    const auto* bytes = reinterpret_cast<const uint8_t*>(entries.data());
    const bool written = writeAll(draft, {bytes, entries.size()});
    return closeDurably(draft) && written &&
           renameat(staging_, kJournalDraft, staging_, kJournal) == 0 && fsync(staging_) == 0;
}

bool ImageStore::readJournal()
{
    const int journal = openat(staging_, kJournal, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (journal < 0)
        return false;
    const std::string entries = readAll(journal);
    close(journal);
    staged_.clear();
    for (std::size_t start = 0, end; (end = entries.find('\0', start)) != entries.npos;
         start = end + 1)
        staged_.push_back(entries.substr(start, end - start));
    return true;
}

bool ImageStore::placeStaged()
{
    bool placed = true;
    for (std::size_t number = 0; number < staged_.size(); ++number) {
        const std::string& name = staged_[number];
        if (!isSafeRelativeName(name))
            return false;
        const int parent = openParent(name);
        // Replaces an earlier entry of that name, a symbolic link included, never its target.
        const bool moved = parent >= 0 && renameat(staging_, stagedName(number).c_str(), parent,
                                                   std::string(lastComponent(name)).c_str()) == 0;
        placed = placed && (moved || errno == ENOENT);
        if (parent >= 0) {
            fsync(parent);
            close(parent);
        }
    }
    return placed;
}

void ImageStore::dropStaging()
{
    abandon();
    staged_.clear();
    if (staging_ < 0)
        return;
    if (DIR* entries = fdopendir(dup(staging_))) {
        while (const dirent* entry = readdir(entries)) {
            if (std::string_view(entry->d_name) != "." && std::string_view(entry->d_name) != "..")
                unlinkat(staging_, entry->d_name, 0);
        }
        closedir(entries);
    }
    close(staging_);
    staging_ = -1;
    unlinkat(root_, kStagingDir, AT_REMOVEDIR);
    fsync(root_);
}
