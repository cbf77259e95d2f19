#include "ContentCheck.h"

#include "Transfer.h"

#include <algorithm>
#include <utility>

namespace updateagent {

namespace {

QString describe(ContentCheck::Verdict verdict)
{
    switch (verdict) {
    case ContentCheck::Verdict::Complete:
        return QStringLiteral("complete");
    case ContentCheck::Verdict::CannotWrite:
        return QStringLiteral("the file cannot be written");
    case ContentCheck::Verdict::TooLarge:
        return QStringLiteral("the file is too large");
    case ContentCheck::Verdict::SizeMismatch:
        return QStringLiteral("the size differs from the expected size");
    case ContentCheck::Verdict::Md5Mismatch:
        return QStringLiteral("the MD5 differs from the expected MD5");
    case ContentCheck::Verdict::Incomplete:
        return QStringLiteral("the transfer ended before the last byte");
    case ContentCheck::Verdict::ChangedAtSource:
        return QStringLiteral("the source no longer continues the bytes received");
    }
    return {};
}

} // namespace

ContentCheck::ContentCheck(Expectation expectation) : expectation_(std::move(expectation))
{
    restart();
}

bool ContentCheck::announce(qint64 total)
{
    // A source that announces another size than expected need not be read to the end.
    if (expectation_.size && total >= 0 && total != *expectation_.size) {
        verdict_ = Verdict::SizeMismatch;
        return false;
    }
    announcedTotal_ = std::max<qint64>(total, 0);
    return true;
}

bool ContentCheck::admit(std::size_t size)
{
    const qint64 bound = byteBound();
    if (bound >= 0 && received_ + static_cast<qint64>(size) > bound) {
        verdict_ = expectation_.size ? Verdict::SizeMismatch : Verdict::TooLarge;
        return false;
    }
    return true;
}

void ContentCheck::add(const char* data, std::size_t size)
{
    if (md5_)
        md5_->feed(data, size);
    received_ += static_cast<qint64>(size);
}

void ContentCheck::restart()
{
    md5_ = expectation_.md5.isEmpty() ? nullptr : std::make_unique<Md5Pipe>();
    received_ = 0;
    announcedTotal_ = 0;
    verdict_ = Verdict::Complete;
}

ContentCheck::Verdict ContentCheck::conclude()
{
    if (expectation_.size && received_ < *expectation_.size)
        verdict_ = Verdict::Incomplete;
    else if (expectation_.size && received_ != *expectation_.size)
        verdict_ = Verdict::SizeMismatch;
    else if (md5_ && md5_->finish() != expectation_.md5)
        verdict_ = Verdict::Md5Mismatch;
    return verdict_;
}

qint64 ContentCheck::total() const
{
    return expectation_.size.value_or(announcedTotal_);
}

QString ContentCheck::failureReason(const TransferResult& result) const
{
    return verdict_ != Verdict::Complete ? describe(verdict_)
                                         : QString::fromStdString(result.error);
}

qint64 ContentCheck::byteBound() const
{
    return expectation_.size.value_or(expectation_.maxBytes);
}

} // namespace updateagent
