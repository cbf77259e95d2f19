#include "FileSink.h"

#include <utility>

namespace updateagent {

FileSink::FileSink(const QString& target, Expectation expectation, ProgressReporter* progress)
    : file_(target), check_(std::move(expectation)), progress_(progress)
{
}

bool FileSink::open()
{
    // The updater's work files are its own: 0600 whatever the umask.
    if (file_.open(QIODevice::WriteOnly) &&
        file_.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return true;
    check_.fail(ContentCheck::Verdict::CannotWrite);
    return false;
}

bool FileSink::begin(const ResponseStart& start)
{
    // Nothing was asked to be continued: a response that does not start at the first
    // byte is not this file.
    if (start.offset != 0 || check_.received() != 0) {
        check_.fail(ContentCheck::Verdict::ChangedAtSource);
        return false;
    }
    if (!check_.announce(start.total))
        return false;
    reportProgress();
    return true;
}

bool FileSink::receive(const char* data, std::size_t size)
{
    const auto bytes = static_cast<qint64>(size);
    if (!check_.admit(size))
        return false;
    if (file_.write(data, bytes) != bytes) {
        check_.fail(ContentCheck::Verdict::CannotWrite);
        return false;
    }
    check_.add(data, size);
    // curl reports progress only between reads, which come many at a time when fast.
    reportProgress();
    return true;
}

bool FileSink::finish()
{
    if (check_.conclude() != ContentCheck::Verdict::Complete)
        return false;
    if (file_.commit())
        return true;
    check_.fail(ContentCheck::Verdict::CannotWrite);
    return false;
}

QString FileSink::failureReason(const TransferResult& result) const
{
    return check_.failureReason(result);
}

void FileSink::reportProgress()
{
    if (progress_ != nullptr)
        progress_->update(check_.received(), check_.total());
}

} // namespace updateagent
