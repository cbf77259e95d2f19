#include "PartialFileSink.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>
#include <vector>

namespace updateagent {

namespace {

// Writing back as the bytes arrive leaves little for the sync at the end.
constexpr qint64 WriteBackStep = qint64{8} << 20;
constexpr std::size_t ReadBlock = std::size_t{1} << 20;
constexpr mode_t FileMode = 0600;

QByteArray nativePath(const QString& path)
{
    return QFile::encodeName(path);
}

bool syncDirectoryOf(const QString& path)
{
    const int directory = ::open(nativePath(QFileInfo(path).absolutePath()).constData(),
                                 O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory < 0)
        return false;
    const bool synced = ::fsync(directory) == 0;
    ::close(directory);
    return synced;
}

} // namespace

PartialFileSink::PartialFileSink(const QString& target, Expectation expectation,
                                 ProgressReporter& progress)
    : part_(target), check_(std::move(expectation)), progress_(progress)
{
}

PartialFileSink::~PartialFileSink()
{
    closeData();
}

void PartialFileSink::takeUpEarlierPart()
{
    const std::optional<PartIdentity> stored = part_.storedIdentity();
    struct stat info {};
    const bool continues =
        stored && stored->canBeContinued() && stored->size == check_.expectation().size &&
        stored->md5 == check_.expectation().md5 &&
        ::lstat(nativePath(part_.dataPath()).constData(), &info) == 0 && S_ISREG(info.st_mode) &&
        info.st_size > 0 && check_.admit(static_cast<std::size_t>(info.st_size)) &&
        openData(O_WRONLY) && ::lseek(fd_, info.st_size, SEEK_SET) == info.st_size &&
        hashExistingBytes(info.st_size);
    if (!continues) {
        discard();
        return;
    }
    identity_ = *stored;
    writtenBack_ = check_.received();
    progress_.update(check_.received(), check_.total());
}

ResumePoint PartialFileSink::resumePoint() const
{
    if (fd_ < 0 || !identity_.canBeContinued())
        return {};
    return {check_.received(), identity_.validator};
}

bool PartialFileSink::hasAllBytes() const
{
    return fd_ >= 0 && check_.expectation().size == check_.received();
}

bool PartialFileSink::begin(const ResponseStart& start)
{
    if (start.offset == 0)
        return startOver(start);
    if (fd_ < 0 || start.offset != check_.received() || start.validator != identity_.validator) {
        check_.fail(ContentCheck::Verdict::ChangedAtSource);
        return false;
    }
    return check_.announce(start.total);
}

bool PartialFileSink::receive(const char* data, std::size_t size)
{
    if (!check_.admit(size))
        return false;
    if (!writeAll(data, size)) {
        check_.fail(ContentCheck::Verdict::CannotWrite);
        return false;
    }
    check_.add(data, size);
    arrived_ += static_cast<qint64>(size);
    writeBack();
    progress_.update(check_.received(), check_.total());
    return true;
}

bool PartialFileSink::finish()
{
    if (check_.conclude() != ContentCheck::Verdict::Complete)
        return false;
    if (publish())
        return true;
    check_.fail(ContentCheck::Verdict::CannotWrite);
    return false;
}

void PartialFileSink::discard()
{
    closeData();
    part_.discard();
    check_.restart();
    identity_ = {};
    writtenBack_ = 0;
}

bool PartialFileSink::startOver(const ResponseStart& start)
{
    discard();
    identity_ = {check_.expectation().size, check_.expectation().md5, start.validator};
    // A new file: whatever lay under the name (even a link) is not written through.
    if (!openData(O_WRONLY | O_CREAT | O_EXCL)) {
        check_.fail(ContentCheck::Verdict::CannotWrite);
        return false;
    }
    // Without its identity the part is merely not continued later.
    if (identity_.canBeContinued())
        part_.remember(identity_);
    return check_.announce(start.total);
}

bool PartialFileSink::openData(int flags)
{
    fd_ =
        ::open(nativePath(part_.dataPath()).constData(), flags | O_NOFOLLOW | O_CLOEXEC, FileMode);
    return fd_ >= 0;
}

// The MD5 covers the whole file, so the bytes of the earlier run are read once more.
bool PartialFileSink::hashExistingBytes(qint64 length)
{
    const int in =
        ::open(nativePath(part_.dataPath()).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    std::vector<char> block(ReadBlock);
    qint64 left = length;
    while (in >= 0 && left > 0) {
        const ssize_t got = ::read(in, block.data(), std::min<qint64>(left, ReadBlock));
        if (got == 0 || (got < 0 && errno != EINTR))
            break;
        if (got > 0) {
            check_.add(block.data(), static_cast<std::size_t>(got));
            left -= got;
        }
    }
    if (in >= 0)
        ::close(in);
    return left == 0;
}

bool PartialFileSink::writeAll(const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd_, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

void PartialFileSink::writeBack()
{
    const qint64 pending = check_.received() - writtenBack_;
    if (pending < WriteBackStep)
        return;
    // Starts the writing without waiting for it.
    ::sync_file_range(fd_, writtenBack_, pending, SYNC_FILE_RANGE_WRITE);
    writtenBack_ = check_.received();
}

// Data on disk before the name, the name on disk before anyone is told.
bool PartialFileSink::publish()
{
    const bool durable = ::fdatasync(fd_) == 0;
    closeData();
    if (!durable || ::rename(nativePath(part_.dataPath()).constData(),
                             nativePath(part_.target()).constData()) != 0)
        return false;
    part_.forget();
    return syncDirectoryOf(part_.target());
}

void PartialFileSink::closeData()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

} // namespace updateagent
