#include "FileSink.h"

#include <utility>

namespace updateagent {

namespace {

QString describe(FileSink::Verdict verdict)
{
    switch (verdict) {
    case FileSink::Verdict::Complete:
        return QStringLiteral("complete");
    case FileSink::Verdict::CannotWrite:
        return QStringLiteral("the file cannot be written");
    case FileSink::Verdict::TooLarge:
        return QStringLiteral("the file is too large");
    case FileSink::Verdict::SizeMismatch:
        return QStringLiteral("the size differs from the expected size");
    case FileSink::Verdict::Md5Mismatch:
        return QStringLiteral("the MD5 differs from the expected MD5");
    }
    return {};
}

} // namespace

FileSink::FileSink(const QString& target, Expectation expectation, ProgressReporter* progress)
    : file_(target), expectation_(std::move(expectation)), progress_(progress)
{
    if (!expectation_.md5.isEmpty())
        md5_ = std::make_unique<Md5Pipe>();
}

bool FileSink::open()
{
    if (file_.open(QIODevice::WriteOnly))
        return true;
    verdict_ = Verdict::CannotWrite;
    return false;
}

bool FileSink::receive(const char* data, std::size_t size)
{
    const auto bytes = static_cast<qint64>(size);
    const qint64 bound = byteBound();
    if (bound >= 0 && received_ + bytes > bound) {
        verdict_ = expectation_.size ? Verdict::SizeMismatch : Verdict::TooLarge;
        return false;
    }
    if (file_.write(data, bytes) != bytes) {
        verdict_ = Verdict::CannotWrite;
        return false;
    }
    if (md5_)
        md5_->feed(data, size);
    received_ += bytes;
    // curl reports progress only between reads, which come many at a time when fast.
    reportProgress();
    return true;
}

bool FileSink::proceed(qint64 total)
{
    // A source that announces another size than expected need not be read to the end.
    if (expectation_.size && total > 0 && total != *expectation_.size) {
        verdict_ = Verdict::SizeMismatch;
        return false;
    }
    announcedTotal_ = total;
    reportProgress();
    return true;
}

bool FileSink::finish()
{
    verdict_ = check();
    return verdict_ == Verdict::Complete;
}

QString FileSink::failureReason(const TransferResult& result) const
{
    return verdict_ != Verdict::Complete ? describe(verdict_)
                                         : QString::fromStdString(result.error);
}

qint64 FileSink::byteBound() const
{
    return expectation_.size.value_or(expectation_.maxBytes);
}

void FileSink::reportProgress()
{
    if (progress_ != nullptr)
        progress_->update(received_, expectation_.size.value_or(announcedTotal_));
}

FileSink::Verdict FileSink::check()
{
    if (expectation_.size && received_ != *expectation_.size)
        return Verdict::SizeMismatch;
    if (md5_ && md5_->finish() != expectation_.md5)
        return Verdict::Md5Mismatch;
    return file_.commit() ? Verdict::Complete : Verdict::CannotWrite;
}

} // namespace updateagent
